// The player run as a viewer would run it, for tests that press keys into it: luxMain in a
// forked child with the viewer's thread beside it, pushing SDL events while it reads the log.
#pragma once

#include "platform/log.h"
#include "shell/options.h"
#include "shell/startup.h"
#include "tests/shell/player_process.h"

#include <SDL.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace playerchild {

namespace fs = std::filesystem;
using playerprocess::readFile;

// Waits (up to 20 s) until the log holds `text` after position `from`; returns where it
// ends, or npos.
inline size_t waitForLog(const fs::path& log, const std::string& text, size_t from = 0) {
    for (int i = 0; i < 10000; ++i) {
        size_t at = readFile(log).find(text, from);
        if (at != std::string::npos) return at + text.size();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return std::string::npos;
}

inline void pushKey(SDL_Scancode scancode, bool down) {
    SDL_Event event = {};
    event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.scancode = scancode;
    event.key.keysym.sym = SDL_GetKeyFromScancode(scancode);
    SDL_PushEvent(&event);
}

// Down, 50 ms, up, 50 ms: the player sees one press between its frames.
inline void tapKey(SDL_Scancode scancode) {
    for (bool down : {true, false}) {
        pushKey(scancode, down);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// Plays the production in `folder` in a window of `size` with `viewer(log)` on a thread of
// the child; returns the child's exit status, or -2 when it ran past a minute and was killed.
inline int playWith(const fs::path& folder, void (*viewer)(fs::path),
                    const char* size = "160x120") {
    fs::path log = fs::absolute("luxdebug.txt");
    pid_t child = fork();
    if (child == 0) {
        logSetFile(log.c_str());
        setErrorDialogEnabled(false);
        std::thread(viewer, log).detach();
        if (chdir(folder.c_str()) != 0) _exit(3);
        const char* argv[] = {"lux32", "--no-dialog", "--windowed", size};
        if (parseLaunchOptions(4, const_cast<char**>(argv), &launchOptions) != 0) _exit(3);
        luxMain(launchOptions);
        _exit(4);
    }
    int status = 0;
    for (int i = 0; i < 1200; ++i) {
        if (waitpid(child, &status, WNOHANG) == child)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return -2;
}

// The hexadecimal number after `text` in the log, or all ones without it.
inline unsigned hexAfter(const std::string& log, const std::string& text) {
    size_t at = log.find(text);
    return at == std::string::npos ? 0xffffffffu
                                   : unsigned(stoul(log.substr(at + text.size()), nullptr, 16));
}

} // namespace playerchild
