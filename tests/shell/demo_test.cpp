// The default production played from start to end through the real program, offline at
// 160 x 120 and 4 frames a second: a clean log, every effect class drawn, the audio exactly as
// long as the production, and a dozen frames against their reviewed pictures in
// tests/golden/demo (written instead with LUX_UPDATE_GOLDEN=1, scripts/update-golden.sh).
#include "tests/shell/player_process.h"
#include <gtest/gtest.h>

#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace playerprocess;

constexpr int kFps = 4;
constexpr int kTolerance = 3; // per colour channel

// The 25 effect classes of the program.
const char* const kClasses[] = {
    "grid",          "motionblur",  "fade",       "multitext",  "gled",
    "designbox",     "designlines", "clear",      "yodawriter", "gled2",
    "letterwriter",  "scroller",    "fadeblocks", "pilztum",    "torusfader",
    "imagescroller", "max",         "tmxcontrol", "image",      "crashzoom",
    "rain",          "vexwriter",   "matrix",     "plasma1",    "lofi"};

// Moments (seconds) of the golden frames: two in most orders, one in each scene section.
const double kMoments[] = {2.0,   6.0,   11.25, 15.75, 20.25, 24.75, 34.5,  40.5,  47.25,
                           51.75, 56.25, 60.75, 67.5,  76.5,  85.5,  103.5, 121.5, 130.5};

bool updating() {
    const char* flag = getenv("LUX_UPDATE_GOLDEN");
    return flag && strcmp(flag, "1") == 0;
}

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

Image loadImage(const fs::path& path) {
    Image image;
    int channels = 0;
    uint8_t* data = stbi_load(path.c_str(), &image.width, &image.height, &channels, 3);
    if (data) image.rgb.assign(data, data + size_t(image.width) * size_t(image.height) * 3);
    stbi_image_free(data);
    return image;
}

// Channel values further apart than the tolerance (everything, when the sizes differ).
size_t differences(const Image& a, const Image& b) {
    if (a.width != b.width || a.height != b.height || a.rgb.empty())
        return std::max(a.rgb.size(), b.rgb.size()) + 1;
    size_t off = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i)
        if (std::abs(int(a.rgb[i]) - int(b.rgb[i])) > kTolerance) ++off;
    return off;
}

// The tune's grid: 96 rows an order, 3 ticks a row at tempo 80, a tick lasting 2.5 / tempo
// seconds; the production ends at order 14, row 80.
double productionSeconds() {
    const int rows = 14 * 96 + 80;
    return rows * 3 * 2.5 / 80.0;
}

void checkLog() {
    std::string log = readFile("luxdebug.txt");
    EXPECT_NE(log.find("MAIN: demo ended\nMAIN: end mainloop\n"), std::string::npos) << log;
    EXPECT_NE(log.find("WNMN: normal exit\n"), std::string::npos);
    // The warm-up made everything the production draws with.
    EXPECT_NE(log.find("MAIN: playback made 0 programs, 0 textures, 0 depth surfaces, 0 buffers\n"),
              std::string::npos);
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        // A machine without a microphone: the head keeps its mouth shut, as it should.
        if (line.rfind("WAVI: warning - no sound input (", 0) == 0 ||
            line == "GLED: warning - max: no sound input, the mouth stays shut")
            continue;
        std::string lower = line;
        for (char& c : lower)
            c = char(tolower(static_cast<unsigned char>(c)));
        for (const char* bad : {"warning", "error", "unknown", "couldn't", "efct: "})
            EXPECT_EQ(lower.find(bad), std::string::npos) << line;
        // Only the loading fonts' first alternatives are looked for in vain (they are
        // embedded as the second).
        if (lower.find("not found") != std::string::npos) {
            EXPECT_TRUE(line == "NCCF: file 'lux32.fn2' not found." ||
                        line == "NCCF: file 'arial_48.fn2' not found.")
                << line;
        }
    }
}

void checkEffectClasses() {
    std::map<std::string, unsigned> frames;
    std::istringstream lines(readFile("render/effects.txt"));
    std::string className, instance;
    for (unsigned count = 0; lines >> className >> instance >> count;)
        frames[className] += count;
    for (const char* name : kClasses)
        EXPECT_GT(frames[name], 0u) << name;
    EXPECT_EQ(frames.size(), std::size(kClasses));
}

void checkAudioAndFrameCount() {
    const double seconds = productionSeconds();
    const size_t samples = size_t(seconds * 44100 + 0.5);
    std::string wav = readFile("render/audio.wav");
    ASSERT_GE(wav.size(), 44u);
    uint32_t dataBytes = 0;
    memcpy(&dataBytes, wav.data() + 40, 4);
    EXPECT_EQ(dataBytes, samples * 4); // 16-bit stereo
    EXPECT_EQ(wav.size(), 44 + samples * 4);
    // One frame for every step of the frame clock before the end.
    size_t frameCount = size_t(seconds * kFps);
    char last[64], after[64];
    snprintf(last, sizeof last, "render/frame%06zu.png", frameCount - 1);
    snprintf(after, sizeof after, "render/frame%06zu.png", frameCount);
    EXPECT_TRUE(fs::exists(last)) << last;
    EXPECT_FALSE(fs::exists(after)) << after;
}

void checkFrames() {
    fs::path golden = fs::path(LUX_SOURCE_DIR) / "tests/golden/demo";
    for (double moment : kMoments) {
        char frame[64], name[64];
        snprintf(frame, sizeof frame, "render/frame%06d.png", int(moment * kFps));
        snprintf(name, sizeof name, "at_%06.2f.png", moment);
        if (updating()) {
            fs::create_directories(golden);
            fs::copy_file(frame, golden / name, fs::copy_options::overwrite_existing);
            continue;
        }
        Image expected = loadImage(golden / name);
        ASSERT_FALSE(expected.rgb.empty()) << "missing " << (golden / name);
        EXPECT_EQ(differences(expected, loadImage(frame)), 0u) << name;
    }
}

// One run, checked four ways: ctest runs each test case as a process of its own, and a
// second run of the whole production would only repeat the first.
TEST(DefaultProduction, playsFromStartToEndAsReviewed) {
    std::string command = std::string(LUX_BINARY_DIR) + "/lux32 -C " + LUX_BINARY_DIR +
                          "/demo --windowed 160x120 --render " + fs::absolute("render").string() +
                          " --fps " + std::to_string(kFps) + " >out.txt 2>err.txt";
    int status = system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << readFile("err.txt");
    {
        SCOPED_TRACE("log");
        checkLog();
    }
    {
        SCOPED_TRACE("effect classes");
        checkEffectClasses();
    }
    {
        SCOPED_TRACE("audio and frame count");
        checkAudioAndFrameCount();
    }
    {
        SCOPED_TRACE("golden frames");
        checkFrames();
    }
}

} // namespace
