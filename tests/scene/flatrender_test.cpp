// The flat-scene renderer headless on the real graphics layer: the light choice (more than
// eight lights, a bright light at the camera, lights that cannot light), the view-volume test
// counted in draw calls that reach GL, glow sprites where their lights project, the reflection
// map's texture matrix, and cyclic parents made in memory.
#include "scene/render.h"

#include "data/filesystem.h"
#include "gfx/device.h"
#include "gfx/texture.h"
#include "gfx/texturepool.h"
#include "platform/gpu/gpu.h"
#include "platform/log.h"
#include "tests/scene/scene_writer.h"
#include "tests/script/headless_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int32_t kWidth = 96, kHeight = 64;

struct FlatLightSpec {
    float x = 0, y = 0, z = 0;
    float intensity = 1;
    float rgb[3] = {1, 1, 1};
    float radius = 50;
    bool glow = false;
};

// One cube mesh (corners +-0.5, format XYZ | NORMAL), an object of it at each position, the
// lights, and a camera at the origin looking along +z with zoom 1.
SceneBytes flatFile(const std::vector<std::vector<float>>& objects,
                    const std::vector<FlatLightSpec>& lights) {
    SceneBytes b;
    b.u32(0).u32(1).u32(1);
    std::vector<float> vertices;
    for (int corner = 0; corner < 8; ++corner) {
        float x = corner & 1 ? 0.5f : -0.5f, y = corner & 2 ? 0.5f : -0.5f;
        float z = corner & 4 ? 0.5f : -0.5f;
        vertices.insert(vertices.end(), {x, y, z, x * 1.7f, y * 1.7f, z * 1.7f});
    }
    const uint16_t faces[] = {0, 2, 1, 1, 2, 3, 4, 5, 6, 5, 7, 6, 0, 1, 4, 1, 5, 4,
                              2, 6, 3, 3, 6, 7, 0, 4, 2, 2, 4, 6, 1, 3, 5, 3, 7, 5};
    b.u32(8).u32(D3DFVF_XYZ | D3DFVF_NORMAL).u32(uint32_t(vertices.size() * 4));
    for (float v : vertices)
        b.f32(v);
    b.u32(0xffffff).u32(0).u32(0).u32(1).u32(0).u32(1).u32(4).u32(36);
    for (uint16_t i : faces)
        b.u16(i);
    b.floats({-0.5f, -0.5f, -0.5f, 0.5f, 0.5f, 0.5f});
    b.u32(uint32_t(objects.size()));
    for (const std::vector<float>& p : objects) {
        b.i32(0).i32(-1).append(constantTrack({p[0], p[1], p[2], 0, 0, 0, 1, 1, 1}));
        b.floats({0, 0, 0}).cstring("cube");
    }
    b.u32(uint32_t(lights.size()));
    for (const FlatLightSpec& l : lights) {
        b.i32(-1).append(constantTrack({l.x, l.y, l.z})).append(constantTrack({l.intensity}));
        b.u32(l.glow ? 1 : 0);
        if (l.glow) b.append(constantTrack({255, 255, 255, 0.5f}));
        b.floats({0, 0, 0, l.rgb[0], l.rgb[1], l.rgb[2], l.radius});
    }
    b.u32(1).append(constantTrack({0, 0, 0, 0, 0, 0, 1, 1, 1})).append(constantTrack({1}));
    b.i32(0);
    return b.f32(25).u32(0x404040);
}

struct FlatRender : ::testing::Test {
    void SetUp() override {
        logSetFile("log.txt");
        ASSERT_TRUE(startHeadlessDevice(kWidth, kHeight));
        initFileSystem();
        initTextures();
        initTexturePool();
        gledAcquireDrawingBuffers();
        selectRenderTarget("primary");
        setViewport(0, 0, kWidth, kHeight);
    }
    void TearDown() override {
        freeFlatScene(scene);
        gledDone();
        closeTexturePool();
        closeTextures();
        closeFileSystem();
        stopHeadlessDevice();
    }
    FlatScene* read(const SceneBytes& bytes) {
        std::unique_ptr<MemoryStream> s(bytes.stream());
        std::string error;
        freeFlatScene(scene);
        scene = readFlatScene(s.get(), &error);
        EXPECT_NE(scene, nullptr) << error;
        return scene;
    }
    // Draw calls that reached GL in one frame of the scene (the clear draws nothing).
    uint32_t glDraws(FlatFrameStats* stats = nullptr) {
        present();
        clear(3, 0, 1.0f, 0);
        FlatFrame frame;
        frame.stats = stats;
        renderFlatScene(*scene, frame);
        present();
        return dxDevice()->GetFrameStats().draws;
    }
    FlatScene* scene = nullptr;
};

float length(const FlatLightSpec& l) {
    return std::sqrt(l.x * l.x + l.y * l.y + l.z * l.z);
}

TEST_F(FlatRender, lightsAreTakenByKeyEightAtMostAndABrightNearLightLeavesTheOthersOn) {
    std::vector<FlatLightSpec> lights;
    FlatLightSpec nearBright;
    nearBright.z = 0.02f;
    nearBright.intensity = 4; // key 0.02 / 4 = 0.005
    lights.push_back(nearBright);
    for (int i = 0; i < 9; ++i) {
        FlatLightSpec l;
        l.x = float(9 - i); // farther first in the file
        l.z = 2;
        l.rgb[0] = 0.5f; // brightness 0.3 x 0.5 + 0.59 + 0.11 = 0.85
        lights.push_back(l);
    }
    FlatLightSpec dark, tiny, faint;
    dark.rgb[0] = dark.rgb[1] = dark.rgb[2] = 0; // brightness 0
    tiny.radius = 0.02f;                         // radius below 0.05
    faint.intensity = 0.004f;                    // intensity not above 0.005
    for (const FlatLightSpec& l : {dark, tiny, faint})
        lights.push_back(l);
    read(flatFile({}, lights));

    FlatFrameLight chosen[kFlatMaxLights];
    ASSERT_EQ(chooseFlatLights(*scene, D3DMATRIX{}, 0, chosen), 8);
    // Expected order: the near light, then the file's lights 9, 8, ..., 3 (nearest first).
    std::vector<int32_t> expected = {0, 9, 8, 7, 6, 5, 4, 3};
    for (int n = 0; n < 8; ++n) {
        EXPECT_EQ(chosen[n].index, expected[size_t(n)]) << n;
        const FlatLightSpec& l = lights[size_t(expected[size_t(n)])];
        float brightness = l.intensity * (0.3f * l.rgb[0] + 0.59f * l.rgb[1] + 0.11f * l.rgb[2]);
        EXPECT_NEAR(chosen[n].key, length(l) / brightness, 1e-4) << n;
        EXPECT_FLOAT_EQ(chosen[n].range, 2 * l.radius);
    }
    EXPECT_FLOAT_EQ(chosen[0].colour[0], 4);

    // Through the device: eight point lights on, the near one first at its camera position.
    glDraws();
    for (uint32_t i = 0; i < 8; ++i) {
        bool on = false;
        dxDevice()->GetLightEnable(i, &on);
        EXPECT_TRUE(on) << i;
    }
    D3DLIGHT8 first;
    ASSERT_EQ(dxDevice()->GetLight(0, &first), D3D_OK);
    EXPECT_EQ(first.Type, D3DLIGHT_POINT);
    EXPECT_FLOAT_EQ(first.Position.z, 0.02f);
    EXPECT_FLOAT_EQ(first.Attenuation0, 1);

    // Three usable lights: the rest are switched off again.
    read(flatFile({}, {lights[1], lights[2], lights[3], dark}));
    glDraws();
    for (uint32_t i = 0; i < 8; ++i) {
        bool on = true;
        dxDevice()->GetLightEnable(i, &on);
        EXPECT_EQ(on, i < 3) << i;
    }
}

TEST_F(FlatRender, boxesOutsideTheViewVolumeAreNotDrawn) {
    FlatLightSpec lamp;
    read(flatFile({{0, 0, 5}}, {lamp}));
    FlatFrameStats one;
    uint32_t visible = glDraws(&one);
    EXPECT_EQ(one.drawnObjects, 1);
    EXPECT_EQ(one.drawCalls, 1);
    // Behind the camera, far to the side and far above.
    read(flatFile({{0, 0, 5}, {0, 0, -5}, {40, 0, 5}, {0, 40, 5}}, {lamp}));
    FlatFrameStats four;
    EXPECT_EQ(glDraws(&four), visible);
    EXPECT_EQ(four.drawnObjects, 1);
    EXPECT_EQ(four.culledObjects, 3);
    // A box that reaches into view at the side is drawn: its centre is outside (x' = 0.64 x 8
    // > z = 5), but its corner x = 7.5, z = 5.5 gives x' = 4.8 <= 5.5.
    read(flatFile({{8, 0, 5}}, {lamp}));
    EXPECT_EQ(glDraws(), visible);
    read(flatFile({}, {lamp}));
    EXPECT_EQ(glDraws() + 1, visible);
}

TEST_F(FlatRender, glowSpritesLightWhereTheirLightsProjectAndNotBehindTheCamera) {
    FlatLightSpec ahead, behind;
    ahead.x = 1;
    ahead.z = 4;
    ahead.glow = behind.glow = true;
    behind.z = -4;
    read(flatFile({}, {ahead, behind}));
    ASSERT_NE(scene->lights[0].glowTexture, nullptr);
    FlatFrameStats stats;
    glDraws(&stats);
    EXPECT_EQ(stats.glows, 1);
    EXPECT_EQ(stats.drawCalls, 1); // one batch
    std::vector<uint32_t> pixels;
    GpuSurface* surface = renderTargetSurface(findRenderTarget("primary"));
    ASSERT_EQ(dxDevice()->ReadSurface(surface, &pixels), D3D_OK);
    surface->Release();
    // Centre x = (1 + 0.64 x 1 / 4) x 48 = 55.68, y = 32; half size 0.64 x 0.3 / 4 x 48 = 2.3.
    EXPECT_GT(pixels[32 * kWidth + 55] & 0xff, 0x20u);
    EXPECT_EQ(pixels[32 * kWidth + 62] & 0xffffff, 0u);
    EXPECT_EQ(pixels[32 * kWidth + 40] & 0xffffff, 0u);
}

// Two small quads with black material and tilted normals, reflection-mapped with
// "glow:16 1 1 1 1" (texture 2 only, point filtering) and lit by one light without ambient,
// so that each pixel is the texel its reflection vector picks.
SceneBytes reflectionFile(const float* normalLeft, const float* normalRight) {
    SceneBytes b;
    b.u32(1).name16("glow:16 1 1 1 1").u32(2);
    for (const float* n : {normalLeft, normalRight}) {
        b.u32(1).u32(4).u32(D3DFVF_XYZ | D3DFVF_NORMAL).u32(4 * 24);
        for (int k = 0; k < 4; ++k)
            b.floats({k & 1 ? 0.3f : -0.3f, k & 2 ? 0.3f : -0.3f, 0, n[0], n[1], n[2]});
        b.u32(0).u32(0).u32(1).u32(1).u32(0).u32(1).u32(5).u32(4).u16(0).u16(1).u16(2).u16(3);
        b.floats({-0.3f, -0.3f, 0, 0.3f, 0.3f, 0});
    }
    b.u32(2);
    for (int m = 0; m < 2; ++m) {
        b.i32(m).i32(-1).append(constantTrack({m ? 1.0f : -1.0f, 0, 4, 0, 0, 0, 1, 1, 1}));
        b.floats({0, 0, 0}).cstring("quad");
    }
    b.u32(1).i32(-1).append(constantTrack({0, 0, 0})).append(constantTrack({1})).u32(0);
    b.floats({0, 0, 0, 1, 1, 1, 50});
    b.u32(1).append(constantTrack({0, 0, 0, 0, 0, 0, 1, 1, 1})).append(constantTrack({1}));
    return b.i32(0).f32(25).u32(0);
}

TEST_F(FlatRender, reflectionMapIsReadWhereTheReflectionVectorPoints) {
    // Without a local viewer the direction to the eye is (0, 0, -1), so a normal tilted by t
    // reflects it to (-2 sin t cos t, 0, ...) and u = 0.5 - 0.5 sin 2t; likewise upwards for v.
    // sin 2t = 0.6875 gives 0.15625, the middle of texel 2 of 16 on both axes.
    const float t = std::asin(0.6875f) / 2;
    const float left[3] = {-std::sin(t), 0, -std::cos(t)}, up[3] = {0, std::sin(t), -std::cos(t)};
    read(reflectionFile(left, up));
    ASSERT_NE(scene->textures[0], nullptr);
    glDraws();
    std::vector<uint32_t> pixels;
    GpuSurface* surface = renderTargetSurface(findRenderTarget("primary"));
    ASSERT_EQ(dxDevice()->ReadSurface(surface, &pixels), D3D_OK);
    surface->Release();
    // The glow texel (column 2, row 8) and (column 8, row 2): 1 - sqrt(0.75^2 / 2) = 0.4697,
    // so 119 in every channel; mirrored axes would read texels 13 instead (142).
    const int32_t y = kHeight / 2, leftX = int32_t((1 - 0.64f / 4) * kWidth / 2);
    const int32_t rightX = int32_t((1 + 0.64f / 4) * kWidth / 2);
    for (int32_t x : {leftX, rightX})
        for (int shift : {0, 8, 16})
            EXPECT_NEAR(int((pixels[size_t(y) * kWidth + size_t(x)] >> shift) & 255), 119, 2)
                << x << " " << shift;
}

TEST_F(FlatRender, parentsThatFormACycleInMemoryEndTheWalk) {
    FlatScene cyclic;
    cyclic.objects.resize(2);
    cyclic.objects[0].parent = &cyclic.objects[1];
    cyclic.objects[1].parent = &cyclic.objects[0];
    for (FlatObject& o : cyclic.objects) {
        o.track.valueCount = 9;
        o.track.keys.resize(1);
        o.track.values = {1, 0, 0, 0, 0, 0, 1, 1, 1}; // x + 1 on its parent
    }
    computeFlatWorlds(cyclic, 0);
    // Object 1 is reached first from object 0 and taken as the root; 0 hangs below it.
    EXPECT_FLOAT_EQ(cyclic.objects[1].world.m[3][0], 1);
    EXPECT_FLOAT_EQ(cyclic.objects[0].world.m[3][0], 2);
}

} // namespace
