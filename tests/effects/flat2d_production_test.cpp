// The production in tests/effects/production uses every two-dimensional effect with the
// embedded and run-time fonts and real pictures; the player renders it offline to its end.
#include <gtest/gtest.h>

#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <utility>

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void copyInto(const fs::path& from, const fs::path& to) {
    fs::create_directories(to.parent_path());
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

// Mean brightness of a rendered frame and the share of its pixels that are not background.
struct FrameLook {
    double mean = 0;
    bool read = false;
};

FrameLook look(const fs::path& png) {
    FrameLook result;
    int width = 0, height = 0, channels = 0;
    unsigned char* pixels = stbi_load(png.c_str(), &width, &height, &channels, 3);
    if (!pixels) return result;
    double sum = 0;
    for (int i = 0; i < width * height * 3; ++i)
        sum += pixels[i];
    stbi_image_free(pixels);
    result.mean = sum / (width * height * 3.0);
    result.read = true;
    return result;
}

TEST(Flat2dProduction, playsToItsEndWithACleanLog) {
    fs::path source = fs::path(LUX_SOURCE_DIR) / "tests/effects/production";
    fs::path data(LUX_TEST_DATA);
    copyInto(source / "script", "prod/script");
    copyInto(source / "glyphs.png", "prod/glyphs.png");
    copyInto(data / "dali.xm", "prod/dali.xm");
    copyInto(data / "scratch-lake.jpg", "prod/lake.jpg");
    for (int i = 0; i < 3; ++i)
        copyInto(data / "scratch-lake.jpg", "prod/pics/lake" + std::to_string(i) + ".jpg");
    fs::remove_all("render");
    std::string command = std::string(LUX_BINARY_DIR) + "/lux32 -C prod --windowed 320x240 " +
                          "--render " + fs::absolute("render").string() +
                          " --fps 10 >out.txt 2>err.txt";
    int status = system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << readFile("err.txt");
    std::string log = readFile("prod/luxdebug.txt");
    if (log.empty()) log = readFile("luxdebug.txt");
    EXPECT_NE(log.find("MAIN: demo ended\n"), std::string::npos) << log;
    EXPECT_NE(log.find("WNMN: normal exit\n"), std::string::npos) << log;
    for (const char* bad : {"warning", "WARNING", "error", "unknown", "couldn't", "EFCT: "})
        EXPECT_EQ(log.find(bad), std::string::npos) << bad << " in\n" << log;
    // The only files not found are the first alternatives of the embedded fonts.
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        if (line.find("not found") != std::string::npos) {
            EXPECT_TRUE(line == "NCCF: file 'lux32.fn2' not found." ||
                        line == "NCCF: file 'arial_48.fn2' not found.")
                << line;
        }
    // 12 seconds at 10 frames per second: frames 0 to 119; the title shows, the pictures
    // brighten the middle, the veil darkens the end.
    EXPECT_TRUE(fs::exists("render/frame000119.png"));
    EXPECT_FALSE(fs::exists("render/frame000120.png"));
    FrameLook title = look("render/frame000010.png"), pictures = look("render/frame000080.png");
    FrameLook veiled = look("render/frame000119.png");
    ASSERT_TRUE(title.read && pictures.read && veiled.read);
    EXPECT_GT(title.mean, 16.5); // above the 0x101020 background
    EXPECT_GT(pictures.mean, 60);
    EXPECT_LT(veiled.mean, pictures.mean / 2);
}

// Productions that misuse an effect stop on the fatal path with the effect's message.
TEST(Flat2dProduction, misusedEffectsStopWithTheirMessages) {
    const std::pair<const char*, const char*> cases[] = {
        {"effect t is vexwriter\ndemo\n first set t.text to \"no font yet\"\n"
         " at second 0 start t\nenddemo\n",
         "VXWriter1 settext used without font!"},
        {"effect m is multitext\ndemo\n first set m.align to \"middle\"\n"
         " at second 0 start m\nenddemo\n",
         "'middle'? what alignment do you mean?"},
        {"effect m is matrix\ndemo\n first set m.font to \"missing.png\"\n"
         " at second 0 start m\nenddemo\n",
         "Matrix effect used without font!"},
    };
    int n = 0;
    for (const auto& [body, message] : cases) {
        fs::path folder = "fatal" + std::to_string(n++);
        fs::create_directories(folder);
        std::ofstream(folder / "script") << "set tune to \"dali.xm\"\n" << body;
        copyInto(fs::path(LUX_TEST_DATA) / "dali.xm", folder / "dali.xm");
        std::string command = std::string(LUX_BINARY_DIR) + "/lux32 -C " + folder.string() +
                              " --windowed 64x48 --render " + fs::absolute("render").string() +
                              " --fps 10 --to 1 >out.txt 2>err.txt";
        int status = system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1) << message;
        EXPECT_NE(readFile("err.txt").find(message), std::string::npos) << message << "\n"
                                                                        << readFile("err.txt");
    }
}

} // namespace
