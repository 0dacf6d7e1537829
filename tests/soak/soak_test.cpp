// Short forms of the soak and fault runs of scripts/soak.sh, on the default production:
// frames drawn around simulated device losses, and the counts at the end of each loop.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Runs lux_soak on the default production at 160 x 120; returns its exit status.
int runSoak(const std::string& arguments, const std::string& output) {
    std::string command = std::string(LUX_BINARY_DIR) + "/tests/soak/lux_soak " + arguments +
                          " -C " + LUX_BINARY_DIR + "/demo --no-dialog --windowed 160x120" + " >" +
                          output + " 2>err.txt";
    int status = system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// From half a second before the star field's motion blur, which draws over the last frame.
TEST(DeviceLoss, everyFrameAfterALossEqualsTheFrameWithout) {
    const std::string render = " --loop --fps 10 --from 17.5 --to 19.45 --render ";
    ASSERT_EQ(runSoak(render + fs::absolute("reference").string(), "reference.txt"), 0)
        << readFile("err.txt");
    ASSERT_EQ(runSoak("--lose-every 1" + render + fs::absolute("lost").string(), "lost.txt"), 0)
        << readFile("err.txt");
    EXPECT_NE(readFile("lost.txt").find("losses 20\n"), std::string::npos) << readFile("lost.txt");
    for (int frame = 0; frame < 20; ++frame) {
        char name[32];
        snprintf(name, sizeof name, "frame%06d.png", frame);
        std::string expected = readFile(fs::path("reference") / name);
        ASSERT_FALSE(expected.empty()) << name;
        EXPECT_TRUE(readFile(fs::path("lost") / name) == expected) << name;
    }
}

// "loop k: rss_kb N name value name value ..." without the memory figure.
std::vector<std::string> loopCounts(const std::string& output) {
    std::vector<std::string> counts;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("loop ", 0) != 0) continue;
        std::istringstream words(line);
        std::string word, rest;
        words >> word >> word >> word >> word; // "loop", "k:", "rss_kb", its value
        while (words >> word)
            rest += word + " ";
        counts.push_back(rest);
    }
    return counts;
}

TEST(Soak, everyLoopEndsWithTheLiveObjectsAndPoolEntriesOfTheFirst) {
    ASSERT_EQ(runSoak("--loops 3 --loop --fps 10 --from 60000 --render " +
                          fs::absolute("frames").string(),
                      "loops.txt"),
              0)
        << readFile("err.txt");
    std::vector<std::string> counts = loopCounts(readFile("loops.txt"));
    ASSERT_EQ(counts.size(), 3u) << readFile("loops.txt");
    EXPECT_NE(counts[0].find("textures "), std::string::npos);
    EXPECT_EQ(counts[1], counts[0]);
    EXPECT_EQ(counts[2], counts[0]);
}

} // namespace
