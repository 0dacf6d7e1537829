#include "script/timeexpr.h"

#include "platform/music/music.h"
#include "script_test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// dali.xm: 11 orders of 64-row patterns. Expected times come from the music player's own
// conversion, the reference the script's expressions are defined over.
void loadTune(const char* name, int type) {
    std::ifstream in(std::string(LUX_TEST_DATA) + "/" + name, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(bytes.empty()) << name;
    static SoundSettings settings;
    tmxInit(&settings);
    ASSERT_EQ(tmxLoadMem(bytes.data(), uint32_t(bytes.size()), type), 0);
}

uint32_t at(int order, int row, int tick = 0) {
    int32_t time = tmxPositionToTime(order, row, tick);
    EXPECT_GE(time, 0) << order << "/" << row << "/" << tick;
    return uint32_t(time);
}

enum class Form { start, end, length };

struct Expression {
    explicit Expression(const std::string& text, bool dryRun = false) {
        reader.load(text.data(), int32_t(text.size()), nullptr);
        times.dryRun = dryRun;
    }
    bool read(Form form, uint32_t now, uint32_t prev, uint32_t* time) {
        switch (form) {
        case Form::start:
            return times.readStartTime(now, prev, time);
        case Form::end:
            return times.readEndTime(now, time);
        case Form::length:
            return times.readLength(now, time);
        }
        return false;
    }
    ScriptReader reader;
    TimeExpressions times{reader};
};

// The value of an expression, or -1 when none was found (then nothing may be consumed).
int64_t valueOf(const std::string& text, Form form, uint32_t now = 0, uint32_t prev = 0) {
    Expression e(text);
    uint32_t time = 0;
    if (!e.read(form, now, prev, &time)) {
        EXPECT_EQ(e.reader.save().position, 0) << text;
        return -1;
    }
    return time;
}

std::string errorOf(const std::string& text, Form form, uint32_t now = 0) {
    std::string message = fatalMessageOf([&] {
        Expression e(text);
        uint32_t time = 0;
        e.read(form, now, 0, &time);
    });
    size_t body = message.find(":\n\n");
    return body == std::string::npos ? message : message.substr(body + 3);
}

class TimeExpressionTest : public testing::Test {
  protected:
    static void SetUpTestSuite() { loadTune("dali.xm", kTuneXm); }
};

TEST_F(TimeExpressionTest, secondsAndTimerUnits) {
    EXPECT_EQ(valueOf("at second 1.5", Form::start), 98304);
    EXPECT_EQ(valueOf("at timer 98304", Form::start), 98304);
    EXPECT_EQ(valueOf("at second 50%", Form::start), 32768);
    EXPECT_EQ(valueOf("and", Form::start, 500, 300), 300);
    EXPECT_EQ(valueOf("then", Form::start, 500, 300), 500);
    EXPECT_EQ(valueOf("for 2 seconds", Form::end, 1000), 1000 + 131072);
    EXPECT_EQ(valueOf("until second 3", Form::end, 1000), 3 * 65536);
    EXPECT_EQ(valueOf("until timer 7", Form::end), 7);
}

TEST_F(TimeExpressionTest, atRowIsTheNextTimeTheMusicIsThere) {
    uint32_t now = at(3, 40);
    EXPECT_EQ(valueOf("at row 32", Form::start, now), at(4, 32));
    EXPECT_EQ(valueOf("at row 40", Form::start, now), at(3, 40));
    EXPECT_EQ(valueOf("at row 48", Form::start, now), at(3, 48));
    EXPECT_EQ(valueOf("at row 40 tick 2", Form::start, now), at(3, 40, 2));
    EXPECT_EQ(valueOf("at row 39 tick 5", Form::start, now), at(4, 39, 5));
}

TEST_F(TimeExpressionTest, absoluteSongPositions) {
    EXPECT_EQ(valueOf("at pos 0x030400", Form::start), at(3, 4, 0));
    EXPECT_EQ(valueOf("at order 3", Form::start), at(3, 0));
    EXPECT_EQ(valueOf("at order 3 row 4", Form::start), at(3, 4));
    EXPECT_EQ(valueOf("at order 3 row 4 tick 2", Form::start), at(3, 4, 2));
    EXPECT_EQ(valueOf("until pos 0x0a0000", Form::end), at(10, 0));
    EXPECT_EQ(valueOf("until order 2 row 8", Form::end), at(2, 8));
}

TEST_F(TimeExpressionTest, relativeSongPositionsAddWithoutCarry) {
    uint32_t start = at(3, 10);
    EXPECT_EQ(valueOf("for 2 orders", Form::end, start), at(5, 10));
    EXPECT_EQ(valueOf("for 1 orders 8 rows", Form::end, start), at(4, 18));
    EXPECT_EQ(valueOf("for 1 orders 8 rows 3 ticks", Form::end, start), at(4, 18, 3));
    EXPECT_EQ(valueOf("for 4 rows", Form::end, start), at(3, 14));
    EXPECT_EQ(valueOf("for 4 rows 2 ticks", Form::length, start), at(3, 14, 2));
    EXPECT_EQ(valueOf("for 3 ticks", Form::length, start), at(3, 10, 3));
    EXPECT_EQ(valueOf("until row 5", Form::length, start), at(3, 5)); // before the start
    EXPECT_EQ(valueOf("until row 5 tick 1", Form::end, start), at(3, 5, 1));
}

TEST_F(TimeExpressionTest, noneConsumesNothing) {
    EXPECT_EQ(valueOf("start x", Form::start), -1);
    EXPECT_EQ(valueOf("at foo", Form::start), -1);
    EXPECT_EQ(valueOf("for 3 bananas", Form::end), -1);
    EXPECT_EQ(valueOf("until foo 3", Form::end), -1);
    EXPECT_EQ(valueOf("until second 3", Form::length), -1); // lengths are relative only
    EXPECT_EQ(valueOf("until order 3", Form::length), -1);
    EXPECT_EQ(valueOf("", Form::end), -1);
}

TEST_F(TimeExpressionTest, errors) {
    EXPECT_EQ(errorOf("for -1 seconds", Form::end), "negative time???");
    EXPECT_EQ(errorOf("at order 256", Form::start), "illegal order number 256");
    EXPECT_EQ(errorOf("at order 1 row 256", Form::start), "illegal row number 256");
    EXPECT_EQ(errorOf("at order 1 row 2 tick -1", Form::start), "illegal tick number -1");
    EXPECT_EQ(errorOf("at pos 0x1000000", Form::start), "illegal order number 256");
    EXPECT_EQ(errorOf("for 1 orders 250 rows", Form::end, at(3, 10)), "illegal row number 260");
    EXPECT_EQ(errorOf("at order 200", Form::start), "song position 200/0/0 does not exist");
    EXPECT_EQ(errorOf("at order 3 row 64", Form::start), "song position 3/64/0 does not exist");
    EXPECT_EQ(errorOf("at timer -5", Form::start), "illegal timer value -5");
    EXPECT_EQ(errorOf("until second -1", Form::end), "illegal timer value -65536");
    EXPECT_EQ(errorOf("at", Form::start), "syntax error");
    EXPECT_EQ(errorOf("for 2", Form::end), "syntax error");
    EXPECT_EQ(errorOf("until", Form::end), "syntax error");
    EXPECT_EQ(errorOf("for 1 orders 2 ticks", Form::end), "'rows' expected");
    EXPECT_EQ(errorOf("for 1 rows 2 orders", Form::end), "'ticks' expected");
    EXPECT_EQ(errorOf("at second soon", Form::start), "float value expected");
    EXPECT_EQ(errorOf("at row x", Form::start), "integer value expected");
    EXPECT_EQ(errorOf("for 1e30 orders", Form::end), "illegal order number 2147483647");
}

// Rows and ticks past 255 and times past the latest one are errors, however large they are
// (the arithmetic on them overflowed or wrapped before).
TEST_F(TimeExpressionTest, valuesOutOfRangeAreErrorsNotOverflows) {
    EXPECT_EQ(errorOf("at row 9999999", Form::start), "illegal row number 9999999");
    EXPECT_EQ(errorOf("at row 8388607 tick 2147483647", Form::start), "illegal row number 8388607");
    EXPECT_EQ(errorOf("at row 3 tick 2147483647", Form::start), "illegal tick number 2147483647");
    const std::string latest = "; times must lie before second 32768)";
    EXPECT_EQ(errorOf("at second 32768", Form::start),
              "time out of range (second 32768.00" + latest);
    EXPECT_EQ(errorOf("until timer 3e9", Form::end), "time out of range (second 45776.37" + latest);
    EXPECT_EQ(errorOf("for 30000 seconds", Form::end, 30000u * 65536u),
              "time out of range (second 60000.00" + latest);
    // 2^31 - 128 is the last float below 2^31; it and nearly 32768 seconds still fit.
    EXPECT_EQ(valueOf("at timer 2147483520", Form::start), 2147483520);
    EXPECT_EQ(valueOf("for 1 seconds", Form::end, 2147483647u - 65536u), 2147483647);
}

TEST_F(TimeExpressionTest, dryRunNeverAsksTheMusicPlayer) {
    uint32_t now = at(3, 1);
    uint64_t before = tmxConversionCount();
    for (const char* text : {"at row 5", "at pos 0x030400", "at order 200 row 300"}) {
        Expression e(text, true);
        uint32_t time = 1;
        ASSERT_TRUE(e.times.readStartTime(now, 0, &time)) << text;
        EXPECT_EQ(time, 0u) << text;
    }
    for (const char* text : {"for 2 orders 3 rows 1 ticks", "for 5 rows", "for 1 ticks",
                             "until row 3", "until order 2"}) {
        Expression e(text, true);
        uint32_t time = 1;
        ASSERT_TRUE(e.times.readEndTime(65536, &time)) << text;
        EXPECT_EQ(time, 0u) << text;
    }
    Expression seconds("for 2 seconds", true);
    uint32_t time = 0;
    ASSERT_TRUE(seconds.times.readEndTime(65536, &time));
    EXPECT_EQ(time, 3u * 65536);
    EXPECT_EQ(tmxConversionCount(), before);
}

TEST_F(TimeExpressionTest, cachesAskEachPositionOnce) {
    Expression e("");
    uint64_t before = tmxConversionCount();
    uint32_t first = e.times.positionToTime(2, 16, 0);
    EXPECT_EQ(e.times.positionToTime(2, 16, 0), first);
    // The position's start time was learnt with it, so this needs no conversion either.
    EXPECT_EQ(e.times.timeToPosition(first), 0x021000u);
    EXPECT_EQ(tmxConversionCount(), before + 1);
    EXPECT_EQ(e.times.cache.lookups, 3u);
    EXPECT_EQ(e.times.cache.hits, 2u);
    // A time in the middle of a row maps to that row, but does not become its start.
    uint32_t middle = first + 100;
    EXPECT_EQ(e.times.timeToPosition(middle) & 0xFFFF00u, 0x021000u);
    EXPECT_EQ(e.times.positionToTime(2, 16, 0), first);
}

TEST(TimeCache, bucketsFollowTheByteWeights) {
    EXPECT_EQ(TimeCache::bucketOf(0x01020304), (4u * 123 + 3 * 217 + 2 * 67 + 1 * 13) % 256);
    EXPECT_EQ(TimeCache::bucketOf(0), 0u);
    EXPECT_EQ(TimeCache::bucketOf(0xFFFFFFFF), (255u * (123 + 217 + 67 + 13)) % 256);
}

TEST(TimeExpressionOtherTune, impulseTrackerPositions) {
    loadTune("gd-matth.it", kTuneIt);
    EXPECT_EQ(valueOf("at order 2 row 8", Form::start), at(2, 8));
    EXPECT_EQ(valueOf("for 1 orders", Form::end, at(2, 8)), at(3, 8));
    EXPECT_EQ(errorOf("at order 12", Form::start), "song position 12/0/0 does not exist");
}

} // namespace
