// The player's own keys, pressed as SDL key events into the running player: F12 saves the
// frame beside the log, F1 shows the overlay on it, F2 holds the music and the timeline.
#include "shell/options.h"
#include "tests/shell/player_child.h"

#include <SDL.h>
#include <gtest/gtest.h>

#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace playerchild;
using namespace std::chrono_literals;

// A screenshot, F1 and another one, F2 for 0.6 s, then Escape.
void pressPlayerKeys(fs::path log) {
    size_t at = waitForLog(log, "MAIN: start mainloop\n");
    std::this_thread::sleep_for(300ms);
    tapKey(SDL_SCANCODE_F12);
    at = waitForLog(log, "MAIN: screenshot saved as", at);
    tapKey(SDL_SCANCODE_F1);
    at = waitForLog(log, "MAIN: overlay on\n", at);
    std::this_thread::sleep_for(200ms);
    tapKey(SDL_SCANCODE_F12);
    at = waitForLog(log, "MAIN: screenshot saved as", at);
    tapKey(SDL_SCANCODE_F2);
    at = waitForLog(log, "MAIN: paused at", at);
    std::this_thread::sleep_for(600ms);
    tapKey(SDL_SCANCODE_F2);
    waitForLog(log, "MAIN: resumed at", at);
    SDL_Event escape = {};
    escape.type = SDL_KEYDOWN;
    escape.key.state = SDL_PRESSED;
    escape.key.keysym.scancode = SDL_SCANCODE_ESCAPE;
    SDL_PushEvent(&escape);
}

// The paths the log names after "MAIN: screenshot saved as '", in order.
std::vector<std::string> screenshotsIn(const std::string& log) {
    std::vector<std::string> paths;
    const std::string key = "MAIN: screenshot saved as '";
    for (size_t at = log.find(key); at != std::string::npos; at = log.find(key, at + 1)) {
        size_t start = at + key.size();
        paths.push_back(log.substr(start, log.find('\'', start) - start));
    }
    return paths;
}

// Pixels of the picture's top-left 200 x 40 that stand out from the production's clear colour
// 0x204060: the overlay's text and its shadow. (Counting only near-white pixels was too
// close to the text's size: at 320 x 240 its antialiased strokes have ~55 of them, fewer when
// its figures are short.)
int overlayPixelsTopLeft(const std::string& path) {
    int width = 0, height = 0, channels = 0;
    unsigned char* pixels = stbi_load(path.c_str(), &width, &height, &channels, 3);
    if (!pixels) return -1;
    const int background[3] = {0x20, 0x40, 0x60};
    int marked = 0;
    for (int y = 0; y < 40 && y < height; ++y)
        for (int x = 0; x < 200 && x < width; ++x) {
            const unsigned char* p = pixels + (size_t(y) * size_t(width) + size_t(x)) * 3;
            bool differs = false;
            for (int c = 0; c < 3; ++c)
                differs |= std::abs(int(p[c]) - background[c]) > 48;
            marked += differs;
        }
    stbi_image_free(pixels);
    return marked;
}

TEST(PlayerKeys, screenshotsOverlayAndPause) {
    fs::create_directories("prod");
    std::ofstream("prod/script") << "set tune to \"dali.xm\"\neffect bg is clear\n"
                                    "demo runs until second 60\n first set bg.color to 0x204060\n"
                                    " at second 0 start bg\nenddemo\n";
    fs::copy_file(fs::path(LUX_TEST_DATA) / "dali.xm", "prod/dali.xm",
                  fs::copy_options::overwrite_existing);
    for (const auto& entry : fs::directory_iterator("."))
        if (entry.path().filename().string().rfind("screenshot-", 0) == 0) fs::remove(entry);
    ASSERT_EQ(playWith("prod", pressPlayerKeys, "320x240"), 0) << readFile("luxdebug.txt");
    std::string log = readFile("luxdebug.txt");

    // Beside the log, numbered; the first without the overlay, the second with it.
    std::vector<std::string> shots = screenshotsIn(log);
    ASSERT_EQ(shots.size(), 2u) << log;
    EXPECT_EQ(shots[0], fs::absolute("screenshot-001.png").string());
    EXPECT_EQ(shots[1], fs::absolute("screenshot-002.png").string());
    EXPECT_EQ(overlayPixelsTopLeft(shots[0]), 0);
    EXPECT_GT(overlayPixelsTopLeft(shots[1]), 200); // ~700 with three lines of text

    // The music stood still for the 0.6 s of the pause.
    unsigned paused = hexAfter(log, "MAIN: paused at 0x");
    unsigned resumed = hexAfter(log, "MAIN: resumed at 0x");
    ASSERT_NE(paused, 0xffffffffu) << log;
    ASSERT_NE(resumed, 0xffffffffu) << log;
    EXPECT_GE(resumed, paused);
    EXPECT_LT(resumed - paused, unsigned(0.2 * 65536));
    EXPECT_NE(log.find("MAIN: ESC pressed\n"), std::string::npos);
    EXPECT_NE(log.find("WNMN: normal exit\n"), std::string::npos);
}

} // namespace
