// Plays the scene of timeline_scene.h offline at fixed times and compares the screen and the
// texture target with the reviewed pictures under tests/golden/timeline. With the environment
// variable LUX_UPDATE_GOLDEN=1 it writes the pictures instead (scripts/update-golden.sh).
#include "effects/effect.h"
#include "headless_device.h"
#include "script/parser.h"
#include "script/timeline.h"
#include "tests/effects/builtin_classes.h"
#include "timeline_scene.h"

#include <gtest/gtest.h>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int32_t kWidth = 160, kHeight = 120;
constexpr int kTolerance = 3; // per colour channel, 0 ... 255

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

std::string goldenPath(const std::string& name) {
    return std::string(LUX_SOURCE_DIR) + "/tests/golden/timeline/" + name + ".png";
}

bool updating() {
    const char* flag = getenv("LUX_UPDATE_GOLDEN");
    return flag && strcmp(flag, "1") == 0;
}

// A colour surface as RGB bytes, top row first.
Picture readPicture(GpuSurface* surface) {
    Picture picture;
    std::vector<uint32_t> pixels;
    EXPECT_EQ(dxDevice()->ReadSurface(surface, &pixels), D3D_OK);
    D3DSURFACE_DESC desc;
    surface->GetDesc(&desc);
    picture.width = int(desc.Width);
    picture.height = int(desc.Height);
    for (uint32_t argb : pixels) {
        picture.rgb.push_back(uint8_t(argb >> 16));
        picture.rgb.push_back(uint8_t(argb >> 8));
        picture.rgb.push_back(uint8_t(argb));
    }
    return picture;
}

Picture loadPng(const std::string& path) {
    Picture picture;
    int channels = 0;
    uint8_t* data = stbi_load(path.c_str(), &picture.width, &picture.height, &channels, 3);
    if (!data) return picture;
    picture.rgb.assign(data, data + size_t(picture.width) * size_t(picture.height) * 3);
    stbi_image_free(data);
    return picture;
}

void checkOrUpdate(const std::string& name, const Picture& actual) {
    std::string path = goldenPath(name);
    if (updating()) {
        ASSERT_NE(stbi_write_png(path.c_str(), actual.width, actual.height, 3, actual.rgb.data(),
                                 actual.width * 3),
                  0)
            << path;
        return;
    }
    Picture expected = loadPng(path);
    ASSERT_FALSE(expected.rgb.empty()) << "missing " << path;
    ASSERT_EQ(expected.width, actual.width) << name;
    ASSERT_EQ(expected.height, actual.height) << name;
    int worst = 0;
    size_t off = 0;
    for (size_t i = 0; i < actual.rgb.size(); ++i) {
        int difference = abs(int(actual.rgb[i]) - int(expected.rgb[i]));
        worst = std::max(worst, difference);
        if (difference > kTolerance) ++off;
    }
    EXPECT_EQ(off, 0u) << name << ": " << off << " channel values differ, by up to " << worst;
}

// Checks a few pixels against colours worked out from the scene by hand, so that the golden
// pictures themselves are known to be right.
uint32_t rgbAt(const Picture& picture, int x, int y) {
    const uint8_t* p = &picture.rgb[(size_t(y) * size_t(picture.width) + size_t(x)) * 3];
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

// src * alpha + dst * (1 - alpha), per channel, as the blend computes it (within one step).
uint32_t blend(uint32_t src, uint32_t dst, double alpha) {
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        double s = (src >> shift) & 255, d = (dst >> shift) & 255;
        out |= uint32_t(s * alpha + d * (1 - alpha) + 0.5) << shift;
    }
    return out;
}

void expectNear(uint32_t actual, uint32_t expected, const char* where) {
    for (int shift = 0; shift <= 16; shift += 8)
        EXPECT_NEAR(int((actual >> shift) & 255), int((expected >> shift) & 255), 2)
            << where << std::hex << ": 0x" << actual << " vs 0x" << expected;
}

TEST(TimelineGolden, sceneFramesMatchTheReviewedPictures) {
    ASSERT_TRUE(startHeadlessDevice(kWidth, kHeight));
    {
        Script script(kTimelineScene, int32_t(strlen(kTimelineScene)), nullptr);
        ASSERT_TRUE(script.parse(false));
        Timeline timeline;
        createTargets(timeline, script);
        startTimeline(timeline, nullptr);
        std::vector<Picture> screens;
        Picture texture;
        for (double seconds : kSceneFrames) {
            EXPECT_TRUE(tick(timeline, uint32_t(seconds * 65536), 0));
            screens.push_back(readPicture(findRenderTarget("primary")->surface));
            if (seconds == kSceneFrames[0]) {
                GpuSurface* surface = renderTargetSurface(findRenderTarget("half"));
                ASSERT_NE(surface, nullptr);
                texture = readPicture(surface);
                surface->Release();
            }
            present();
        }
        EXPECT_FALSE(tick(timeline, 4 * 65536, 0));

        // 0.5 s: red left half, grey right half, yellow at a quarter over the middle.
        const uint32_t grey = 0x202020, red = 0xc02020, blue = 0x2040c0, yellow = 0xffff00;
        const double quarter = 63.0 / 255; // alpha byte truncate(0.25 * 255)
        expectNear(rgbAt(screens[0], 10, 10), red, "0.5 s left");
        expectNear(rgbAt(screens[0], 150, 10), grey, "0.5 s right");
        expectNear(rgbAt(screens[0], 60, 60), blend(yellow, red, quarter), "0.5 s inset left");
        expectNear(rgbAt(screens[0], 100, 60), blend(yellow, grey, quarter), "0.5 s inset right");
        // The texture target: green, magenta at alpha truncate(0.75 * 255) in its corner.
        expectNear(rgbAt(texture, 10, 10), 0x00a000, "texture");
        expectNear(rgbAt(texture, 70, 50), blend(0xff00ff, 0x00a000, 191.0 / 255),
                   "texture corner");
        // 1.5 s: blue on the right, the half-transparent stripe over it below the inset.
        expectNear(rgbAt(screens[1], 150, 10), blue, "1.5 s right");
        expectNear(rgbAt(screens[1], 150, 60), blend(0x00ff80, blue, 127.0 / 255), "1.5 s band");
        // 3.5 s: red has ended; black at 0.8 * 0.75^2 = 0.45 over everything.
        expectNear(rgbAt(screens[3], 10, 10), blend(0, grey, 114.0 / 255), "3.5 s left");

        const char* names[] = {"screen_0500", "screen_1500", "screen_2500", "screen_3500"};
        for (size_t i = 0; i < screens.size(); ++i)
            checkOrUpdate(names[i], screens[i]);
        checkOrUpdate("texture_0500", texture);
    }
    destroyEffects();
    stopHeadlessDevice();
}

} // namespace

namespace {

int pumpsWhileLost = 0;

// The device is lost after the first frame of a playing production: present brings it back
// (render targets and their depth buffers rebuilt by the resource manager), and the later
// frames are the same pictures as without the loss.
TEST(TimelineGolden, framesAfterASimulatedDeviceLossMatchThePictures) {
    if (updating()) GTEST_SKIP() << "pictures are being written";
    ASSERT_TRUE(startHeadlessDevice(kWidth, kHeight));
    {
        Script script(kTimelineScene, int32_t(strlen(kTimelineScene)), nullptr);
        ASSERT_TRUE(script.parse(false));
        Timeline timeline;
        createTargets(timeline, script);
        startTimeline(timeline, nullptr);
        const char* names[] = {"screen_0500", "screen_1500", "screen_2500", "screen_3500"};
        deviceSettings.pumpMessages = [] { ++pumpsWhileLost; };
        for (size_t i = 0; i < std::size(kSceneFrames); ++i) {
            EXPECT_TRUE(tick(timeline, uint32_t(kSceneFrames[i] * 65536), 0));
            checkOrUpdate(names[i], readPicture(findRenderTarget("primary")->surface));
            if (i == 0) dxDevice()->SimulateDeviceLoss(2);
            present();
        }
        EXPECT_EQ(pumpsWhileLost, 2); // present waited out the loss before resetting
        EXPECT_EQ(dxDevice()->TestCooperativeLevel(), D3D_OK);
        deviceSettings.pumpMessages = nullptr;
    }
    destroyEffects();
    stopHeadlessDevice();
}

} // namespace
