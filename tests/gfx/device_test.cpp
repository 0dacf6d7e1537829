#include "gfx/device.h"
#include "gfx_fixture.h"
#include "platform/window.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using DeviceContextTest = DeviceFixture;

struct ScreenVertex {
    float x, y, z, rhw;
    D3DCOLOR diffuse;
};
constexpr uint32_t kScreenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;

uint32_t pixelOf(GpuDevice* device, GpuSurface* surface, int32_t width, int x, int y) {
    std::vector<uint32_t> pixels;
    EXPECT_EQ(device->ReadSurface(surface, &pixels), D3D_OK);
    return pixels.at(size_t(y) * size_t(width) + size_t(x)) & 0xFFFFFF;
}

TEST_F(DeviceContextTest, StartsWithPrimaryOfScreenSizeAndLogs) {
    RenderTarget* primary = findRenderTarget("primary");
    ASSERT_NE(primary, nullptr);
    EXPECT_EQ(primary->width, kWidth);
    EXPECT_EQ(primary->surfaceHeight, kHeight);
    EXPECT_EQ(primary->hasDepth, 1);
    EXPECT_EQ(findRenderTarget(nullptr), primary);
    EXPECT_EQ(screenFormat.bitsPerPixel == 32 || screenFormat.bitsPerPixel == 16, true);
    const Viewport& v = currentViewport();
    EXPECT_EQ(v.right, kWidth);
    EXPECT_EQ(v.bottom, kHeight);
    std::string text = log();
    EXPECT_NE(text.find("DCTX: gamma is 1.000\n"), std::string::npos);
    EXPECT_NE(text.find("DCTX: init\n"), std::string::npos);
}

TEST_F(DeviceContextTest, GammaRampFollowsThePowerCurve) {
    closeDevice();
    freeAdapters();
    configValues.gamma = 2.0f;
    GpuSystem* system = gpuCreate();
    resourceInit();
    enumerateAdapters(system, nullptr);
    initDevice(system, nullptr);
    D3DGAMMARAMP ramp;
    dxDevice()->GetGammaRamp(&ramp);
    EXPECT_EQ(ramp.red[0], 0);
    EXPECT_EQ(ramp.green[255], 65535);
    // (64/255)^(1/2) * 65535 = 32831.2...
    EXPECT_EQ(ramp.blue[64], 32831);
}

TEST_F(DeviceContextTest, ViewportEqualToTheCurrentOneMakesNoDeviceCall) {
    setViewport(4, 6, 20, 10);
    D3DVIEWPORT8 vp;
    device->GetViewport(&vp);
    EXPECT_EQ(vp.X, 4u);
    EXPECT_EQ(vp.Height, 10u);
    EXPECT_EQ(currentViewport().right, 24);
    EXPECT_EQ(currentViewport().bottom, 16);

    // Change the device behind the context's back: an equal request must not touch it.
    D3DVIEWPORT8 other{1, 1, 5, 5, 0, 1};
    device->SetViewport(&other);
    uint32_t calls = device->GetCurrentStats().glCalls;
    setViewport(4, 6, 20, 10);
    device->GetViewport(&vp);
    EXPECT_EQ(vp.X, 1u);
    EXPECT_EQ(device->GetCurrentStats().glCalls, calls);
}

TEST_F(DeviceContextTest, FailedViewportIsLoggedAndTheOldOneKept) {
    setViewport(0, 0, 32, 32);
    setViewport(-5, 0, 10, 10);
    EXPECT_EQ(currentViewport().width, 32);
    EXPECT_NE(log().find("DCTX: failed to set viewport (x: -5 y: 0 w: 10 h: 10)\n"),
              std::string::npos);
}

TEST_F(DeviceContextTest, RenderStatesOutside7To171AreNeverSent) {
    flushState();
    uint32_t changes = device->GetCurrentStats().stateChanges;
    setRenderState(6, 1);
    setRenderState(172, 1);
    setRenderState(254, 1);
    flushState();
    EXPECT_EQ(device->GetCurrentStats().stateChanges, changes);
    EXPECT_EQ(sentRenderState(172), 0xFFFFFFFFu);

    setRenderState(D3DRS_ALPHABLENDENABLE, 1);
    flushState();
    EXPECT_EQ(device->GetCurrentStats().stateChanges, changes + 1);
    uint32_t value = 0;
    device->GetRenderState(D3DRS_ALPHABLENDENABLE, &value);
    EXPECT_EQ(value, 1u);
    // Setting the same value again sends nothing.
    setRenderState(D3DRS_ALPHABLENDENABLE, 1);
    flushState();
    EXPECT_EQ(device->GetCurrentStats().stateChanges, changes + 1);
}

TEST_F(DeviceContextTest, TexturesGoThroughTheCacheAndAreForgottenBeforeTheyAreFreed) {
    GpuTexture* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture),
              D3D_OK);
    flushState();
    uint32_t changes = device->GetCurrentStats().stateChanges;
    setTexture(0, texture);
    EXPECT_EQ(sentTexture(0), nullptr);
    flushState();
    setTexture(0, texture);
    flushState();
    EXPECT_EQ(device->GetCurrentStats().stateChanges, changes + 1);
    EXPECT_EQ(sentTexture(0), texture);
    EXPECT_EQ(texture->refCount, 2u); // ours and the device's binding

    // Stages past the device's blend stages are not recorded.
    setTexture(blendStageCount(), texture);
    EXPECT_EQ(wantedTexture(blendStageCount()), nullptr);

    forgetTexture(texture);
    EXPECT_EQ(wantedTexture(0), nullptr);
    EXPECT_EQ(sentTexture(0), nullptr);
    EXPECT_EQ(texture->Release(), 0u);
    flushState(); // nothing left to bind a freed object
    EXPECT_EQ(sentTexture(0), nullptr);
}

TEST_F(DeviceContextTest, ResetDeviceStateSendsTheDefaults) {
    setRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    setStageState(0, D3DTSS_COLOROP, D3DTOP_ADD);
    flushState();
    resetDeviceState();
    uint32_t value = 0;
    device->GetRenderState(D3DRS_CULLMODE, &value);
    EXPECT_EQ(value, uint32_t(D3DCULL_NONE));
    device->GetRenderState(D3DRS_ZFUNC, &value);
    EXPECT_EQ(value, uint32_t(D3DCMP_LESS));
    device->GetTextureStageState(0, D3DTSS_COLOROP, &value);
    EXPECT_EQ(value, uint32_t(D3DTOP_MODULATE));
    device->GetTextureStageState(0, D3DTSS_MIPFILTER, &value);
    EXPECT_EQ(value, uint32_t(D3DTEXF_LINEAR));
    device->GetTextureStageState(1, D3DTSS_COLOROP, &value);
    EXPECT_EQ(value, uint32_t(D3DTOP_DISABLE));
}

TEST_F(DeviceContextTest, ShaderIdsAreOddAndStridesComeFromTheDeclaration) {
    const uint32_t declaration[] = {D3DVSD_STREAM(0),
                                    D3DVSD_REG(0, D3DVSDT_FLOAT3),
                                    D3DVSD_REG(1, D3DVSDT_D3DCOLOR),
                                    D3DVSD_SKIP(2),
                                    D3DVSD_STREAM(1),
                                    D3DVSD_REG(2, D3DVSDT_FLOAT2),
                                    D3DVSD_REG(3, D3DVSDT_SHORT4),
                                    D3DVSD_REG(4, D3DVSDT_FLOAT4),
                                    D3DVSD_END()};
    EXPECT_EQ(registerVertexShader(declaration, nullptr), 1u);
    EXPECT_EQ(registerVertexShader(declaration, nullptr), 3u);
    EXPECT_EQ(registerVertexShader(declaration, nullptr), 5u);
    EXPECT_EQ(getShaderStreamStride(3, 0), 12u + 4u + 8u);
    EXPECT_EQ(getShaderStreamStride(3, 1), 8u + 8u + 16u);
    EXPECT_EQ(getShaderStreamStride(3, 16), 0u);
    EXPECT_EQ(getShaderStreamStride(2, 0), 0u);
    setShaderStreamStride(3, 2, 40);
    EXPECT_EQ(getShaderStreamStride(3, 2), 40u);
    deleteVertexShader(3);
    EXPECT_EQ(getShaderStreamStride(3, 0), 0u);
    EXPECT_EQ(registerVertexShader(declaration, nullptr), 7u);
}

TEST_F(DeviceContextTest, UnknownShaderIdIsFatal) {
    EXPECT_EXIT(useVertexShader(9), ::testing::ExitedWithCode(1),
                "Vertex Shader with id #00000009 not available");
}

TEST_F(DeviceContextTest, TargetsOfOneSizeShareADepthBufferFreedAtTheLastRelease) {
    RenderTarget* a = createRenderTexture(32, 32, "a", true);
    RenderTarget* b = createRenderTexture(32, 32, "b", true);
    RenderTarget* c = createRenderTexture(16, 16, "c", true);
    EXPECT_EQ(createRenderTexture(8, 8, "a", true), a); // an existing name makes nothing
    ASSERT_NE(a->depthEntry, nullptr);
    EXPECT_EQ(a->depthEntry, b->depthEntry);
    EXPECT_NE(a->depthEntry, c->depthEntry);
    EXPECT_EQ(depthBufferCount(), 2);
    EXPECT_NE(log().find("DCTX: created additional zbuffer of size w: 32 h: 32\n"),
              std::string::npos);
    int32_t resources = resourceCount();
    destroyRenderTarget("a");
    EXPECT_EQ(depthBufferCount(), 2);
    EXPECT_EQ(resourceCount(), resources - 1); // only a's texture
    destroyRenderTarget("b");
    EXPECT_EQ(depthBufferCount(), 1);
    EXPECT_EQ(resourceCount(), resources - 3); // b's texture and the shared depth buffer
}

TEST_F(DeviceContextTest, UnknownTargetSelectsPrimaryAndSelectingAgainOnlyOpensAScene) {
    createRenderTexture(32, 16, "small", true);
    selectRenderTarget("small");
    EXPECT_EQ(currentRenderTarget(), findRenderTarget("small"));
    EXPECT_FLOAT_EQ(aspectRatio(), 2.0f);
    EXPECT_TRUE(sceneOpen());
    EXPECT_EQ(currentViewport().width, 32); // the device's viewport after the switch

    setViewport(0, 0, 8, 8);
    selectRenderTarget("small"); // same target: no switch, viewport stays
    EXPECT_EQ(currentViewport().width, 8);

    selectRenderTarget("nosuch");
    EXPECT_EQ(currentRenderTarget(), findRenderTarget("primary"));
    EXPECT_NE(log().find("DCTX: couldn't find rendertarget 'nosuch', setting primary\n"),
              std::string::npos);
}

TEST_F(DeviceContextTest, ClearCoversTheViewportOnPrimaryAndTheWholeTextureTarget) {
    RenderTarget* texture = createRenderTexture(32, 32, "tex", true);
    selectRenderTarget("primary");
    clear(D3DCLEAR_TARGET, 0x000000);
    setViewport(0, 0, 10, 10);
    clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF0000);
    RenderTarget* primary = findRenderTarget("primary");
    EXPECT_EQ(pixelOf(device, primary->surface, kWidth, 5, 5), 0xFF0000u);
    EXPECT_EQ(pixelOf(device, primary->surface, kWidth, 20, 20), 0x000000u);

    selectRenderTarget("tex");
    setViewport(0, 0, 4, 4);
    clear(D3DCLEAR_TARGET, 0x00FF00);
    GpuSurface* surface = renderTargetSurface(texture);
    EXPECT_EQ(pixelOf(device, surface, 32, 30, 30), 0x00FF00u);
    surface->Release();
    D3DVIEWPORT8 vp;
    device->GetViewport(&vp);
    EXPECT_EQ(vp.Width, 4u); // the stored viewport is back
}

TEST_F(DeviceContextTest, DrawWrappersDrawAndSkipEmptyCounts) {
    selectRenderTarget("primary");
    clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x000000);
    resetDeviceState();
    setStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    ScreenVertex quad[4] = {{-0.5f, -0.5f, 0.5f, 1, 0xFF0000FF},
                            {kWidth - 0.5f, -0.5f, 0.5f, 1, 0xFF0000FF},
                            {kWidth - 0.5f, kHeight - 0.5f, 0.5f, 1, 0xFF0000FF},
                            {-0.5f, kHeight - 0.5f, 0.5f, 1, 0xFF0000FF}};
    uint32_t draws = device->GetCurrentStats().draws;
    drawFanUP(quad, 2, kScreenFvf); // fewer than three vertices: no triangle
    drawTrianglesUP(quad, 0, kScreenFvf);
    EXPECT_EQ(device->GetCurrentStats().draws, draws);
    drawFanUP(quad, 4, kScreenFvf);
    EXPECT_EQ(device->GetCurrentStats().draws, draws + 1);
    EXPECT_EQ(pixelOf(device, findRenderTarget("primary")->surface, kWidth, 30, 20), 0x0000FFu);
}

TEST_F(DeviceContextTest, ViewportIsSentAgainAfterATargetSwitch) {
    createRenderTexture(32, 32, "t", true);
    selectRenderTarget("primary");
    setViewport(0, 0, 10, 10);
    selectRenderTarget("t"); // the device now covers the whole of "t"
    setViewport(0, 0, 10, 10);
    D3DVIEWPORT8 vp;
    device->GetViewport(&vp);
    EXPECT_EQ(vp.Width, 10u);
    EXPECT_EQ(vp.Height, 10u);
}

TEST_F(DeviceContextTest, ShaderIdDrawsThroughItsDeclaredStream) {
    const uint32_t declaration[] = {D3DVSD_STREAM(0), D3DVSD_REG(D3DVSDE_POSITION, D3DVSDT_FLOAT3),
                                    D3DVSD_REG(D3DVSDE_DIFFUSE, D3DVSDT_D3DCOLOR), D3DVSD_END()};
    uint32_t id = registerVertexShader(declaration, nullptr);
    struct Vertex {
        float x, y, z;
        D3DCOLOR colour;
    };
    VertexBuffer vb;
    vb.create(id, 4, false, false);
    EXPECT_EQ(vb.stride, 16u);
    auto* v = static_cast<Vertex*>(vb.lock(0, -1, kLockNormal));
    ASSERT_NE(v, nullptr);
    v[0] = {-1, -1, 0.5f, 0xFF00FF00};
    v[1] = {-1, 1, 0.5f, 0xFF00FF00};
    v[2] = {1, 1, 0.5f, 0xFF00FF00};
    v[3] = {1, -1, 0.5f, 0xFF00FF00};
    vb.unlock();
    selectRenderTarget("primary");
    clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0);
    resetDeviceState();
    setStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    vb.use();
    drawPrimitive(D3DPT_TRIANGLEFAN, 0, 2);
    EXPECT_EQ(pixelOf(device, findRenderTarget("primary")->surface, kWidth, 32, 24), 0x00FF00u);
    uint32_t shader = 0;
    device->GetVertexShader(&shader);
    EXPECT_EQ(shader & 1, 1u); // a device handle, not an FVF code
}

TEST_F(DeviceContextTest, OutOfVideoMemoryForATargetEndsWithAdvice) {
    EXPECT_EXIT(
        {
            gpuInjectFault(GpuFault::OutOfVideoMemory);
            createRenderTexture(32, 32, "big", true);
        },
        ::testing::ExitedWithCode(1), "Sorry, your graphics card has run out of memory");
}

TEST(DeviceStart, FailedCreationIsFatal) {
    EXPECT_EXIT(
        {
            logSetFile("log.txt");
            setErrorDialogEnabled(false);
            configValues.xres = 64;
            configValues.yres = 48;
            configValues.windowed = 1;
            GpuSystem* system = gpuCreate();
            resourceInit();
            enumerateAdapters(system, nullptr);
            gpuInjectFault(GpuFault::CreateDeviceFails);
            initDevice(system, nullptr);
        },
        ::testing::ExitedWithCode(1), "CreateDevice FAILED \\(#0x8876086a, D3DERR_NOTAVAILABLE\\)");
}

TEST(DeviceStart, RunsOnAHiddenDemoWindow) {
    logSetFile("log.txt");
    configValues = ConfigValues{};
    configValues.xres = 80;
    configValues.yres = 60;
    configValues.windowed = 1;
    ASSERT_TRUE(initVideo());
    ASSERT_TRUE(createDemoWindow("lux32", 80, 60, true, true));
    GpuSystem* system = gpuCreate();
    resourceInit();
    enumerateAdapters(system, nullptr);
    initDevice(system, demoWindowHandle());
    selectRenderTarget("primary");
    clear(D3DCLEAR_TARGET, 0x102030);
    ASSERT_TRUE(captureFrame("frame.png"));
    present();
    EXPECT_GT(readText("frame.png").size(), 8u);
    // Right after present, a capture made at once holds the same frame.
    ASSERT_TRUE(captureFrame("after.png", true));
    EXPECT_EQ(readText("after.png"), readText("frame.png"));
    EXPECT_EQ(findRenderTarget("primary")->width, 80);
    closeDevice();
    freeAdapters();
    destroyDemoWindow();
}

TEST_F(DeviceContextTest, PresentCapturesPrimaryAndReopensIt) {
    selectRenderTarget("primary");
    clear(D3DCLEAR_TARGET, 0x336699);
    ASSERT_TRUE(captureFrame("frame.png"));
    present();
    EXPECT_TRUE(sceneOpen());
    EXPECT_EQ(currentRenderTarget(), findRenderTarget("primary"));
    EXPECT_GT(readText("frame.png").size(), 8u);
}

} // namespace
