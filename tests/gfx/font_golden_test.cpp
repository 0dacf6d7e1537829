// Text drawn with a ".fn2" font (the build's small loading font) and a run-time font, compared
// with the reviewed picture tests/golden/fonts/text.png: alignment, tabs, two lines and
// underline. With LUX_UPDATE_GOLDEN=1 it writes the picture instead (scripts/update-golden.sh).
#include "gfx/font.h"
#include "gfx/texture.h"
#include "gfx/texturepool.h"
#include "gfx_fixture.h"

#include <gtest/gtest.h>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kTolerance = 3; // per colour channel

std::string goldenPath() {
    return std::string(LUX_SOURCE_DIR) + "/tests/golden/fonts/text.png";
}

bool updating() {
    const char* flag = getenv("LUX_UPDATE_GOLDEN");
    return flag && strcmp(flag, "1") == 0;
}

struct FontGoldenTest : DeviceFixture {
    void SetUp() override {
        DeviceFixture::SetUp();
        closeDevice();
        freeAdapters();
        configValues.xres = 320;
        configValues.yres = 120;
        configValues.prefyres = 120;
        GpuSystem* system = gpuCreate();
        ASSERT_NE(system, nullptr);
        resourceInit();
        enumerateAdapters(system, nullptr);
        initDevice(system, nullptr);
        device = dxDevice();
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
        DeviceFixture::TearDown();
    }
};

void textStates() {
    resetDeviceState();
    setRenderState(D3DRS_ZENABLE, 0);
    setRenderState(D3DRS_ALPHABLENDENABLE, 1);
    setRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    setRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    setStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    setStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    setStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
}

TEST_F(FontGoldenTest, TwoFontsWithAlignmentTabsLinesAndUnderline) {
    std::string small = std::string(LUX_BINARY_DIR) + "/fonts/lux32.fn2";
    BitmapFont* fileFont = acquireFontFile(small.c_str());
    BitmapFont* arial = acquireFont("Arial|24");
    ASSERT_NE(fileFont, nullptr) << small;
    ASSERT_NE(arial, nullptr);
    clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000);
    textStates();
    setFontUnderline(fileFont, true);
    drawText(fileFont, 4, 4, "left\ttab\nsecond line", 1, 0xFFFFFFFF, 0);
    setFontUnderline(fileFont, false);
    drawText(fileFont, 4, 50, "spaced", 1, 0xFFFFC040, 0.2f);
    setFontAlignment(arial, 1);
    drawText(arial, 240, 4, "Centre", 1, 0xFF40C0FF, 0);
    setFontAlignment(arial, 2);
    setFontUnderline(arial, true);
    drawText(arial, 316, 40, "Right\nend", 1, 0xFFFFFFFF, 0);

    std::vector<uint32_t> pixels;
    ASSERT_EQ(device->ReadSurface(findRenderTarget("primary")->surface, &pixels), D3D_OK);
    // The right-aligned second line's underline ends at the start x and spans its width.
    int row = int(std::floor(40 + 24 + arial->underlineOffset));
    float width = measureText(arial, "end", 1, 0);
    EXPECT_EQ(pixels[size_t(row) * 320 + 314] & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(pixels[size_t(row) * 320 + size_t(316 - width + 2)] & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(pixels[size_t(row) * 320 + size_t(316 - width - 3)] & 0xFFFFFF, 0u);

    std::vector<uint8_t> rgb;
    for (uint32_t argb : pixels) {
        rgb.push_back(uint8_t(argb >> 16));
        rgb.push_back(uint8_t(argb >> 8));
        rgb.push_back(uint8_t(argb));
    }
    if (updating()) {
        ASSERT_NE(stbi_write_png(goldenPath().c_str(), 320, 120, 3, rgb.data(), 320 * 3), 0);
    } else {
        FileStream file;
        ASSERT_EQ(file.open(goldenPath().c_str(), kFileRead), 1) << "missing " << goldenPath();
        Picture expected;
        ASSERT_TRUE(decodePicture(&file, kTextureRgb, &expected));
        ASSERT_EQ(expected.width, 320);
        ASSERT_EQ(expected.height, 120);
        size_t off = 0;
        int worst = 0;
        for (size_t i = 0; i < size_t(320) * 120; ++i)
            for (int c = 0; c < 3; ++c) {
                // the picture loader gives blue, green, red
                int difference = abs(int(rgb[i * 3 + c]) - int(expected.pixels[i * 3 + 2 - c]));
                worst = std::max(worst, difference);
                off += difference > kTolerance;
            }
        freePicture(&expected);
        EXPECT_EQ(off, 0u) << off << " channel values differ, by up to " << worst;
    }
    releaseFont(fileFont);
    releaseFont(arial);
}

} // namespace
