// The loading screen: its messages, the percentage text, the 50 ms throttle, and one frame
// at 640 x 480 against the reviewed picture tests/golden/loading/frame.png (written instead
// with LUX_UPDATE_GOLDEN=1).
#include "data/filesystem.h"
#include "data/stream.h"
#include "gfx/device.h"
#include "gfx/enumeration.h"
#include "gfx/font.h"
#include "gfx/resources.h"
#include "gfx/texture.h"
#include "gfx/texturepool.h"
#include "platform/config.h"
#include "platform/gpu/gpu.h"
#include "platform/log.h"
#include "shell/loadingscreen.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

namespace {

TEST(LoadingScreen, messageTableHas43TextsEndingWithNull) {
    EXPECT_EQ(kLoadingMessages[kLoadingMessageCount], nullptr);
    std::set<std::string> distinct;
    for (int i = 0; i < kLoadingMessageCount; ++i) {
        ASSERT_NE(kLoadingMessages[i], nullptr) << i;
        distinct.insert(kLoadingMessages[i]);
    }
    EXPECT_EQ(distinct.size(), 43u);
    EXPECT_STREQ(kLoadingMessages[0], "destroying your monitor");
    EXPECT_STREQ(kLoadingMessages[32], "i'm not interested in your brochures");
    for (int i = 33; i < kLoadingMessageCount; ++i) // ours name no address or host
        EXPECT_EQ(strpbrk(kLoadingMessages[i], "@.:/"), nullptr) << kLoadingMessages[i];
    LoadingScreen screen;
    screen.chooseMessage(kLoadingMessageCount + 2);
    EXPECT_STREQ(screen.message(), kLoadingMessages[2]);
}

TEST(LoadingScreen, percentageShowsTwoDecimals) {
    char text[128];
    formatLoadingProgress(text, sizeof text, "making tomato juice", 1, 3);
    EXPECT_STREQ(text, "making tomato juice: 33.33%");
    formatLoadingProgress(text, sizeof text, "x", 0, 3);
    EXPECT_STREQ(text, "x:  0.00%");
    formatLoadingProgress(text, sizeof text, "x", 3, 3);
    EXPECT_STREQ(text, "x: 100.00%");
    formatLoadingProgress(text, sizeof text, "x", 0, 0); // nothing to load
    EXPECT_STREQ(text, "x:  0.00%");
}

uint32_t fakeNow = 0;
uint32_t fakeClock() {
    return fakeNow;
}

TEST(LoadingScreen, progressCloserThan50msDrawsOnlyTheFirst) {
    LoadingScreen screen;
    screen.clock = fakeClock;
    fakeNow = 0; // the very first call draws even at time 0
    EXPECT_TRUE(screen.progress(0, 10));
    fakeNow = 30;
    EXPECT_FALSE(screen.progress(1, 10));
    fakeNow = 49;
    EXPECT_FALSE(screen.progress(2, 10));
    fakeNow = 50;
    EXPECT_TRUE(screen.progress(3, 10));
    fakeNow = 99; // measured from the last drawn call, not the last call
    EXPECT_FALSE(screen.progress(10, 10));
    fakeNow = 0xFFFFFFF0u; // the millisecond count wraps
    EXPECT_TRUE(screen.progress(4, 10));
    fakeNow = 0x10;
    EXPECT_FALSE(screen.progress(5, 10));
}

struct LoadingFrameTest : ::testing::Test {
    void SetUp() override {
        logSetFile("log.txt");
        setErrorDialogEnabled(false);
        configValues = ConfigValues{};
        configValues.xres = 640;
        configValues.yres = 480;
        configValues.windowed = 1;
        deviceSettings = DeviceSettings{};
        GpuSystem* system = gpuCreate();
        ASSERT_NE(system, nullptr);
        resourceInit();
        enumerateAdapters(system, nullptr);
        initDevice(system, nullptr);
        initFileSystem();
        initTextures();
        initTexturePool();
        initFontPool();
    }
    void TearDown() override {
        closeFontPool();
        closeTexturePool();
        closeTextures();
        closeFileSystem();
        closeDevice();
        freeAdapters();
    }
};

uint32_t pixelAt(const std::vector<uint32_t>& pixels, int x, int y) {
    return pixels[size_t(y) * 640 + size_t(x)] & 0xFFFFFF;
}

TEST_F(LoadingFrameTest, oneProgressFrameAt640x480) {
    std::string fonts = std::string(LUX_BINARY_DIR) + "/fonts/";
    BitmapFont* small = acquireFontFile((fonts + "lux32.fn2").c_str());
    BitmapFont* large = acquireFontFile((fonts + "arial_48.fn2").c_str());
    ASSERT_NE(small, nullptr);
    ASSERT_NE(large, nullptr);
    LoadingScreen screen;
    screen.setFonts(small, large);
    screen.setTitle("Now playing: lux32 - the default production");
    screen.chooseMessage(7);
    ASSERT_TRUE(screen.progress(1, 3));

    std::vector<uint32_t> pixels;
    ASSERT_EQ(dxDevice()->ReadSurface(findRenderTarget("primary")->surface, &pixels), D3D_OK);
    ASSERT_EQ(pixels.size(), size_t(640) * 480);
    // The bar from 64 to 576 across 216 ... 264, filled up to 64 + 512 / 3 = 234.67.
    EXPECT_EQ(pixelAt(pixels, 70, 220), 0x1033F0u);
    EXPECT_EQ(pixelAt(pixels, 232, 260), 0x1033F0u);
    EXPECT_EQ(pixelAt(pixels, 240, 260), 0x040C3Cu);
    EXPECT_EQ(pixelAt(pixels, 570, 220), 0x040C3Cu);
    EXPECT_EQ(pixelAt(pixels, 60, 240), 0u);
    EXPECT_EQ(pixelAt(pixels, 580, 240), 0u);
    EXPECT_EQ(pixelAt(pixels, 320, 212), 0u);

    std::vector<uint8_t> rgb;
    for (uint32_t argb : pixels) {
        rgb.push_back(uint8_t(argb >> 16));
        rgb.push_back(uint8_t(argb >> 8));
        rgb.push_back(uint8_t(argb));
    }
    std::string golden = std::string(LUX_SOURCE_DIR) + "/tests/golden/loading/frame.png";
    const char* update = getenv("LUX_UPDATE_GOLDEN");
    if (update && strcmp(update, "1") == 0) {
        ASSERT_NE(stbi_write_png(golden.c_str(), 640, 480, 3, rgb.data(), 640 * 3), 0);
    } else {
        FileStream file;
        ASSERT_EQ(file.open(golden.c_str(), kFileRead), 1) << "missing " << golden;
        Picture expected;
        ASSERT_TRUE(decodePicture(&file, kTextureRgb, &expected));
        ASSERT_EQ(expected.width, 640);
        ASSERT_EQ(expected.height, 480);
        size_t off = 0;
        for (size_t i = 0; i < size_t(640) * 480; ++i)
            for (int c = 0; c < 3; ++c) // the picture loader gives blue, green, red
                off += abs(int(rgb[i * 3 + c]) - int(expected.pixels[i * 3 + 2 - c])) > 3;
        freePicture(&expected);
        EXPECT_EQ(off, 0u) << off << " channel values differ from " << golden;
    }
    releaseFont(small);
    releaseFont(large);
}

} // namespace
