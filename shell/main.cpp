// The player's entry: options, the production folder, then start-up (or the script check).
#include "platform/log.h"
#include "shell/check.h"
#include "shell/options.h"
#include "shell/startup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv) {
    int status = parseLaunchOptions(argc, argv, &launchOptions);
    if (status) return status < 0 ? 0 : status;
    if (!launchOptions.folder.empty() && chdir(launchOptions.folder.c_str()) != 0) {
        fprintf(stderr, "lux32: cannot enter the production folder '%s': %s\n",
                launchOptions.folder.c_str(), strerror(errno));
        return 2;
    }
    if (launchOptions.check) return runCheck(applyConfigKey);
    return luxMain(launchOptions);
}
