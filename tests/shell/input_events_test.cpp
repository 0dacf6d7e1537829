// Key events pushed into the event queue of the running player: the skip keys move the
// music by one order and Escape ends the production through the normal exit.
#include "shell/options.h"
#include "tests/shell/player_child.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace playerchild;
using namespace std::chrono_literals;

// The viewer's hand: Space once the music runs, right Alt after that skip, then Escape.
void pressSkipKeysThenEscape(fs::path log) {
    size_t at = waitForLog(log, "MAIN: start mainloop\n");
    std::this_thread::sleep_for(500ms); // past row 0, where a skip does nothing
    tapKey(SDL_SCANCODE_SPACE);
    at = waitForLog(log, "MAIN: new time", at);
    std::this_thread::sleep_for(500ms);
    tapKey(SDL_SCANCODE_RALT);
    waitForLog(log, "MAIN: skipping back", at);
    pushKey(SDL_SCANCODE_ESCAPE, true);
}

// The viewer closes the window as soon as the demo window exists, which is during loading.
void closeWhileLoading(fs::path log) {
    waitForLog(log, "WNMN: output/focus window created\n");
    SDL_Event quit = {};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
}

void writeProduction() {
    fs::create_directories("prod");
    std::ofstream("prod/script") << "set tune to \"dali.xm\"\neffect bg is clear\n"
                                    "demo runs until second 60\n at second 0 start bg\nenddemo\n";
    fs::copy_file(fs::path(LUX_TEST_DATA) / "dali.xm", "prod/dali.xm",
                  fs::copy_options::overwrite_existing);
}

TEST(InputEvents, closingTheWindowDuringLoadingEndsThroughDemoExit) {
    writeProduction();
    ASSERT_EQ(playWith("prod", closeWhileLoading), 0) << readFile("luxdebug.txt");
    std::string log = readFile("luxdebug.txt");
    EXPECT_EQ(log.find("MAIN: start mainloop"), std::string::npos) << log;
    size_t exit = log.find("WNMN: demoExit()...\n");
    ASSERT_NE(exit, std::string::npos) << log;
    EXPECT_GT(exit, log.find("WNMN: demoInit()\n"));
    EXPECT_NE(log.find("WNMN: closing support\n", exit), std::string::npos);
    EXPECT_NE(log.find("WNMN: normal exit\n", exit), std::string::npos);
}

TEST(InputEvents, skipKeysMoveOneOrderAndEscapeEndsNormally) {
    writeProduction();
    ASSERT_EQ(playWith("prod", pressSkipKeysThenEscape), 0) << readFile("luxdebug.txt");
    std::string log = readFile("luxdebug.txt");
    unsigned forward = hexAfter(log, "MAIN: skipping to 0x");
    unsigned back = hexAfter(log, "MAIN: skipping back to 0x");
    ASSERT_NE(forward, 0xffffffffu) << log;
    ASSERT_NE(back, 0xffffffffu) << log;
    EXPECT_EQ(forward & 0xffff, 0u); // row 0 of the next order
    EXPECT_GE(forward, 0x10000u);
    EXPECT_EQ(back, forward - 0x10000); // one order back from where the skip landed
    size_t escape = log.find("MAIN: ESC pressed\nMAIN: end mainloop\n");
    EXPECT_NE(escape, std::string::npos) << log;
    EXPECT_LT(log.find("MAIN: skipping back"), escape);
    EXPECT_NE(log.find("INPT: close\n", escape), std::string::npos);
    EXPECT_NE(log.find("WNMN: normal exit\n", escape), std::string::npos);
}

} // namespace
