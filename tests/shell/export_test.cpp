// The offline exports of the real player program: a video file that ffprobe reads back, the
// messages when ffmpeg or the file is not there, a video cut short, the benchmark's figures,
// and the warm-up that leaves playback nothing to compile or create.
#include "tests/shell/player_process.h"
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
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

// Runs the command (stdout to out.txt, stderr to err.txt); returns its exit status.
int run(const std::string& command) {
    int status = system((command + " >out.txt 2>err.txt").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int runPlayer(const std::string& arguments, const std::string& environment = "") {
    return run(environment + " " + LUX_BINARY_DIR + "/lux32 " + arguments);
}

bool haveProgram(const char* name) {
    return system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

void copyInto(const fs::path& from, const fs::path& to) {
    fs::create_directories(to.parent_path());
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

void writeProduction(const fs::path& folder, const std::string& script) {
    fs::create_directories(folder);
    std::ofstream(folder / "script") << script;
    copyInto(fs::path(LUX_TEST_DATA) / "dali.xm", folder / "dali.xm");
}

const char* kColourProduction = R"(set tune to "dali.xm"
effect bg is clear
demo runs for 3 seconds
  first set bg.color to 0xd03070
  at second 0 start bg
enddemo
)";

// ffprobe's "key=value|key=value" lines, one map per stream.
std::vector<std::map<std::string, std::string>> probeStreams(const fs::path& file) {
    std::vector<std::map<std::string, std::string>> streams;
    if (run("ffprobe -v error -count_frames -show_entries "
            "stream=codec_type,width,height,nb_read_frames,duration -of compact=p=0 " +
            file.string()) != 0)
        return streams;
    std::istringstream lines(readFile("out.txt"));
    for (std::string line; std::getline(lines, line);) {
        std::map<std::string, std::string> fields;
        std::istringstream parts(line);
        for (std::string part; std::getline(parts, part, '|');)
            if (size_t eq = part.find('='); eq != std::string::npos)
                fields[part.substr(0, eq)] = part.substr(eq + 1);
        streams.push_back(fields);
    }
    return streams;
}

TEST(Export, videoHoldsTheFramesAndTheSoundOfTheRenderedStretch) {
    if (!haveProgram("ffmpeg") || !haveProgram("ffprobe")) GTEST_SKIP() << "no ffmpeg";
    writeProduction("colour", kColourProduction);
    fs::remove("clip.mp4");
    // An odd size goes up to the next even one; 1.2 s at 25 fps are 30 frames.
    ASSERT_EQ(runPlayer("-C colour --video clip.mp4 --size 161x121 --fps 25 --to 1.2"), 0)
        << readFile("err.txt");
    EXPECT_NE(readFile("err.txt").find("162x122"), std::string::npos);
    ASSERT_TRUE(fs::exists("clip.mp4"));
    EXPECT_FALSE(fs::exists("clip.part.mp4"));
    EXPECT_FALSE(fs::exists("clip.part.wav"));
    auto streams = probeStreams("clip.mp4");
    ASSERT_EQ(streams.size(), 2u) << readFile("err.txt");
    auto& video = streams[0]["codec_type"] == "video" ? streams[0] : streams[1];
    auto& audio = streams[0]["codec_type"] == "video" ? streams[1] : streams[0];
    EXPECT_EQ(video["width"], "162");
    EXPECT_EQ(video["height"], "122");
    EXPECT_EQ(video["nb_read_frames"], "30");
    EXPECT_NEAR(std::stod(video["duration"]), 1.2, 1e-3);
    EXPECT_EQ(audio["codec_type"], "audio");
    EXPECT_NEAR(std::stod(audio["duration"]), 1.2, 0.03); // encoder frames of ~23 ms

    // The picture is the production's colour (within what 4:2:0 video keeps of it): a
    // saturated one, which comes back as drawn only when the stream's colour matrix is the one
    // its pixels were made with.
    ASSERT_EQ(run("ffmpeg -v error -i clip.mp4 -frames:v 1 -f rawvideo -pix_fmt rgb24 -y "
                  "first.rgb"),
              0);
    std::string rgb = readFile("first.rgb");
    ASSERT_EQ(rgb.size(), 162u * 122u * 3u);
    size_t centre = (61 * 162 + 81) * 3;
    EXPECT_NEAR(uint8_t(rgb[centre]), 0xd0, 4);
    EXPECT_NEAR(uint8_t(rgb[centre + 1]), 0x30, 4);
    EXPECT_NEAR(uint8_t(rgb[centre + 2]), 0x70, 4);
}

TEST(Export, videoRefusesAMissingFfmpegAndAnUnwritableFile) {
    writeProduction("colour", kColourProduction);
    fs::remove("never.mp4");
    EXPECT_EQ(runPlayer("-C colour --video never.mp4", "PATH=/nonexistent"), 2);
    EXPECT_NE(readFile("err.txt").find("--video needs ffmpeg"), std::string::npos)
        << readFile("err.txt");
    EXPECT_FALSE(fs::exists("never.mp4"));
    if (!haveProgram("ffmpeg")) return;
    EXPECT_EQ(runPlayer("-C colour --video /no/such/folder/x.mp4"), 2);
    EXPECT_NE(readFile("err.txt").find("cannot write the video file '/no/such/folder/x.mp4'"),
              std::string::npos)
        << readFile("err.txt");
    EXPECT_EQ(runPlayer("-C colour --video noextension"), 2);
    EXPECT_EQ(runPlayer("-C colour --size 320x240"), 2); // --size without an offline run
    EXPECT_NE(readFile("err.txt").find("--size needs"), std::string::npos);
}

// A run that ends on the fatal path leaves neither the parts nor a file that looks whole.
TEST(Export, aVideoCutShortLeavesNoFilesAndSaysSo) {
    if (!haveProgram("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
    writeProduction("dies", R"(set tune to "dali.xm"
effect bg is clear
demo runs for 3 seconds
  first set bg.color to 0x204060
  at second 0 start bg
  at second 1 die "stopped on purpose"
enddemo
)");
    fs::remove("cut.mp4");
    EXPECT_EQ(runPlayer("-C dies --video cut.mp4 --size 160x120 --fps 25"), 1);
    std::string err = readFile("err.txt");
    EXPECT_NE(err.find("stopped on purpose"), std::string::npos) << err;
    EXPECT_NE(err.find("the video '" + fs::absolute("cut.mp4").string() + "' was not finished"),
              std::string::npos)
        << err;
    EXPECT_FALSE(fs::exists("cut.mp4"));
    EXPECT_FALSE(fs::exists("cut.part.mp4"));
    EXPECT_FALSE(fs::exists("cut.part.wav"));

    // An encoder that stops taking frames part-way (here one that reads a few and fails) ends
    // the export the same way, without waiting forever on the frames still to send.
    writeProduction("colour", kColourProduction);
    fs::create_directories("stopping");
    std::ofstream("stopping/ffmpeg") << "#!/bin/sh\nhead -c 100000 >/dev/null\nexit 1\n";
    fs::permissions("stopping/ffmpeg", fs::perms::owner_all);
    EXPECT_EQ(runPlayer("-C colour --video stops.mp4 --size 160x120 --fps 25",
                        "PATH=" + fs::absolute("stopping").string() + ":/usr/bin:/bin"),
              1);
    err = readFile("err.txt");
    EXPECT_NE(err.find("ffmpeg stopped taking the frames"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists("stops.part.wav"));
}

double figureAfter(const std::string& text, const std::string& label) {
    size_t at = text.find(label);
    return at == std::string::npos ? -1.0 : std::stod(text.substr(at + label.size()));
}

TEST(Export, benchmarkPrintsItsFiguresAndWritesNothing) {
    writeProduction("bench", R"(set tune to "dali.xm"
effect bg is clear
effect veil is fade
demo runs for 2 seconds
  first set bg.color to 0x204060
  and set veil.fade to 0.5
  at second 0 start bg
  and start veil z 1
enddemo
)");
    fs::create_directories("quiet");
    ASSERT_EQ(runPlayer("-C ../bench --benchmark --size 200x100 --fps 30", "cd quiet &&"), 0)
        << readFile("quiet/err.txt");
    std::string out = readFile("quiet/out.txt");
    // 2 s at 30 fps: frames 0 ... 59.
    EXPECT_NE(out.find("benchmark: 200x100, 60 frames at 30 fps"), std::string::npos) << out;
    EXPECT_GT(figureAfter(out, "\nfps: "), 0.0) << out;
    EXPECT_GT(figureAfter(out, "CPU time per frame: "), 0.0) << out;
    // The fade is one full-screen fan a frame; the clear draws nothing.
    EXPECT_EQ(figureAfter(out, "draw calls per frame: "), 1.0) << out;
    EXPECT_GT(figureAfter(out, "state changes per frame: "), 0.0) << out;
    EXPECT_NE(out.find("loading: "), std::string::npos);
    EXPECT_NE(out.find(" shaders compiled"), std::string::npos);
    for (const auto& entry : fs::directory_iterator("bench")) {
        std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "script" || name == "dali.xm" || name == "luxdebug.txt") << name;
    }
    std::string log = readFile("quiet/luxdebug.txt");
    EXPECT_NE(log.find("MAIN: load report: "), std::string::npos) << log;
}

// A production of many effect classes, whose later events ask for another picture, raise
// fades from nothing and start effects late: after the loading screen, playback compiles
// no program and creates no texture, depth surface or buffer.
TEST(Export, afterTheWarmUpPlaybackMakesNoProgramsOrDeviceObjects) {
    fs::path data(LUX_TEST_DATA);
    copyInto(fs::path(LUX_SOURCE_DIR) / "tests/shell/warmup/script", "many/script");
    copyInto(data / "dali.xm", "many/dali.xm");
    copyInto(data / "scratch-lake.jpg", "many/lake.jpg");
    copyInto(data / "scratch-moon-gray-rst.jpg", "many/moon.jpg");
    ASSERT_EQ(runPlayer("-C many --benchmark --size 160x120 --fps 10"), 0) << readFile("err.txt");
    std::string log = readFile("luxdebug.txt");
    EXPECT_NE(log.find("MAIN: demo ended\n"), std::string::npos) << log;
    EXPECT_NE(log.find("MAIN: playback made 0 programs, 0 textures, 0 depth surfaces, 0 buffers\n"),
              std::string::npos)
        << log;
    // Loading did make them: the report counts them.
    size_t report = log.find("MAIN: load report: ");
    ASSERT_NE(report, std::string::npos);
    std::string line = log.substr(report, log.find('\n', report) - report);
    EXPECT_GT(figureAfter(line, "s; "), 4.0) << line;                         // textures
    EXPECT_GT(figureAfter(line, "fonts, 0 scene files read, "), 4.0) << line; // shaders compiled
    for (const char* stage : {"start-up ", "script ", "music ", "build ", "settings ", "warm-up "})
        EXPECT_NE(line.find(stage), std::string::npos) << stage << line;
}

} // namespace
