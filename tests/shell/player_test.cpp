// Runs the real player program headless, as a viewer or a script would, and reads what it
// leaves behind: the log, the exit status, the offline audio.
#include "tests/shell/player_process.h"
#include <gtest/gtest.h>

#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace playerprocess;

void writeProduction(const fs::path& folder, const std::string& script) {
    fs::create_directories(folder);
    std::ofstream(folder / "script") << script;
    fs::copy_file(fs::path(LUX_TEST_DATA) / "dali.xm", folder / "dali.xm",
                  fs::copy_options::overwrite_existing);
}

// The lines of `log` that start with one of the prefixes, in order.
std::vector<std::string> linesWith(const std::string& log,
                                   const std::vector<std::string>& prefixes) {
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
        for (const std::string& prefix : prefixes)
            if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    return lines;
}

const char* kSmallProduction = R"(set tune to "dali.xm"
effect bg is clear
demo
  first set bg.color to 0x204060
  at second 0 start bg
enddemo
)";

TEST(Player, offlineRunLogsTheStartUpOrderAndLeavesNormally) {
    writeProduction("prod", kSmallProduction);
    fs::create_directories("render");
    ASSERT_EQ(runPlayer("-C prod --render " + fs::absolute("render").string() + " --fps 25 --to 1"),
              0)
        << readFile("err.txt");
    std::string log = readFile("luxdebug.txt");
    EXPECT_EQ(log.rfind("lux32 v0.95\n\nWNMN: started logging\n", 0), 0u) << log;
    std::vector<std::string> expected = {
        "WNMN: started logging", "WNMN: base init",    "WNMN: output/focus window created",
        "WNMN: dx support init", "WNMN: directx init", "TMXL: init",
        "WNMN: demoInit()",      "WNMN: demoMain()",   "MAIN: presync",
        "MAIN: start mainloop",  "MAIN: end mainloop", "WNMN: demoExit()...",
        "WNMN: closing fx",      "WNMN: closing dx",   "WNMN: closing support",
        "WNMN: normal exit"};
    EXPECT_EQ(linesWith(log, {"WNMN: ", "MAIN: presync", "MAIN: start", "MAIN: end", "TMXL: init"}),
              expected)
        << log;

    // One second of audio at 44100 Hz, 16-bit stereo, and not silent.
    std::string wav = readFile("render/audio.wav");
    ASSERT_EQ(wav.size(), 44u + 44100u * 4u); // exactly the rendered span
    bool sound = false;
    for (size_t i = 44; i + 1 < wav.size() && !sound; i += 2)
        sound = wav[i] != 0 || wav[i + 1] != 0;
    EXPECT_TRUE(sound);
}

TEST(Player, aScriptWithoutTuneStopsWithTuneNotFound) {
    writeProduction("notune", "effect bg is clear\ndemo\n at second 0 start bg\nenddemo\n");
    fs::create_directories("render");
    EXPECT_EQ(
        runPlayer("-C notune --render " + fs::absolute("render").string() + " --fps 25 --to 1"), 1);
    std::string log = readFile("luxdebug.txt");
    EXPECT_NE(log.find("DBUG: uh-oh... crash exit"), std::string::npos) << log;
    EXPECT_NE(log.find("tune not found: \n"), std::string::npos) << log;
    EXPECT_NE(readFile("err.txt").find("tune not found: "), std::string::npos);
}

TEST(Player, anUnreadableTuneStopsWithTheLoadResult) {
    writeProduction("badtune", "set tune to \"noise.xm\"\neffect bg is clear\ndemo\n at second 0 "
                               "start bg\nenddemo\n");
    std::ofstream("badtune/noise.xm") << "this is not a module";
    fs::create_directories("render");
    EXPECT_EQ(
        runPlayer("-C badtune --render " + fs::absolute("render").string() + " --fps 25 --to 1"),
        1);
    EXPECT_NE(
        readFile("luxdebug.txt")
            .find("we have some serious problems with our tune 'noise.xm': tmxLoadMem returned"),
        std::string::npos);
}

TEST(Player, badOptionsAreRefusedWithAMessage) {
    EXPECT_EQ(runPlayer("--windowed 12"), 2);
    EXPECT_NE(readFile("err.txt").find("--windowed wants WIDTHxHEIGHT"), std::string::npos);
    EXPECT_EQ(runPlayer("--render out"), 2);
    EXPECT_NE(readFile("err.txt").find("--render needs --fps"), std::string::npos);
    EXPECT_EQ(runPlayer("-C /no/such/folder --check"), 2);
    // Offline times are 32-bit counts of 1/65536 s: 70000 s does not fit.
    EXPECT_EQ(runPlayer("--render out --fps 10 --to 70000"), 2);
    EXPECT_NE(readFile("err.txt").find("--to"), std::string::npos);
    EXPECT_EQ(runPlayer("--render out --fps 10 --from 1e300"), 2);
    EXPECT_NE(readFile("err.txt").find("--from"), std::string::npos);
}

} // namespace

namespace {

// The check names every texture and font of the "first" settings with what the lookup finds.
TEST(Player, checkReportsTheTexturesAndFontsOfTheFirstSettings) {
    writeProduction("prod", R"(set tune to "dali.xm"
rendertarget blur 0.5 0.5
effect pic is image
effect other is image
effect glow is image
effect screen is image
effect title is vexwriter
effect big is vexwriter
demo
  first set pic.image to "lake.jpg"
  and set other.image to "missing.jpg"
  and set glow.image to "glow:16 3.5 3.5 3.5 1.1"
  and set screen.image to "rtt:blur"
  and set title.font to "lux32.fn2|res:200"
  and set big.font to "Arial|48"
  at second 0 start pic
enddemo
)");
    fs::copy_file(fs::path(LUX_TEST_DATA) / "scratch-lake.jpg", "prod/lake.jpg",
                  fs::copy_options::overwrite_existing);
    ASSERT_EQ(runPlayer("-C prod --check"), 0) << readFile("err.txt");
    std::string out = readFile("out.txt");
    EXPECT_NE(out.find("texture \"lake.jpg\" found\n"), std::string::npos) << out;
    EXPECT_NE(out.find("texture \"missing.jpg\" NOT FOUND\n"), std::string::npos);
    EXPECT_NE(out.find("texture \"glow:16 3.5 3.5 3.5 1.1\" generated\n"), std::string::npos);
    EXPECT_NE(out.find("texture \"rtt:blur\" render target\n"), std::string::npos);
    EXPECT_NE(out.find("font \"lux32.fn2|res:200\" found\n"), std::string::npos);
    EXPECT_NE(out.find("font \"Arial|48\" rendered from "), std::string::npos);
}

// The timeline part of a check's output: everything before the texture and font lines.
std::string timelineOf(const std::string& checkOutput) {
    size_t end = std::min(checkOutput.find("\ntexture \""), checkOutput.find("\nfont \""));
    return checkOutput.substr(0, end);
}

// The fonts, pictures and scenes are made by the build: only the archive has them.
TEST(Player, defaultProductionReadsTheSameFromItsArchiveAsFromDisk) {
    ASSERT_EQ(runPlayer(std::string("-C ") + LUX_SOURCE_DIR + "/demo --check"), 0)
        << readFile("err.txt");
    std::string fromDisk = readFile("out.txt");
    EXPECT_NE(readFile("luxdebug.txt").find("NCCF: opening file 'script' from disk"),
              std::string::npos);
    ASSERT_EQ(runPlayer(std::string("-C ") + LUX_BINARY_DIR + "/demo --check"), 0)
        << readFile("err.txt");
    std::string log = readFile("luxdebug.txt");
    EXPECT_NE(log.find("NCCF: opening file 'script' from archive 'lux32-demo'"), std::string::npos)
        << log;
    EXPECT_NE(log.find("NCCF: opening file 'march.it' from archive 'lux32-demo'"),
              std::string::npos);
    std::string fromArchive = readFile("out.txt");
    EXPECT_EQ(timelineOf(fromArchive), timelineOf(fromDisk));
    EXPECT_EQ(fromArchive.find("NOT FOUND"), std::string::npos) << fromArchive;
    EXPECT_NE(fromArchive.find("texture \"glyphs.png\" found\n"), std::string::npos);
    EXPECT_NE(fromDisk.find("demo end 133.500s 14/80/0"), std::string::npos) << fromDisk;
}

} // namespace

namespace {

// A render that starts at --from shows the same frames and plays the same audio as the
// same stretch of a render from the start.
// The colour of the pixel at (x, y) of a PNG frame as 0xRRGGBB, or -1 when unreadable.
int64_t pixelOf(const std::string& path, int x, int y) {
    int width = 0, height = 0, channels = 0;
    unsigned char* pixels = stbi_load(path.c_str(), &width, &height, &channels, 3);
    if (!pixels || x >= width || y >= height) {
        stbi_image_free(pixels);
        return -1;
    }
    const unsigned char* p = pixels + (size_t(y) * size_t(width) + size_t(x)) * 3;
    int64_t rgb = int64_t(p[0]) << 16 | int64_t(p[1]) << 8 | p[2];
    stbi_image_free(pixels);
    return rgb;
}

// Frame n of an offline render shows the production at n / fps: events due exactly at a
// frame's time show on that frame. The render folder is made when it does not exist.
TEST(Player, renderFrameNShowsTheProductionAtNOverFps) {
    writeProduction("events", R"(set tune to "dali.xm"
effect bg is clear
demo runs for 3 seconds
  first set bg.color to 0x000000
  at second 0 start bg
  at second 1 set bg.color to 0xff0000
  at second 1.5 set bg.color to 0x00ff00
  at second 1.75 set bg.color to 0x0000ff
enddemo
)");
    ASSERT_EQ(runPlayer("-C events --windowed 64x48 --render " +
                        fs::absolute("not/yet/there").string() + " --fps 4"),
              0)
        << readFile("err.txt");
    const int64_t expected[] = {0, 0, 0, 0, 0xff0000, 0xff0000, 0x00ff00, 0x0000ff, 0x0000ff};
    for (int n = 0; n < 9; ++n) {
        char path[64];
        snprintf(path, sizeof path, "not/yet/there/frame%06d.png", n);
        EXPECT_EQ(pixelOf(path, 10, 10), expected[n]) << path;
    }
}

TEST(Player, renderFromALaterSecondMatchesTheSameStretchOfAFullRender) {
    std::string demo = std::string(LUX_BINARY_DIR) + "/demo";
    fs::create_directories("full");
    fs::create_directories("part");
    ASSERT_EQ(runPlayer("-C " + demo + " --windowed 160x120 --render " +
                        fs::absolute("full").string() + " --fps 5 --to 19"),
              0)
        << readFile("err.txt");
    ASSERT_EQ(runPlayer("-C " + demo + " --windowed 160x120 --render " +
                        fs::absolute("part").string() + " --fps 5 --from 18 --to 19"),
              0)
        << readFile("err.txt");
    EXPECT_FALSE(fs::exists("part/frame000005.png"));
    for (int i = 0; i < 5; ++i) {
        char full[64], part[64];
        snprintf(full, sizeof full, "full/frame%06d.png", 90 + i);
        snprintf(part, sizeof part, "part/frame%06d.png", i);
        std::string fullFrame = readFile(full);
        ASSERT_FALSE(fullFrame.empty()) << full;
        EXPECT_EQ(readFile(part), fullFrame) << part;
    }
    std::string fullWav = readFile("full/audio.wav");
    std::string partWav = readFile("part/audio.wav");
    ASSERT_EQ(partWav.size(), 44u + 44100u * 4u);
    EXPECT_EQ(partWav.substr(44), fullWav.substr(fullWav.size() - 44100 * 4));
}

} // namespace

namespace {

TEST(Player, realTimePlayEndsWithTheProductionAndLeavesNormally) {
    writeProduction("short", R"(set tune to "dali.xm"
effect bg is clear
effect flash is fade
demo runs until second 1
  first set bg.color to 0x204060
  and set flash.fade to 0.5
  at second 0 start bg
  and start flash z 1
enddemo
)");
    ASSERT_EQ(runPlayer("-C short --no-dialog --windowed 160x120"), 0) << readFile("err.txt");
    std::string log = readFile("luxdebug.txt");
    EXPECT_NE(log.find("MAIN: start mainloop\n"), std::string::npos) << log;
    EXPECT_NE(log.find("MAIN: demo ended\nMAIN: end mainloop\n"), std::string::npos) << log;
    EXPECT_NE(log.find("WNMN: normal exit\n"), std::string::npos) << log;
}

} // namespace

namespace {

TEST(Player, loopingStartsTheProductionOverAtItsEnd) {
    writeProduction("looped", R"(set tune to "dali.xm"
effect bg is clear
demo runs until second 1
  first set bg.color to 0x204060
  at second 0 start bg
enddemo
)");
    fs::create_directories("render");
    ASSERT_EQ(runPlayer("-C looped --loop --windowed 160x120 --render " +
                        fs::absolute("render").string() + " --fps 10 --to 2.5"),
              0)
        << readFile("err.txt");
    std::string log = readFile("luxdebug.txt");
    size_t first = log.find("MAIN: demo ended\n");
    ASSERT_NE(first, std::string::npos) << log;
    size_t second = log.find("MAIN: demo ended\n", first + 1);
    ASSERT_NE(second, std::string::npos) << log;
    // The build parse runs again for the new round.
    EXPECT_NE(log.find("SCRP: parsed script", first), std::string::npos);
    EXPECT_NE(log.find("MAIN: render end reached\n", second), std::string::npos) << log;
    EXPECT_TRUE(fs::exists("render/frame000024.png"));
}

} // namespace
