// The progress window: its size from the text, its bar's range and position, and the real
// window it opens on a display.
#include "platform/dialogs.h"
#include "shell/progresswindow.h"
#include "xvfb_session.h"

#include <SDL.h>
#include <gtest/gtest.h>

namespace {

TEST(ProgressWindow, clientAreaIsTheTextWidthPlus40By38) {
    int32_t width = 0, height = 0;
    progressClientSize(200, &width, &height);
    EXPECT_EQ(width, 240);
    EXPECT_EQ(height, 38);
}

TEST(ProgressWindow, barKeepsSixteenBitBoundsAndClampsItsPosition) {
    ProgressWindow window("stand by", 116, true); // headless: state only
    EXPECT_EQ(window.text(), "stand by ");
    EXPECT_EQ(window.low(), 0);
    EXPECT_EQ(window.high(), 100);
    window.setRange(0, 3);
    window.setPosition(2);
    EXPECT_EQ(window.position(), 2);
    window.setPosition(5);
    EXPECT_EQ(window.position(), 3);
    window.setPosition(-1);
    EXPECT_EQ(window.position(), 0);
    window.setRange(-5, 70000);
    EXPECT_EQ(window.low(), 0);
    EXPECT_EQ(window.high(), 0xffff);
    EXPECT_EQ(window.barWidth(), window.width() - 51);
}

TEST(ProgressWindow, opensARealWindowOfItsClientSizeOnADisplay) {
    std::string missing = xvfb::missingTool();
    if (!missing.empty()) GTEST_SKIP() << missing << " is not installed";
    xvfb::Session x;
    if (x.display().empty()) GTEST_SKIP() << "Xvfb did not start";
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS); // an earlier case started offscreen
    setenv("DISPLAY", x.display().c_str(), 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    ASSERT_TRUE(hasDisplay());
    ProgressWindow window("lux32 initializing, stand by...", 116, true);
    window.setRange(0, 2);
    window.setPosition(1);
    // A font 14 pixels high is a cell of ascent + descent; Courier New (and Liberation Mono,
    // which keeps its metrics) advances 1229 of the cell's 2320 units per character.
    int32_t textWidth = window.width() - 40;
    EXPECT_NEAR(textWidth, 32 * 1229 * 14 / 2320.0, 1.0);
    EXPECT_EQ(window.height(), 38);
    std::string id = x.waitForWindow("lux32 initializing, stand by... ", 10);
    ASSERT_FALSE(id.empty());
    std::string command = "DISPLAY=" + x.display() + " xdotool getwindowgeometry " + id;
    FILE* out = popen(command.c_str(), "r");
    char line[256];
    std::string geometry;
    while (out && fgets(line, sizeof line, out))
        geometry += line;
    if (out) pclose(out);
    char expected[64];
    snprintf(expected, sizeof expected, "Geometry: %dx%d", window.width(), window.height());
    EXPECT_NE(geometry.find(expected), std::string::npos) << geometry;
}

} // namespace
