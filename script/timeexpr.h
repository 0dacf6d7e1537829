// Time and song-position expressions of the script.
//
// Times are unsigned 32-bit counts of 1/65536 s; song positions are packed as
// order << 16 | row << 8 | tick. Commands are placed by start expressions ("and", "then",
// "at row/timer/second/pos/order ..."), may end by end expressions ("for ... seconds/orders/
// rows/ticks", "until row ...", and outside macros "until timer/second/pos/order ..."), and
// macros carry a length (relative forms only). Song positions are converted through the
// music player (platform/music/music.h); each distinct position or time is asked once and
// kept in two caches of 256 buckets that live as long as the `Script`.
//
// In a dry run (the first parse, before the music is loaded) the music player is never
// asked and every song-position form yields 0. Errors are parse errors of the reader.
#pragma once

#include "script/reader.h"

#include <cstdint>

class TimeCache {
  public:
    TimeCache() = default;
    ~TimeCache();
    TimeCache(const TimeCache&) = delete;
    TimeCache& operator=(const TimeCache&) = delete;

    static uint32_t bucketOf(uint32_t key);
    bool findTime(uint32_t position, uint32_t* time);
    bool findPosition(uint32_t time, uint32_t* position);
    void enterPosition(uint32_t position, uint32_t time); // a position and its start time
    void enterTime(uint32_t time, uint32_t position);     // the position heard at a time
    void clear();

    uint64_t lookups = 0; // both directions
    uint64_t hits = 0;

  private:
    struct Pair {
        uint32_t key;
        uint32_t value;
        Pair* next;
    };
    Pair* byPosition[256] = {};
    Pair* byTime[256] = {};
};

class TimeExpressions {
  public:
    explicit TimeExpressions(ScriptReader& reader) : reader(reader) {}

    uint32_t positionToTime(int32_t order, int32_t row, int32_t tick);
    uint32_t timeToPosition(uint32_t time);

    // Each returns false when no expression of its kind follows (nothing is consumed).
    bool readStartTime(uint32_t now, uint32_t prev, uint32_t* time);
    bool readEndTime(uint32_t start, uint32_t* time);
    bool readLength(uint32_t start, uint32_t* time);

    bool dryRun = false;
    TimeCache cache;

  private:
    bool readRelative(uint32_t start, uint32_t* time);
    bool readAbsolute(const char* word, uint32_t* time); // after "at" or "until"
    uint32_t readRowTick(int32_t order);                 // "row" R ["tick" T] of an order
    uint32_t songTime(int32_t order, int32_t row, int32_t tick);
    uint32_t checkedTime(double time); // a parse error past the latest time
    void readWord(char* buffer);

    ScriptReader& reader;
};
