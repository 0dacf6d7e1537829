// Time expressions: the start, end and length forms and the position/time caches.
#include "script/timeexpr.h"

#include "platform/music/music.h"
#include "platform/values.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

int32_t orderOf(uint32_t position) {
    return int32_t((position >> 16) & 255);
}
int32_t rowOf(uint32_t position) {
    return int32_t((position >> 8) & 255);
}
int32_t tickOf(uint32_t position) {
    return int32_t(position & 255);
}

// Sum of a position part and a count, kept in range so that absurd counts end in the
// "illegal ... number" errors instead of overflowing.
int32_t addPart(int32_t part, int32_t count) {
    int64_t sum = int64_t(part) + count;
    return sum > INT32_MAX ? INT32_MAX : sum < INT32_MIN ? INT32_MIN : int32_t(sum);
}

int32_t secondsToTime(float seconds) {
    return truncToInt(double(seconds) * 65536.0);
}

// Times are kept in signed 32-bit fields by the event list, so the timeline ends just
// before 2^31 units (about 9.1 hours); a later time would wrap instead of failing.
constexpr int64_t kLatestTime = INT32_MAX;

} // namespace

TimeCache::~TimeCache() {
    clear();
}

uint32_t TimeCache::bucketOf(uint32_t key) {
    return ((key & 255) * 123 + ((key >> 8) & 255) * 217 + ((key >> 16) & 255) * 67 +
            (key >> 24) * 13) %
           256;
}

void TimeCache::clear() {
    for (Pair** table : {byPosition, byTime})
        for (int i = 0; i < 256; ++i)
            while (table[i]) {
                Pair* pair = table[i];
                table[i] = pair->next;
                delete pair;
            }
}

bool TimeCache::findTime(uint32_t position, uint32_t* time) {
    ++lookups;
    for (Pair* pair = byPosition[bucketOf(position)]; pair; pair = pair->next)
        if (pair->key == position) {
            ++hits;
            *time = pair->value;
            return true;
        }
    return false;
}

bool TimeCache::findPosition(uint32_t time, uint32_t* position) {
    ++lookups;
    for (Pair* pair = byTime[bucketOf(time)]; pair; pair = pair->next)
        if (pair->key == time) {
            ++hits;
            *position = pair->value;
            return true;
        }
    return false;
}

void TimeCache::enterPosition(uint32_t position, uint32_t time) {
    Pair*& head = byPosition[bucketOf(position)];
    head = new Pair{position, time, head};
    enterTime(time, position);
}

void TimeCache::enterTime(uint32_t time, uint32_t position) {
    Pair*& head = byTime[bucketOf(time)];
    head = new Pair{time, position, head};
}

uint32_t TimeExpressions::positionToTime(int32_t order, int32_t row, int32_t tick) {
    if (order < 0 || order > 255) reader.parseError("illegal order number %d", order);
    if (row < 0 || row > 255) reader.parseError("illegal row number %d", row);
    if (tick < 0 || tick > 255) reader.parseError("illegal tick number %d", tick);
    uint32_t position = uint32_t(order) << 16 | uint32_t(row) << 8 | uint32_t(tick);
    uint32_t time = 0;
    if (cache.findTime(position, &time)) return time;
    int32_t answer = tmxPositionToTime(order, row, tick);
    if (answer < 0) reader.parseError("song position %d/%d/%d does not exist", order, row, tick);
    cache.enterPosition(position, uint32_t(answer));
    return uint32_t(answer);
}

uint32_t TimeExpressions::timeToPosition(uint32_t time) {
    uint32_t position = 0;
    if (cache.findPosition(time, &position)) return position;
    position = tmxTimeToPosition(time);
    // Only the time cache learns this pair: the time need not be where the position begins.
    cache.enterTime(time, position);
    return position;
}

uint32_t TimeExpressions::checkedTime(double time) {
    if (!(time >= 0)) return 0; // not a number: the integer readers' 0
    if (time > double(kLatestTime))
        reader.parseError("time out of range (second %.2f; times must lie before second %d)",
                          time / 65536.0, int((kLatestTime + 1) / 65536));
    return uint32_t(time);
}

// A song-position form's value; 0 in a dry run, where the music is not loaded yet.
uint32_t TimeExpressions::songTime(int32_t order, int32_t row, int32_t tick) {
    return dryRun ? 0 : positionToTime(order, row, tick);
}

void TimeExpressions::readWord(char* buffer) {
    if (!reader.readIdent(buffer, false)) reader.parseError("syntax error");
}

uint32_t TimeExpressions::readRowTick(int32_t order) {
    int32_t row = 0, tick = 0;
    reader.readInt(&row, true);
    if (reader.expect("tick", false)) reader.readInt(&tick, true);
    return songTime(order, row, tick);
}

bool TimeExpressions::readAbsolute(const char* word, uint32_t* time) {
    if (strcmp(word, "timer") == 0 || strcmp(word, "second") == 0) {
        float value = 0;
        reader.readFloat(&value, true);
        int32_t ticks = word[0] == 't' ? truncToInt(value) : secondsToTime(value);
        if (ticks < 0) reader.parseError("illegal timer value %d", ticks);
        *time = checkedTime(std::trunc(word[0] == 't' ? double(value) : double(value) * 65536.0));
        return true;
    }
    if (strcmp(word, "pos") == 0) {
        int32_t position = 0;
        reader.readInt(&position, true);
        uint32_t packed = uint32_t(position);
        *time = songTime(int32_t(packed >> 16), rowOf(packed), tickOf(packed));
        return true;
    }
    if (strcmp(word, "order") == 0) {
        int32_t order = 0, row = 0, tick = 0;
        reader.readInt(&order, true);
        if (reader.expect("row", false)) {
            reader.readInt(&row, true);
            if (reader.expect("tick", false)) reader.readInt(&tick, true);
        }
        *time = songTime(order, row, tick);
        return true;
    }
    return false;
}

bool TimeExpressions::readStartTime(uint32_t now, uint32_t prev, uint32_t* time) {
    ReaderPosition saved = reader.save();
    char word[ScriptReader::kIdentLength + 1];
    if (!reader.readIdent(word, false)) return false;
    if (strcmp(word, "and") == 0) {
        *time = prev;
        return true;
    }
    if (strcmp(word, "then") == 0) {
        *time = now;
        return true;
    }
    if (strcmp(word, "at") == 0) {
        readWord(word);
        if (strcmp(word, "row") == 0) {
            int32_t row = 0, tick = 0;
            reader.readInt(&row, true);
            if (reader.expect("tick", false)) reader.readInt(&tick, true);
            if (dryRun) {
                *time = 0;
                return true;
            }
            // The next time the music is at that row: this order, or the next one when the
            // row has passed already.
            if (row < 0 || row > 255) reader.parseError("illegal row number %d", row);
            if (tick < 0 || tick > 255) reader.parseError("illegal tick number %d", tick);
            uint32_t current = timeToPosition(now);
            int32_t order = orderOf(current);
            if (row * 256 + tick < rowOf(current) * 256 + tickOf(current)) ++order;
            *time = positionToTime(order, row, tick);
            return true;
        }
        if (readAbsolute(word, time)) return true;
    }
    reader.restore(saved);
    return false;
}

bool TimeExpressions::readRelative(uint32_t start, uint32_t* time) {
    ReaderPosition saved = reader.save();
    char word[ScriptReader::kIdentLength + 1];
    if (reader.expect("for", false)) {
        float count = 0, rows = 0, ticks = 0;
        reader.readFloat(&count, true);
        readWord(word);
        bool seconds = strcmp(word, "seconds") == 0, orders = strcmp(word, "orders") == 0;
        bool rowUnit = strcmp(word, "rows") == 0, tickUnit = strcmp(word, "ticks") == 0;
        if (!seconds && !orders && !rowUnit && !tickUnit) {
            reader.restore(saved);
            return false;
        }
        if (count < 0) reader.parseError("negative time???");
        if (orders && reader.readFloat(&rows, false)) {
            reader.expect("rows", true);
            if (reader.readFloat(&ticks, false)) reader.expect("ticks", true);
        }
        if (rowUnit && reader.readFloat(&ticks, false)) reader.expect("ticks", true);
        if (seconds) {
            *time = checkedTime(double(start) + std::trunc(double(count) * 65536.0));
            return true;
        }
        if (dryRun) {
            *time = 0;
            return true;
        }
        uint32_t from = timeToPosition(start);
        int32_t order = orderOf(from), row = rowOf(from), tick = tickOf(from);
        int32_t n = truncToInt(count);
        int32_t moreRows = truncToInt(rows), moreTicks = truncToInt(ticks);
        if (orders)
            *time =
                positionToTime(addPart(order, n), addPart(row, moreRows), addPart(tick, moreTicks));
        if (rowUnit) *time = positionToTime(order, addPart(row, n), addPart(tick, moreTicks));
        if (tickUnit) *time = positionToTime(order, row, addPart(tick, n));
        return true;
    }
    if (reader.expect("until", false) && reader.expect("row", false)) {
        int32_t row = 0, tick = 0;
        reader.readInt(&row, true);
        if (reader.expect("tick", false)) reader.readInt(&tick, true);
        *time = dryRun ? 0 : positionToTime(orderOf(timeToPosition(start)), row, tick);
        return true;
    }
    reader.restore(saved);
    return false;
}

bool TimeExpressions::readEndTime(uint32_t start, uint32_t* time) {
    if (readRelative(start, time)) return true;
    ReaderPosition saved = reader.save();
    char word[ScriptReader::kIdentLength + 1];
    if (reader.expect("until", false)) {
        readWord(word);
        if (readAbsolute(word, time)) return true;
    }
    reader.restore(saved);
    return false;
}

bool TimeExpressions::readLength(uint32_t start, uint32_t* time) {
    return readRelative(start, time);
}
