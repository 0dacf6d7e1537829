// The screen and render-target effects on a headless device: the zoom passes against a model
// of their formula, the half-life blend, the fader's limits, the noise threshold, the plasma
// heights, and values that must be refused or clamped.
#include "tests/effects/builtin_classes.h"
#include "tests/effects/screen_fixture.h"
#include "tests/gfx/gfx_fixture.h"

#include <gtest/gtest.h>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace {

constexpr int32_t kW = 160, kH = 120;

class ScreenEffectsTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(startScreenDevice(kW, kH));
        ASSERT_NE(createRenderTexture(kW, kH, "src", true), nullptr);
    }
    static void TearDownTestSuite() { stopScreenDevice(); }
    void SetUp() override {
        logSetFile("log.txt");
        fillRect("src", 0, 0, kW, kH, 0);
        fillRect("primary", 0, 0, kW, kH, 0);
    }
    void TearDown() override {
        destroyEffects();
        present();
    }
    static void show(const char* instance, uint32_t now) {
        selectRenderTarget("primary");
        setViewport(0, 0, kW, kH);
        renderEffect(instance, now, 0);
    }
};

// One row through the passes: each adds the row sampled (linearly, texel centres at i + 0.5)
// at r + (x - r) / (zoom + 1) to itself, both at brightness 128 / 255, rounded to bytes.
std::vector<double> zoomModel(std::vector<double> row, const std::vector<double>& zooms) {
    auto sample = [&](double s) {
        double t = s - 0.5, i = floor(t), f = t - i;
        auto at = [&](double k) { return row[size_t(std::clamp(k, 0.0, double(row.size() - 1)))]; };
        return at(i) + (at(i + 1) - at(i)) * f;
    };
    for (double zoom : zooms) {
        std::vector<double> out(row.size());
        for (size_t x = 0; x < row.size(); ++x)
            out[x] = std::min(255.0, std::round(128.0 / 255.0 *
                                                (sample((double(x) + 0.5) / (zoom + 1)) + row[x])));
        row = out;
    }
    return row;
}

TEST_F(ScreenEffectsTest, crashzoomPassesShrinkByThreeQuartersTowardsTheReferencePoint) {
    fillRect("src", kW / 2, 0, kW / 2, kH, 0xFFFFFF); // black left half, white right half
    ASSERT_TRUE(createEffect("z", "crashzoom"));
    setEffectProperty("z", "source", "src");
    setEffectProperty("z", "refx", "0"); // zoom away from the left edge
    show("z", 0);
    std::vector<double> row(kW, 0.0);
    std::fill(row.begin() + kW / 2, row.end(), 255.0);
    std::vector<double> zooms;
    for (double z = 0.1; zooms.size() < 8; z *= 0.75)
        zooms.push_back(z); // 0.1, 0.075, 0.05625 ...
    std::vector<double> expected = zoomModel(row, zooms);
    std::vector<uint32_t> screen = targetPixels("primary");
    int off = 0;
    for (int32_t x = 0; x < kW; ++x)
        if (std::abs(channel(screen[60 * kW + x], 8) - int(expected[size_t(x)])) > 4) ++off;
    EXPECT_LE(off, 2);
    // The picture is uniform in y: every row the same.
    EXPECT_EQ(screen[10 * kW + 100], screen[110 * kW + 100]);
}

TEST_F(ScreenEffectsTest, crashzoomWithMaxzoomZeroIsOnePlainCopy) {
    fillRect("src", 0, 0, 80, 60, 0xC02040);
    fillRect("src", 80, 60, 80, 60, 0x10E080);
    fillRect("src", 20, 70, 30, 10, 0xFFFFFF);
    ASSERT_TRUE(createEffect("z", "crashzoom"));
    setEffectProperty("z", "source", "src");
    setEffectProperty("z", "maxzoom", "0");
    setEffectProperty("z", "steps", "8");
    show("z", 0);
    std::vector<uint32_t> source = targetPixels("src"), screen = targetPixels("primary");
    int worst = 0;
    for (size_t i = 0; i < screen.size(); ++i)
        for (int shift = 0; shift <= 16; shift += 8)
            worst =
                std::max(worst, std::abs(channel(screen[i], shift) - channel(source[i], shift)));
    EXPECT_LE(worst, 1);
}

TEST_F(ScreenEffectsTest, effectsWithoutTheirSourceTargetDrawNothing) {
    fillRect("src", 0, 0, kW, kH, 0xFFFFFF);
    const char* classes[] = {"crashzoom", "motionblur", "rain"};
    for (const char* name : classes) {
        ASSERT_TRUE(createEffect(name, name));
        setEffectProperty(name, "source", "nowhere");
        show(name, 0);
        show(name, 65536);
    }
    for (uint32_t pixel : targetPixels("primary"))
        ASSERT_EQ(pixel, 0u);
    setEffectProperty("rain", "source", "src"); // the same instance with a source draws
    show("rain", 2 * 65536);
    std::vector<uint32_t> screen = targetPixels("primary");
    EXPECT_GT(std::count_if(screen.begin(), screen.end(), [](uint32_t p) { return p != 0; }), 50);
}

TEST_F(ScreenEffectsTest, motionblurStepOfOneHalfLifeDrawsAlpha127) {
    fillRect("src", 0, 0, kW, kH, 0xFFFFFF);
    ASSERT_TRUE(createEffect("m", "motionblur"));
    setEffectProperty("m", "source", "src");
    setEffectProperty("m", "half-life", "0.5");
    setEffectProperty("m", "half-life", "0");  // refused: stays 0.5
    setEffectProperty("m", "half-life", "-1"); // refused
    show("m", 1000);                           // local time 0: nothing of the source yet
    EXPECT_EQ(targetPixels("primary")[0], 0u);
    show("m", 1000 + 32768); // half a second later: alpha 255 - 128
    std::vector<uint32_t> screen = targetPixels("primary");
    EXPECT_NEAR(channel(screen[0], 0), 127, 1);
    EXPECT_NEAR(channel(screen[size_t(kW * kH - 1)], 16), 127, 1);
    std::string log = readText("log.txt");
    EXPECT_NE(log.find("EFCT: motionblur: half-life 0 refused"), std::string::npos) << log;
    EXPECT_NE(log.find("EFCT: motionblur: half-life -1 refused"), std::string::npos) << log;
}

TEST_F(ScreenEffectsTest, torusfaderAtFadeOneCoversTheViewportInOneLevel) {
    ASSERT_TRUE(createEffect("t", "torusfader"));
    setEffectProperty("t", "fade", "1");
    fillRect("primary", 0, 0, kW, kH, 0xFFFFFF);
    show("t", 123456);
    for (uint32_t pixel : targetPixels("primary"))
        ASSERT_EQ(pixel, 0u); // col 0: opaque black
    setEffectProperty("t", "col", "255");
    fillRect("primary", 0, 0, kW, kH, 0);
    show("t", 234567);
    for (uint32_t pixel : targetPixels("primary"))
        ASSERT_EQ(pixel, 0xFFFFFFu);     // opaque white
    setEffectProperty("t", "fade", "0"); // the pattern itself: more than one level
    show("t", 345678);
    std::vector<uint32_t> screen = targetPixels("primary");
    EXPECT_GT(std::set<uint32_t>(screen.begin(), screen.end()).size(), 4u);
}

TEST_F(ScreenEffectsTest, lofiBelowOneThousandthDrawsNothing) {
    fillRect("primary", 0, 0, kW, kH, 0x404040);
    ASSERT_TRUE(createEffect("l", "lofi"));
    setEffectProperty("l", "fade", "0.0005");
    show("l", 0);
    for (uint32_t pixel : targetPixels("primary"))
        ASSERT_EQ(pixel, 0x404040u);
    setEffectProperty("l", "fade", "1");
    setEffectProperty("l", "color", "0xff0000");
    show("l", 0);
    std::vector<uint32_t> screen = targetPixels("primary");
    EXPECT_GT(std::set<uint32_t>(screen.begin(), screen.end()).size(), 16u); // noise
    for (uint32_t pixel : screen)
        ASSERT_EQ(pixel & 0xFFFF, 0u); // only red: noise times the colour
}

// Height of the grid point (j, i) at plasma time t, from the four waves.
double waves(int j, int i, double t) {
    return (sin(0.1 * j + t) + sin(0.34 * j - 2.1 * t) + sin(0.27 * i + 1.63 * t) +
            sin(-0.41 * i - 0.57 * t) + 4) /
           20;
}

TEST_F(ScreenEffectsTest, plasmaCentreShowsTheHeightOfTheMiddleGridPoint) {
    std::vector<uint8_t> white(8 * 8 * 3, 255);
    ASSERT_NE(stbi_write_png("white.png", 8, 8, 3, white.data(), 8 * 3), 0);
    ASSERT_TRUE(createEffect("p", "plasma1"));
    setEffectProperty("p", "image", "white.png");
    // Grid point (20, 15) lies on the view axis, at the centre of the screen at any height.
    const double times[] = {0, 1.0, 2.5};
    for (double t : times) {
        show("p", uint32_t(t * 165536));
        std::vector<uint32_t> screen = targetPixels("primary");
        int sum = 0;
        for (int y = kH / 2 - 1; y <= kH / 2; ++y)
            for (int x = kW / 2 - 1; x <= kW / 2; ++x)
                sum += channel(screen[size_t(y * kW + x)], 8);
        EXPECT_NEAR(sum / 4.0, int(waves(20, 15, t) * 512), 3) << "T = " << t;
    }
}

TEST_F(ScreenEffectsTest, fadeblocksStripesAreFlatAndStartAtAlpha191) {
    ASSERT_TRUE(createEffect("f", "fadeblocks"));
    setEffectProperty("f", "blocks", "8");
    show("f", 0); // sin 0 = 0: alpha 191 on every edge, 0x30 added at 191 / 255
    std::vector<uint32_t> screen = targetPixels("primary");
    for (uint32_t pixel : screen)
        ASSERT_NEAR(channel(pixel, 8), 36, 1);
    fillRect("primary", 0, 0, kW, kH, 0);
    show("f", 5 * 65536);
    screen = targetPixels("primary");
    for (int32_t stripe = 0; stripe < 8; ++stripe) // each stripe one colour across
        EXPECT_EQ(screen[size_t(60 * kW + stripe * 20 + 1)],
                  screen[size_t(60 * kW + stripe * 20 + 18)]);
}

TEST_F(ScreenEffectsTest, gridClearsAndDrawsGreenSegments) {
    fillRect("primary", 0, 0, kW, kH, 0xFF00FF);
    ASSERT_TRUE(createEffect("g", "grid"));
    show("g", 0);
    show("g", 65536 / 4);
    std::vector<uint32_t> screen = targetPixels("primary");
    int lit = 0;
    for (uint32_t pixel : screen) {
        ASSERT_NE(pixel, 0xFF00FFu);
        if (pixel) {
            ++lit;
            EXPECT_GT(channel(pixel, 8), channel(pixel, 16));
        }
    }
    EXPECT_GT(lit, 20);
}

TEST_F(ScreenEffectsTest, badCountsRectanglesAndNumbersAreClampedWithOneLine) {
    fillRect("src", 0, 0, kW, kH, 0x808080);
    ASSERT_TRUE(createEffect("z", "crashzoom"));
    setEffectProperty("z", "source", "src");
    const char* steps[] = {"0", "-5", "1000000"};
    for (const char* value : steps) {
        setEffectProperty("z", "steps", value);
        show("z", 0);
    }
    setEffectProperty("z", "maxzoom", "1e999");
    setEffectProperty("z", "sx1", "100");
    setEffectProperty("z", "sy1", "-50");
    setEffectProperty("z", "sx2", "5000");
    setEffectProperty("z", "sy2", "60");
    show("z", 0);
    show("z", 65536);
    // The clipped rectangle was drawn: the right part of the screen shows the grey copy.
    EXPECT_NE(targetPixels("primary")[size_t(30 * kW + 150)], 0u);
    ASSERT_TRUE(createEffect("f", "fadeblocks"));
    setEffectProperty("f", "blocks", "0");
    show("f", 0);
    setEffectProperty("f", "blocks", "10000000");
    show("f", 0);
    ASSERT_TRUE(createEffect("g", "grid"));
    setEffectProperty("g", "speed", "2000000000");
    setEffectProperty("g", "fov", "1e999");
    show("g", 0);
    show("g", 600 * 65536);
    std::string log = readText("log.txt");
    const char* lines[] = {"EFCT: crashzoom: steps 0 out of range 1...64; using 1",
                           "EFCT: crashzoom: steps -5 out of range 1...64; using 1",
                           "EFCT: crashzoom: steps 1000000 out of range 1...64; using 64",
                           "EFCT: crashzoom: maxzoom must be a finite number",
                           "EFCT: crashzoom: source rectangle 100,-50-5000,60 clipped",
                           "EFCT: fadeblocks: blocks 0 out of range 1...1024; using 1",
                           "EFCT: fadeblocks: blocks 10000000 out of range 1...1024; using 1024",
                           "EFCT: grid: fov must be a finite number"};
    for (const char* line : lines)
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

} // namespace
