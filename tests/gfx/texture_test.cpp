#include "gfx/texture.h"
#include "gfx_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

struct TextureTest : DeviceFixture {
    void restartWith(GpuCapsProfile profile) {
        closeDevice();
        freeAdapters();
        gpuSetCapsProfile(profile);
        GpuSystem* system = gpuCreate();
        ASSERT_NE(system, nullptr);
        resourceInit();
        enumerateAdapters(system, nullptr);
        initDevice(system, nullptr);
        device = dxDevice();
    }
    // Level `level` of a device texture as 0xAARRGGBB, top row first.
    std::vector<uint32_t> readLevel(uint32_t resourceId, uint32_t level = 0) {
        auto* texture = static_cast<GpuTexture*>(resourceObject(resourceId));
        std::vector<uint32_t> pixels;
        GpuSurface* surface = nullptr;
        if (!texture || FAILED(texture->GetSurfaceLevel(level, &surface))) return pixels;
        EXPECT_EQ(device->ReadSurface(surface, &pixels), D3D_OK);
        surface->Release();
        return pixels;
    }
};

// What an 8-bit reader sees of a value stored with `bits` bits.
uint32_t expand(uint32_t value, int bits) {
    uint32_t stored = value >> (8 - bits);
    return uint32_t(std::lround(stored * 255.0 / ((1 << bits) - 1)));
}

std::vector<uint8_t> rgbImage(int w, int h) {
    std::vector<uint8_t> image(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &image[(size_t(y) * w + x) * 3];
            p[0] = uint8_t(x * 2), p[1] = uint8_t(y * 4), p[2] = 200; // blue, green, red
        }
    return image;
}

TEST_F(TextureTest, PowerOfTwoDevicePlacesImageTopLeftOrStretchesWithWrap) {
    restartWith(GpuCapsProfile::Pow2Only);
    std::vector<uint8_t> image = rgbImage(100, 50);
    Texture placed(100, 50, kTextureRgb, image.data());
    EXPECT_EQ(placed.textureWidth, 128);
    EXPECT_EQ(placed.textureHeight, 64);
    EXPECT_FLOAT_EQ(placed.uScale, 0.78125f);
    EXPECT_FLOAT_EQ(placed.vScale, 0.78125f);
    float tu = 0, tv = 0;
    placed.mapPixel(50, 25, &tu, &tv);
    EXPECT_FLOAT_EQ(tu, 50 * 0.78125f / 100);
    EXPECT_FLOAT_EQ(tv, 25 * 0.78125f / 50);
    placed.mapNormalized(1, 1, &tu, &tv);
    EXPECT_FLOAT_EQ(tu, 0.78125f);
    std::vector<uint32_t> texels = readLevel(placed.resourceId);
    ASSERT_EQ(texels.size(), 128u * 64u);
    EXPECT_EQ(texels[10 * 128 + 30] & 0xFFFFFF, 0xC82800u | 60u); // red 200, green 40, blue 60
    EXPECT_EQ(texels[10 * 128 + 100] & 0xFFFFFF, 0u);             // right of the image
    EXPECT_EQ(texels[50 * 128 + 10] & 0xFFFFFF, 0u);              // below it

    Texture wrapped(100, 50, kTextureRgb | kTextureWrap, image.data());
    EXPECT_EQ(wrapped.textureWidth, 128);
    EXPECT_FLOAT_EQ(wrapped.uScale, 1.0f);
    EXPECT_FLOAT_EQ(wrapped.vScale, 1.0f);
    texels = readLevel(wrapped.resourceId);
    EXPECT_NE(texels[10 * 128 + 120] & 0xFF0000, 0u); // the image reaches the right edge
    std::string text = log();
    EXPECT_NE(text.find("TEXX: added texture: width=100/128, height: 50/64, 1 miplevels, "
                        "flags: rgb+wrap, rid #"),
              std::string::npos);
}

TEST_F(TextureTest, BilinearFitInterpolatesTowardsRightNeighbourButNotPastTheLastColumn) {
    restartWith(GpuCapsProfile::Pow2Only);
    const uint8_t gray[3] = {0, 100, 200};
    Texture t(3, 1, kTextureGrayscale | kTextureWrap, gray);
    ASSERT_EQ(t.textureWidth, 4);
    std::vector<uint32_t> texels = readLevel(t.resourceId);
    ASSERT_EQ(texels.size(), 4u);
    // steps of 3/4: 0, 0.75, 1.5, 2.25 (the last column has no right neighbour)
    const uint32_t expected[4] = {0, 75, 150, 200};
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ((texels[x] >> 16) & 0xFF, expected[x]) << x;
}

TEST_F(TextureTest, ImageLargerThanTheMaximumIsResampledDown) {
    restartWith(GpuCapsProfile::SmallMax);
    std::vector<uint8_t> image(300 * 300, 77);
    Texture t(300, 300, kTextureGrayscale, image.data());
    EXPECT_EQ(t.textureWidth, 256);
    EXPECT_EQ(t.textureHeight, 256);
    std::vector<uint32_t> texels = readLevel(t.resourceId);
    ASSERT_EQ(texels.size(), 256u * 256u);
    EXPECT_EQ((texels[255 * 256 + 255] >> 16) & 0xFF, 77u);
}

TEST(TextureFlagWords, ConcatenateInBitOrderWithAlphaPlusOnlyAfterAWord) {
    EXPECT_STREQ(textureFlagWords(kTextureGrayscale | kTextureAlpha | kTextureMipMaps),
                 "grayscale+alpha+mip maps");
    EXPECT_STREQ(textureFlagWords(kTextureAlpha), "alpha");
    EXPECT_STREQ(textureFlagWords(0x1FF), "rgbgrayscale+alpha+low quality+rendertarget+mip "
                                          "maps+wrap+animated+no lag");
}

TEST_F(TextureTest, MipLevelsHalveTheSmallerSideDownToOne) {
    Texture wide(256, 64, kTextureRgb | kTextureMipMaps);
    EXPECT_EQ(wide.levels, 6u);
    Texture square(256, 256, kTextureRgb | kTextureMipMaps);
    EXPECT_EQ(square.levels, 8u);
    Texture plain(256, 256, kTextureRgb);
    EXPECT_EQ(plain.levels, 1u);
}

TEST_F(TextureTest, MipLevelsAreRoundedBoxFilterHalvings) {
    // 2 x 2 blocks of a 4 x 4 image: 0,0,1,1 -> (2 + 2) / 4 = 1; 0,0,0,1 -> 0;
    // 3,3,3,4 -> 3; 3,3,5,5 -> 4.
    const uint8_t gray[16] = {0, 0, 0, 0, 1, 1, 0, 1, 3, 3, 3, 3, 3, 4, 5, 5};
    Texture t(4, 4, kTextureGrayscale | kTextureMipMaps);
    ASSERT_EQ(t.levels, 2u);
    t.upload(gray);
    std::vector<uint32_t> level1 = readLevel(t.resourceId, 1);
    ASSERT_EQ(level1.size(), 4u);
    const uint32_t expected[4] = {1, 0, 3, 4};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ((level1[i] >> 16) & 0xFF, expected[i]) << i;
}

TEST_F(TextureTest, RendertargetDropsMipMapsWithoutWarning) {
    Texture t(64, 32, kTextureRgb | kTextureRenderTarget | kTextureMipMaps);
    EXPECT_EQ(t.levels, 1u);
    EXPECT_EQ(t.pool, 0);
    std::string text = log();
    EXPECT_EQ(text.find("warning"), std::string::npos);
    EXPECT_NE(text.find("flags: rgb+rendertarget, rid"), std::string::npos);
}

TEST_F(TextureTest, AnimatedNoLagShowsAtOnceDoubleBufferedAfterTheSwap) {
    const uint8_t white[4] = {255, 255, 255, 255};
    Texture single(2, 2, kTextureGrayscale | kTextureAnimated | kTextureNoLag);
    EXPECT_EQ(single.animation, 1);
    EXPECT_EQ(single.displayIds[1], 0u);
    single.upload(white);
    EXPECT_EQ(single.bindResource(), single.displayIds[0]);
    EXPECT_EQ((readLevel(single.bindResource())[0] >> 16) & 0xFF, 255u);

    Texture twice(2, 2, kTextureGrayscale | kTextureAnimated);
    EXPECT_EQ(twice.animation, 2);
    EXPECT_EQ(animatedTextureCount(), 2);
    twice.upload(white);
    EXPECT_EQ((readLevel(twice.bindResource())[0] >> 16) & 0xFF, 0u); // old image still shown
    present();                                                        // swaps once per frame
    EXPECT_EQ(twice.bindResource(), twice.displayIds[1]);
    EXPECT_EQ((readLevel(twice.bindResource())[0] >> 16) & 0xFF, 255u);
    present();
    EXPECT_EQ(twice.bindResource(), twice.displayIds[1]); // no new image: no swap
}

TEST_F(TextureTest, NoLagWithoutAnimationAndAnimatedMipMapsWarn) {
    Texture a(4, 4, kTextureRgb | kTextureNoLag);
    Texture b(4, 4, kTextureRgb | kTextureAnimated | kTextureMipMaps);
    std::string text = log();
    EXPECT_NE(text.find("TEXX: NoLag only makes sense with animated textures\n"),
              std::string::npos);
    EXPECT_NE(text.find("TEXX: Animated textures with mipmaps could cause serious performance "
                        "problems\n"),
              std::string::npos);
}

TEST_F(TextureTest, ConvertersPackChannelsByShiftAndLoss) {
    // rgb low quality -> R5G6B5; blue 40, green 100, red 200
    const uint8_t rgb[3] = {40, 100, 200};
    Texture r565(1, 1, kTextureRgb | kTextureLowQuality, rgb);
    ASSERT_EQ(r565.format->format, D3DFMT_R5G6B5);
    uint32_t p = readLevel(r565.resourceId)[0];
    EXPECT_EQ((p >> 16) & 0xFF, expand(200, 5));
    EXPECT_EQ((p >> 8) & 0xFF, expand(100, 6));
    EXPECT_EQ(p & 0xFF, expand(40, 5));

    const uint8_t rgba[4] = {40, 100, 200, 150};
    Texture argb4(1, 1, kTextureRgb | kTextureAlpha | kTextureLowQuality, rgba);
    ASSERT_EQ(argb4.format->format, D3DFMT_A4R4G4B4);
    p = readLevel(argb4.resourceId)[0];
    EXPECT_EQ(p >> 24, expand(150, 4));
    EXPECT_EQ((p >> 16) & 0xFF, expand(200, 4));
    EXPECT_EQ((p >> 8) & 0xFF, expand(100, 4));
    EXPECT_EQ(p & 0xFF, expand(40, 4));

    // One- and two-channel formats read back their stored channels as red (and green).
    const uint8_t luminance[1] = {123};
    Texture l8(1, 1, kTextureGrayscale, luminance);
    ASSERT_EQ(l8.format->format, D3DFMT_L8);
    EXPECT_EQ((readLevel(l8.resourceId)[0] >> 16) & 0xFF, 123u);

    const uint8_t grayAlpha[2] = {100, 50};
    Texture a8l8(1, 1, kTextureGrayscale | kTextureAlpha, grayAlpha);
    ASSERT_EQ(a8l8.format->format, D3DFMT_A8L8);
    p = readLevel(a8l8.resourceId)[0];
    EXPECT_EQ((p >> 16) & 0xFF, 100u); // luminance
    EXPECT_EQ((p >> 8) & 0xFF, 50u);   // alpha

    const uint8_t alpha[1] = {77};
    Texture a8(1, 1, kTextureAlpha, alpha);
    ASSERT_EQ(a8.format->format, D3DFMT_A8);
    EXPECT_EQ((readLevel(a8.resourceId)[0] >> 16) & 0xFF, 77u);
}

TEST_F(TextureTest, BindingAtOrAboveTheStageCountLogsAndBindsNothing) {
    restartWith(GpuCapsProfile::FewStages);
    Texture t(4, 4, kTextureRgb);
    bindTexture(2, &t);
    EXPECT_NE(log().find("TEXX: more texture blend stages used than available\n"),
              std::string::npos);
}

TEST_F(TextureTest, RenderTargetsGetRealTextures) {
    RenderTarget* target = createRenderTexture(40, 30, "blur", true);
    ASSERT_NE(target->texture, nullptr);
    EXPECT_EQ(target->textureId, target->texture->resourceId);
    EXPECT_EQ(target->texture->flags, uint32_t(kTextureRgb | kTextureRenderTarget));
    destroyRenderTarget("blur");
    EXPECT_EQ(findRenderTarget("blur"), nullptr);
}

TEST_F(TextureTest, CubeTexturesFillEveryLevelOfAFace) {
    std::vector<uint8_t> gray(64 * 64, 90);
    CubeTexture cube(64, kTextureGrayscale | kTextureMipMaps);
    EXPECT_EQ(cube.levels, 6u);
    cube.upload(D3DCUBEMAP_FACE_NEGATIVE_Y, gray.data());
    auto* object = static_cast<GpuCubeTexture*>(resourceObject(cube.resourceId));
    ASSERT_NE(object, nullptr);
    GpuSurface* surface = nullptr;
    ASSERT_EQ(object->GetCubeMapSurface(D3DCUBEMAP_FACE_NEGATIVE_Y, 5, &surface), D3D_OK);
    std::vector<uint32_t> texels;
    EXPECT_EQ(device->ReadSurface(surface, &texels), D3D_OK);
    surface->Release();
    ASSERT_EQ(texels.size(), 4u);
    EXPECT_EQ((texels[0] >> 16) & 0xFF, 90u);
    EXPECT_NE(log().find("TEXX: added cubemap: edge=64, 6 miplevels, flags: grayscale+mip maps, "
                         "rid #"),
              std::string::npos);
}

using TextureDeathTest = TextureTest;

TEST_F(TextureDeathTest, CubeEdgesTheDeviceWouldRoundAreFatal) {
    restartWith(GpuCapsProfile::Pow2Only);
    EXPECT_EXIT({ CubeTexture cube(100, kTextureRgb); }, ::testing::ExitedWithCode(1),
                "Hardware does not directly support requested cubemap edge size of 100");
    EXPECT_EXIT({ CubeTexture cube(64, kTextureRgb | kTextureAnimated); },
                ::testing::ExitedWithCode(1), "Animated Cubemaps are not supported \\(yet\\)");
}

TEST_F(TextureDeathTest, NoContentBitsFindNoFormat) {
    EXPECT_EXIT({ Texture t(8, 4, kTextureMipMaps); }, ::testing::ExitedWithCode(1),
                "No matching texture format found! \\(w=8, h=4, flags=\\+mip maps\\)");
}

TEST_F(TextureDeathTest, AnimatedRendertargetAndVramUploadsAreFatal) {
    EXPECT_EXIT({ Texture t(8, 4, kTextureRgb | kTextureRenderTarget | kTextureAnimated); },
                ::testing::ExitedWithCode(1), "Is texture now animated or rendertarget\\?");
    Texture target(8, 4, kTextureRgb | kTextureRenderTarget);
    EXPECT_EXIT(target.upload(nullptr), ::testing::ExitedWithCode(1),
                "Cannot directly upload images to VRAM textures");
}

} // namespace
