// --start-at and the seek keys: the music moved, the timeline rebuilt at the new time.
#include "shell/seek.h"

#include "platform/log.h"
#include "platform/music/music.h"
#include "script/parser.h"
#include "script/timeline.h"
#include "shell/input.h"
#include "shell/options.h"
#include "shell/startup.h"
#include "shell/subsystems.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

uint32_t resolvedStart = 0; // the start time once resolved
bool startResolved = false;

bool readNumber(const char*& text, int32_t* value) {
    char* end = nullptr;
    long number = strtol(text, &end, 10);
    if (end == text || number < 0 || number > 255) return false;
    *value = int32_t(number);
    text = end;
    return true;
}

bool parseSongPosition(const std::string& text, StartPosition* position) {
    const char* at = text.c_str();
    char separator = text.find(':') != std::string::npos ? ':' : '/';
    if (!readNumber(at, &position->order) || *at != separator) return false;
    ++at;
    if (!readNumber(at, &position->row)) return false;
    position->tick = 0;
    if (*at == separator) {
        ++at;
        if (!readNumber(at, &position->tick)) return false;
    }
    return *at == 0;
}

bool parsePackedPosition(const std::string& text, StartPosition* position) {
    char* end = nullptr;
    unsigned long packed = strtoul(text.c_str() + 2, &end, 16);
    if (end == text.c_str() + 2 || *end != 0 || packed > 0xffffff) return false;
    position->order = int32_t(packed >> 16);
    position->row = int32_t((packed >> 8) & 0xff);
    position->tick = int32_t(packed & 0xff);
    return true;
}

// The start position in timer units; the end of the program for positions that do not exist.
uint32_t resolveStartTime() {
    StartPosition start;
    const char* text = launchOptions.startAt.c_str();
    if (!parseStartPosition(launchOptions.startAt, &start))
        fatal("--start-at wants seconds, order:row or 0xOORRTT, not '%s'\n", text);
    uint32_t time = 0;
    if (start.song) {
        int32_t songTime = tmxPositionToTime(start.order, start.row, start.tick);
        if (songTime < 0)
            fatal("--start-at %s: the tune has no position %d/%d/%d\n", text, int(start.order),
                  int(start.row), int(start.tick));
        time = uint32_t(songTime);
    } else {
        double units = std::floor(start.seconds * 65536.0 + 0.5);
        time = units >= double(UINT32_MAX) ? UINT32_MAX : uint32_t(units);
    }
    uint32_t end = productionTimeline().script->demoEnd();
    if (time >= end)
        fatal("--start-at %s lies at or past the end of the production (%.2f s)\n", text,
              double(end) / 65536.0);
    if (time > tmxTuneLength())
        fatal("--start-at %s lies past the end of the tune (%.2f s)\n", text,
              double(tmxTuneLength()) / 65536.0);
    return time;
}

uint32_t startTime() {
    if (!startResolved) resolvedStart = launchOptions.startAt.empty() ? 0 : resolveStartTime();
    startResolved = true;
    return resolvedStart;
}

uint32_t firstOfflineFrameAtOrAfter(uint32_t time) {
    return offlineFrameTime(offlineFrameAtOrAfter(time));
}

uint32_t lastOfflineFrameBefore(uint32_t time) {
    uint64_t frame = offlineFrameAtOrAfter(time);
    return offlineFrameTime(frame > 0 ? frame - 1 : 0);
}

const TickTimes kOfflineTicks = {firstOfflineFrameAtOrAfter, lastOfflineFrameBefore};
const TickTimes kRealTimeTicks = {};

} // namespace

bool parseStartPosition(const std::string& text, StartPosition* position) {
    StartPosition parsed;
    bool ok = false;
    if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) {
        parsed.song = ok = parsePackedPosition(text, &parsed);
    } else if (text.find_first_of(":/") != std::string::npos) {
        parsed.song = ok = parseSongPosition(text, &parsed);
    } else {
        char* end = nullptr;
        parsed.seconds = strtod(text.c_str(), &end);
        ok = end != text.c_str() && *end == 0 && std::isfinite(parsed.seconds) &&
             parsed.seconds >= 0.0 && parsed.seconds < 65536.0;
    }
    if (ok) *position = parsed;
    return ok;
}

uint32_t offlineFrameTime(uint64_t frame) {
    return uint32_t(frame * 65536u / uint64_t(launchOptions.fps));
}

uint64_t offlineFrameAtOrAfter(uint32_t time) {
    uint64_t fps = uint64_t(launchOptions.fps);
    return (uint64_t(time) * fps + 65535u) / 65536u;
}

const TickTimes& offlineTickTimes() {
    return kOfflineTicks;
}

uint64_t offlineStartFrame() {
    uint64_t frame = offlineFrameAtOrAfter(startTime());
    // Before tmxPlay the frame clock runs through silence, written nowhere.
    if (frame > 0) tmxOfflineAdvance(offlineFrameTime(frame), false);
    return frame;
}

void seekMusicTo(uint32_t time) {
    if (!tmxSeekTime(time)) return;
    // A sound device still plays what it was given before the seek; the frame loop must not
    // see those old times once the timeline stands at the new one.
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (tmxSeekPending() && std::chrono::steady_clock::now() < giveUp) {
        pumpMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void seekToStartPosition(bool offline) {
    if (launchOptions.startAt.empty()) return;
    uint32_t time = offline ? offlineFrameTime(offlineFrameAtOrAfter(startTime())) : startTime();
    logf("MAIN: starting at %.3f s (0x%06x)\n", double(time) / 65536.0,
         unsigned(tmxTimeToPosition(time)));
    seekMusicTo(time);
    rebuildTimeline(productionTimeline(), time, offline ? kOfflineTicks : kRealTimeTicks);
}

void handleSeekKeys(uint32_t pos) {
    bool forward = wasKeyPressed(kKeyPageDown) != 0;
    bool back = wasKeyPressed(kKeyPageUp) != 0;
    if (forward == back) return; // neither, or both at once: they cancel
    int32_t order = int32_t((pos >> 16) & 0xff) + (forward ? 1 : -1);
    if (order < 0) order = 0;
    int32_t time = tmxPositionToTime(order, 0, 0);
    if (time < 0) {
        logf("MAIN: the tune has no order %d to seek to\n", int(order));
        return;
    }
    logf("MAIN: seeking to order %d (%.3f s)\n", int(order), double(time) / 65536.0);
    Timeline& timeline = productionTimeline();
    bool ahead = uint32_t(time) > previousTickTime();
    seekMusicTo(uint32_t(time));
    if (ahead)
        advanceTimeline(timeline, uint32_t(time), kRealTimeTicks);
    else
        restartTimelineAt(uint32_t(time), kRealTimeTicks);
}
