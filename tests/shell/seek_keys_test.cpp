// The seek keys on the running player (key events pushed into its SDL event queue), and the
// forms --start-at accepts.
#include "shell/options.h"
#include "shell/seek.h"
#include "tests/shell/player_child.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace playerchild;
using namespace std::chrono_literals;

TEST(StartPosition, secondsSongPositionsAndPackedPositionsAreRead) {
    StartPosition p;
    ASSERT_TRUE(parseStartPosition("12.5", &p));
    EXPECT_FALSE(p.song);
    EXPECT_EQ(p.seconds, 12.5);
    ASSERT_TRUE(parseStartPosition("4:32", &p));
    EXPECT_TRUE(p.song);
    EXPECT_EQ(p.order * 65536 + p.row * 256 + p.tick, 0x042000);
    ASSERT_TRUE(parseStartPosition("4/32/3", &p));
    EXPECT_EQ(p.order * 65536 + p.row * 256 + p.tick, 0x042003);
    ASSERT_TRUE(parseStartPosition("0x030400", &p)); // as "at pos 0x030400": order 3, row 4
    EXPECT_EQ(p.order * 65536 + p.row * 256 + p.tick, 0x030400);
    for (const char* bad : {"", "x", "-0.5", "nan", "inf", "1e9", "4:", ":3", "4:32:", "4:-1",
                            "256:0", "4:2:1:0", "4:2/1", "0x", "0x1000000", "0xg"})
        EXPECT_FALSE(parseStartPosition(bad, &p)) << bad;
}

// Page Down early in order 0, Page Up once order 1 has played a little, then Escape.
void seekForwardThenBack(fs::path log) {
    size_t at = waitForLog(log, "MAIN: start mainloop\n");
    tapKey(SDL_SCANCODE_PAGEDOWN);
    at = waitForLog(log, "blocks 7001", at);
    tapKey(SDL_SCANCODE_PAGEUP);
    waitForLog(log, "blocks 7000", waitForLog(log, "MAIN: seeking to order 0", at));
    SDL_Event escape = {};
    escape.type = SDL_KEYDOWN;
    escape.key.state = SDL_PRESSED;
    escape.key.keysym.scancode = SDL_SCANCODE_ESCAPE;
    SDL_PushEvent(&escape);
}

// Out-of-range block counts make the effect log every value it is given, so the log shows
// when each setting reaches it. An order of the test tune is 7.68 s, a row 0.12 s.
TEST(SeekKeys, pageDownFiresWhatItPassesAndPageUpPlaysOrderZeroAgainFromItsStart) {
    fs::create_directories("prod");
    std::ofstream("prod/script")
        << "set tune to \"dali.xm\"\neffect fb is fadeblocks\n"
           "demo runs until order 3\n first set fb.blocks to 0\n at second 0 start fb\n"
           " at order 0 row 6 set fb.blocks to 7000\n"
           " at order 1 row 4 set fb.blocks to 7001\nenddemo\n";
    fs::copy_file(fs::path(LUX_TEST_DATA) / "dali.xm", "prod/dali.xm",
                  fs::copy_options::overwrite_existing);
    ASSERT_EQ(playWith("prod", seekForwardThenBack), 0) << readFile("luxdebug.txt");
    std::string log = readFile("luxdebug.txt");
    auto after = [&](const std::string& text, size_t from) {
        size_t at = log.find(text, from);
        return at == std::string::npos ? at : at + text.size();
    };
    // The warm-up before the frame loop fires every setting once; only what follows counts.
    size_t first = after("MAIN: start mainloop\n", after("blocks 0 out of range", 0));
    size_t forward = after("MAIN: seeking to order 1 (7.680 s)\n", first);
    ASSERT_NE(forward, std::string::npos) << log;
    // Passed over by the seek: fired by it, before the frame loop reaches order 1, row 4.
    size_t passed = after("blocks 7000 out of range", forward);
    size_t reached = after("blocks 7001 out of range", passed);
    size_t back = after("MAIN: seeking to order 0 (0.000 s)\n", reached);
    ASSERT_NE(back, std::string::npos) << log;
    EXPECT_EQ(log.find("blocks 7000", first), passed - strlen("blocks 7000 out of range"));
    // Going back makes the effect anew: the initial setting again, then order 0 plays on.
    size_t again = after("blocks 0 out of range", back);
    EXPECT_NE(after("blocks 7000 out of range", again), std::string::npos) << log;
    EXPECT_EQ(log.find("blocks 7001", again), std::string::npos) << log;
    EXPECT_NE(log.find("MAIN: ESC pressed\n", back), std::string::npos) << log;
}

} // namespace
