// The two-dimensional effects on a headless device: the timings, placements and levels that
// their formulas give, checked by reading pixels back, and what bad input does.
#include "tests/effects/flat2d_fixture.h"

#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace {

using Settings = std::vector<std::pair<const char*, std::string>>;

struct Flat2dTest : Flat2dFixture {
    // Brightest value inside the cell of letter i of a vexwriter text at (x, y), scale g.
    int letterBrightness(BitmapFont* font, const char* text, int i, float x, float y, float g) {
        float offset = 0;
        for (int k = 0; k < i; ++k) {
            char letter[2] = {text[k], 0};
            offset += measureText(font, letter, 1, 0);
        }
        char letter[2] = {text[i], 0};
        float width = measureText(font, letter, 1, 0) * g;
        float height = textHeight(font, "A", g);
        float left = x + g * offset;
        // Two pixels in from the sides: a neighbour's glyph cell may reach over.
        return brightest(int(left) + 2, int(y), int(std::ceil(left + width)) - 2,
                         int(std::ceil(y + height)));
    }
};

TEST_F(Flat2dTest, vexwriterLettersLeaveOneAfterAnotherAndAreGoneOnTime) {
    ASSERT_TRUE(createEffect("v", "vexwriter"));
    setEffectProperty("v", "font", fontFile().c_str());
    for (auto [name, value] : {std::pair{"scale", "3"},
                               {"indelay", "0.1"},
                               {"intime", "0.2"},
                               {"wait", "0.5"},
                               {"outdelay", "0.1"},
                               {"outtime", "0.4"},
                               {"maxzoom", "1"}})
        setEffectProperty("v", name, value);
    setEffectProperty("v", "text", "HHH");
    BitmapFont* font = acquireFontFile(fontFile().c_str());
    ASSERT_NE(font, nullptr);
    auto at = [&](double t, int i) {
        setEffectProperty("v", "text", "HHH"); // restarts the effect's clock
        frame("v", 0);                         // the first frame after it adds nothing
        frame("v", t);
        return letterBrightness(font, "HHH", i, 10, 10, 3);
    };
    int full = at(0.7, 0), full1 = at(0.7, 1), full2 = at(0.7, 2);
    EXPECT_GT(full, 150);
    // Fade-in: letter 1 starts at 0.1 s and is half in at 0.2 s.
    EXPECT_EQ(at(0.05, 1), 0);
    EXPECT_NEAR(at(0.2, 1), full1 * 127 / 255, 2);
    // The first letter leaves at wait + n x indelay = 0.8 s: halfway out 0.2 s later.
    EXPECT_EQ(at(0.79, 0), full);
    EXPECT_NEAR(at(1.0, 0), full * 128 / 255, 2);
    // The last is gone at 0.8 + 2 x 0.1 + 0.4 = 1.4 s.
    EXPECT_NEAR(at(1.35, 2), full2 * 32 / 255, 2);
    EXPECT_GT(at(1.39, 2), 0);
    EXPECT_EQ(at(1.41, 2), 0);
    // Setting the text again restarts the clock.
    frame("v", 5);
    setEffectProperty("v", "text", "HHH");
    frame("v", 5);
    frame("v", 5.7);
    EXPECT_EQ(letterBrightness(font, "HHH", 0, 10, 10, 3), full);
    releaseFont(font);
}

TEST_F(Flat2dTest, vexwriterKeepsTheFirst256Letters) {
    BitmapFont* font = acquireFontFile(fontFile().c_str());
    ASSERT_NE(font, nullptr);
    float space = measureText(font, " ", 1, 0);
    auto shows = [&](int spaces) {
        ASSERT_TRUE(createEffect("v", "vexwriter"));
        setEffectProperty("v", "font", fontFile().c_str());
        setEffectProperty("v", "indelay", "0");
        // The "W" after the spaces lands at pixel 20.
        std::string x = std::to_string(20 - space * float(spaces)) + "x";
        setEffectProperty("v", "x", x.c_str());
        setEffectProperty("v", "text", (std::string(size_t(spaces), ' ') + "WWWW").c_str());
        frame("v", 0);
        frame("v", 1);
    };
    shows(255);
    EXPECT_GT(litPixels(), 0);
    shows(256);
    EXPECT_EQ(litPixels(), 0);
    releaseFont(font);
}

TEST_F(Flat2dTest, multitextRevealsLinesByProgress) {
    ASSERT_TRUE(createEffect("m", "multitext"));
    setEffectProperty("m", "count", "4");
    for (const char* name : {"msg1", "MSG2", "Msg3", "msg4"})
        setEffectProperty("m", name, "HHHH");
    setEffectProperty("m", "font", fontFile().c_str());
    BitmapFont* font = acquireFontFile(fontFile().c_str());
    ASSERT_NE(font, nullptr);
    // Line height h x 72 = 120 x 0.9 / 4 = 27 pixels; scale so that the text fills it.
    std::string scale = std::to_string(72.0 / font->lineHeight * 0.9);
    setEffectProperty("m", "scale", scale.c_str());
    auto line = [&](int i) {
        int top = int(120 * 0.05 + i * 27.0);
        return brightest(0, top + 2, kW, top + 25);
    };
    setEffectProperty("m", "time", "0");
    frame("m", 0);
    EXPECT_EQ(litPixels(), 0);
    setEffectProperty("m", "time", "0.5");
    frame("m", 0);
    int full = line(0);
    EXPECT_GT(full, 150);
    EXPECT_EQ(line(1), full);
    EXPECT_EQ(line(2), 0);
    EXPECT_EQ(line(3), 0);
    setEffectProperty("m", "time", "0.625"); // line 2 at alpha 127
    frame("m", 0);
    EXPECT_NEAR(line(2), full * 127 / 255, 3);
    setEffectProperty("m", "time", "1");
    frame("m", 0);
    EXPECT_EQ(line(3), full);
    // Right alignment ends the text at right - 1.
    setEffectProperty("m", "align", "right");
    frame("m", 0);
    EXPECT_EQ(brightest(kW - 1, 0, kW, kH), 0);
    EXPECT_GT(brightest(kW - 8, 0, kW - 1, kH), 0);
    EXPECT_EQ(brightest(0, 0, kW / 3, kH), 0);
    releaseFont(font);
}

TEST_F(Flat2dTest, imageCornersOfARotatedZoomedOffCentreReference) {
    // Left half red, right half green: u runs from red to green.
    writePicture("halves.png", 8, 8, [](int x, int) { return x < 4 ? 0xFF0000u : 0x00FF00u; });
    ASSERT_TRUE(createEffect("i", "image"));
    setEffectProperty("i", "image", "halves.png");
    for (auto [name, value] : {std::pair{"x", "0.25"},
                               {"y", "0.5"},
                               {"w", "0.5"},
                               {"h", "0.5"},
                               {"refx", "0"},
                               {"refy", "0"},
                               {"angle", "90"},
                               {"zoom", "0.5"}})
        setEffectProperty("i", name, value);
    frame("i", 0);
    // By hand: the reference (texture corner 0,0) lands at (40, 60); u along +y for 80 x 0.5
    // pixels, v along -x for 60 x 0.5 pixels: the covered pixels are x 10..39, y 60..99.
    EXPECT_EQ(pixel(38, 61), 0xFF0000u);
    EXPECT_EQ(pixel(11, 61), 0xFF0000u);
    EXPECT_EQ(pixel(38, 98), 0x00FF00u);
    EXPECT_EQ(pixel(10, 99), 0x00FF00u);
    EXPECT_EQ(pixel(9, 80), 0u);
    EXPECT_EQ(pixel(40, 80), 0u);
    EXPECT_EQ(pixel(25, 59), 0u);
    EXPECT_EQ(pixel(25, 100), 0u);
    // Tint bytes and fade: green tinted away, half faded additive over red.
    setEffectProperty("i", "angle", "0");
    setEffectProperty("i", "zoom", "1");
    setEffectProperty("i", "colg", "0");
    frame("i", 0);
    EXPECT_EQ(pixel(85, 65), 0u); // green half x 0xFF00FF
    EXPECT_EQ(pixel(45, 65), 0xFF0000u);
    setEffectProperty("i", "fade", "0.0009");
    frame("i", 0);
    EXPECT_EQ(litPixels(), 0);
}

TEST_F(Flat2dTest, matrixCellsShowOnlyTheSimulationLevels) {
    writePicture("glyphs.png", 256, 128, [](int, int) { return 0xFFFFFFu; });
    ASSERT_TRUE(createEffect("m", "matrix"));
    setEffectProperty("m", "font", "glyphs.png");
    setEffectProperty("m", "cols", "16");
    setEffectProperty("m", "rows", "12");
    frame("m", 0);
    // 10 x 10 pixel cells, each level x 0x111111 for a level of 0, 2, 8 or 15.
    int lit = 0;
    for (int j = 0; j < 12; ++j)
        for (int i = 0; i < 16; ++i) {
            uint32_t c = pixel(i * 10 + 5, j * 10 + 5);
            EXPECT_TRUE(c == 0 || c == 0x222222u || c == 0x888888u || c == 0xFFFFFFu)
                << std::hex << c << " at " << i << "," << j;
            lit += c == 0x888888u || c == 0xFFFFFFu;
            EXPECT_EQ(pixel(i * 10 + 1, j * 10 + 1), c); // one colour over the cell
        }
    EXPECT_GT(lit, 0); // the warm-up left running stripes
    setEffectProperty("m", "fade", "0");
    frame("m", 0.02);
    EXPECT_EQ(litPixels(), 0);
    // Absurd sizes are cut, not allocated.
    setEffectProperty("m", "fade", "1");
    setEffectProperty("m", "cols", "1000000000");
    setEffectProperty("m", "rows", "-5");
    setEffectProperty("m", "stripes", "-1");
    frame("m", 0.04);
    EXPECT_NE(log().find("EFCT: matrix grid"), std::string::npos);
}

TEST_F(Flat2dTest, letterwriterCentresAndScrollerTravels) {
    ASSERT_TRUE(createEffect("l", "letterwriter"));
    setEffectProperty("l", "font", fontFile().c_str());
    setEffectProperty("l", "c", "O");
    setEffectProperty("l", "x", "0.25");
    setEffectProperty("l", "scale", "4");
    frame("l", 0);
    std::vector<uint32_t> all = pixels();
    int left = kW, right = -1, top = kH, bottom = -1;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            if (all[size_t(y) * kW + x]) {
                left = std::min(left, x), right = std::max(right, x);
                top = std::min(top, y), bottom = std::max(bottom, y);
            }
    EXPECT_NEAR((left + right) / 2.0, 40, 2.5);
    EXPECT_NEAR((top + bottom) / 2.0, 60, 6); // the cell, not the ink, is centred
    setEffectProperty("l", "fade", "0");
    frame("l", 0);
    EXPECT_EQ(litPixels(), 0);

    ASSERT_TRUE(createEffect("s", "scroller"));
    setEffectProperty("s", "msg", "HH");
    setEffectProperty("s", "font", fontFile().c_str());
    setEffectProperty("s", "scale", "2");
    for (const char* time : {"0", "1"}) {
        setEffectProperty("s", "time", time);
        frame("s", 0);
        EXPECT_EQ(litPixels(), 0) << time; // just off the right and the left edge
    }
    setEffectProperty("s", "time", "0.5"); // centred
    frame("s", 0);
    std::vector<uint32_t> half = pixels();
    int first = kW, last = -1;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            if (half[size_t(y) * kW + x]) first = std::min(first, x), last = std::max(last, x);
    EXPECT_NEAR((first + last) / 2.0, 80, 3);
}

TEST_F(Flat2dTest, imagescrollerColumnsMoveByLength) {
    writePicture("col0.jpg", 16, 16, [](int, int) { return 0xFF0000u; });
    writePicture("col1.jpg", 16, 16, [](int, int) { return 0x0000FFu; });
    ASSERT_TRUE(createEffect("s", "imagescroller"));
    setEffectProperty("s", "path", "col");
    setEffectProperty("s", "nimages", "2");
    setEffectProperty("s", "len", "896");
    setEffectProperty("s", "load", "1");
    frame("s", 0);
    // Columns 256 x 160 / 640 = 64 pixels wide.
    EXPECT_GT(pixel(32, 60) >> 16, 0xF0u);
    EXPECT_GT(pixel(96, 60) & 255, 0xF0u);
    EXPECT_EQ(pixel(140, 60), 0u);
    setEffectProperty("s", "time", "1"); // one column to the left
    frame("s", 0);
    EXPECT_GT(pixel(32, 60) & 255, 0xF0u);
    EXPECT_EQ(pixel(96, 60), 0u);
    EXPECT_EQ(textureCount(), 2);
    setEffectProperty("s", "load", "1"); // reload: released before acquired again
    EXPECT_EQ(textureCount(), 2);
    destroyEffects();
    EXPECT_EQ(textureCount(), 0);
}

TEST_F(Flat2dTest, yodawriterParticlesAreGoneTwoSecondsAfterRelease) {
    ASSERT_TRUE(createEffect("y", "yodawriter"));
    setEffectProperty("y", "font", fontFile().c_str());
    // Each look starts the text again: its clock runs from the first frame after "text".
    auto at = [](double t) {
        setEffectProperty("y", "text", "HELLO");
        frame("y", 100);
        frame("y", 100 + t);
    };
    at(1.2); // every particle has started and none is released (1.5 s after start)
    EXPECT_GT(litPixels(), 100);
    at(4.3); // the last start is 1 s: released at 2.5 s, still fading
    EXPECT_GT(litPixels(), 0);
    at(4.51);
    EXPECT_EQ(litPixels(), 0);
    setEffectProperty("y", "mode", "spray");
    at(0.6);
    EXPECT_GT(litPixels(), 100);
    at(3.26); // starts before 0.5 s, release 0.75 s later, gone 2 s after
    EXPECT_EQ(litPixels(), 0);
}

TEST_F(Flat2dTest, designboxSidesAreWidenedByTheThickness) {
    ASSERT_TRUE(createEffect("b", "designbox"));
    for (auto [name, value] :
         {std::pair{"w", "0.5"}, {"h", "0.5"}, {"thick", "4y"}, {"color", "0x00ff00"}})
        setEffectProperty("b", name, value);
    frame("b", 0);
    // Edges at x 40 and 120, y 30 and 90; bands 4 pixels across, centred on them.
    EXPECT_EQ(pixel(38, 28), 0x00FF00u);
    EXPECT_EQ(pixel(121, 91), 0x00FF00u);
    EXPECT_EQ(pixel(37, 28), 0u);
    EXPECT_EQ(pixel(80, 27), 0u);
    EXPECT_EQ(pixel(80, 32), 0u);
    EXPECT_EQ(pixel(80, 60), 0u);
    EXPECT_EQ(pixel(41, 60), 0x00FF00u);
    EXPECT_EQ(pixel(42, 60), 0u);
}

TEST_F(Flat2dTest, designlinesGrowWithLength) {
    ASSERT_TRUE(createEffect("d", "designlines"));
    setEffectProperty("d", "reset", "7");
    setEffectProperty("d", "thick", "2y");
    int previous = 0;
    for (const char* length : {"0", "0.25", "0.5", "1"}) {
        setEffectProperty("d", "length", length);
        frame("d", 0);
        int lit = litPixels();
        if (previous == 0)
            EXPECT_EQ(lit, 0);
        else
            EXPECT_GT(lit, previous) << length;
        previous = std::max(lit, 1);
    }
    setEffectProperty("d", "reset", "7"); // starts again at length 0
    frame("d", 0);
    EXPECT_EQ(litPixels(), 0);
}

TEST_F(Flat2dTest, fontsAreCountedAndMissingOnesDrawNothing) {
    ASSERT_TRUE(createEffect("l", "letterwriter"));
    setEffectProperty("l", "c", "A");
    for (int i = 0; i < 50; ++i)
        setEffectProperty("l", "font", i % 2 ? fontFile().c_str() : "Arial|20");
    EXPECT_EQ(fontCacheCount(), 1);
    setEffectProperty("l", "font", "missing.fn2");
    EXPECT_EQ(fontCacheCount(), 0);
    frame("l", 0);
    EXPECT_EQ(litPixels(), 0);
    // Numbers that make no sense draw nothing and allocate nothing.
    ASSERT_TRUE(createEffect("m", "multitext"));
    setEffectProperty("m", "count", "1000000000");
    setEffectProperty("m", "msg999999999", "x");
    setEffectProperty("m", "count", "-4");
    setEffectProperty("m", "time", "1");
    frame("m", 0);
    EXPECT_EQ(litPixels(), 0);
    destroyEffects();
    EXPECT_EQ(fontCacheCount(), 0);
}

TEST_F(Flat2dTest, infiniteScalesDrawNothingAndStopNothing) {
    writePicture("white.png", 8, 8, [](int, int) { return 0xFFFFFFu; });
    const std::pair<const char*, Settings> cases[] = {
        {"vexwriter", {{"font", fontFile()}, {"text", "abc"}, {"scale", "1e999"}}},
        {"letterwriter", {{"font", fontFile()}, {"c", "a"}, {"scale", "-1e999"}}},
        {"scroller", {{"font", fontFile()}, {"msg", "abc"}, {"scale", "1e999"}, {"time", "1"}}},
        {"multitext",
         {{"font", fontFile()}, {"count", "1"}, {"msg1", "a"}, {"time", "1"}, {"scale", "1e999"}}},
        {"image", {{"image", "white.png"}, {"zoom", "1e999"}, {"angle", "45"}}},
        {"designbox", {{"thick", "1e999"}}},
        {"yodawriter", {{"font", fontFile()}, {"x", "1e999"}, {"text", "abc"}}},
    };
    for (const auto& [className, settings] : cases) {
        ASSERT_TRUE(createEffect("e", className));
        for (const auto& [name, value] : settings)
            setEffectProperty("e", name, value.c_str());
        frame("e", 0);
        frame("e", 1);
        EXPECT_EQ(litPixels(), 0) << className;
    }
    // An endless speed runs the simulation on, one bounded step per frame.
    ASSERT_TRUE(createEffect("m", "matrix"));
    setEffectProperty("m", "font", "white.png");
    setEffectProperty("m", "speed", "1e999");
    for (double t : {0.0, 0.5, 0.9})
        frame("m", t);
    EXPECT_GT(litPixels(), 0);
}

} // namespace
