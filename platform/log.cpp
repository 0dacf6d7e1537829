// Debug log, fatal path, exit callbacks and the crash signal handlers.
#include "platform/log.h"

#include <SDL.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char kErrorHeading[] = "We're proud to present you the following error:\n\n";
constexpr const char kMailQuery[] =
    "mailto:support@nordkessel.invalid?subject=My%20very%20own%20lux32%20problem&body=Please%"
    "20attach%20the%20file%20LUXDEBUG.TXT%20to%20this%20mail.%0d";

int logFile = -1;
char logLine[kLogLineSize];
char errorBuffer[kErrorTextSize] = "We're proud to present you the following error:\n\n";
bool errorDialogEnabled = true;
void (*fatalCloseHandler)() = nullptr;
void (*fatalTrap)() = nullptr;

struct ExitCallback {
    void (*function)();
    ExitCallback* next;
};
ExitCallback* exitCallbacks = nullptr;
char logPath[4096] = {}; // the log file, absolute

int writeAll(const char* text, size_t length) {
    if (logFile < 0) return -1;
    size_t written = 0;
    while (written < length) {
        ssize_t n = ::write(logFile, text + written, length - written);
        if (n <= 0) return written ? int(written) : -1;
        written += size_t(n);
    }
    return int(written);
}

int vlogf(const char* format, va_list args) {
    int n = vsnprintf(logLine, sizeof logLine, format, args);
    if (n < 0) return -1;
    size_t length = size_t(n) < sizeof logLine ? size_t(n) : sizeof logLine - 1;
    return writeAll(logLine, length);
}

bool haveDisplay() {
    const char* driver = getenv("SDL_VIDEODRIVER");
    if (driver && (strcmp(driver, "offscreen") == 0 || strcmp(driver, "dummy") == 0)) return false;
    return getenv("DISPLAY") || getenv("WAYLAND_DISPLAY");
}

// The error dialog: the text, "Damned." to leave, and a mail button that opens the user's
// mail program and keeps the dialog up.
void showErrorDialog() {
    fputs(errorBuffer, stderr);
    if (errorBuffer[strlen(errorBuffer) - 1] != '\n') fputc('\n', stderr);
    if (!errorDialogEnabled || !haveDisplay()) return;
    const SDL_MessageBoxButtonData buttons[] = {
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0,
         "Damned."},
        {0, 1, "Mail the authors"},
    };
    const SDL_MessageBoxData box = {
        SDL_MESSAGEBOX_ERROR, nullptr, "Nord-Kessel informiert", errorBuffer, 2, buttons, nullptr};
    for (;;) {
        int pressed = 0;
        if (SDL_ShowMessageBox(&box, &pressed) != 0 || pressed != 1) return;
        SDL_OpenURL(kMailQuery);
    }
}

struct StaticLog {
    StaticLog() {
        openLogFile(kLogFileName);
        installCrashHandlers();
    }
    ~StaticLog() {
        runExitCallbacks();
        closeLog();
    }
};
StaticLog staticLog;

} // namespace

int logf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = vlogf(format, args);
    va_end(args);
    return result;
}

void addExitCallback(void (*function)()) {
    exitCallbacks = new ExitCallback{function, exitCallbacks};
}

void setFatalCloseHandler(void (*handler)()) {
    fatalCloseHandler = handler;
}

void setFatalTrap(void (*trap)()) {
    fatalTrap = trap;
}

void runExitCallbacks() {
    while (exitCallbacks) {
        ExitCallback* node = exitCallbacks;
        exitCallbacks = node->next;
        if (node->function) node->function();
        delete node;
    }
}

void closeLog() {
    if (logFile >= 0) ::close(logFile);
    logFile = -1;
}

const char* errorText() {
    return errorBuffer;
}

void logSetFile(const char* path) {
    closeLog();
    logFile = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    // Kept absolute: the program may change its folder later (the production's folder).
    logPath[0] = 0;
    if (path[0] != '/' && getcwd(logPath, sizeof logPath - 1)) strncat(logPath, "/", 2);
    strncat(logPath, path, sizeof logPath - strlen(logPath) - 1);
}

const char* logFilePath() {
    return logPath;
}

void openLogFile(const char* path) {
    logSetFile(path);
    logf("lux32 v%x.%2x\n\n", 0, 0x95);
}

void setErrorDialogEnabled(bool enabled) {
    errorDialogEnabled = enabled;
}

void fatal(const char* format, ...) {
    constexpr size_t headingLength = sizeof kErrorHeading - 1;
    va_list args;
    va_start(args, format);
    vsnprintf(errorBuffer + headingLength, sizeof errorBuffer - headingLength, format, args);
    va_end(args);
    if (fatalTrap) fatalTrap();

    static bool closing = false; // a fault inside the close handler must not loop
    if (fatalCloseHandler && !closing) {
        closing = true;
        fatalCloseHandler();
    }
    logf("\nDBUG: uh-oh... crash exit (expect memory leaks en masse, we don't free anything)\n");
    logf("%s\n", errorBuffer + headingLength);
    runExitCallbacks();
    closeLog();
    showErrorDialog();
    // A failed run must be visible to scripts: leave with a non-zero status, without
    // running static destructors of a program in an unknown state.
    _exit(1);
}
