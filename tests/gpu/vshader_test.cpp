// vs.1.1 shader programs: translated instructions checked against the instruction set's
// definitions with values computed here.
#include "gpu_fixture.h"

#include <algorithm>
#include <cstring>

namespace {

enum : uint32_t { kTemp = 0, kInput = 1, kConst = 2, kAddress = 3, kRast = 4, kAttr = 5, kTex = 6 };
constexpr uint32_t kXyzw = 0xE4;

uint32_t dst(uint32_t type, uint32_t n, uint32_t mask = 0xF) {
    return (1u << 31) | (type << 28) | (mask << 16) | n;
}
uint32_t src(uint32_t type, uint32_t n, uint32_t swizzle = kXyzw, bool negate = false,
             bool relative = false) {
    return (1u << 31) | (type << 28) | (uint32_t(negate) << 24) | (swizzle << 16) |
           (uint32_t(relative) << 13) | n;
}
uint32_t replicate(uint32_t c) {
    return c | (c << 2) | (c << 4) | (c << 6);
}

struct VsTest : GpuFixture {
    uint32_t handle = 0;
    GpuVertexBuffer *positions = nullptr, *colors = nullptr;

    void create(const std::vector<uint32_t>& program) {
        const uint32_t declaration[] = {D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT3),
                                        D3DVSD_STREAM(1), D3DVSD_REG(1, D3DVSDT_D3DCOLOR),
                                        D3DVSD_END()};
        ASSERT_EQ(device->CreateVertexShader(declaration, program.data(), &handle, 0), D3D_OK);
        // A quad over the left half in clip space, grey.
        const float p[4][3] = {{-1, 1, 0.5f}, {0, 1, 0.5f}, {-1, -1, 0.5f}, {0, -1, 0.5f}};
        const uint32_t c[4] = {0xFF808080, 0xFF808080, 0xFF808080, 0xFF808080};
        uint8_t* bytes;
        ASSERT_EQ(device->CreateVertexBuffer(sizeof p, 0, 0, D3DPOOL_MANAGED, &positions), D3D_OK);
        ASSERT_EQ(device->CreateVertexBuffer(sizeof c, 0, 0, D3DPOOL_MANAGED, &colors), D3D_OK);
        positions->Lock(0, 0, &bytes, 0);
        memcpy(bytes, p, sizeof p);
        positions->Unlock();
        colors->Lock(0, 0, &bytes, 0);
        memcpy(bytes, c, sizeof c);
        colors->Unlock();
    }
    void draw() {
        device->SetStreamSource(0, positions, 12);
        device->SetStreamSource(1, colors, 4);
        ASSERT_EQ(device->SetVertexShader(handle), D3D_OK);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        clear(0xFF000000);
        ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
        ASSERT_EQ(device->EndScene(), D3D_OK);
    }
    void constant(uint32_t reg, float x, float y, float z, float w) {
        const float v[4] = {x, y, z, w};
        ASSERT_EQ(device->SetVertexShaderConstant(reg, v, 1), D3D_OK);
    }
    void TearDown() override {
        if (device) {
            device->SetStreamSource(0, nullptr, 0);
            device->SetStreamSource(1, nullptr, 0);
        }
        if (positions) positions->Release();
        if (colors) colors->Release();
        GpuFixture::TearDown();
    }
};

} // namespace

TEST_F(VsTest, matrixTransformColourScaleAndRelativeAddressing) {
    create({0xFFFE0101, 20, dst(kRast, 0), src(kInput, 0), src(kConst, 0), // m4x4 oPos, v0, c0
            5, dst(kTemp, 0), src(kInput, 1), src(kConst, 4),              // mul r0, v1, c4
            1, dst(kAddress, 0, 1), src(kConst, 5, replicate(0)),          // mov a0.x, c5.x
            2, dst(kAttr, 0), src(kTemp, 0),
            src(kConst, 6, kXyzw, false, true), // add oD0, r0, c[a0.x+6]
            0x0000FFFF});
    // Rows of a translation by +1 in x (dp4 with each row).
    constant(0, 1, 0, 0, 1);
    constant(1, 0, 1, 0, 0);
    constant(2, 0, 0, 1, 0);
    constant(3, 0, 0, 0, 1);
    constant(4, 1, 0.5f, 0.25f, 1);
    constant(5, 1.7f, 0, 0, 0); // a0 = floor(1.7) = 1
    constant(6, 0.9f, 0.9f, 0.9f, 0);
    constant(7, 0.1f, 0.2f, 0.3f, 0);
    draw();
    float grey = 128 / 255.0f;
    auto q = [](float v) { return int(std::lround(std::clamp(v, 0.0f, 1.0f) * 255)); };
    D3DCOLOR expected =
        argb(255, q(grey * 1 + 0.1f), q(grey * 0.5f + 0.2f), q(grey * 0.25f + 0.3f));
    EXPECT_EQ(pixel(10, 30), 0xFF000000u); // moved off the left half
    EXPECT_TRUE(colorNear(pixel(50, 30), expected));
}

TEST_F(VsTest, scalarAndLightingInstructions) {
    create({0xFFFE0101,
            1,
            dst(kRast, 0),
            src(kInput, 0), // mov oPos, v0
            16,
            dst(kTemp, 1),
            src(kConst, 0), // lit r1, c0
            6,
            dst(kTemp, 2, 1),
            src(kConst, 1, replicate(3)), // rcp r2.x, c1.w
            7,
            dst(kTemp, 2, 2),
            src(kConst, 1, replicate(2)), // rsq r2.y, c1.z
            12,
            dst(kTemp, 2, 4),
            src(kConst, 1, replicate(0)),
            src(kConst, 1, replicate(1)), // slt r2.z
            4,
            dst(kAttr, 0, 7),
            src(kTemp, 1, 0xE5 /* yyzw */),
            src(kConst, 2),
            src(kTemp, 2, kXyzw, true),
            0x0000FFFF});
    // lit of (0.5, 0.8, -, 2): (1, 0.5, 0.8^2, 1).
    constant(0, 0.5f, 0.8f, 0, 2);
    constant(1, 0.25f, 0.5f, 16, 4); // rcp 4 = 0.25, rsq 16 = 0.25, 0.25 < 0.5 -> 1
    constant(2, 1, 1, 1, 1);
    // mad oD0.xyz, r1.yyzw, c2, -r2 = (0.5 - 0.25, 0.5 - 0.25, 0.64 - 1 -> 0)
    draw();
    EXPECT_TRUE(colorNear(pixel(10, 30), argb(255, 64, 64, 0)));
}

TEST_F(VsTest, programsOutsideVs11AreRefused) {
    const uint32_t declaration[] = {D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT3), D3DVSD_END()};
    uint32_t h = 0;
    const uint32_t badTemp[] = {0xFFFE0101, 1, dst(kTemp, 12), src(kInput, 0), 0x0000FFFF};
    const uint32_t badOp[] = {0xFFFE0101, 42, dst(kTemp, 0), src(kInput, 0), 0x0000FFFF};
    const uint32_t writesInput[] = {0xFFFE0101, 1, dst(kInput, 0), src(kInput, 0), 0x0000FFFF};
    const uint32_t withComment[] = {0xFFFE0101, 0x0002FFFE,    0x41414141,     0x42424242,
                                    1,          dst(kRast, 0), src(kInput, 0), 0x0000FFFF};
    EXPECT_EQ(device->CreateVertexShader(declaration, badTemp, &h, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateVertexShader(declaration, badOp, &h, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateVertexShader(declaration, writesInput, &h, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateVertexShader(declaration, withComment, &h, 0), D3D_OK);
}

TEST_F(VsTest, userMemoryDrawsRunProgramsFromStreamZero) {
    const uint32_t declaration[] = {D3DVSD_STREAM(0), D3DVSD_REG(0, D3DVSDT_FLOAT3),
                                    D3DVSD_REG(3, D3DVSDT_FLOAT4), D3DVSD_END()};
    const uint32_t program[] = {0xFFFE0101,
                                1,
                                dst(kRast, 0),
                                src(kInput, 0),
                                1,
                                dst(kAttr, 0),
                                src(kInput, 3, 0x1B /* wzyx */),
                                0x0000FFFF};
    ASSERT_EQ(device->CreateVertexShader(declaration, program, &handle, 0), D3D_OK);
    struct Vtx {
        float x, y, z, r, g, b, a;
    } v[3] = {{-1, 1, 0.5f, 1, 0.5f, 0.25f, 0},
              {1, 1, 0.5f, 1, 0.5f, 0.25f, 0},
              {-1, -1, 0.5f, 1, 0.5f, 0.25f, 0}};
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    ASSERT_EQ(device->SetVertexShader(handle), D3D_OK);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0xFF000000);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof(Vtx)), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    // v3 = (1, 0.5, 0.25, 0) reversed: red 0, green 0.25, blue 0.5, alpha 1.
    EXPECT_TRUE(colorNear(pixel(5, 5), argb(255, 0, 64, 128)));
}
