#include "platform/log.h"

int main() {
    logf("WNMN: started logging\n");
    return 0;
}
