// --watch: poll the script's files, check a changed script in a child process, swap it in.
//
// Sections: the watched files; the check in a child process; the poll.
#include "shell/watch.h"

#include "data/filesystem.h"
#include "data/stream.h"
#include "gfx/device.h"
#include "gfx/font.h"
#include "platform/log.h"
#include "platform/window.h"
#include "script/parser.h"
#include "script/preprocessor.h"
#include "script/timeline.h"
#include "shell/seek.h"
#include "shell/subsystems.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// ------------------------------------------------------------------------------------------
// The watched files

constexpr auto kPollInterval = std::chrono::milliseconds(250);

struct WatchedFile {
    std::string name; // as the script names it
    std::string path; // on disk; "" when the lookup does not find it there
    bool exists = false;
    int64_t modified = 0; // ns
    int64_t size = 0;
};

std::vector<WatchedFile> watched;
bool watching = false;
bool reportedProblem = false; // a problem is shown (log, title and over the picture)
std::string shownLines[2];    // the problem, as drawn over the picture
BitmapFont* messageFont = nullptr;
std::chrono::steady_clock::time_point nextPoll;

std::string baseName(const std::string& name) {
    size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

// The name in `folder` that matches `name` without regard to case, or "".
std::string caseInsensitiveMatch(const std::string& folder, const std::string& name) {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return "";
    std::string found;
    while (dirent* entry = readdir(dir))
        if (strcasecmp(entry->d_name, name.c_str()) == 0) {
            found = entry->d_name;
            break;
        }
    closedir(dir);
    return found;
}

// Where the file lookup finds a name on disk: as given, "DATA/" + base name, the base name,
// each also without regard to case in its folder.
std::string diskPathOf(std::string name) {
    for (char& c : name)
        if (c == '\\') c = '/';
    std::string base = baseName(name);
    for (const std::string& candidate : {name, "DATA/" + base, base}) {
        struct stat info;
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return candidate;
        size_t slash = candidate.rfind('/');
        std::string folder = slash == std::string::npos ? "" : candidate.substr(0, slash);
        std::string match = caseInsensitiveMatch(folder, baseName(candidate));
        if (!match.empty()) return folder.empty() ? match : folder + "/" + match;
    }
    return "";
}

void readTimes(WatchedFile& file) {
    struct stat info;
    file.exists = !file.path.empty() && stat(file.path.c_str(), &info) == 0;
    if (!file.exists) return;
    file.modified = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    file.size = int64_t(info.st_size);
}

void watchFiles(const SourceLines& lines) {
    watched.clear();
    for (const SourceLines::FileName& name : lines.names) {
        WatchedFile file;
        file.name = name.name;
        file.path = diskPathOf(file.name);
        readTimes(file);
        watched.push_back(file);
    }
}

// ------------------------------------------------------------------------------------------
// The check in a child process

int childOutput = -1; // the pipe's write end, in the child

void writeAll(int fd, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) _exit(3);
        bytes += n;
        size -= size_t(n);
    }
}

void writeBlock(int fd, const void* data, uint32_t size) {
    writeAll(fd, &size, sizeof size);
    writeAll(fd, data, size);
}

// The fatal path of the child: the message goes back to the player, nothing else happens.
[[noreturn]] void childFatal() {
    const char* text = errorText();
    const char* message = strstr(text, "\n\n");
    message = message ? message + 2 : text;
    writeAll(childOutput, "E", 1);
    writeBlock(childOutput, message, uint32_t(strlen(message)));
    _exit(1);
}

[[noreturn]] void checkInChild(int output) {
    childOutput = output;
    closeLog();
    setFatalTrap(childFatal);
    setScriptMessagePump(nullptr);
    Preprocessor preprocessor;
    if (!preprocessor.run("script")) fatal("out of memory while reading the script\n");
    Stream* out = preprocessor.output();
    std::string text(size_t(out->size()), '\0');
    out->seek(0);
    if (!text.empty() && out->read(text.data(), int32_t(text.size())) != int32_t(text.size()))
        fatal("the preprocessed script cannot be read back\n");
    Script script(text.data(), int32_t(text.size()), &preprocessor.sourceLines());
    if (!script.parse(true) || !script.parse(false)) fatal("the script is empty\n");
    const SourceLines& lines = preprocessor.sourceLines();
    writeAll(output, "K", 1);
    writeBlock(output, text.data(), uint32_t(text.size()));
    writeBlock(output, lines.names.data(),
               uint32_t(lines.names.size() * sizeof(SourceLines::FileName)));
    writeBlock(output, lines.records.data(),
               uint32_t(lines.records.size() * sizeof(SourceLines::LineRecord)));
    _exit(0);
}

std::string readAll(int fd) {
    std::string bytes;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return bytes;
        bytes.append(buffer, size_t(n));
    }
}

bool takeBlock(const std::string& bytes, size_t& at, std::string* block) {
    uint32_t size = 0;
    if (bytes.size() - at < sizeof size) return false;
    memcpy(&size, bytes.data() + at, sizeof size);
    at += sizeof size;
    if (bytes.size() - at < size) return false;
    block->assign(bytes, at, size);
    at += size;
    return true;
}

struct CheckedScript {
    std::string error; // empty when the script passed
    std::string text;  // preprocessed
    SourceLines lines;
};

template <class T> bool unpackRecords(const std::string& block, std::vector<T>* records) {
    if (block.size() % sizeof(T) != 0) return false;
    records->resize(block.size() / sizeof(T));
    if (!block.empty()) memcpy(records->data(), block.data(), block.size());
    return true;
}

// Preprocesses and parses the script in a child process; the child's answer.
CheckedScript checkScript() {
    CheckedScript checked;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        checked.error = std::string("cannot check the script: ") + strerror(errno);
        return checked;
    }
    pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        checkInChild(pipeEnds[1]);
    }
    close(pipeEnds[1]);
    std::string answer = child > 0 ? readAll(pipeEnds[0]) : "";
    close(pipeEnds[0]);
    int status = 0;
    if (child > 0) waitpid(child, &status, 0);
    size_t at = 1;
    std::string names, records;
    if (!answer.empty() && answer[0] == 'E' && takeBlock(answer, at, &checked.error)) {
        if (checked.error.empty()) checked.error = "unknown error";
    } else if (answer.empty() || answer[0] != 'K' || !takeBlock(answer, at, &checked.text) ||
               !takeBlock(answer, at, &names) || !takeBlock(answer, at, &records) ||
               !unpackRecords(names, &checked.lines.names) ||
               !unpackRecords(records, &checked.lines.records)) {
        checked.error = "the script check ended without an answer";
    }
    return checked;
}

// ------------------------------------------------------------------------------------------
// The poll

// The first change since the last poll; false when nothing changed. Problems with the main
// script (gone, unreadable) are reported once and count as no change.
bool filesChanged() {
    bool changed = false;
    for (WatchedFile& file : watched) {
        WatchedFile now = file;
        if (now.path.empty()) now.path = diskPathOf(now.name);
        readTimes(now);
        if (now.exists == file.exists && now.modified == file.modified && now.size == file.size)
            continue;
        file = now;
        changed = true;
    }
    if (!changed) return false;
    const WatchedFile& script = watched.front();
    const char* problem = !script.exists                           ? "is gone"
                          : access(script.path.c_str(), R_OK) != 0 ? "cannot be read"
                                                                   : nullptr;
    if (problem) {
        logf("MAIN: warning: the script file '%s' %s, playing on with the old script\n",
             script.name.c_str(), problem);
        std::string title = "lux32: the script file " + std::string(problem);
        setDemoWindowTitle(title.c_str());
        shownLines[0] = "the script file " + std::string(problem);
        shownLines[1] = "playing on with the old script";
        reportedProblem = true;
        return false;
    }
    return true;
}

void showError(const std::string& error) {
    logf("MAIN: the changed script has an error, playing on with the old one:\n%s\n",
         error.c_str());
    std::string line = error.substr(0, error.find('\n'));
    std::string title = "lux32: script error " + line;
    size_t detail = error.find("\n\n");
    if (detail != std::string::npos) title += ": " + error.substr(detail + 2, 120);
    for (char& c : title)
        if (c == '\n') c = ' ';
    setDemoWindowTitle(title.c_str());
    shownLines[0] = "script error: " +
                    (detail != std::string::npos
                         ? error.substr(detail + 2, error.find('\n', detail + 2) - detail - 2)
                         : line);
    shownLines[1] = line;
    reportedProblem = true;
}

void reload(uint32_t time, bool offline) {
    logf("MAIN: the script changed, reading it again\n");
    CheckedScript checked = checkScript();
    if (!checked.error.empty()) {
        showError(checked.error);
        return;
    }
    Script* built = new Script(checked.text.data(), int32_t(checked.text.size()), &checked.lines);
    built->parse(true);
    built->parse(false);
    // The timeline goes on with the frame after the one just shown.
    uint32_t next = offline ? offlineFrameTime(offlineFrameAtOrAfter(time + 1)) : time + 1;
    replaceProductionScript(built, next, offline ? offlineTickTimes() : TickTimes{});
    watchFiles(checked.lines);
    if (reportedProblem) setDemoWindowTitle(preferredArchiveDescription());
    reportedProblem = false;
    logf("MAIN: script read again, playing on at %.3f s\n", double(next) / 65536.0);
}

} // namespace

void pollScriptWatch(uint32_t time, bool offline) {
    auto now = std::chrono::steady_clock::now();
    if (!watching) {
        watching = true;
        const SourceLines* lines = productionSourceLines();
        if (lines) watchFiles(*lines);
        if (watched.empty()) watched.push_back(WatchedFile{"script", diskPathOf("script")});
        readTimes(watched.front());
        int onDisk = 0;
        for (const WatchedFile& file : watched)
            onDisk += file.path.empty() ? 0 : 1;
        if (onDisk == 0)
            logf("MAIN: warning: --watch: the script is not a file on disk, nothing to watch\n");
        else
            logf("MAIN: watching %d script file(s) on disk for changes\n", onDisk);
        nextPoll = now + kPollInterval;
        return;
    }
    if (now < nextPoll) return;
    nextPoll = now + kPollInterval;
    if (filesChanged()) reload(time, offline);
}

void drawScriptWatchMessage() {
    if (!reportedProblem) return;
    if (!messageFont) messageFont = acquireFontFile("lux32.fn2|res:200");
    if (!messageFont) return;
    selectRenderTarget("primary");
    setViewport(0, 0, screenWidth(), screenHeight());
    setTextOverlayStates();
    setFontAlignment(messageFont, 0);
    float lineHeight = textHeight(messageFont, "A", 1.0f);
    float y = float(screenHeight()) - 2.0f * lineHeight - 4.0f;
    for (const std::string& text : shownLines) {
        // A dark copy one pixel down and right keeps the text readable on any picture.
        drawText(messageFont, 5.0f, y + 1.0f, text.c_str(), 1.0f, 0xFF000000, 0.0f);
        drawText(messageFont, 4.0f, y, text.c_str(), 1.0f, 0xFFFFE040, 0.0f);
        y += lineHeight;
    }
}

void closeScriptWatch() {
    if (messageFont) releaseFont(messageFont);
    messageFont = nullptr;
    reportedProblem = false;
}
