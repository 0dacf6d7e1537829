// A device on a hidden 64x64 window (SDL offscreen driver in the tests), with helpers that
// draw pre-transformed quads and read the back buffer.
#pragma once

#include "platform/gpu/gpu.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

struct RhwVertex {
    float x, y, z, rhw;
    D3DCOLOR diffuse;
    float u, v;
};
constexpr uint32_t kRhwFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

struct GpuFixture : ::testing::Test {
    static constexpr uint32_t kSize = 64;
    GpuSystem* system = nullptr;
    GpuDevice* device = nullptr;
    D3DPRESENT_PARAMETERS params;

    void SetUp() override {
        gpuSetCapsProfile(GpuCapsProfile::Default);
        gpuInjectFault(GpuFault::None);
        system = gpuCreate();
        ASSERT_NE(system, nullptr);
        params.BackBufferWidth = params.BackBufferHeight = kSize;
        params.BackBufferFormat = D3DFMT_A8R8G8B8;
        params.Windowed = true;
        params.EnableAutoDepthStencil = true;
        params.AutoDepthStencilFormat = D3DFMT_D24S8;
        ASSERT_EQ(system->CreateDevice(0, D3DDEVTYPE_HAL, nullptr,
                                       D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device),
                  D3D_OK);
        device->SetRenderState(D3DRS_LIGHTING, 0);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    }
    void TearDown() override {
        if (device) device->Release();
        if (system) system->Release();
        gpuSetCapsProfile(GpuCapsProfile::Default);
    }

    std::vector<uint32_t> readTarget(GpuSurface* surface = nullptr) {
        std::vector<uint32_t> pixels;
        GpuSurface* target = surface;
        if (!target) device->GetRenderTarget(&target);
        EXPECT_EQ(device->ReadSurface(target, &pixels), D3D_OK);
        if (!surface) target->Release();
        return pixels;
    }
    uint32_t pixel(int x, int y) { return readTarget()[size_t(y) * kSize + size_t(x)]; }

    void clear(D3DCOLOR color) {
        ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, color, 1.0f, 0),
                  D3D_OK);
    }

    // Two triangles covering [x0, x1) x [y0, y1) in pixel coordinates with the Direct3D
    // convention (pixel centres on integers, so the edges lie at -0.5).
    void drawQuad(float x0, float y0, float x1, float y1, D3DCOLOR color, float z = 0.5f,
                  float u0 = 0, float v0 = 0, float u1 = 1, float v1 = 1) {
        RhwVertex v[4] = {{x0, y0, z, 1, color, u0, v0},
                          {x1, y0, z, 1, color, u1, v0},
                          {x0, y1, z, 1, color, u0, v1},
                          {x1, y1, z, 1, color, u1, v1}};
        ASSERT_EQ(device->SetVertexShader(kRhwFvf), D3D_OK);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(RhwVertex)), D3D_OK);
    }
    // Covers the whole 64x64 target.
    void drawFull(D3DCOLOR color, float z = 0.5f) {
        drawQuad(-0.5f, -0.5f, kSize - 0.5f, kSize - 0.5f, color, z);
    }
};

inline int channel(uint32_t argb, int shift) {
    return int((argb >> shift) & 255);
}

// Compares each channel within a tolerance (8-bit steps).
inline ::testing::AssertionResult colorNear(uint32_t actual, uint32_t expected, int tolerance = 2) {
    for (int shift = 0; shift < 32; shift += 8)
        if (std::abs(channel(actual, shift) - channel(expected, shift)) > tolerance) {
            char text[64];
            snprintf(text, sizeof text, "0x%08x != 0x%08x", actual, expected);
            return ::testing::AssertionFailure() << text;
        }
    return ::testing::AssertionSuccess();
}

inline D3DCOLOR argb(int a, int r, int g, int b) {
    auto c = [](int v) { return uint32_t(v < 0 ? 0 : v > 255 ? 255 : v); };
    return (c(a) << 24) | (c(r) << 16) | (c(g) << 8) | c(b);
}
