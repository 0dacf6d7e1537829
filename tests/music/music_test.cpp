// The music player on real tunes: conversions, clocks, offline rendering and the mixing stage.
//
// Expected times come from the modules' own numbers, read here with libopenmpt directly or
// worked out by hand: dali.xm plays at speed 6, tempo 125 (a tick is 2.5/125 = 0.02 s, a row
// 0.12 s, a 64-row pattern 7.68 s) from start to end; gd-matth.it at speed 4, tempo 125 (a row
// 0.08 s, a pattern 5.12 s). MP3 tunes use the grid of 0.02 s ticks, 6 per row, 64 rows per
// order.
#include "platform/log.h"
#include "platform/music/music.h"

#include <gtest/gtest.h>
#include <libopenmpt/libopenmpt.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
}

std::vector<char> testFile(const char* name) {
    return readBytes(std::string(LUX_TEST_DATA) + "/" + name);
}

int32_t unitsUp(double seconds) {
    return int32_t(std::ceil(seconds * 65536.0));
}

uint32_t packed(int order, int row, int tick) {
    return uint32_t(order << 16 | row << 8 | tick);
}

// Speed and tempo at the start and the rows of each pattern, as libopenmpt reports them.
struct ModuleFacts {
    int speed = 0;
    int tempo = 0;
    int orders = 0;
    std::vector<int> rows;
};

ModuleFacts readFacts(const std::vector<char>& bytes) {
    ModuleFacts facts;
    openmpt_module* module = openmpt_module_create_from_memory2(
        bytes.data(), bytes.size(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!module) return facts;
    facts.speed = openmpt_module_get_current_speed(module);
    facts.tempo = openmpt_module_get_current_tempo(module);
    facts.orders = openmpt_module_get_num_orders(module);
    for (int o = 0; o < facts.orders; ++o)
        facts.rows.push_back(openmpt_module_get_pattern_num_rows(
            module, openmpt_module_get_order_pattern(module, o)));
    openmpt_module_destroy(module);
    return facts;
}

class Music : public ::testing::Test {
  protected:
    SoundSettings settings;
    void SetUp() override { tmxInit(&settings); }
    void TearDown() override { tmxClose(); }

    void load(const char* name, int type) {
        std::vector<char> bytes = testFile(name);
        ASSERT_FALSE(bytes.empty()) << name;
        ASSERT_EQ(tmxLoadMem(bytes.data(), uint32_t(bytes.size()), type), 0) << name;
    }
};

// Seconds of (order, row, tick) for a module whose speed and tempo never change and whose
// patterns all have `rows` rows.
double steadyModuleSeconds(const ModuleFacts& facts, int order, int row, int tick) {
    double tickSeconds = 2.5 / facts.tempo;
    return ((order * 64.0 + row) * facts.speed + tick) * tickSeconds;
}

void checkSteadyModule(const char* name, int speed, int tempo) {
    ModuleFacts facts = readFacts(testFile(name));
    ASSERT_EQ(facts.speed, speed);
    ASSERT_EQ(facts.tempo, tempo);
    for (int rows : facts.rows)
        ASSERT_EQ(rows, 64);
    const int cases[][3] = {{0, 0, 0}, {0, 1, 0}, {1, 5, 0}, {1, 5, 2}, {3, 63, 1}, {7, 32, 0}};
    for (const auto& c : cases) {
        double seconds = steadyModuleSeconds(facts, c[0], c[1], c[2]);
        int32_t time = tmxPositionToTime(c[0], c[1], c[2]);
        EXPECT_EQ(time, unitsUp(seconds)) << c[0] << "/" << c[1] << "/" << c[2];
        EXPECT_EQ(tmxTimeToPosition(uint32_t(time)), packed(c[0], c[1], c[2]));
    }
    // The last row of the last order exists; one order further and one row further do not.
    int last = facts.orders - 1;
    EXPECT_EQ(tmxPositionToTime(last, 63, 0), unitsUp(steadyModuleSeconds(facts, last, 63, 0)));
    EXPECT_LT(tmxPositionToTime(facts.orders, 0, 0), 0);
    EXPECT_LT(tmxPositionToTime(2, 64, 0), 0);
    EXPECT_LT(tmxPositionToTime(255, 0, 0), 0);
    EXPECT_LT(tmxPositionToTime(-1, 0, 0), 0);
}

TEST_F(Music, xmPositionsAndTimesFollowSpeedAndTempo) {
    load("dali.xm", kTuneXm);
    checkSteadyModule("dali.xm", 6, 125);
    // Mid-row moments: 8.31 s is 0.03 s into order 1 row 5 (8.28 s), tick 1 of 0.02 s.
    EXPECT_EQ(tmxTimeToPosition(uint32_t(8.31 * 65536)), packed(1, 5, 1));
    // Just before a row starts still belongs to the row before, last tick.
    EXPECT_EQ(tmxTimeToPosition(uint32_t(unitsUp(8.28) - 1)), packed(1, 4, 5));
    EXPECT_EQ(tmxTimeToPosition(0), packed(0, 0, 0));
}

TEST_F(Music, itPositionsAndTimesFollowSpeedAndTempo) {
    load("gd-matth.it", kTuneIt);
    checkSteadyModule("gd-matth.it", 4, 125);
    EXPECT_EQ(tmxTimeToPosition(uint32_t(5.55 * 65536)), packed(1, 5, 1)); // 5.52 + 0.03
}

// A four-channel module written here byte by byte, so that every time can be worked out by
// hand. Orders 0, 1, 2 play patterns 0, 1, 2. Pattern 0 sets speed 3 on row 0 (rows of
// 3 x 0.02 s = 0.06 s) and jumps to order 2 on row 16, so its rows 17-63 and all of order 1
// are never played. Pattern 2 sets tempo 100 on row 4 (ticks of 0.025 s, rows of 0.075 s) and
// ends the song with a break on row 8.
std::vector<char> handMadeModule() {
    std::vector<char> mod(1084 + 3 * 1024 + 64, 0);
    memcpy(mod.data(), "jump test", 9);
    char* sample = &mod[20]; // sample 1: 32 words, volume 64, looped
    sample[23] = 32;
    sample[25] = 64;
    sample[29] = 32;
    mod[950] = 3;   // orders
    mod[951] = 127; // restart byte
    mod[952] = 0, mod[953] = 1, mod[954] = 2;
    memcpy(&mod[1080], "M.K.", 4);
    auto cell = [&](int pattern, int row, int channel, int instrument, int period, int effect,
                    int param) {
        char* at = &mod[1084 + pattern * 1024 + row * 16 + channel * 4];
        at[0] = char((instrument & 0xf0) | (period >> 8));
        at[1] = char(period & 0xff);
        at[2] = char((instrument & 0x0f) << 4 | effect);
        at[3] = char(param);
    };
    cell(0, 0, 0, 1, 428, 0xf, 3); // note, speed 3
    cell(0, 16, 1, 0, 0, 0xb, 2);  // jump to order 2
    cell(1, 0, 0, 1, 428, 0xf, 1); // never heard
    cell(2, 0, 0, 1, 214, 0x0, 0); // note
    cell(2, 4, 1, 0, 0, 0xf, 100); // tempo 100
    cell(2, 8, 1, 0, 0, 0xd, 0);   // break: the song ends after this row
    for (int i = 0; i < 64; ++i)
        mod[1084 + 3 * 1024 + i] = char(i < 32 ? 0x60 : 0xa0);
    return mod;
}

TEST_F(Music, rowsTheSongNeverPlaysDoNotExist) {
    std::vector<char> mod = handMadeModule();
    ASSERT_EQ(tmxLoadMem(mod.data(), uint32_t(mod.size()), kTuneUnknown), 0);
    EXPECT_EQ(tmxPositionToTime(0, 0, 0), 0);
    EXPECT_EQ(tmxPositionToTime(0, 3, 2), unitsUp(3 * 0.06 + 2 * 0.02));
    EXPECT_EQ(tmxPositionToTime(0, 16, 0), unitsUp(16 * 0.06));
    EXPECT_EQ(tmxPositionToTime(2, 0, 0), unitsUp(17 * 0.06));
    EXPECT_EQ(tmxPositionToTime(2, 4, 0), unitsUp(21 * 0.06));
    EXPECT_EQ(tmxPositionToTime(2, 4, 1), unitsUp(21 * 0.06 + 0.025)); // the row's own tempo
    EXPECT_EQ(tmxPositionToTime(2, 5, 0), unitsUp(21 * 0.06 + 0.075));
    EXPECT_EQ(tmxPositionToTime(2, 8, 2), unitsUp(21 * 0.06 + 4 * 0.075 + 2 * 0.025));
    EXPECT_LT(tmxPositionToTime(0, 17, 0), 0); // after the jump
    EXPECT_LT(tmxPositionToTime(1, 0, 0), 0);  // jumped over
    EXPECT_LT(tmxPositionToTime(1, 5, 0), 0);
    EXPECT_LT(tmxPositionToTime(2, 9, 0), 0); // after the end
    EXPECT_EQ(tmxTimeToPosition(uint32_t(1.30 * 65536)), packed(2, 4, 1));
    EXPECT_EQ(tmxTimeToPosition(uint32_t(1.005 * 65536)), packed(0, 16, 2));
    EXPECT_EQ(tmxTimeToPosition(uint32_t(unitsUp(1.02))), packed(2, 0, 0));
    EXPECT_EQ(tmxTimeToPosition(uint32_t(unitsUp(1.02) - 1)), packed(0, 16, 2));
}

TEST_F(Music, mp3PositionsUseTheFixedGrid) {
    load("house_lo.mp3", kTuneMp3);
    // 7.26 s of sound: order 0 holds rows up to 60 (7.2 s); order 1 starts at 7.68 s.
    EXPECT_EQ(tmxPositionToTime(0, 0, 0), 0);
    EXPECT_EQ(tmxPositionToTime(0, 10, 0), unitsUp(1.2));
    EXPECT_EQ(tmxPositionToTime(0, 50, 3), unitsUp(50 * 0.12 + 3 * 0.02));
    EXPECT_EQ(tmxTimeToPosition(uint32_t(unitsUp(6.06))), packed(0, 50, 3));
    EXPECT_EQ(tmxTimeToPosition(uint32_t(6.5 * 65536)), packed(0, 54, 1));
    EXPECT_LT(tmxPositionToTime(1, 0, 0), 0);  // past the end of the sound
    EXPECT_LT(tmxPositionToTime(0, 64, 0), 0); // no row 64 on the grid
    EXPECT_LT(tmxPositionToTime(0, 61, 0), 0); // 7.32 s
}

TEST_F(Music, conversionsAreCounted) {
    load("dali.xm", kTuneXm);
    uint64_t before = tmxConversionCount();
    tmxPositionToTime(1, 0, 0);
    tmxPositionToTime(99, 0, 0);
    tmxTimeToPosition(65536);
    EXPECT_EQ(tmxConversionCount(), before + 3);
}

TEST_F(Music, unreadableTunesAreRefused) {
    std::string garbage;
    for (int i = 0; i < 2000; ++i)
        garbage += "this is not a tune, just words. ";
    EXPECT_NE(tmxLoadMem(garbage.data(), uint32_t(garbage.size()), kTuneXm), 0);
    EXPECT_NE(tmxLoadMem(garbage.data(), uint32_t(garbage.size()), kTuneIt), 0);
    EXPECT_NE(tmxLoadMem(garbage.data(), uint32_t(garbage.size()), kTuneMp3), 0);
    EXPECT_NE(tmxLoadMem(garbage.data(), 0, kTuneXm), 0);
    EXPECT_NE(tmxLoadMem(nullptr, 100, kTuneMp3), 0);
    // A cut module is refused too, and nothing converts afterwards.
    std::vector<char> xm = testFile("dali.xm");
    EXPECT_NE(tmxLoadMem(xm.data(), 40, kTuneXm), 0);
    EXPECT_LT(tmxPositionToTime(0, 0, 0), 0);
}

// Damaged files either load or are refused; what loads converts and plays without harm.
TEST_F(Music, damagedTunesNeverCrash) {
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    ASSERT_TRUE(tmxOfflineOpen("damaged.wav", &settings));
    for (const char* name : {"dali.xm", "gd-matth.it", "house_lo.mp3"}) {
        std::vector<char> clean = testFile(name);
        int type = std::string(name).find(".mp3") != std::string::npos ? kTuneMp3 : kTuneXm;
        for (int round = 0; round < 8; ++round) {
            std::vector<char> bytes = clean;
            for (int i = 0; i < 40; ++i)
                bytes[next() % bytes.size()] = char(next());
            size_t cut = next() % (bytes.size() / 2);
            bytes.erase(bytes.end() - std::ptrdiff_t(cut), bytes.end());
            if (tmxLoadMem(bytes.data(), uint32_t(bytes.size()), type) != 0) continue;
            uint32_t time = uint32_t(tmxPositionToTime(1, 3, 1));
            tmxTimeToPosition(time);
            tmxTimeToPosition(600 * 65536);
            tmxPlay();
            for (int f = 1; f <= 10; ++f)
                tmxOfflineAdvance(uint32_t(round * 65536 + f * 1310), false);
            tmxSetPosition(2, 0);
            tmxOfflineAdvance(uint32_t(round * 65536 + 20 * 1310), false);
            tmxGetPosition();
            tmxStop();
        }
    }
    EXPECT_TRUE(tmxOfflineClose());
}

// --- offline rendering -------------------------------------------------------------------

struct Wav {
    std::vector<char> bytes;
    std::vector<int16_t> samples() const {
        std::vector<int16_t> out;
        for (size_t i = 44; i + 1 < bytes.size(); i += 2)
            out.push_back(int16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8));
        return out;
    }
};

// Renders the first `seconds` of a tune at 50 frames per second after `setup`.
template <typename Setup>
Wav renderOffline(const char* path, const char* tune, int type, double seconds, Setup setup) {
    SoundSettings s;
    tmxInit(&s);
    EXPECT_TRUE(tmxOfflineOpen(path, &s));
    {
        // The player keeps its own copy: the bytes are gone before it plays.
        std::vector<char> bytes = testFile(tune);
        EXPECT_EQ(tmxLoadMem(bytes.data(), uint32_t(bytes.size()), type), 0);
    }
    setup();
    tmxPlay();
    int frames = int(seconds * 50);
    for (int f = 1; f <= frames; ++f)
        tmxOfflineAdvance(uint32_t(f * 65536 / 50), true);
    EXPECT_TRUE(tmxOfflineClose());
    tmxClose();
    return Wav{readBytes(path)};
}

Wav renderXm(const char* path, double seconds = 1.0) {
    return renderOffline(path, "dali.xm", kTuneXm, seconds, [] {});
}

int peak(const std::vector<int16_t>& samples, size_t first, size_t step) {
    int top = 0;
    for (size_t i = first; i < samples.size(); i += step)
        top = std::max(top, std::abs(int(samples[i])));
    return top;
}

TEST_F(Music, offlineWavIsSoundAndIdenticalOnASecondRun) {
    Wav first = renderXm("first.wav", 2.0);
    Wav second = renderXm("second.wav", 2.0);
    // Header: 16-bit stereo PCM at 44100 Hz, 2 s of frames.
    ASSERT_EQ(first.bytes.size(), 44u + 2u * 44100u * 4u);
    EXPECT_EQ(std::string(first.bytes.data(), 4), "RIFF");
    EXPECT_EQ(std::string(first.bytes.data() + 8, 8), "WAVEfmt ");
    EXPECT_GT(peak(first.samples(), 0, 1), 1000);
    EXPECT_TRUE(first.bytes == second.bytes);
}

TEST_F(Music, offlineOpenFailsWhereTheFileCannotBeWritten) {
    EXPECT_FALSE(tmxOfflineOpen("no/such/folder/out.wav", &settings));
    EXPECT_FALSE(tmxOfflineClose());
}

TEST_F(Music, offlineMp3IsSoundUntilItsEnd) {
    std::vector<int16_t> samples =
        renderOffline("mp3.wav", "house_lo.mp3", kTuneMp3, 8.0, [] {}).samples();
    ASSERT_EQ(samples.size(), 8u * 44100u * 2u);
    EXPECT_GT(peak(samples, 0, 1), 1000);
    // 7.26 s of sound, then silence; the mono tune sounds the same on both sides.
    EXPECT_GT(peak(std::vector<int16_t>(samples.begin() + 7 * 88200, samples.end()), 0, 1), 0);
    EXPECT_EQ(peak(std::vector<int16_t>(samples.begin() + 88200 * 73 / 10, samples.end()), 0, 1),
              0);
    for (size_t i = 0; i < samples.size(); i += 2)
        ASSERT_EQ(samples[i], samples[i + 1]) << i;
}

TEST_F(Music, mp3PositionsFollowPlayback) {
    ASSERT_TRUE(tmxOfflineOpen("mp3pos.wav", &settings));
    load("house_lo.mp3", kTuneMp3);
    tmxPlay();
    tmxOfflineAdvance(uint32_t(6.5 * 65536), false);
    EXPECT_EQ(tmxGetPosition(), packed(0, 54, 1)); // 325 ticks of 0.02 s
    tmxSetPosition(0, 10);                         // 1.2 s
    tmxOfflineAdvance(uint32_t(6.55 * 65536), false);
    EXPECT_EQ(tmxGetPosition(), packed(0, 10, 2));
    EXPECT_NEAR(tmxGetTime(), 1.25 * 65536, 3);
    EXPECT_TRUE(tmxOfflineClose());
}

TEST_F(Music, offlineClocksAndPositionsFollowTheFrameClock) {
    ASSERT_TRUE(tmxOfflineOpen("clock.wav", &settings));
    load("dali.xm", kTuneXm);
    EXPECT_LT(tmxGetTime(), 0);                     // not playing yet
    tmxOfflineAdvance(uint32_t(0.5 * 65536), true); // silence before the tune starts
    tmxPlay();
    EXPECT_EQ(tmxGetTime(), 0);
    EXPECT_EQ(tmxGetClock(), 0);
    // 0.27 s in: row 2 (0.24 s) tick 1 (0.26 s).
    tmxOfflineAdvance(uint32_t(0.77 * 65536), true);
    EXPECT_NEAR(tmxGetTime(), 0.27 * 65536, 3);
    EXPECT_EQ(tmxGetPosition(), packed(0, 2, 1));
    tmxOfflineAdvance(uint32_t(1.51 * 65536), true);
    EXPECT_EQ(tmxGetPosition(), packed(0, 8, 2)); // 1.01 s
    // A seek to order 2 (15.36 s): the song time jumps, the running clock does not.
    tmxSetPosition(2, 0);
    tmxOfflineAdvance(uint32_t(1.61 * 65536), true);
    EXPECT_NEAR(tmxGetTime(), (15.36 + 0.1) * 65536, 3);
    EXPECT_NEAR(tmxGetClock(), 1.11 * 65536, 3);
    EXPECT_EQ(tmxGetPosition(), packed(2, 0, 5));
    EXPECT_TRUE(tmxOfflineClose());
}

// --- mixing stage ------------------------------------------------------------------------

Wav renderWith(const char* path, const char* name, int32_t value) {
    return renderOffline(path, "dali.xm", kTuneXm, 1.0, [&] { tmxSetVariable(name, value); });
}

TEST_F(Music, variablesAreStored) {
    tmxSetVariable("somethingelse", 7);
    tmxSetVariable("__tmxcrvb", 32);
    tmxSetVariable("somethingelse", 8);
    EXPECT_EQ(tmxGetVariable("somethingelse"), 8);
    EXPECT_EQ(tmxGetVariable("__tmxcrvb"), 32);
    EXPECT_EQ(tmxGetVariable("never"), 0);
}

TEST_F(Music, levelZeroLeavesTheSoundBitForBit) {
    Wav plain = renderXm("plain.wav");
    for (const char* name :
         {"__tmxcsrd", "__tmxcrvb", "__tmxcchr", "__tmxcpan", "__tmxcbal", "__tmxcamp"}) {
        Wav zero = renderWith("zero.wav", name, 0);
        EXPECT_TRUE(zero.bytes == plain.bytes) << name;
    }
    EXPECT_TRUE(renderWith("full.wav", "__tmxcvol", 100).bytes == plain.bytes);
}

TEST_F(Music, effectStagesChangeTheSound) {
    std::vector<int16_t> plain = renderXm("plain.wav").samples();
    for (const char* name : {"__tmxcsrd", "__tmxcrvb", "__tmxcchr"}) {
        std::vector<int16_t> wet = renderWith("wet.wav", name, 50).samples();
        ASSERT_EQ(wet.size(), plain.size());
        size_t changed = 0;
        for (size_t i = 0; i < wet.size(); ++i)
            changed += std::abs(wet[i] - plain[i]) > 8;
        EXPECT_GT(changed, plain.size() / 10) << name;
    }
}

TEST_F(Music, volumeBalanceAndPanShapeTheSides) {
    EXPECT_EQ(peak(renderWith("mute.wav", "__tmxcvol", 0).samples(), 0, 1), 0);
    std::vector<int16_t> plain = renderXm("plain.wav").samples();
    std::vector<int16_t> half = renderWith("half.wav", "__tmxcvol", 50).samples();
    EXPECT_NEAR(peak(half, 0, 1), peak(plain, 0, 1) / 2, 2);
    std::vector<int16_t> louder = renderWith("amp.wav", "__tmxcamp", 6).samples(); // x1.995
    EXPECT_NEAR(std::abs(louder[20001]), std::abs(plain[20001]) * 1.995, 3);
    // Balance to the right silences the left side; panning to the left empties the right one.
    std::vector<int16_t> right = renderWith("bal.wav", "__tmxcbal", 100).samples();
    EXPECT_EQ(peak(right, 0, 2), 0);
    EXPECT_GT(peak(right, 1, 2), 1000);
    std::vector<int16_t> left = renderWith("pan.wav", "__tmxcpan", -100).samples();
    EXPECT_EQ(peak(left, 1, 2), 0);
    EXPECT_GT(peak(left, 0, 2), 1000);
}

// --- live clocks -------------------------------------------------------------------------

std::string readText(const char* path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST_F(Music, withoutSoundThePlayerRunsOnTheWallClock) {
    logSetFile("nosound.txt");
    settings.noSound = 1;
    tmxOpen(nullptr, &settings);
    load("dali.xm", kTuneXm);
    EXPECT_LT(tmxGetTime(), 0);
    tmxPlay();
    EXPECT_GE(tmxGetTime(), 0);
    EXPECT_GE(tmxGetClock(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int32_t time = tmxGetTime();
    EXPECT_GE(time, int32_t(0.3 * 65536));
    EXPECT_LT(time, int32_t(3.0 * 65536));
    EXPECT_GE((tmxGetPosition() >> 8) & 0xff, 2u); // rows of 0.12 s
    EXPECT_GE(tmxGetClock(), time - 65536 / 100);
    tmxStop();
    EXPECT_LT(tmxGetTime(), 0);
    closeLog();
    std::string log = readText("nosound.txt");
    EXPECT_NE(log.find("TMXL: warning"), std::string::npos) << log;
}

// A pause holds both clocks where they were and they go on from there, not from the wall
// clock; offline the frame clock rules and a pause does nothing.
TEST_F(Music, pauseHoldsTheClocksAndTheyGoOnFromThere) {
    logSetFile("pause.txt");
    settings.noSound = 1;
    tmxOpen(nullptr, &settings);
    load("dali.xm", kTuneXm);
    tmxPlay();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    tmxPause(true);
    EXPECT_TRUE(tmxPaused());
    int32_t held = tmxGetTime(), heldClock = tmxGetClock();
    uint32_t heldPosition = tmxGetPosition();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(tmxGetTime(), held);
    EXPECT_EQ(tmxGetClock(), heldClock);
    EXPECT_EQ(tmxGetPosition(), heldPosition);
    tmxPause(false);
    EXPECT_FALSE(tmxPaused());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    int32_t after = tmxGetTime();
    EXPECT_GT(after, held);
    EXPECT_LT(after - held, int32_t(0.5 * 65536)); // without the pause: 0.7 s or more
    tmxStop();
    EXPECT_FALSE(tmxPaused());
    closeLog();
}

TEST_F(Music, offlineAPauseChangesNothing) {
    ASSERT_TRUE(tmxOfflineOpen(nullptr, &settings)); // no file: rendered and dropped
    load("dali.xm", kTuneXm);
    tmxPlay();
    tmxOfflineAdvance(65536, false);
    tmxPause(true);
    EXPECT_FALSE(tmxPaused());
    tmxOfflineAdvance(2 * 65536, false);
    EXPECT_EQ(tmxGetTime(), 2 * 65536);
    EXPECT_TRUE(tmxOfflineClose());
}

TEST_F(Music, deviceClockStartsNegativeThenRunsForward) {
    setenv("SDL_AUDIODRIVER", "dummy", 0); // a device that plays into nothing, in real time
    settings.bufferFrames = 4096; // ~93 ms still to play when the first block is handed over
    tmxOpen(nullptr, &settings);
    load("dali.xm", kTuneXm);
    tmxPlay();
    EXPECT_LT(tmxGetTime(), 0);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int32_t last = INT32_MIN;
    bool monotonic = true;
    while (std::chrono::steady_clock::now() < deadline &&
           (tmxGetTime() < int32_t(0.3 * 65536) || tmxGetClock() < 0)) {
        int32_t now = tmxGetClock();
        monotonic = monotonic && now >= last;
        last = now;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(monotonic);
    EXPECT_GE(tmxGetTime(), int32_t(0.3 * 65536));
    EXPECT_GE(tmxGetClock(), 0);
    // Once playing, the clock keeps pace with real time, also between callbacks.
    auto start = std::chrono::steady_clock::now();
    int32_t first = tmxGetClock();
    int32_t steps = 0, previous = first;
    for (int i = 0; i < 60; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        int32_t now = tmxGetClock();
        steps += now > previous;
        previous = now;
    }
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double heard = (previous - first) / 65536.0;
    EXPECT_GT(heard, 0.7 * wall);
    EXPECT_LT(heard, 1.3 * wall);
    EXPECT_GT(steps, 50); // it moves at nearly every look, not once per 93 ms block
}

// SDL's disk driver writes the sound to a file and, told so, waits 2 s between blocks: a
// device that has stopped asking for sound. The clocks must not stand still.
TEST_F(Music, aStalledDeviceHandsOverToTheWallClock) {
    logSetFile("stall.txt");
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "stall.raw", 1);
    setenv("SDL_DISKAUDIODELAY", "2000", 1);
    tmxOpen(nullptr, &settings);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    load("dali.xm", kTuneXm);
    tmxPlay();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    while (std::chrono::steady_clock::now() < deadline && tmxGetTime() < int32_t(0.5 * 65536))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(tmxGetTime(), int32_t(0.5 * 65536));
    tmxClose();
    closeLog();
    std::string log = readText("stall.txt");
    EXPECT_NE(log.find("TMXL: warning: the audio device stopped playing"), std::string::npos)
        << log;
}

} // namespace
