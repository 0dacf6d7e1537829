// The launch dialog on a real (virtual) X display, driven by synthetic key events: its
// pictures against golden images, and the README's play command from the dialog to the end.
// With LUX_UPDATE_GOLDEN=1 the pictures are written to tests/golden/dialogs instead.
#include "xvfb_session.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

const std::string kDemo = std::string(LUX_BINARY_DIR) + "/demo";
const fs::path kGolden = fs::path(LUX_SOURCE_DIR) / "tests/golden/dialogs";

#define NEED_XVFB(session)                                                                         \
    do {                                                                                           \
        std::string missing = xvfb::missingTool();                                                 \
        if (!missing.empty()) GTEST_SKIP() << missing << " is not installed";                      \
        if ((session).display().empty()) GTEST_SKIP() << "Xvfb did not start";                     \
    } while (0)

// Compares a window's picture with its golden image (or writes the golden image).
void expectLooksLike(const xvfb::Session& x, const std::string& window, const std::string& name) {
    std::string actual = fs::absolute(name).string();
    ASSERT_TRUE(x.capture(window, actual)) << name;
    if (getenv("LUX_UPDATE_GOLDEN")) {
        fs::create_directories(kGolden);
        fs::copy_file(actual, kGolden / name, fs::copy_options::overwrite_existing);
        return;
    }
    long differing = xvfb::differingPixels((kGolden / name).string(), actual);
    ASSERT_GE(differing, 0) << "cannot compare " << name << " with its golden image";
    EXPECT_LT(differing, 400) << name << " differs from " << (kGolden / name);
}

TEST(DialogsOnX, launchDialogAndGammaSelectorLookAsTheirGoldenImages) {
    xvfb::Session x;
    NEED_XVFB(x);
    x.startPlayer("-C " + kDemo);
    std::string launch = x.waitForWindow("lux32 configuration", 30);
    ASSERT_FALSE(launch.empty()) << readFile("player-err.txt") << readFile("luxdebug.txt");
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // a few frames drawn
    expectLooksLike(x, launch, "launch.png");

    x.keys("alt+g");
    std::string gamma = x.waitForWindow("lux32 Gamma Selector", 10);
    ASSERT_FALSE(gamma.empty());
    x.keys("Right Right Right Right Right Right Right Right Right Right"); // 1.00 -> 1.10
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    expectLooksLike(x, gamma, "gamma.png");

    x.keys("Escape"); // Cancel: back to the launch dialog
    ASSERT_FALSE(x.waitForWindow("lux32 configuration", 10).empty());
    x.keys("Escape"); // quit
    EXPECT_EQ(x.waitPlayer(20), 0);
    std::string log = readFile("luxdebug.txt");
    EXPECT_NE(log.find("WNMN: user selected quit\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("CNFG: xres="), std::string::npos);
}

TEST(DialogsOnX, playCommandLaunchesWithEnterPlaysAndEndsWithEscape) {
    xvfb::Session x;
    NEED_XVFB(x);
    x.startPlayer("-C " + kDemo); // what scripts/play.sh runs after building
    ASSERT_FALSE(x.waitForWindow("lux32 configuration", 30).empty())
        << readFile("player-err.txt") << readFile("luxdebug.txt");
    x.keys("Return");
    std::string log;
    for (int i = 0; i < 300 && log.find("MAIN: start mainloop\n") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        log = readFile("luxdebug.txt");
    }
    ASSERT_NE(log.find("MAIN: start mainloop\n"), std::string::npos) << log;
    // The window is titled with the archive's description.
    EXPECT_FALSE(x.waitForWindow("lux32: The big march in space", 10).empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(1000)); // it plays for a while
    x.keys("Escape");
    EXPECT_EQ(x.waitPlayer(30), 0) << readFile("player-err.txt");
    log = readFile("luxdebug.txt");
    EXPECT_NE(log.find("CNFG: xres=1024, yres=768, windowed=0, loop=0, notrilin=0, lowtexq=0\n"),
              std::string::npos)
        << log;
    size_t escape = log.find("MAIN: ESC pressed\n");
    ASSERT_NE(escape, std::string::npos) << log;
    EXPECT_NE(log.find("WNMN: normal exit\n", escape), std::string::npos) << log;
    EXPECT_EQ(log.find("crash exit"), std::string::npos) << log;
}

} // namespace
