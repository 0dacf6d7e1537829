// The two-dimensional effects on a headless device with the file lookup, texture pool and
// font pools running, at a small screen whose preferred resolution equals its size (so text
// and "x"/"y" factors are 1). Pictures the cases need are written into the working folder.
#pragma once

#include "data/filesystem.h"
#include "effects/effect.h"
#include "gfx/font.h"
#include "gfx/texture.h"
#include "gfx/texturepool.h"
#include "tests/effects/builtin_classes.h"
#include "tests/gfx/gfx_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

struct Flat2dFixture : DeviceFixture {
    static constexpr int32_t kW = 160, kH = 120;

    void SetUp() override {
        // The font beside the test: file requests stay inside the production folder.
        std::filesystem::copy_file(std::string(LUX_BINARY_DIR) + "/fonts/lux32.fn2", "lux32.fn2",
                                   std::filesystem::copy_options::overwrite_existing);
        DeviceFixture::SetUp();
        closeDevice();
        freeAdapters();
        configValues.xres = kW;
        configValues.yres = kH;
        configValues.prefxres = kW;
        configValues.prefyres = kH;
        GpuSystem* system = gpuCreate();
        ASSERT_NE(system, nullptr);
        resourceInit();
        enumerateAdapters(system, nullptr);
        initGeometryCaches();
        initDevice(system, nullptr);
        device = dxDevice();
        initFileSystem();
        initTextures();
        initTexturePool();
        initFontPool();
        newFrame();
    }
    void TearDown() override {
        destroyEffects();
        closeFontPool();
        closeTexturePool();
        closeTextures();
        closeFileSystem();
        closeGeometryCaches();
        DeviceFixture::TearDown();
    }
    static std::string fontFile() { return "lux32.fn2"; }
    static void newFrame() {
        selectRenderTarget("primary");
        setViewport(0, 0, kW, kH);
        clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    }
    // Renders an instance at a local time (seconds) onto a cleared screen.
    static void frame(const char* instance, double seconds) {
        newFrame();
        renderEffect(instance, uint32_t(seconds * 65536.0 + 0.5), 0);
    }
    std::vector<uint32_t> pixels() {
        std::vector<uint32_t> out;
        EXPECT_EQ(device->ReadSurface(findRenderTarget("primary")->surface, &out), D3D_OK);
        for (uint32_t& p : out)
            p &= 0xFFFFFF;
        return out;
    }
    uint32_t pixel(int x, int y) { return pixels()[size_t(y) * kW + size_t(x)]; }
    // Brightest green channel in a rectangle (clipped to the screen).
    int brightest(int left, int top, int right, int bottom) {
        std::vector<uint32_t> all = pixels();
        int best = 0;
        for (int y = std::max(0, top); y < std::min(int(kH), bottom); ++y)
            for (int x = std::max(0, left); x < std::min(int(kW), right); ++x)
                best = std::max(best, int(all[size_t(y) * kW + x] >> 8 & 255));
        return best;
    }
    static int textureCount() { return texturePool()->count(); }
    // Count of pixels that are not black.
    int litPixels() {
        std::vector<uint32_t> all = pixels();
        return int(std::count_if(all.begin(), all.end(), [](uint32_t p) { return p != 0; }));
    }
    // An RGB picture file whose pixels come from colourAt(x, y) = 0xRRGGBB.
    static void writePicture(const char* name, int width, int height,
                             const std::function<uint32_t(int, int)>& colourAt) {
        std::vector<uint8_t> rgb;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                uint32_t c = colourAt(x, y);
                rgb.insert(rgb.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
            }
        std::string file(name);
        if (file.size() > 4 && file.substr(file.size() - 4) == ".jpg")
            stbi_write_jpg(name, width, height, 3, rgb.data(), 100);
        else
            stbi_write_png(name, width, height, 3, rgb.data(), width * 3);
    }
};
