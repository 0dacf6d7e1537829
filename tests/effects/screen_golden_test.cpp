// The screen effects in small productions: a picture drawn through the plasma into the
// render target "scene" feeds the effects that read targets, and the others lie over a copy
// of it. Frames at fixed times are compared with the reviewed pictures under
// tests/golden/screenfx; with LUX_UPDATE_GOLDEN=1 they are written instead
// (scripts/update-golden.sh). A feedback production played with a device loss in the middle
// shows the same frames as without once its history has decayed.
#include "script/parser.h"
#include "script/timeline.h"
#include "tests/effects/builtin_classes.h"
#include "tests/effects/screen_fixture.h"

#include <gtest/gtest.h>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <cmath>
#include <cstdlib>
#include <string>

namespace {

constexpr int32_t kW = 160, kH = 120;
constexpr int kTolerance = 3;  // per colour channel
constexpr int kFrameRate = 25; // the productions are ticked frame by frame from 0

// The scene target: the picture through the plasma, under every case.
constexpr const char* kHeader = R"(
rendertarget scene 1 1
viewport all 0 0 1 1 target scene
effect pl is plasma1
effect copy is crashzoom
effect fx is %s
demo runs for 4 seconds
first set pl.image to "picture.png" and set copy.source to "scene" and set copy.maxzoom to 0
%s
at second 0 start pl z -1 vp all
%s
enddemo
)";

struct Case {
    const char* name;
    const char* effectClass;
    const char* settings;
    const char* actions;
};
const Case kCases[] = {
    {"plasma1", "plasma1", "and set fx.image to \"picture.png\"", "at second 0 start fx z 1"},
    {"crashzoom", "crashzoom",
     "and set fx.source to \"scene\" and set fx.zottel to 1.5 and set fx.nordkessel to 0.3",
     "at second 0 start fx z 1"},
    {"motionblur", "motionblur", "and set fx.source to \"scene\" and set fx.half-life to 0.3",
     "at second 0 start fx z 1"},
    {"rain", "rain", "and set fx.source to \"scene\"",
     "at second 0 start copy z 0 and start fx z 1"},
    {"lofi", "lofi", "and set fx.color to 0x80ff80",
     "at second 0 start copy z 0 and start fx z 1 and fade fx.fade from 0 to 0.6 for 2 seconds"},
    {"torusfader", "torusfader", "and set fx.col to 255",
     "at second 0 start copy z 0 and start fx z 1 and fade fx.fade from 0 to 0.8 for 2 seconds"},
    {"fadeblocks", "fadeblocks", "and set fx.blocks to 12",
     "at second 0 start copy z 0 and start fx z 1"},
    {"grid", "grid", "and set fx.speed to 3000", "at second 0 start fx z 1"},
};
const double kCaptures[] = {1.0, 2.0};

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

bool updating() {
    const char* flag = getenv("LUX_UPDATE_GOLDEN");
    return flag && strcmp(flag, "1") == 0;
}

Image screenImage() {
    Image image{kW, kH, {}};
    for (uint32_t p : targetPixels("primary")) {
        image.rgb.push_back(uint8_t(p >> 16));
        image.rgb.push_back(uint8_t(p >> 8));
        image.rgb.push_back(uint8_t(p));
    }
    return image;
}

// Channel values further apart than the tolerance.
size_t differences(const Image& a, const Image& b) {
    if (a.rgb.size() != b.rgb.size()) return std::max(a.rgb.size(), b.rgb.size());
    size_t off = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i)
        if (std::abs(int(a.rgb[i]) - int(b.rgb[i])) > kTolerance) ++off;
    return off;
}

void checkOrUpdate(const std::string& name, const Image& actual) {
    std::string path = std::string(LUX_SOURCE_DIR) + "/tests/golden/screenfx/" + name + ".png";
    if (updating()) {
        ASSERT_NE(stbi_write_png(path.c_str(), actual.width, actual.height, 3, actual.rgb.data(),
                                 actual.width * 3),
                  0)
            << path;
        return;
    }
    Image expected;
    int channels = 0;
    uint8_t* data = stbi_load(path.c_str(), &expected.width, &expected.height, &channels, 3);
    ASSERT_NE(data, nullptr) << "missing " << path;
    expected.rgb.assign(data, data + size_t(expected.width) * size_t(expected.height) * 3);
    stbi_image_free(data);
    EXPECT_EQ(differences(expected, actual), 0u) << name;
}

// A 64 x 64 picture: colour ramps, a checkerboard and a bright disc.
void writePicture() {
    std::vector<uint8_t> rgb;
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            bool check = ((x / 8) ^ (y / 8)) & 1;
            bool disc = (x - 40) * (x - 40) + (y - 24) * (y - 24) < 144;
            rgb.push_back(uint8_t(disc ? 255 : x * 4));
            rgb.push_back(uint8_t(disc ? 240 : check ? 200 : 60));
            rgb.push_back(uint8_t(disc ? 120 : y * 4));
        }
    }
    ASSERT_NE(stbi_write_png("picture.png", 64, 64, 3, rgb.data(), 64 * 3), 0);
}

// Plays a production frame by frame and returns the screens at the capture times; lostAt:
// the frame after which the device is lost (-1: never).
std::vector<Image> play(const std::string& text, const double* captures, size_t count,
                        int lostAt = -1) {
    std::vector<Image> screens;
    Script script(text.c_str(), int32_t(text.size()), nullptr);
    EXPECT_TRUE(script.parse(false));
    Timeline timeline;
    createTargets(timeline, script);
    startTimeline(timeline, nullptr);
    size_t next = 0;
    for (int frame = 0; next < count && frame < 10 * kFrameRate; ++frame) {
        tick(timeline, uint32_t(std::lround(frame * 65536.0 / kFrameRate)), 0);
        if (frame == std::lround(captures[next] * kFrameRate)) {
            screens.push_back(screenImage());
            ++next;
        }
        if (frame == lostAt) dxDevice()->SimulateDeviceLoss(1);
        present();
    }
    destroyEffects();
    return screens;
}

std::string production(const Case& c) {
    char text[2048];
    snprintf(text, sizeof(text), kHeader, c.effectClass, c.settings, c.actions);
    return text;
}

class ScreenGolden : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(startScreenDevice(kW, kH));
        writePicture();
    }
    void TearDown() override { stopScreenDevice(); }
};

TEST_F(ScreenGolden, everyClassMatchesItsReviewedPictures) {
    for (const Case& c : kCases) {
        std::vector<Image> screens = play(production(c), kCaptures, std::size(kCaptures));
        ASSERT_EQ(screens.size(), std::size(kCaptures)) << c.name;
        for (size_t i = 0; i < screens.size(); ++i)
            checkOrUpdate(std::string(c.name) + "_" + std::to_string(int(kCaptures[i] * 1000)),
                          screens[i]);
        // Every case shows something beyond one flat colour.
        const Image& last = screens.back();
        EXPECT_NE(std::count(last.rgb.begin(), last.rgb.end(), last.rgb[0]),
                  ptrdiff_t(last.rgb.size()))
            << c.name;
    }
}

// The feedback production: motionblur blends the scene into "trail" (never cleared, so the
// target keeps its history) and crashzoom zooms "trail" onto the screen, passing through it.
constexpr const char* kFeedback = R"(
rendertarget scene 1 1
rendertarget trail 1 1
viewport all 0 0 1 1 target scene
viewport tall 0 0 1 1 target trail
effect pl is plasma1
effect blur is motionblur
effect zoom is crashzoom
demo runs for 4 seconds
first set pl.image to "picture.png" and set blur.source to "scene" and set blur.half-life to 0.1
and set zoom.source to "trail" and set zoom.steps to 4 and set zoom.maxzoom to 0.2
at second 0 start pl z -2 vp all and start blur z -1 vp tall and start zoom z 1
enddemo
)";

TEST_F(ScreenGolden, feedbackFramesAfterADeviceLossMatchTheFramesWithout) {
    // The targets come back empty after a loss; their history fades with the half-life of
    // 0.1 s, so a second after the loss on the frames are the same again.
    const double captures[] = {2.0, 3.0};
    std::vector<Image> plain = play(kFeedback, captures, 2);
    std::vector<Image> lost = play(kFeedback, captures, 2, int(1.0 * kFrameRate));
    ASSERT_EQ(plain.size(), 2u);
    ASSERT_EQ(lost.size(), 2u);
    checkOrUpdate("feedback_2000", plain[0]);
    checkOrUpdate("feedback_3000", plain[1]);
    EXPECT_EQ(differences(plain[0], lost[0]), 0u);
    EXPECT_EQ(differences(plain[1], lost[1]), 0u);
    EXPECT_EQ(dxDevice()->TestCooperativeLevel(), D3D_OK);
}

} // namespace
