// A private X server for tests that need a real display: Xvfb on a display number it picks
// itself (-displayfd), the player started on it, and xdotool/ImageMagick to drive and see it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace xvfb {

inline bool haveTool(const char* name) {
    std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return system(command.c_str()) == 0;
}

// The tools these tests need; empty when all are there, else the first one missing.
inline std::string missingTool() {
    for (const char* tool : {"Xvfb", "xdotool", "import", "compare"})
        if (!haveTool(tool)) return tool;
    return "";
}

class Session {
  public:
    // Starts Xvfb; display() is empty when it did not start.
    Session() {
        int fds[2];
        if (pipe(fds) != 0) return;
        server_ = fork();
        if (server_ == 0) {
            // The server ends with the test, and keeps none of the test's output open.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            close(fds[0]);
            std::string fd = std::to_string(fds[1]);
            // -noreset: without it the server resets whenever its last client leaves, and a
            // player connecting during that reset finds no display.
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
                   "-nolisten", "tcp", "-noreset", nullptr);
            _exit(127);
        }
        close(fds[1]);
        char number[16] = {};
        ssize_t got = 0, at = 0;
        while (at < ssize_t(sizeof number) - 1 &&
               (got = read(fds[0], number + at, sizeof number - 1 - size_t(at))) > 0) {
            at += got;
            if (number[at - 1] == '\n') break;
        }
        close(fds[0]);
        if (at > 0) display_ = ":" + std::string(number, size_t(at - 1));
    }
    ~Session() {
        stopPlayer();
        if (server_ > 0) {
            kill(server_, SIGTERM);
            waitpid(server_, nullptr, 0);
        }
    }

    const std::string& display() const { return display_; }

    // Runs a shell command on this display; returns its exit status.
    int run(const std::string& command) const {
        std::string line = "DISPLAY=" + display_ + " " + command;
        int status = system(line.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Starts the player on the display with real (X11) video and dummy audio, once the server
    // answers. The driver is named: left to choose, a player that cannot reach the server
    // would fall back to the headless driver and show no dialog, hiding the reason.
    void startPlayer(const std::string& arguments) {
        for (int i = 0; i < 100 && run("xdotool getdisplaygeometry >/dev/null 2>&1") != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        player_ = fork();
        if (player_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            setpgid(0, 0);
            setenv("SDL_VIDEODRIVER", "x11", 1);
            setenv("DISPLAY", display_.c_str(), 1);
            setenv("SDL_AUDIODRIVER", "dummy", 1);
            std::string command = "exec " + std::string(LUX_BINARY_DIR) + "/lux32 " + arguments +
                                  " >player-out.txt 2>player-err.txt";
            execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
            _exit(127);
        }
    }

    // Waits for the player to end (at most `seconds`); its exit status, or -1 when it had to
    // be killed.
    int waitPlayer(int seconds) {
        for (int i = 0; i < seconds * 20 && player_ > 0; ++i) {
            int status = 0;
            if (waitpid(player_, &status, WNOHANG) == player_) {
                player_ = 0;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        stopPlayer();
        return -1;
    }

    // Waits until a window with this exact title exists; its id, or "" after `seconds`.
    std::string waitForWindow(const std::string& title, int seconds) const {
        for (int i = 0; i < seconds * 10; ++i) {
            std::string command = "DISPLAY=" + display_ +
                                  " xdotool search --onlyvisible --name '^" + title +
                                  "$' 2>/dev/null";
            FILE* out = popen(command.c_str(), "r");
            char line[64] = {};
            bool found = out && fgets(line, sizeof line, out);
            if (out) pclose(out);
            if (found) return std::string(line, strcspn(line, "\n"));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return "";
    }

    // Presses keys (xdotool names, blank-separated) on the focused window, each held for
    // 150 ms as a hand would: a press and release within one frame is not seen as held.
    void keys(const std::string& names) const {
        std::string command = "xdotool";
        size_t start = 0;
        while (start < names.size()) {
            size_t end = names.find(' ', start);
            if (end == std::string::npos) end = names.size();
            std::string key = names.substr(start, end - start);
            if (!key.empty())
                command += " keydown " + key + " sleep 0.15 keyup " + key + " sleep 0.05";
            start = end + 1;
        }
        run(command);
    }

    // Writes a PNG of one window.
    bool capture(const std::string& window, const std::string& path) const {
        return run("import -window " + window + " " + path) == 0;
    }

  private:
    void stopPlayer() {
        if (player_ <= 0) return;
        kill(-player_, SIGKILL);
        kill(player_, SIGKILL);
        waitpid(player_, nullptr, 0);
        player_ = 0;
    }

    pid_t server_ = 0;
    pid_t player_ = 0;
    std::string display_;
};

// Pixels of `actual` that differ from `golden` by more than a small colour tolerance; -1 when
// the pictures cannot be compared (missing file, other size).
inline long differingPixels(const std::string& golden, const std::string& actual) {
    std::string command = "compare -metric AE -fuzz 6% " + golden + " " + actual + " null: 2>&1";
    FILE* out = popen(command.c_str(), "r");
    if (!out) return -1;
    char text[256] = {};
    bool got = fgets(text, sizeof text, out) != nullptr;
    int status = pclose(out);
    if (!got || WEXITSTATUS(status) > 1) return -1;
    return atol(text);
}

} // namespace xvfb
