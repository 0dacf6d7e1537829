// Runs the real player program offline with --start-at and compares its frames with those of
// a render from the start; bad start positions end the program with a message. A render with
// --watch picks up edits of its script.
#include "tests/shell/player_process.h"
#include <gtest/gtest.h>

#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace playerprocess;

std::string frameName(const std::string& folder, int frame) {
    char name[32];
    snprintf(name, sizeof name, "/frame%06d.png", frame);
    return folder + name;
}

// Layers, a render target shown by another effect, a time-driven plasma, fades running,
// ended, curved and between frames, events at seconds and at a song position, and effects
// that start between frames and run twice.
const char* kProduction = R"(set tune to "dali.xm"
rendertarget half 0.5 0.5
viewport left 0 0 0.5 1
viewport right 0.5 0 0.5 1
viewport whole 0 0 1 1 target half
effect bg is clear
effect inner is clear
effect wave is plasma1
effect pic is image
effect veil is fade
effect box is designbox
demo runs until second 12
  first set bg.color to 0x102030
  and set inner.color to 0x305010
  and set wave.image to "lake.jpg"
  and set pic.image to "rtt:half"
  and set veil.color to 0xffffff
  and set box.color to 0xff8000
  at second 0 start bg
  and start inner vp whole
  and start wave vp left z 1
  and fade veil.fade from 1 to 0 for 2 seconds
  and start veil z 9 until second 2.05
  at second 1.37 start pic vp right z 2
  and fade pic.angle from 0 to 360 for 8 seconds
  and fade pic.zoom from 1 to 0.5 curve 20 for 6 seconds
  at order 1 row 8 set inner.color to 0x803050
  at second 3.3 start box z 5 for 2 seconds
  and fade box.thick from 1 to 8 for 2 seconds
  at second 6.5 set bg.color to 0x402000
  at second 7.21 start box z 5 for 3 seconds
  at second 8 fade inner.color from 0 to 255 for 2 seconds
enddemo
)";

class PlayerSeek : public testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories("seekprod");
        std::ofstream("seekprod/script") << kProduction;
        for (const char* file : {"dali.xm", "scratch-lake.jpg"})
            fs::copy_file(fs::path(LUX_TEST_DATA) / file,
                          fs::path("seekprod") / (file[0] == 's' ? "lake.jpg" : file),
                          fs::copy_options::overwrite_existing);
    }
    static std::string render(const std::string& folder, const std::string& options) {
        fs::remove_all(folder);
        return "-C seekprod --windowed 96x72 --render " + fs::absolute(folder).string() +
               " --fps 10 " + options;
    }
};

// Frame n of the full render shows second n / 10; a render started at a moment begins with
// the first frame at or after it.
TEST_F(PlayerSeek, framesFromAStartPositionEqualTheFullRunsFrames) {
    ASSERT_EQ(runPlayer(render("full", "--to 11")), 0) << readFile("err.txt");
    struct Start {
        const char* position;
        int firstFrame;
    };
    // 1:0 is order 1, row 0 of the tune: 7.68 s, so its first frame is 77.
    const Start starts[] = {{"1", 10}, {"2.5", 25}, {"5.05", 51}, {"1:0", 77}, {"9.93", 100}};
    for (const Start& start : starts) {
        std::string to = std::to_string(start.firstFrame / 10.0 + 0.25);
        ASSERT_EQ(
            runPlayer(render("part", std::string("--start-at ") + start.position + " --to " + to)),
            0)
            << start.position << ": " << readFile("err.txt");
        for (int i = 0; i < 3; ++i) {
            std::string full = readFile(frameName("full", start.firstFrame + i));
            ASSERT_FALSE(full.empty());
            EXPECT_EQ(readFile(frameName("part", i)), full)
                << "--start-at " << start.position << ", frame " << i;
        }
        EXPECT_FALSE(fs::exists(frameName("part", 3))) << start.position;
    }
    // With --from the frames are written from that second on.
    ASSERT_EQ(runPlayer(render("part", "--start-at 2.5 --from 3 --to 3.2")), 0);
    EXPECT_EQ(readFile(frameName("part", 0)), readFile(frameName("full", 30)));
    EXPECT_EQ(readFile(frameName("part", 1)), readFile(frameName("full", 31)));
    // The audio covers the written stretch: sample frames of the 1/65536 s clock at 44100 Hz.
    auto sampleFrames = [](double seconds) {
        return uint64_t(seconds * 65536 + 0.5) * 44100 / 65536;
    };
    EXPECT_EQ(fs::file_size("part/audio.wav"), 44u + (sampleFrames(3.2) - sampleFrames(3)) * 4u);
}

TEST_F(PlayerSeek, startPositionsTheProductionLacksEndWithAMessage) {
    EXPECT_EQ(runPlayer(render("bad", "--start-at 12")), 1);
    EXPECT_NE(readFile("err.txt").find("--start-at 12 lies at or past the end of the production"),
              std::string::npos)
        << readFile("err.txt");
    EXPECT_EQ(runPlayer(render("bad", "--start-at 200:0")), 1);
    EXPECT_NE(readFile("err.txt").find("--start-at 200:0: the tune has no position 200/0/0"),
              std::string::npos)
        << readFile("err.txt");
    for (const char* form : {"-1", "4:", "4:256", "1:2:3:4", "0x1000000", "soon"}) {
        EXPECT_EQ(runPlayer(render("bad", std::string("--start-at ") + form)), 2) << form;
        EXPECT_NE(readFile("err.txt").find("--start-at wants"), std::string::npos) << form;
    }
}

} // namespace

namespace {

// --watch on a render that runs until the test ends it: the frames show what the script said
// when they were drawn.
class PlayerWatch : public testing::Test {
  protected:
    void TearDown() override {
        if (player > 0) {
            kill(player, SIGKILL);
            waitpid(player, nullptr, 0);
        }
    }
    void start() {
        fs::create_directories("watched");
        fs::remove_all("frames"); // frames of an earlier run would count as drawn already
        writeScript("0xff0000", "start");
        fs::copy_file(fs::path(LUX_TEST_DATA) / "dali.xm", "watched/dali.xm",
                      fs::copy_options::overwrite_existing);
        std::string frames = fs::absolute("frames").string();
        player = fork();
        if (player == 0) {
            std::string binary = std::string(LUX_BINARY_DIR) + "/lux32";
            execl(binary.c_str(), "lux32", "-C", "watched", "--windowed", "160x120", "--render",
                  frames.c_str(), "--fps", "5", "--to", "60000", "--watch", (char*)nullptr);
            _exit(127);
        }
    }
    static void writeScript(const char* colour, const char* command) {
        std::ofstream("watched/script.new")
            << "set tune to \"dali.xm\"\neffect bg is clear\ndemo\n  first set bg.color to "
            << colour << "\n  at second 0 " << command << " bg\nenddemo\n";
        fs::rename("watched/script.new", "watched/script");
    }
    // Milliseconds until the log holds `text` after `from` (and where it ends), or -1.
    static int64_t waitForLog(const std::string& text, size_t* from) {
        auto began = std::chrono::steady_clock::now();
        for (int i = 0; i < 2000; ++i) {
            size_t at = readFile("luxdebug.txt").find(text, *from);
            if (at != std::string::npos) {
                *from = at + text.size();
                return std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - began)
                    .count();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return -1;
    }
    // The colour of a frame drawn after this call: the frame before the newest one written
    // at least two frames later (the newest may still be being written).
    static int64_t colourOfALaterFrame() { return pixelOf(aLaterFrame()); }
    static std::string aLaterFrame() {
        int newest = newestFrame();
        int frame = newest;
        for (int i = 0; i < 2000 && (frame = newestFrame()) < newest + 3; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return frameName("frames", frame - 1);
    }
    // Pixels of the bottom half that differ from the colour of the top left corner.
    static int markedPixels(const std::string& path) {
        int width = 0, height = 0, channels = 0;
        unsigned char* p = stbi_load(path.c_str(), &width, &height, &channels, 3);
        if (!p) return -1;
        int marked = 0;
        for (int i = width * height / 2; i < width * height; ++i)
            marked += memcmp(p + 3 * i, p, 3) != 0;
        stbi_image_free(p);
        return marked;
    }
    static int newestFrame() {
        int newest = -1;
        std::error_code missing; // the player makes the folder when it starts rendering
        for (const auto& entry : fs::directory_iterator("frames", missing)) {
            std::string name = entry.path().filename().string();
            if (name.rfind("frame", 0) == 0) newest = std::max(newest, atoi(name.c_str() + 5));
        }
        return newest;
    }
    static int64_t pixelOf(const std::string& path) {
        int width = 0, height = 0, channels = 0;
        unsigned char* p = stbi_load(path.c_str(), &width, &height, &channels, 3);
        if (!p) return -1;
        int64_t rgb = int64_t(p[0]) << 16 | int64_t(p[1]) << 8 | p[2];
        stbi_image_free(p);
        return rgb;
    }

    pid_t player = -1;
};

TEST_F(PlayerWatch, anEditIsPlayedWithinASecondAndABrokenOrMissingScriptKeepsTheOld) {
    start();
    size_t log = 0;
    ASSERT_GE(waitForLog("MAIN: watching 1 script file(s) on disk for changes\n", &log), 0);
    EXPECT_EQ(colourOfALaterFrame(), 0xff0000);
    EXPECT_EQ(markedPixels(aLaterFrame()), 0);

    writeScript("0x00ff00", "start");
    int64_t took = waitForLog("MAIN: script read again, playing on at ", &log);
    ASSERT_GE(took, 0) << readFile("luxdebug.txt");
    EXPECT_LT(took, 1000);
    EXPECT_EQ(colourOfALaterFrame(), 0x00ff00);

    writeScript("0x0000ff", "strat");
    ASSERT_GE(waitForLog("MAIN: the changed script has an error, playing on with the old one:\n"
                         "while parsing script (line 5)",
                         &log),
              0)
        << readFile("luxdebug.txt");
    EXPECT_GE(waitForLog("command expected\n", &log), 0);
    // The error is written over the picture, which the old script goes on drawing.
    std::string withError = aLaterFrame();
    EXPECT_EQ(pixelOf(withError), 0x00ff00);
    EXPECT_GT(markedPixels(withError), 20);

    fs::remove("watched/script");
    EXPECT_GE(waitForLog("MAIN: warning: the script file 'script' is gone, playing on with the "
                         "old script\n",
                         &log),
              0)
        << readFile("luxdebug.txt");
    EXPECT_EQ(colourOfALaterFrame(), 0x00ff00);
    // Back again, and right this time.
    writeScript("0x0000ff", "start");
    EXPECT_GE(waitForLog("MAIN: script read again", &log), 0);
    std::string repaired = aLaterFrame();
    EXPECT_EQ(pixelOf(repaired), 0x0000ff);
    EXPECT_EQ(markedPixels(repaired), 0);
}

} // namespace
