// Texture formats, addressing, filtering, mip levels, render-to-texture orientation, cube
// maps and generated texture coordinates.
#include "gpu_fixture.h"

#include <cstring>

namespace {

struct TextureTest : GpuFixture {
    void useTextureOnly(GpuBaseTexture* t) {
        device->SetTexture(0, t);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    }
    // Fills a level with one 32-bit texel pattern given per (x, y).
    template <typename F>
    void fill(GpuTexture* t, uint32_t level, uint32_t w, uint32_t h, F texel) {
        D3DLOCKED_RECT r;
        ASSERT_EQ(t->LockRect(level, &r, nullptr, 0), D3D_OK);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                static_cast<uint32_t*>(r.pBits)[y * (r.Pitch / 4) + x] = texel(x, y);
        ASSERT_EQ(t->UnlockRect(0 + level), D3D_OK);
    }
    // Draws the texture over an 8-pixel-wide strip at the top with u from 0 to u1.
    std::vector<uint32_t> strip(float u1, float v1 = 1) {
        EXPECT_EQ(device->BeginScene(), D3D_OK);
        clear(0xFF000000);
        drawQuad(-0.5f, -0.5f, 7.5f, 0.5f, 0xFFFFFFFF, 0.5f, 0, 0, u1, v1);
        EXPECT_EQ(device->EndScene(), D3D_OK);
        std::vector<uint32_t> p = readTarget();
        return std::vector<uint32_t>(p.begin(), p.begin() + 8);
    }
};

constexpr uint32_t R = 0xFFFF0000, G = 0xFF00FF00, B = 0xFF0000FF;

} // namespace

TEST_F(TextureTest, everyEmulatedFormatSamplesWithItsChannels) {
    struct Case {
        D3DFORMAT format;
        uint32_t texel; // bytes as stored, little-endian
        D3DCOLOR expected;
    } cases[] = {
        {D3DFMT_A8R8G8B8, 0x80402010, 0x80402010},
        {D3DFMT_X8R8G8B8, 0x00402010, 0xFF402010}, // the unused byte reads as opaque
        {D3DFMT_R5G6B5, 0xF81F, 0xFFFF00FF},       // red and blue full, green 0
        {D3DFMT_R5G6B5, 0x07E0, 0xFF00FF00},
        {D3DFMT_X1R5G5B5, 0x001F, 0xFF0000FF},
        {D3DFMT_A1R5G5B5, 0x7C00, 0x00FF0000}, // alpha bit clear
        {D3DFMT_A1R5G5B5, 0x83E0, 0xFF00FF00},
        {D3DFMT_A4R4G4B4, 0x8F0F, argb(0x88, 0xFF, 0x00, 0xFF)},
        {D3DFMT_X4R4G4B4, 0x0F00, 0xFFFF0000},
        {D3DFMT_A8, 0x80, 0x80FFFFFF}, // no colour channels: white
        {D3DFMT_L8, 0x40, 0xFF404040},
        {D3DFMT_A8L8, 0x8040, 0x80404040}, // luminance low byte, alpha high byte
    };
    for (const Case& c : cases) {
        GpuTexture* t = nullptr;
        ASSERT_EQ(device->CreateTexture(1, 1, 1, 0, c.format, D3DPOOL_MANAGED, &t), D3D_OK)
            << c.format;
        D3DLOCKED_RECT r;
        ASSERT_EQ(t->LockRect(0, &r, nullptr, 0), D3D_OK);
        memcpy(r.pBits, &c.texel, gpuFormatBytes(c.format));
        ASSERT_EQ(t->UnlockRect(0), D3D_OK);
        useTextureOnly(t);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        clear(0);
        drawFull(0xFFFFFFFF);
        ASSERT_EQ(device->EndScene(), D3D_OK);
        EXPECT_TRUE(colorNear(pixel(3, 3), c.expected, 1)) << "format " << c.format;
        t->Release();
    }
}

TEST_F(TextureTest, addressingWrapMirrorClampBorder) {
    GpuTexture* t = nullptr;
    ASSERT_EQ(device->CreateTexture(2, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
    fill(t, 0, 2, 1, [](uint32_t x, uint32_t) { return x == 0 ? R : G; });
    useTextureOnly(t);
    // u runs 0..2 over 8 pixels: pixel i samples u = (i + 0.5) / 4.
    struct Case {
        uint32_t mode;
        std::vector<uint32_t> expected;
    } cases[] = {
        {D3DTADDRESS_WRAP, {R, R, G, G, R, R, G, G}},
        {D3DTADDRESS_MIRROR, {R, R, G, G, G, G, R, R}},
        {D3DTADDRESS_CLAMP, {R, R, G, G, G, G, G, G}},
        {D3DTADDRESS_BORDER, {R, R, G, G, B, B, B, B}},
    };
    device->SetTextureStageState(0, D3DTSS_BORDERCOLOR, B);
    for (const Case& c : cases) {
        device->SetTextureStageState(0, D3DTSS_ADDRESSU, c.mode);
        EXPECT_EQ(strip(2.0f), c.expected) << "mode " << c.mode;
    }
    t->Release();
}

TEST_F(TextureTest, pointAndLinearMagnification) {
    GpuTexture* t = nullptr;
    ASSERT_EQ(device->CreateTexture(2, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
    fill(t, 0, 2, 1, [](uint32_t x, uint32_t) { return x == 0 ? 0xFF000000u : 0xFFFFFFFFu; });
    useTextureOnly(t);
    device->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
    std::vector<uint32_t> point = strip(1.0f);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(point[i] & 0xFF, i < 4 ? 0u : 255u) << i;
    device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    std::vector<uint32_t> linear = strip(1.0f);
    // Texel-space position of pixel i: (i + 0.5) / 8 * 2 - 0.5; weight of the white texel is
    // that position clamped to 0..1.
    for (int i = 0; i < 8; ++i) {
        float w = std::clamp((i + 0.5f) / 4 - 0.5f, 0.0f, 1.0f);
        EXPECT_NEAR(int(linear[i] & 0xFF), w * 255, 2) << i;
    }
    t->Release();
}

TEST_F(TextureTest, mipLevelsAreChosenByScreenSize) {
    GpuTexture* t = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
    EXPECT_EQ(t->GetLevelCount(), 4u);
    const uint32_t colors[4] = {R, G, B, 0xFFFFFFFF};
    for (uint32_t level = 0; level < 4; ++level) {
        uint32_t side = 8 >> level;
        fill(t, level, side, side, [&](uint32_t, uint32_t) { return colors[level]; });
    }
    useTextureOnly(t);
    device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_POINT);
    auto drawSized = [&](float size) {
        EXPECT_EQ(device->BeginScene(), D3D_OK);
        clear(0);
        drawQuad(-0.5f, -0.5f, size - 0.5f, size - 0.5f, 0xFFFFFFFF);
        EXPECT_EQ(device->EndScene(), D3D_OK);
        return pixel(0, 0);
    };
    device->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_NONE);
    EXPECT_EQ(drawSized(2), R); // no mip filter: always the top level
    device->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_POINT);
    EXPECT_EQ(drawSized(8), R); // one texel per pixel: level 0
    EXPECT_EQ(drawSized(4), G); // 2 texels per pixel: level 1
    EXPECT_EQ(drawSized(2), B); // 4 texels per pixel: level 2
    // Linear between levels 1 and 2 half way: the lod bias moves 4 pixels to lod 1.5.
    device->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_LINEAR);
    float bias = 0.5f;
    uint32_t bits;
    memcpy(&bits, &bias, 4);
    device->SetTextureStageState(0, D3DTSS_MIPMAPLODBIAS, bits);
    EXPECT_TRUE(colorNear(drawSized(4), argb(255, 0, 128, 128), 8));
    t->Release();
}

TEST_F(TextureTest, renderToTextureIsSampledTheRightWayUp) {
    GpuTexture* target = nullptr;
    ASSERT_EQ(device->CreateTexture(32, 32, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8,
                                    D3DPOOL_DEFAULT, &target),
              D3D_OK);
    GpuSurface* surface = nullptr;
    ASSERT_EQ(target->GetSurfaceLevel(0, &surface), D3D_OK);
    GpuSurface *back = nullptr, *depth = nullptr;
    device->GetRenderTarget(&back);
    device->GetDepthStencilSurface(&depth);
    ASSERT_EQ(device->SetRenderTarget(surface, nullptr), D3D_OK);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, B, 1, 0), D3D_OK);
    drawQuad(-0.5f, -0.5f, 15.5f, 15.5f, R); // the top-left quarter
    ASSERT_EQ(device->EndScene(), D3D_OK);
    std::vector<uint32_t> texels = readTarget(surface);
    EXPECT_EQ(texels[0], R);
    EXPECT_EQ(texels[31 * 32], B);
    ASSERT_EQ(device->SetRenderTarget(back, depth), D3D_OK);
    useTextureOnly(target);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0);
    drawFull(0xFFFFFFFF);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    std::vector<uint32_t> p = readTarget();
    EXPECT_EQ(p[0], R);          // top-left
    EXPECT_EQ(p[63 * kSize], B); // bottom-left
    EXPECT_EQ(p[63], B);         // top-right
    device->SetTexture(0, nullptr);
    surface->Release();
    back->Release();
    depth->Release();
    target->Release();
}

TEST_F(TextureTest, cameraSpaceReflectionWithCountTwoTransform) {
    // Columns 0..3 of a 4x4 texture are red, green, blue, white; rows get alpha 0x40 * (row + 1).
    GpuTexture* t = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
    const uint32_t columns[4] = {R, G, B, 0xFFFFFFFF};
    fill(t, 0, 4, 4, [&](uint32_t x, uint32_t y) {
        return (columns[x] & 0xFFFFFF) | ((0x40u * (y + 1) - 1) << 24);
    });
    useTextureOnly(t);
    device->SetRenderState(D3DRS_LOCALVIEWER, 0);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    // u = 0.5 rx + 0.5, v = -0.5 ry + 0.5
    D3DMATRIX m;
    m.m[0][0] = 0.5f, m.m[1][1] = -0.5f, m.m[3][0] = 0.5f, m.m[3][1] = 0.5f, m.m[2][2] = 1;
    ASSERT_EQ(device->SetTransform(D3DTS_TEXTURE0, &m), D3D_OK);
    struct Vtx {
        float x, y, z, nx, ny, nz;
    };
    // With the eye direction E = (0, 0, -1): R = 2 (E.N) N - E.
    struct Case {
        float nx, ny, nz;
        uint32_t column, row;
    } cases[] = {
        {0.6f, 0, -0.8f, 3, 2},  // R = (0.96, 0, -0.28): u 0.98, v 0.5
        {-0.6f, 0, -0.8f, 0, 2}, // u 0.02
        {0, 0.6f, -0.8f, 2, 0},  // R = (0, 0.96, -0.28): u 0.5, v 0.02
    };
    for (const Case& c : cases) {
        Vtx v[4] = {{-1, 1, 0.5f, c.nx, c.ny, c.nz},
                    {1, 1, 0.5f, c.nx, c.ny, c.nz},
                    {-1, -1, 0.5f, c.nx, c.ny, c.nz},
                    {1, -1, 0.5f, c.nx, c.ny, c.nz}};
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        clear(0);
        device->SetVertexShader(D3DFVF_XYZ | D3DFVF_NORMAL);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(Vtx)), D3D_OK);
        ASSERT_EQ(device->EndScene(), D3D_OK);
        uint32_t expected = (columns[c.column] & 0xFFFFFF) | ((0x40u * (c.row + 1) - 1) << 24);
        EXPECT_EQ(pixel(30, 30), expected) << c.nx << " " << c.ny;
    }
    t->Release();
}

TEST_F(TextureTest, cubeFacesAreLookedUpByCameraSpaceNormal) {
    GpuCubeTexture* cube = nullptr;
    ASSERT_EQ(device->CreateCubeTexture(4, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &cube), D3D_OK);
    const uint32_t faces[6] = {0xFF100000, 0xFF200000, 0xFF300000,
                               0xFF400000, 0xFF500000, 0xFF600000};
    for (uint32_t f = 0; f < 6; ++f) {
        D3DLOCKED_RECT r;
        ASSERT_EQ(cube->LockRect(D3DCUBEMAP_FACES(f), 0, &r, nullptr, 0), D3D_OK);
        for (int i = 0; i < 16; ++i)
            static_cast<uint32_t*>(r.pBits)[i] = faces[f];
        ASSERT_EQ(cube->UnlockRect(D3DCUBEMAP_FACES(f), 0), D3D_OK);
    }
    useTextureOnly(cube);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL);
    struct Vtx {
        float x, y, z, nx, ny, nz;
    };
    const float normals[6][3] = {{1, 0, 0},  {-1, 0, 0}, {0, 1, 0},
                                 {0, -1, 0}, {0, 0, 1},  {0, 0, -1}};
    for (uint32_t f = 0; f < 6; ++f) {
        const float* n = normals[f];
        Vtx v[4] = {{-1, 1, 0.5f, n[0], n[1], n[2]},
                    {1, 1, 0.5f, n[0], n[1], n[2]},
                    {-1, -1, 0.5f, n[0], n[1], n[2]},
                    {1, -1, 0.5f, n[0], n[1], n[2]}};
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        clear(0);
        device->SetVertexShader(D3DFVF_XYZ | D3DFVF_NORMAL);
        device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(Vtx));
        ASSERT_EQ(device->EndScene(), D3D_OK);
        EXPECT_EQ(pixel(32, 32), faces[f]) << "face " << f;
    }
    cube->Release();
}

TEST_F(TextureTest, updateTextureCopiesSystemMemoryLevelsToTheDefaultPool) {
    GpuTexture *source = nullptr, *target = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &source),
              D3D_OK);
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target), D3D_OK);
    fill(source, 0, 4, 4, [](uint32_t, uint32_t) { return G; });
    D3DLOCKED_RECT r;
    EXPECT_EQ(target->LockRect(0, &r, nullptr, 0),
              D3DERR_INVALIDCALL);                                // default pool: not lockable
    EXPECT_EQ(device->SetTexture(0, source), D3DERR_INVALIDCALL); // system memory: not drawable
    ASSERT_EQ(device->UpdateTexture(source, target), D3D_OK);
    useTextureOnly(target);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0);
    drawFull(0xFFFFFFFF);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(pixel(10, 10), G);
    device->SetTexture(0, nullptr);
    source->Release();
    target->Release();
}

TEST_F(TextureTest, projectedCoordinatesAndCameraSpacePositions) {
    GpuTexture* t = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
    fill(t, 0, 4, 4,
         [](uint32_t x, uint32_t y) { return 0xFF000000u | (x * 0x40u << 16) | (y * 0x40u << 8); });
    useTextureOnly(t);
    // Three-component coordinates divided by the third: (0.5w, 0.25w, w) samples (0.5, 0.25).
    struct Vtx3 {
        float x, y, z, u, v, w;
    };
    const float w = 2.0f;
    Vtx3 v3[4] = {{-1, 1, 0.5f, 0.5f * w, 0.25f * w, w},
                  {1, 1, 0.5f, 0.5f * w, 0.25f * w, w},
                  {-1, -1, 0.5f, 0.5f * w, 0.25f * w, w},
                  {1, -1, 0.5f, 0.5f * w, 0.25f * w, w}};
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS,
                                 D3DTTFF_COUNT3 | D3DTTFF_PROJECTED);
    D3DMATRIX identity;
    device->SetTransform(D3DTS_TEXTURE0, &identity);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0);
    device->SetVertexShader(D3DFVF_XYZ | D3DFVF_TEX1 | D3DFVF_TEXCOORDSIZE3(0));
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v3, sizeof(Vtx3)), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(pixel(30, 30), 0xFF804000u); // column 2, row 1
    // Camera-space position through a count-2 transform: u = 0.5 x + 0.5, v = -0.5 y + 0.5.
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEPOSITION);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    D3DMATRIX m;
    m.m[0][0] = 0.5f, m.m[1][1] = -0.5f, m.m[3][0] = 0.5f, m.m[3][1] = 0.5f;
    device->SetTransform(D3DTS_TEXTURE0, &m);
    struct Vtx {
        float x, y, z;
    } v[4] = {{-1, 1, 0.5f}, {1, 1, 0.5f}, {-1, -1, 0.5f}, {1, -1, 0.5f}};
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0);
    device->SetVertexShader(D3DFVF_XYZ);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(Vtx)), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(pixel(2, 2), 0xFF000000u);   // top-left of the screen: texel (0, 0)
    EXPECT_EQ(pixel(61, 61), 0xFFC0C000u); // bottom-right: texel (3, 3)
    EXPECT_EQ(pixel(61, 2), 0xFFC00000u);  // top-right: texel (3, 0)
    t->Release();
}

TEST_F(TextureTest, transformedGeometryUsesIntegerPixelCentres) {
    // Screen x = (ndc + 1) * 32 with pixel i centred on x = i. A quad from x = 0 to 10.3
    // covers pixels 0..10; one from 0 to 9.7 covers 0..9.
    struct Vtx {
        float x, y, z;
        D3DCOLOR c;
        float u, v;
    };
    auto ndc = [](float screen) { return screen / 32.0f - 1.0f; };
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    device->SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    for (float right : {10.3f, 9.7f}) {
        float r = ndc(right);
        Vtx v[4] = {{-1, 1, 0.5f, 0xFFFFFFFF, 0, 0},
                    {r, 1, 0.5f, 0xFFFFFFFF, 0, 0},
                    {-1, -1, 0.5f, 0xFFFFFFFF, 0, 0},
                    {r, -1, 0.5f, 0xFFFFFFFF, 0, 0}};
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        clear(0xFF000000);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(Vtx)), D3D_OK);
        ASSERT_EQ(device->EndScene(), D3D_OK);
        EXPECT_EQ(pixel(9, 5), 0xFFFFFFFFu) << right;
        EXPECT_EQ(pixel(10, 5), right > 10 ? 0xFFFFFFFFu : 0xFF000000u) << right;
        EXPECT_EQ(pixel(11, 5), 0xFF000000u) << right;
    }
    // A full-target quad maps pixel i's centre to u = i / 64: a texel edge of a 64-texel
    // texture, so linear filtering blends neighbours half and half.
    GpuTexture* t = nullptr;
    ASSERT_EQ(device->CreateTexture(64, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), D3D_OK);
    fill(t, 0, 64, 1, [](uint32_t x, uint32_t) { return x % 2 ? 0xFFFFFFFFu : 0xFF000000u; });
    useTextureOnly(t);
    device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    Vtx full[4] = {{-1, 1, 0.5f, 0xFFFFFFFF, 0, 0},
                   {1, 1, 0.5f, 0xFFFFFFFF, 1, 0},
                   {-1, -1, 0.5f, 0xFFFFFFFF, 0, 1},
                   {1, -1, 0.5f, 0xFFFFFFFF, 1, 1}};
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, full, sizeof(Vtx)), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    for (int x : {5, 6, 31, 32})
        EXPECT_NEAR(channel(pixel(x, 0), 0), 128, 3) << x;
    t->Release();
}

TEST_F(TextureTest, locksOfLevelsAndRectanglesAndTheirMisuse) {
    GpuTexture* t = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 4, 0, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED, &t), D3D_OK);
    EXPECT_EQ(t->GetLevelCount(), 4u); // 8x4, 4x2, 2x1, 1x1
    D3DSURFACE_DESC desc;
    ASSERT_EQ(t->GetLevelDesc(2, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 2u);
    EXPECT_EQ(desc.Height, 1u);
    EXPECT_EQ(desc.Format, D3DFMT_R5G6B5);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
    EXPECT_EQ(t->GetLevelDesc(4, &desc), D3DERR_INVALIDCALL);
    D3DLOCKED_RECT r;
    RECT outside{0, 0, 9, 4};
    EXPECT_EQ(t->LockRect(0, &r, &outside, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(t->UnlockRect(0), D3DERR_INVALIDCALL); // not locked
    // A rectangle lock points at its top-left texel with the level's pitch.
    RECT inner{2, 1, 4, 3};
    ASSERT_EQ(t->LockRect(0, &r, &inner, 0), D3D_OK);
    EXPECT_EQ(r.Pitch, 16);
    EXPECT_EQ(t->LockRect(0, &r, nullptr, 0), D3DERR_INVALIDCALL); // already locked
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(r.pBits) + y * r.Pitch)[x] = 0x07E0;
    ASSERT_EQ(t->UnlockRect(0), D3D_OK);
    // A read-only lock sees the texels and changes nothing.
    ASSERT_EQ(t->LockRect(0, &r, nullptr, D3DLOCK_READONLY), D3D_OK);
    const uint16_t* texels = static_cast<const uint16_t*>(r.pBits);
    EXPECT_EQ(texels[1 * 8 + 2], 0x07E0);
    EXPECT_EQ(texels[0], 0);
    ASSERT_EQ(t->UnlockRect(0), D3D_OK);
    GpuSurface* level = nullptr;
    ASSERT_EQ(t->GetSurfaceLevel(1, &level), D3D_OK);
    ASSERT_EQ(level->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Width, 4u);
    ASSERT_EQ(level->LockRect(&r, nullptr, 0), D3D_OK); // through the surface
    ASSERT_EQ(level->UnlockRect(), D3D_OK);
    EXPECT_EQ(t->GetSurfaceLevel(4, &level), D3DERR_INVALIDCALL);
    level->Release();
    // Point sampling shows the green rectangle in the level.
    useTextureOnly(t);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0);
    drawQuad(-0.5f, -0.5f, 7.5f, 3.5f, 0xFFFFFFFF); // one pixel per texel
    ASSERT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(pixel(2, 1), 0xFF00FF00u);
    EXPECT_EQ(pixel(3, 2), 0xFF00FF00u);
    EXPECT_EQ(pixel(1, 1), 0xFF000000u);
    EXPECT_EQ(pixel(4, 2), 0xFF000000u);
    t->Release();
}
