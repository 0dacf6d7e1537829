// Rasterisation, texture stage operations, lighting, alpha test, blending, depth, culling and
// shading, checked against values computed from the Direct3D 8 equations.
#include "gpu_fixture.h"

#include <algorithm>
#include <functional>

namespace {

struct Color {
    float a, r, g, b;
};
Color unpack(D3DCOLOR c) {
    return {channel(c, 24) / 255.0f, channel(c, 16) / 255.0f, channel(c, 8) / 255.0f,
            channel(c, 0) / 255.0f};
}
float sat(float v) {
    return std::clamp(v, 0.0f, 1.0f);
}
D3DCOLOR pack(Color c) {
    auto q = [](float v) { return int(std::lround(sat(v) * 255.0f)); };
    return argb(q(c.a), q(c.r), q(c.g), q(c.b));
}
Color perChannel(Color x, Color y, const std::function<float(float, float)>& f) {
    return {f(x.a, y.a), f(x.r, y.r), f(x.g, y.g), f(x.b, y.b)};
}

struct LitVertex {
    float x, y, z, nx, ny, nz;
    D3DCOLOR diffuse, specular;
};
constexpr uint32_t kLitFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR;

struct PipelineTest : GpuFixture {
    GpuTexture* solidTexture(D3DCOLOR color, uint32_t size = 2) {
        GpuTexture* t = nullptr;
        EXPECT_EQ(device->CreateTexture(size, size, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t),
                  D3D_OK);
        D3DLOCKED_RECT r;
        EXPECT_EQ(t->LockRect(0, &r, nullptr, 0), D3D_OK);
        for (uint32_t y = 0; y < size; ++y)
            for (uint32_t x = 0; x < size; ++x)
                static_cast<uint32_t*>(r.pBits)[y * r.Pitch / 4 + x] = color;
        EXPECT_EQ(t->UnlockRect(0), D3D_OK);
        return t;
    }
    // A quad in clip space at depth z, all normals n, same colours at every vertex.
    void drawLitQuad(float nx, float ny, float nz, D3DCOLOR diffuse, D3DCOLOR specular,
                     float z = 0.5f) {
        LitVertex v[4] = {{-1, 1, z, nx, ny, nz, diffuse, specular},
                          {1, 1, z, nx, ny, nz, diffuse, specular},
                          {-1, -1, z, nx, ny, nz, diffuse, specular},
                          {1, -1, z, nx, ny, nz, diffuse, specular}};
        ASSERT_EQ(device->SetVertexShader(kLitFvf), D3D_OK);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(LitVertex)), D3D_OK);
    }
};

constexpr D3DCOLOR kTexel = 0x804080C0;   // a=0.50 r=0.25 g=0.50 b=0.75
constexpr D3DCOLOR kDiffuse = 0x408020FF; // a=0.25 r=0.50 g=0.13 b=1.00
constexpr D3DCOLOR kFactor = 0x20109060;

} // namespace

TEST_F(PipelineTest, pretransformedQuadCoversPixelCentresOnIntegers) {
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0xFF000000);
    drawQuad(10, 5, 20, 15, 0xFFFFFFFF);        // centres 10..19 x 5..14
    drawQuad(30.4f, 30, 40.4f, 31, 0xFF00FF00); // centres 31..40 on row 30
    ASSERT_EQ(device->EndScene(), D3D_OK);
    std::vector<uint32_t> p = readTarget();
    auto at = [&](int x, int y) { return p[size_t(y) * kSize + size_t(x)]; };
    for (int y = 4; y <= 15; ++y)
        for (int x = 9; x <= 20; ++x) {
            bool inside = x >= 10 && x <= 19 && y >= 5 && y <= 14;
            EXPECT_EQ(at(x, y), inside ? 0xFFFFFFFFu : 0xFF000000u) << x << "," << y;
        }
    EXPECT_EQ(at(30, 30), 0xFF000000u);
    EXPECT_EQ(at(31, 30), 0xFF00FF00u);
    EXPECT_EQ(at(40, 30), 0xFF00FF00u);
    EXPECT_EQ(at(41, 30), 0xFF000000u);
    EXPECT_EQ(at(35, 31), 0xFF000000u);
}

TEST_F(PipelineTest, everyTextureOperationFollowsItsEquation) {
    GpuTexture* tex = solidTexture(kTexel);
    Color t = unpack(kTexel), d = unpack(kDiffuse), f = unpack(kFactor);
    auto mod = [](float x, float y) { return x * y; };
    struct Case {
        uint32_t op;
        Color expected;
    };
    auto blend = [&](Color x, Color y, float a) {
        return perChannel(x, y, [a](float p, float q) { return p * a + q * (1 - a); });
    };
    float dot = sat(
        4 * ((t.r - .5f) * (d.r - .5f) + (t.g - .5f) * (d.g - .5f) + (t.b - .5f) * (d.b - .5f)));
    std::vector<Case> cases = {
        {D3DTOP_SELECTARG1, t},
        {D3DTOP_SELECTARG2, d},
        {D3DTOP_MODULATE, perChannel(t, d, mod)},
        {D3DTOP_MODULATE2X, perChannel(t, d, [](float x, float y) { return 2 * x * y; })},
        {D3DTOP_MODULATE4X, perChannel(t, d, [](float x, float y) { return 4 * x * y; })},
        {D3DTOP_ADD, perChannel(t, d, [](float x, float y) { return x + y; })},
        {D3DTOP_ADDSIGNED, perChannel(t, d, [](float x, float y) { return x + y - 0.5f; })},
        {D3DTOP_ADDSIGNED2X, perChannel(t, d, [](float x, float y) { return 2 * (x + y - 0.5f); })},
        {D3DTOP_SUBTRACT, perChannel(t, d, [](float x, float y) { return x - y; })},
        {D3DTOP_ADDSMOOTH, perChannel(t, d, [](float x, float y) { return x + y - x * y; })},
        {D3DTOP_BLENDDIFFUSEALPHA, blend(t, d, d.a)},
        {D3DTOP_BLENDTEXTUREALPHA, blend(t, d, t.a)},
        {D3DTOP_BLENDFACTORALPHA, blend(t, d, f.a)},
        {D3DTOP_BLENDCURRENTALPHA, blend(t, d, d.a)}, // stage 0: current is the diffuse colour
        {D3DTOP_BLENDTEXTUREALPHAPM,
         perChannel(t, d, [&](float x, float y) { return x + y * (1 - t.a); })},
        {D3DTOP_MODULATEALPHA_ADDCOLOR, {0, t.r + t.a * d.r, t.g + t.a * d.g, t.b + t.a * d.b}},
        {D3DTOP_MODULATECOLOR_ADDALPHA, {0, t.r * d.r + t.a, t.g * d.g + t.a, t.b * d.b + t.a}},
        {D3DTOP_MODULATEINVALPHA_ADDCOLOR,
         {0, (1 - t.a) * d.r + t.r, (1 - t.a) * d.g + t.g, (1 - t.a) * d.b + t.b}},
        {D3DTOP_MODULATEINVCOLOR_ADDALPHA,
         {0, (1 - t.r) * d.r + t.a, (1 - t.g) * d.g + t.a, (1 - t.b) * d.b + t.a}},
        {D3DTOP_DOTPRODUCT3, {dot, dot, dot, dot}},
        {D3DTOP_MULTIPLYADD, {0, f.r + t.r * d.r, f.g + t.g * d.g, f.b + t.b * d.b}},
        {D3DTOP_LERP,
         {0, f.r * t.r + (1 - f.r) * d.r, f.g * t.g + (1 - f.g) * d.g,
          f.b * t.b + (1 - f.b) * d.b}},
    };
    ASSERT_EQ(device->SetTexture(0, tex), D3D_OK);
    device->SetRenderState(D3DRS_TEXTUREFACTOR, kFactor);
    device->SetTextureStageState(0, D3DTSS_COLORARG0, D3DTA_TFACTOR);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    for (const Case& c : cases) {
        device->SetTextureStageState(0, D3DTSS_COLOROP, c.op);
        // The alpha channel: modulate for every case except the dot product, which fills alpha too.
        device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        clear(0);
        drawFull(kDiffuse);
        ASSERT_EQ(device->EndScene(), D3D_OK);
        Color expected = c.expected;
        if (c.op != D3DTOP_DOTPRODUCT3) expected.a = t.a * d.a;
        EXPECT_TRUE(colorNear(pixel(5, 5), pack(expected))) << "op " << c.op;
    }
    tex->Release();
}

TEST_F(PipelineTest, argumentModifiersComplementAndReplicateAlpha) {
    GpuTexture* tex = solidTexture(kTexel);
    Color t = unpack(kTexel);
    device->SetTexture(0, tex);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    struct Case {
        uint32_t arg;
        Color expected;
    } cases[] = {
        {D3DTA_TEXTURE | D3DTA_COMPLEMENT, {1 - t.a, 1 - t.r, 1 - t.g, 1 - t.b}},
        {D3DTA_TEXTURE | D3DTA_ALPHAREPLICATE, {t.a, t.a, t.a, t.a}},
        {D3DTA_TEXTURE | D3DTA_ALPHAREPLICATE | D3DTA_COMPLEMENT,
         {1 - t.a, 1 - t.a, 1 - t.a, 1 - t.a}},
        {D3DTA_TFACTOR | D3DTA_COMPLEMENT,
         {1 - unpack(kFactor).a, 1 - unpack(kFactor).r, 1 - unpack(kFactor).g,
          1 - unpack(kFactor).b}},
    };
    device->SetRenderState(D3DRS_TEXTUREFACTOR, kFactor);
    for (const Case& c : cases) {
        device->SetTextureStageState(0, D3DTSS_COLORARG1, c.arg);
        device->SetTextureStageState(0, D3DTSS_ALPHAARG1, c.arg & ~D3DTA_ALPHAREPLICATE);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        clear(0);
        drawFull(kDiffuse);
        ASSERT_EQ(device->EndScene(), D3D_OK);
        EXPECT_TRUE(colorNear(pixel(7, 7), pack(c.expected))) << "arg 0x" << std::hex << c.arg;
    }
    tex->Release();
}

TEST_F(PipelineTest, stagesChainThroughCurrentAndTemp) {
    GpuTexture* tex = solidTexture(kTexel);
    Color t = unpack(kTexel), d = unpack(kDiffuse), f = unpack(kFactor);
    device->SetTexture(0, tex);
    device->SetRenderState(D3DRS_TEXTUREFACTOR, kFactor);
    // Stage 0 puts the texture in TEMP, stage 1 takes the factor, stage 2 multiplies TEMP by it.
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_RESULTARG, D3DTA_TEMP);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
    device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
    device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TFACTOR);
    device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    device->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(2, D3DTSS_COLORARG1, D3DTA_CURRENT);
    device->SetTextureStageState(2, D3DTSS_COLORARG2, D3DTA_TEMP);
    device->SetTextureStageState(2, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(2, D3DTSS_ALPHAARG1, D3DTA_CURRENT);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0);
    drawFull(kDiffuse);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    Color expected{d.a, sat(d.r + f.r) * t.r, sat(d.g + f.g) * t.g, sat(d.b + f.b) * t.b};
    EXPECT_TRUE(colorNear(pixel(3, 3), pack(expected)));
    tex->Release();
}

TEST_F(PipelineTest, pointLightAttenuatesWithDistanceAndStopsAtRange) {
    device->SetRenderState(D3DRS_LIGHTING, 1);
    D3DMATERIAL8 m;
    m.Diffuse = {1, 1, 1, 1};
    device->SetMaterial(&m);
    device->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
    D3DLIGHT8 light;
    light.Type = D3DLIGHT_POINT;
    light.Diffuse = {1, 1, 1, 1};
    light.Position = {0, 0, -2};
    light.Attenuation0 = 0.5f;
    light.Attenuation2 = 0.1f;
    // Every corner (+-1, +-1, 0.5) lies at distance sqrt(8.25) from the light.
    float distance = std::sqrt(8.25f);
    float nl = 2.5f / distance;
    struct Case {
        float range;
        float expected;
    } cases[] = {{3.0f, nl / (0.5f + 0.1f * 8.25f)}, {2.8f, 0.0f}};
    for (const Case& c : cases) {
        light.Range = c.range;
        ASSERT_EQ(device->SetLight(0, &light), D3D_OK);
        ASSERT_EQ(device->LightEnable(0, true), D3D_OK);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        clear(0xFF0000FF);
        drawLitQuad(0, 0, -1, 0xFFFFFFFF, 0);
        ASSERT_EQ(device->EndScene(), D3D_OK);
        int v = int(std::lround(c.expected * 255));
        EXPECT_TRUE(colorNear(pixel(32, 32), argb(255, v, v, v))) << "range " << c.range;
    }
}

TEST_F(PipelineTest, spotLightConeFullInsidePartialInPenumbraNoneOutside) {
    device->SetRenderState(D3DRS_LIGHTING, 1);
    D3DMATERIAL8 m;
    m.Diffuse = {1, 1, 1, 1};
    device->SetMaterial(&m);
    device->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
    D3DLIGHT8 light;
    light.Type = D3DLIGHT_SPOT;
    light.Diffuse = {1, 1, 1, 1};
    light.Position = {0, 0, -2};
    light.Direction = {0, 0, 1};
    light.Range = 100;
    light.Attenuation0 = 1;
    light.Falloff = 1;
    float distance = std::sqrt(8.25f);
    float rho = 2.5f / distance; // cosine of the angle between the axis and each corner
    float nl = rho;
    const float degree = 3.14159265f / 180;
    struct Case {
        float theta, phi, expected;
    } cases[] = {
        {70 * degree, 80 * degree, nl},
        {40 * degree, 80 * degree,
         nl * (rho - std::cos(40 * degree)) / (std::cos(20 * degree) - std::cos(40 * degree))},
        {20 * degree, 50 * degree, 0},
    };
    for (const Case& c : cases) {
        light.Theta = c.theta;
        light.Phi = c.phi;
        ASSERT_EQ(device->SetLight(0, &light), D3D_OK);
        device->LightEnable(0, true);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        clear(0xFF000000);
        drawLitQuad(0, 0, -1, 0xFFFFFFFF, 0);
        ASSERT_EQ(device->EndScene(), D3D_OK);
        int v = int(std::lround(c.expected * 255));
        EXPECT_TRUE(colorNear(pixel(32, 32), argb(255, v, v, v)))
            << c.theta / degree << " " << c.phi / degree;
    }
}

TEST_F(PipelineTest, materialColourSourcesAndSpecular) {
    device->SetRenderState(D3DRS_LIGHTING, 1);
    D3DMATERIAL8 m;
    m.Diffuse = {0, 0.5f, 0, 1}; // r, g, b, a
    m.Ambient = {0.2f, 0.2f, 0.2f, 1};
    m.Emissive = {0.1f, 0, 0, 0};
    m.Specular = {0, 0, 0.4f, 1};
    m.Power = 8;
    device->SetMaterial(&m);
    device->SetRenderState(D3DRS_AMBIENT, 0xFF808080);
    D3DLIGHT8 light;
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {0.5f, 0.5f, 0.5f, 1};
    light.Specular = {1, 1, 1, 1};
    light.Direction = {0, 0, 1}; // straight at the quad, whose normals face the viewer
    device->SetLight(0, &light);
    device->LightEnable(0, true);
    device->SetRenderState(D3DRS_LOCALVIEWER, 0);
    const D3DCOLOR vertexDiffuse = 0xFF4080C0, vertexSpecular = 0xFF00FF00;
    Color vd = unpack(vertexDiffuse), vs = unpack(vertexSpecular);
    float amb = 128 / 255.0f;
    struct Case {
        uint32_t diffuseSource, ambientSource, emissiveSource;
        bool specular;
        Color expected;
    } cases[] = {
        // Material only: emissive + ambient * global ambient + diffuse * light diffuse (N.L = 1).
        {D3DMCS_MATERIAL,
         D3DMCS_MATERIAL,
         D3DMCS_MATERIAL,
         false,
         {0, 0.1f + 0.2f * amb + 0 * 0.5f, 0.2f * amb + 0.5f * 0.5f, 0.2f * amb + 0}},
        // Diffuse from the vertex colour.
        {D3DMCS_COLOR1,
         D3DMCS_MATERIAL,
         D3DMCS_MATERIAL,
         false,
         {0, 0.1f + 0.2f * amb + vd.r * 0.5f, 0.2f * amb + vd.g * 0.5f, 0.2f * amb + vd.b * 0.5f}},
        // Ambient from the vertex colour, emissive from the specular colour.
        {D3DMCS_MATERIAL,
         D3DMCS_COLOR1,
         D3DMCS_COLOR2,
         false,
         {0, vs.r + vd.r * amb, vs.g + vd.g * amb + 0.25f, vs.b + vd.b * amb}},
        // Specular: H = N with a distant viewer, so N.H = 1 and the material specular is added.
        {D3DMCS_MATERIAL,
         D3DMCS_MATERIAL,
         D3DMCS_MATERIAL,
         true,
         {0, 0.1f + 0.2f * amb, 0.2f * amb + 0.25f, 0.2f * amb + 0.4f}},
    };
    device->SetRenderState(D3DRS_SPECULARMATERIALSOURCE, D3DMCS_MATERIAL);
    for (const Case& c : cases) {
        device->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, c.diffuseSource);
        device->SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, c.ambientSource);
        device->SetRenderState(D3DRS_EMISSIVEMATERIALSOURCE, c.emissiveSource);
        device->SetRenderState(D3DRS_SPECULARENABLE, c.specular);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        clear(0);
        drawLitQuad(0, 0, -1, vertexDiffuse, vertexSpecular);
        ASSERT_EQ(device->EndScene(), D3D_OK);
        Color e = c.expected;
        uint32_t p = pixel(20, 20);
        EXPECT_TRUE(colorNear(p & 0xFFFFFF, pack(e) & 0xFFFFFF))
            << c.diffuseSource << c.ambientSource << c.emissiveSource;
    }
}

TEST_F(PipelineTest, alphaTestComparesWithEveryFunction) {
    device->SetRenderState(D3DRS_ALPHATESTENABLE, 1);
    device->SetRenderState(D3DRS_ALPHAREF, 0x80);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    for (uint32_t func = D3DCMP_NEVER; func <= D3DCMP_ALWAYS; ++func)
        for (int alpha : {0x7F, 0x80, 0x81}) {
            device->SetRenderState(D3DRS_ALPHAFUNC, func);
            ASSERT_EQ(device->BeginScene(), D3D_OK);
            clear(0xFF000000);
            drawFull(argb(alpha, 255, 255, 255));
            ASSERT_EQ(device->EndScene(), D3D_OK);
            bool pass[] = {false, alpha<0x80, alpha == 0x80, alpha <= 0x80, alpha> 0x80,
                           alpha != 0x80, alpha >= 0x80, true};
            EXPECT_EQ(pixel(1, 1) & 0xFFFFFF, pass[func - 1] ? 0xFFFFFFu : 0u)
                << "func " << func << " alpha " << alpha;
        }
}

TEST_F(PipelineTest, blendingWithEveryFactorAndOperation) {
    const D3DCOLOR src = 0x60C04020, dst = 0xA0306090;
    Color s = unpack(src), d = unpack(dst);
    auto factor = [&](uint32_t f) -> Color {
        switch (f) {
        case D3DBLEND_ZERO:
            return {0, 0, 0, 0};
        case D3DBLEND_ONE:
            return {1, 1, 1, 1};
        case D3DBLEND_SRCCOLOR:
            return s;
        case D3DBLEND_INVSRCCOLOR:
            return {1 - s.a, 1 - s.r, 1 - s.g, 1 - s.b};
        case D3DBLEND_SRCALPHA:
            return {s.a, s.a, s.a, s.a};
        case D3DBLEND_INVSRCALPHA:
            return {1 - s.a, 1 - s.a, 1 - s.a, 1 - s.a};
        case D3DBLEND_DESTALPHA:
            return {d.a, d.a, d.a, d.a};
        case D3DBLEND_INVDESTALPHA:
            return {1 - d.a, 1 - d.a, 1 - d.a, 1 - d.a};
        case D3DBLEND_DESTCOLOR:
            return d;
        case D3DBLEND_INVDESTCOLOR:
            return {1 - d.a, 1 - d.r, 1 - d.g, 1 - d.b};
        default: {
            float f2 = std::min(s.a, 1 - d.a); // source alpha saturate
            return {1, f2, f2, f2};
        }
        }
    };
    auto times = [](Color x, Color y) {
        return perChannel(x, y, [](float p, float q) { return p * q; });
    };
    auto plus = [](Color x, Color y) {
        return perChannel(x, y, [](float p, float q) { return p + q; });
    };
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    auto run = [&](uint32_t srcBlend, uint32_t destBlend, uint32_t op, Color expected,
                   const char* what) {
        device->SetRenderState(D3DRS_SRCBLEND, srcBlend);
        device->SetRenderState(D3DRS_DESTBLEND, destBlend);
        device->SetRenderState(D3DRS_BLENDOP, op);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        clear(dst);
        drawFull(src);
        ASSERT_EQ(device->EndScene(), D3D_OK);
        EXPECT_TRUE(colorNear(pixel(2, 2), pack(expected), 3))
            << what << " " << srcBlend << " " << destBlend << " op " << op;
    };
    for (uint32_t f = D3DBLEND_ZERO; f <= D3DBLEND_SRCALPHASAT; ++f) {
        run(f, D3DBLEND_ZERO, D3DBLENDOP_ADD, times(s, factor(f)), "source");
        if (f != D3DBLEND_SRCALPHASAT)
            run(D3DBLEND_ZERO, f, D3DBLENDOP_ADD, times(d, factor(f)), "dest");
    }
    Color sa = factor(D3DBLEND_SRCALPHA), isa = factor(D3DBLEND_INVSRCALPHA);
    run(D3DBLEND_BOTHSRCALPHA, D3DBLEND_ONE, D3DBLENDOP_ADD, plus(times(s, sa), times(d, isa)),
        "both");
    run(D3DBLEND_BOTHINVSRCALPHA, D3DBLEND_ONE, D3DBLENDOP_ADD, plus(times(s, isa), times(d, sa)),
        "both inverse");
    run(D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_SUBTRACT,
        perChannel(s, d, [](float p, float q) { return p - q; }), "sub");
    run(D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_REVSUBTRACT,
        perChannel(s, d, [](float p, float q) { return q - p; }), "rev");
    run(D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_MIN,
        perChannel(s, d, [](float p, float q) { return std::min(p, q); }), "min");
    run(D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_MAX,
        perChannel(s, d, [](float p, float q) { return std::max(p, q); }), "max");
}

TEST_F(PipelineTest, depthCompareFunctionsAgainstAStoredDepth) {
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    for (uint32_t func = D3DCMP_NEVER; func <= D3DCMP_ALWAYS; ++func)
        for (float z : {0.25f, 0.5f, 0.75f}) {
            ASSERT_EQ(device->BeginScene(), D3D_OK);
            clear(0xFF000000);
            device->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
            drawFull(0xFF0000FF, 0.5f);
            device->SetRenderState(D3DRS_ZFUNC, func);
            drawFull(0xFFFFFFFF, z);
            ASSERT_EQ(device->EndScene(), D3D_OK);
            bool pass[] = {false, z<0.5f, z == 0.5f, z <= 0.5f, z> 0.5f, z != 0.5f, z >= 0.5f,
                           true};
            EXPECT_EQ(pixel(9, 9), pass[func - 1] ? 0xFFFFFFFFu : 0xFF0000FFu)
                << "func " << func << " z " << z;
        }
    // Depth writes off: a later quad is compared against the first one's depth.
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0xFF000000);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    device->SetRenderState(D3DRS_ZWRITEENABLE, 0);
    drawFull(0xFF00FF00, 0.3f);
    drawFull(0xFFFF0000, 0.6f);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(pixel(9, 9), 0xFFFF0000u);
}

TEST_F(PipelineTest, cullingFollowsScreenWindingForBothVertexKinds) {
    // Clockwise on screen (y down): top-left, top-right, bottom-left.
    RhwVertex cw[3] = {{0, 0, 0.5f, 1, 0xFFFFFFFF, 0, 0},
                       {40, 0, 0.5f, 1, 0xFFFFFFFF, 0, 0},
                       {0, 40, 0.5f, 1, 0xFFFFFFFF, 0, 0}};
    RhwVertex ccw[3] = {cw[0], cw[2], cw[1]};
    struct Vtx {
        float x, y, z;
        D3DCOLOR c;
    };
    // The same clockwise triangle in clip space (y up): top-left, top-right, bottom-left.
    Vtx clipCw[3] = {
        {-1, 1, 0.5f, 0xFFFFFFFF}, {0.25f, 1, 0.5f, 0xFFFFFFFF}, {-1, -0.25f, 0.5f, 0xFFFFFFFF}};
    Vtx clipCcw[3] = {clipCw[0], clipCw[2], clipCw[1]};
    struct Case {
        uint32_t cull;
        bool cwVisible, ccwVisible;
    } cases[] = {{D3DCULL_NONE, true, true}, {D3DCULL_CCW, true, false}, {D3DCULL_CW, false, true}};
    for (const Case& c : cases) {
        device->SetRenderState(D3DRS_CULLMODE, c.cull);
        for (int kind = 0; kind < 2; ++kind)
            for (int winding = 0; winding < 2; ++winding) {
                ASSERT_EQ(device->BeginScene(), D3D_OK);
                clear(0xFF000000);
                if (kind == 0) {
                    device->SetVertexShader(kRhwFvf);
                    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, winding == 0 ? cw : ccw,
                                            sizeof(RhwVertex));
                } else {
                    device->SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
                    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, winding == 0 ? clipCw : clipCcw,
                                            sizeof(Vtx));
                }
                ASSERT_EQ(device->EndScene(), D3D_OK);
                bool visible = winding == 0 ? c.cwVisible : c.ccwVisible;
                EXPECT_EQ(pixel(4, 4), visible ? 0xFFFFFFFFu : 0xFF000000u)
                    << "cull " << c.cull << " kind " << kind << " winding " << winding;
            }
    }
}

TEST_F(PipelineTest, flatShadingTakesTheFirstVertexColour) {
    device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
    RhwVertex tri[3] = {{0, 0, 0.5f, 1, 0xFF00FF00, 0, 0},
                        {64, 0, 0.5f, 1, 0xFFFF0000, 0, 0},
                        {0, 64, 0.5f, 1, 0xFF0000FF, 0, 0}};
    RhwVertex strip[4] = {{0, 0, 0.5f, 1, 0xFFFF0000, 0, 0},
                          {64, 0, 0.5f, 1, 0xFF00FF00, 0, 0},
                          {0, 64, 0.5f, 1, 0xFF0000FF, 0, 0},
                          {64, 64, 0.5f, 1, 0xFFFFFF00, 0, 0}};
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0);
    device->SetVertexShader(kRhwFvf);
    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(RhwVertex));
    ASSERT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(pixel(2, 2), 0xFF00FF00u);
    EXPECT_EQ(pixel(40, 10), 0xFF00FF00u);
    EXPECT_EQ(pixel(10, 40), 0xFF00FF00u);
    // In a strip the second triangle (vertices 1, 2, 3) takes vertex 1's colour.
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0);
    device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, strip, sizeof(RhwVertex));
    ASSERT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(pixel(5, 5), 0xFFFF0000u);
    EXPECT_EQ(pixel(60, 60), 0xFF00FF00u);
    // Gouraud interpolates.
    device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0);
    device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(RhwVertex));
    ASSERT_EQ(device->EndScene(), D3D_OK);
    EXPECT_NE(pixel(20, 20), 0xFF00FF00u);
}

TEST_F(PipelineTest, alphaOperationsWorkOnTheAlphaChannel) {
    GpuTexture* tex = solidTexture(kTexel);
    Color t = unpack(kTexel), d = unpack(kDiffuse), f = unpack(kFactor);
    device->SetTexture(0, tex);
    device->SetRenderState(D3DRS_TEXTUREFACTOR, kFactor);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG0, D3DTA_TFACTOR);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    struct Case {
        uint32_t op;
        float expected;
    } cases[] = {
        {D3DTOP_SELECTARG2, d.a},
        {D3DTOP_ADD, t.a + d.a},
        {D3DTOP_SUBTRACT, t.a - d.a},
        {D3DTOP_MODULATE4X, sat(4 * t.a * d.a)},
        {D3DTOP_ADDSIGNED, t.a + d.a - 0.5f},
        {D3DTOP_BLENDFACTORALPHA, t.a * f.a + d.a * (1 - f.a)},
        {D3DTOP_MULTIPLYADD, f.a + t.a * d.a},
        {D3DTOP_LERP, f.a * t.a + (1 - f.a) * d.a},
    };
    for (const Case& c : cases) {
        device->SetTextureStageState(0, D3DTSS_ALPHAOP, c.op);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        clear(0);
        drawFull(kDiffuse);
        ASSERT_EQ(device->EndScene(), D3D_OK);
        EXPECT_NEAR(channel(pixel(4, 4), 24), sat(c.expected) * 255, 2) << "op " << c.op;
    }
    tex->Release();
}

TEST_F(PipelineTest, depthIsRemappedWithoutClipControl) {
    device->Release();
    gpuSetClipControlAllowed(false);
    HRESULT hr = system->CreateDevice(0, D3DDEVTYPE_HAL, nullptr,
                                      D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device);
    gpuSetClipControlAllowed(true);
    ASSERT_EQ(hr, D3D_OK);
    device->SetRenderState(D3DRS_LIGHTING, 0);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    struct Vtx {
        float x, y, z;
        D3DCOLOR c;
    };
    auto quadAt = [&](float z, D3DCOLOR c) {
        Vtx v[4] = {{-1, 1, z, c}, {1, 1, z, c}, {-1, -1, z, c}, {1, -1, z, c}};
        device->SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(Vtx)), D3D_OK);
    };
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0);
    quadAt(0.4f, 0xFF0000FF);
    drawFull(0xFFFF0000, 0.41f); // pre-transformed, just behind: hidden
    drawFull(0xFF00FF00, 0.39f); // just in front: shown
    quadAt(0.395f, 0xFFFFFFFF);  // behind the green one
    quadAt(-0.1f, 0xFFFFFFFF);   // in front of the near plane: clipped
    ASSERT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(pixel(10, 10), 0xFF00FF00u);
    // A viewport depth range of 0.5..1 puts clip-space z 0 at depth 0.5.
    D3DVIEWPORT8 vp{0, 0, kSize, kSize, 0.5f, 1.0f};
    ASSERT_EQ(device->SetViewport(&vp), D3D_OK);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0);
    quadAt(0.0f, 0xFF0000FF);    // depth 0.5
    drawFull(0xFFFF0000, 0.51f); // hidden
    drawFull(0xFF00FF00, 0.49f); // shown
    ASSERT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(pixel(10, 10), 0xFF00FF00u);
}

TEST_F(PipelineTest, destinationAlphaOfAnOpaqueTargetIsOne) {
    GpuTexture* target = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8,
                                    D3DPOOL_DEFAULT, &target),
              D3D_OK);
    GpuSurface* surface = nullptr;
    target->GetSurfaceLevel(0, &surface);
    ASSERT_EQ(device->SetRenderTarget(surface, nullptr), D3D_OK);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_DESTALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0x00000000, 1, 0), D3D_OK);
    drawQuad(-0.5f, -0.5f, 7.5f, 7.5f, 0x80C08040);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    std::vector<uint32_t> p = readTarget(surface);
    EXPECT_EQ(p[9], 0xFFC08040u);
    surface->Release();
    target->Release();
}

TEST_F(PipelineTest, indexedUserDrawsPointsAndLines) {
    RhwVertex v[5] = {{0, 0, 0.5f, 1, 0xFFFFFFFF, 0, 0},
                      {20, 0, 0.5f, 1, 0xFFFF0000, 0, 0},
                      {20, 0, 0.5f, 1, 0xFF00FF00, 0, 0},
                      {0, 20, 0.5f, 1, 0xFF00FF00, 0, 0},
                      {20, 20, 0.5f, 1, 0xFF00FF00, 0, 0}};
    const uint16_t indices[6] = {2, 3, 4, 4, 3, 2}; // vertices 0 and 1 lie outside the range
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    device->SetVertexShader(kRhwFvf);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0xFF000000);
    ASSERT_EQ(device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 2, 3, 1, indices, D3DFMT_INDEX16,
                                             v, sizeof(RhwVertex)),
              D3D_OK);
    RhwVertex points[2] = {{40, 40, 0.5f, 1, 0xFF0000FF, 0, 0},
                           {42, 40, 0.5f, 1, 0xFF0000FF, 0, 0}};
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 2, points, sizeof(RhwVertex)), D3D_OK);
    RhwVertex line[2] = {{30, 50, 0.5f, 1, 0xFFFF00FF, 0, 0}, {60, 50, 0.5f, 1, 0xFFFF00FF, 0, 0}};
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_LINELIST, 1, line, sizeof(RhwVertex)), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(pixel(12, 12), 0xFF00FF00u); // below the diagonal from (20,0) to (0,20)
    EXPECT_EQ(pixel(5, 5), 0xFF000000u);
    EXPECT_EQ(pixel(40, 40), 0xFF0000FFu); // a point covers the pixel whose centre it names
    EXPECT_EQ(pixel(41, 40), 0xFF000000u);
    EXPECT_EQ(pixel(42, 40), 0xFF0000FFu);
    EXPECT_EQ(pixel(45, 50), 0xFFFF00FFu);
    EXPECT_EQ(pixel(45, 51), 0xFF000000u);
}

TEST_F(PipelineTest, stencilMasksLaterDrawsAndZBiasWinsOnCoplanarQuads) {
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL,
                            0xFF000000, 1, 0),
              D3D_OK);
    device->SetRenderState(D3DRS_STENCILENABLE, 1);
    device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
    device->SetRenderState(D3DRS_STENCILREF, 1);
    device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_REPLACE);
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
    drawQuad(-0.5f, -0.5f, 31.5f, 63.5f, 0xFFFFFFFF); // marks the left half
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
    device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    drawFull(0xFFFF0000);
    device->SetRenderState(D3DRS_STENCILENABLE, 0);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(pixel(10, 10), 0xFFFF0000u);
    EXPECT_EQ(pixel(50, 10), 0xFF000000u);
    // Coplanar quads in clip space: the biased one passes a less-than test.
    struct Vtx {
        float x, y, z;
        D3DCOLOR c;
    };
    auto quadAt = [&](D3DCOLOR c) {
        Vtx v[4] = {{-1, 1, 0.5f, c}, {1, 1, 0.5f, c}, {-1, -1, 0.5f, c}, {1, -1, 0.5f, c}};
        device->SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(Vtx)), D3D_OK);
    };
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0xFF000000);
    quadAt(0xFF0000FF);
    quadAt(0xFFFF0000); // same depth: fails
    device->SetRenderState(D3DRS_ZBIAS, 4);
    quadAt(0xFF00FF00); // biased towards the viewer: passes
    ASSERT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(pixel(20, 20), 0xFF00FF00u);
}

TEST_F(PipelineTest, specularWithALocalViewerUsesTheDirectionToTheEye) {
    device->SetRenderState(D3DRS_LIGHTING, 1);
    device->SetRenderState(D3DRS_SPECULARENABLE, 1);
    device->SetRenderState(D3DRS_SPECULARMATERIALSOURCE, D3DMCS_MATERIAL);
    D3DMATERIAL8 m;
    m.Specular = {1, 1, 1, 1};
    m.Power = 4;
    device->SetMaterial(&m);
    // A directional light from the upper right at 45 degrees; normals face the viewer.
    D3DLIGHT8 light;
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Specular = {1, 1, 1, 1};
    light.Direction = {-1, 0, 1};
    device->SetLight(0, &light);
    device->LightEnable(0, true);
    const float l[3] = {0.70710678f, 0, -0.70710678f}; // direction to the light
    // H = norm(V + L) with N = (0, 0, -1); V is (0, 0, -1) for a distant viewer and the unit
    // vector from the vertex to the eye otherwise. Checked at one vertex drawn as a point at
    // the centre of the top-right pixel.
    auto specular = [&](const float v[3]) {
        float h[3] = {v[0] + l[0], v[1] + l[1], v[2] + l[2]};
        float len = std::sqrt(h[0] * h[0] + h[1] * h[1] + h[2] * h[2]);
        return std::pow(std::max(-h[2] / len, 0.0f), 4.0f);
    };
    const float at[3] = {1 - 1.0f / 64, 1 - 1.0f / 64, 0.5f};
    const float distant[3] = {0, 0, -1};
    float length = std::sqrt(at[0] * at[0] + at[1] * at[1] + at[2] * at[2]);
    const float local[3] = {-at[0] / length, -at[1] / length, -at[2] / length};
    for (bool useLocal : {false, true}) {
        device->SetRenderState(D3DRS_LOCALVIEWER, useLocal);
        LitVertex pt = {at[0], at[1], at[2], 0, 0, -1, 0xFF000000, 0};
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        clear(0);
        device->SetVertexShader(kLitFvf);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &pt, sizeof(LitVertex)), D3D_OK);
        ASSERT_EQ(device->EndScene(), D3D_OK);
        float e = specular(useLocal ? local : distant);
        int v = int(std::lround(e * 255));
        EXPECT_NEAR(channel(pixel(63, 0), 16), v, 2) << (useLocal ? "local" : "distant");
    }
}
