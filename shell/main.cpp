#include "platform/log.h"
#include "shell/options.h"

int main(int argc, char** argv) {
    int status = parseLaunchOptions(argc, argv, &launchOptions);
    if (status) return status < 0 ? 0 : status;
    logf("WNMN: started logging\n");
    return 0;
}
