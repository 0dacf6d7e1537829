// Every two-dimensional effect at two moments, compared with its reviewed picture under
// tests/golden/effects2d/ (the two frames one above the other). With LUX_UPDATE_GOLDEN=1 it
// writes the pictures instead (scripts/update-golden.sh).
#include "tests/effects/flat2d_fixture.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kTolerance = 4;     // per colour channel
constexpr size_t kAllowedOff = 8; // channel values past the tolerance (rasteriser edges)

using Settings = std::vector<std::pair<std::string, std::string>>;

struct Moment {
    double seconds;
    Settings settings; // applied before this frame
};

struct Case {
    const char* className;
    Settings setup;
    std::vector<Moment> moments;
};

bool updating() {
    const char* flag = getenv("LUX_UPDATE_GOLDEN");
    return flag && strcmp(flag, "1") == 0;
}

std::string goldenPath(const char* name) {
    return std::string(LUX_SOURCE_DIR) + "/tests/golden/effects2d/" + name + ".png";
}

struct Flat2dGoldenTest : Flat2dFixture, testing::WithParamInterface<Case> {
    void SetUp() override {
        Flat2dFixture::SetUp();
        writePicture("photo.png", 64, 48, [](int x, int y) {
            return uint32_t(x * 4) << 16 | uint32_t(y * 5) << 8 | uint32_t(255 - x * 2);
        });
        writePicture("glyphs.png", 256, 128, [](int x, int y) {
            return ((x / 2 + y / 2) % 3 == 0 || x % 16 < 2) ? 0 : 0xFFFFFFu; // striped cells
        });
        for (int i = 0; i < 3; ++i)
            writePicture(("tile" + std::to_string(i) + ".jpg").c_str(), 32, 32, [i](int x, int y) {
                return uint32_t((x * 8) ^ (i * 80)) << 16 | uint32_t(y * 8) << 8 |
                       uint32_t(i * 120);
            });
    }
    void compare(const char* name, const std::vector<uint8_t>& rgb, int height) {
        std::string path = goldenPath(name);
        if (updating()) {
            ASSERT_NE(stbi_write_png(path.c_str(), kW, height, 3, rgb.data(), kW * 3), 0);
            return;
        }
        FileStream file;
        ASSERT_EQ(file.open(path.c_str(), kFileRead), 1) << "missing " << path;
        Picture expected;
        ASSERT_TRUE(decodePicture(&file, kTextureRgb, &expected));
        ASSERT_EQ(expected.width, kW);
        ASSERT_EQ(expected.height, height);
        size_t off = 0;
        int worst = 0;
        for (size_t i = 0; i < size_t(kW) * height; ++i)
            for (int c = 0; c < 3; ++c) {
                int difference = abs(int(rgb[i * 3 + c]) - int(expected.pixels[i * 3 + 2 - c]));
                worst = std::max(worst, difference);
                off += difference > kTolerance;
            }
        freePicture(&expected);
        EXPECT_LE(off, kAllowedOff) << off << " channel values differ, by up to " << worst;
    }
};

TEST_P(Flat2dGoldenTest, matchesItsPicture) {
    const Case& c = GetParam();
    ASSERT_TRUE(createEffect("e", c.className));
    for (const auto& [name, value] : c.setup)
        setEffectProperty("e", name.c_str(), value.c_str());
    std::vector<uint8_t> rgb;
    for (const Moment& moment : c.moments) {
        for (const auto& [name, value] : moment.settings)
            setEffectProperty("e", name.c_str(), value.c_str());
        frame("e", moment.seconds);
        for (uint32_t argb : pixels())
            rgb.insert(rgb.end(), {uint8_t(argb >> 16), uint8_t(argb >> 8), uint8_t(argb)});
    }
    compare(c.className, rgb, kH * int(c.moments.size()));
}

std::string font() {
    return "lux32.fn2"; // copied beside the test by the fixture
}

const Case kCases[] = {
    {"vexwriter",
     {{"font", font()}, {"scale", "2"}, {"y", "0.4"}, {"text", "Vex"}, {"wait", "0.2"}},
     {{0, {}}, {0.35, {}}, {0.85, {}}}},
    {"multitext",
     {{"font", font()},
      {"count", "3"},
      {"msg1", "one"},
      {"msg2", "two"},
      {"msg3", "three"},
      {"scale", "2.5"}},
     {{0, {{"time", "0.5"}}}, {0, {{"time", "1"}, {"align", "left"}}}}},
    {"letterwriter",
     {{"font", font()}, {"c", "Q"}, {"scale", "3"}},
     {{0, {}}, {0, {{"x", "0.2"}, {"y", "0.3"}, {"fade", "0.5"}}}}},
    {"scroller",
     {{"font", font()}, {"msg", "scrolling along"}, {"scale", "2"}},
     {{0, {{"time", "0.3"}}}, {0, {{"time", "0.6"}, {"y", "0.25"}}}}},
    {"image",
     {{"image", "photo.png"}, {"w", "0.5"}, {"h", "0.5"}},
     {{0, {}}, {0, {{"angle", "30"}, {"zoom", "1.5"}, {"refx", "0"}, {"color", "0xffc080"}}}}},
    {"imagescroller",
     {{"path", "tile"}, {"nimages", "3"}, {"len", "768"}, {"load", "1"}},
     {{0, {{"time", "0"}}}, {0, {{"time", "0.7"}, {"fade", "0.6"}}}}},
    {"matrix", {{"font", "glyphs.png"}, {"cols", "20"}, {"rows", "15"}}, {{0, {}}, {0.5, {}}}},
    {"yodawriter",
     {{"font", font()}, {"text", "Yoda"}, {"y", "0.5"}},
     {{0, {}}, {1.2, {}}, {2.5, {}}}},
    {"designbox",
     {{"w", "0.6"}, {"h", "0.4"}, {"thick", "3y"}, {"color", "0xff8040"}},
     {{0, {}}, {0, {{"x", "0.3"}, {"fade", "0.5"}, {"thick", "1y"}}}}},
    {"designlines",
     {{"reset", "3"}, {"thick", "2y"}, {"color", "0x40ff80"}},
     {{0, {{"length", "0.4"}}}, {0, {{"length", "1"}}}}},
};

INSTANTIATE_TEST_SUITE_P(Classes, Flat2dGoldenTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.className);
                         });

} // namespace
