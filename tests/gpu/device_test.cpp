// Device creation, clear and readback, adapters and format checks, caps profiles, faults,
// the loss/reset cycle and invalid calls.
#include "gpu_fixture.h"

#include <cstring>

TEST_F(GpuFixture, clearFillsTheViewportOnlyAndReadsBackTopRowFirst) {
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0xFF102030);
    D3DVIEWPORT8 vp{0, 0, 32, 16, 0, 1};
    ASSERT_EQ(device->SetViewport(&vp), D3D_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFF0000, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    std::vector<uint32_t> p = readTarget();
    EXPECT_EQ(p[0], 0xFFFF0000u);               // top-left is inside the viewport
    EXPECT_EQ(p[15 * kSize + 31], 0xFFFF0000u); // last pixel inside
    EXPECT_EQ(p[16 * kSize + 0], 0xFF102030u);  // first row below
    EXPECT_EQ(p[0 * kSize + 32], 0xFF102030u);  // first column right of it
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
}

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

TEST(GpuNames, resultCodesHaveTheirValuesAndNames) {
    EXPECT_EQ(uint32_t(D3DERR_INVALIDCALL), 0x8876086Cu);
    EXPECT_EQ(uint32_t(D3DERR_DEVICELOST), 0x88760868u);
    EXPECT_EQ(uint32_t(D3DERR_DEVICENOTRESET), 0x88760869u);
    EXPECT_EQ(uint32_t(D3DERR_NOTAVAILABLE), 0x8876086Au);
    EXPECT_EQ(uint32_t(D3DERR_OUTOFVIDEOMEMORY), 0x8876017Cu);
    EXPECT_EQ(uint32_t(E_OUTOFMEMORY), 0x8007000Eu);
    EXPECT_STREQ(gpuResultName(D3DERR_INVALIDCALL), "D3DERR_INVALIDCALL");
    EXPECT_STREQ(gpuResultName(D3D_OK), "D3D_OK");
    EXPECT_STREQ(gpuResultName(D3DERR_OUTOFVIDEOMEMORY), "D3DERR_OUTOFVIDEOMEMORY");
    EXPECT_STREQ(gpuResultName(HRESULT(0x88761234u)), "Unknown");
}

TEST(GpuNames, vertexSizesFollowTheFvfLayout) {
    EXPECT_EQ(fvfVertexSize(D3DFVF_XYZ), 12u);
    EXPECT_EQ(fvfVertexSize(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1), 28u);
    EXPECT_EQ(fvfVertexSize(D3DFVF_XYZB3 | D3DFVF_NORMAL), 36u);
    EXPECT_EQ(fvfVertexSize(D3DFVF_XYZ | D3DFVF_PSIZE | D3DFVF_SPECULAR), 20u);
    EXPECT_EQ(
        fvfVertexSize(D3DFVF_XYZ | D3DFVF_TEX2 | D3DFVF_TEXCOORDSIZE1(0) | D3DFVF_TEXCOORDSIZE4(1)),
        32u);
    EXPECT_EQ(fvfVertexSize(D3DFVF_XYZ | D3DFVF_TEX1 | D3DFVF_TEXCOORDSIZE3(0)), 24u);
}

TEST_F(GpuFixture, headlessAdapterOffersCommonModesInTwoFormats) {
    ASSERT_GE(system->GetAdapterCount(), 1u);
    D3DADAPTER_IDENTIFIER8 id;
    ASSERT_EQ(system->GetAdapterIdentifier(0, D3DENUM_NO_WHQL_LEVEL, &id), D3D_OK);
    EXPECT_GT(strlen(id.Description), 0u);
    D3DDISPLAYMODE desktop;
    ASSERT_EQ(system->GetAdapterDisplayMode(0, &desktop), D3D_OK);
    EXPECT_EQ(desktop.Format, D3DFMT_X8R8G8B8);
    EXPECT_NE(system->GetAdapterMonitor(0), nullptr);
    EXPECT_EQ(system->GetAdapterMonitor(99), nullptr);
    uint32_t count = system->GetAdapterModeCount(0);
    bool found32 = false, found16 = false;
    for (uint32_t m = 0; m < count; ++m) {
        D3DDISPLAYMODE mode;
        ASSERT_EQ(system->EnumAdapterModes(0, m, &mode), D3D_OK);
        if (mode.Width == 640 && mode.Height == 480)
            (mode.Format == D3DFMT_X8R8G8B8 ? found32 : found16) = true;
        EXPECT_TRUE(mode.Format == D3DFMT_X8R8G8B8 || mode.Format == D3DFMT_R5G6B5);
    }
    EXPECT_TRUE(found32 && found16);
    D3DDISPLAYMODE mode;
    EXPECT_EQ(system->EnumAdapterModes(0, count, &mode), D3DERR_INVALIDCALL);
    EXPECT_EQ(system->EnumAdapterModes(7, 0, &mode), D3DERR_INVALIDCALL);
}

TEST_F(GpuFixture, formatChecksAnswerLikeTheDevice) {
    EXPECT_EQ(system->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, false),
              D3D_OK);
    EXPECT_EQ(system->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, false),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(system->CheckDeviceType(0, D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, true),
              D3D_OK);
    EXPECT_EQ(system->CheckDeviceType(0, 7, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, true),
              D3DERR_INVALIDCALL);
    auto check = [&](uint32_t usage, D3DRESOURCETYPE type, D3DFORMAT f) {
        return system->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, usage, type, f);
    };
    EXPECT_EQ(check(0, D3DRTYPE_TEXTURE, D3DFMT_R8G8B8), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(check(0, D3DRTYPE_TEXTURE, D3DFMT_A8L8), D3D_OK);
    EXPECT_EQ(check(D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8), D3D_OK);
    EXPECT_EQ(check(D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE, D3DFMT_L8), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(check(D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D32), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(check(D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D24S8), D3D_OK);
    EXPECT_EQ(system->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8,
                                             D3DFMT_D16),
              D3D_OK);
    EXPECT_EQ(system->CheckDepthStencilMatch(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8,
                                             D3DFMT_D15S1),
              D3DERR_NOTAVAILABLE);
    // What the checks accept can be created.
    GpuTexture* t = nullptr;
    EXPECT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_A8L8, D3DPOOL_MANAGED, &t), D3D_OK);
    if (t) t->Release();
    EXPECT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_R8G8B8, D3DPOOL_MANAGED, &t),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(t, nullptr);
}

TEST_F(GpuFixture, capsProfilesRestrictTextures) {
    D3DCAPS8 hal, ref;
    ASSERT_EQ(system->GetDeviceCaps(0, D3DDEVTYPE_HAL, &hal), D3D_OK);
    ASSERT_EQ(system->GetDeviceCaps(0, D3DDEVTYPE_REF, &ref), D3D_OK);
    EXPECT_EQ(hal.DeviceType, uint32_t(D3DDEVTYPE_HAL));
    EXPECT_EQ(ref.DeviceType, uint32_t(D3DDEVTYPE_REF));
    EXPECT_TRUE(hal.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT);
    EXPECT_FALSE(ref.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT);
    EXPECT_EQ(hal.MaxTextureBlendStages, 8u);
    EXPECT_EQ(hal.MaxActiveLights, 8u);
    EXPECT_GE(hal.MaxTextureWidth, 2048u);
    EXPECT_FALSE(hal.TextureCaps & D3DPTEXTURECAPS_POW2);
    struct Case {
        GpuCapsProfile profile;
        uint32_t w, h;
        bool accepted;
    } cases[] = {
        {GpuCapsProfile::Pow2Only, 100, 50, false},   {GpuCapsProfile::Pow2Only, 128, 64, true},
        {GpuCapsProfile::SquareOnly, 128, 64, false}, {GpuCapsProfile::SquareOnly, 64, 64, true},
        {GpuCapsProfile::SmallMax, 512, 256, false},  {GpuCapsProfile::SmallMax, 256, 100, true},
    };
    for (const Case& c : cases) {
        gpuSetCapsProfile(c.profile);
        device->Release();
        device = nullptr;
        ASSERT_EQ(system->CreateDevice(0, D3DDEVTYPE_HAL, nullptr,
                                       D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device),
                  D3D_OK);
        GpuTexture* t = nullptr;
        EXPECT_EQ(device->CreateTexture(c.w, c.h, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t) ==
                      D3D_OK,
                  c.accepted)
            << c.w << "x" << c.h;
        if (t) t->Release();
    }
    gpuSetCapsProfile(GpuCapsProfile::FewStages);
    ASSERT_EQ(system->GetDeviceCaps(0, D3DDEVTYPE_HAL, &hal), D3D_OK);
    EXPECT_EQ(hal.MaxTextureBlendStages, 2u);
}

TEST_F(GpuFixture, fewStagesProfileStopsTheChainAfterTwoStages) {
    gpuSetCapsProfile(GpuCapsProfile::FewStages);
    device->Release();
    ASSERT_EQ(system->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                                   &params, &device),
              D3D_OK);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFF00FF00);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
    device->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(2, D3DTSS_COLORARG1, D3DTA_TFACTOR);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0);
    drawFull(0xFFFF0000);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(pixel(1, 1) & 0xFFFFFF, 0xFF0000u);
}

TEST_F(GpuFixture, injectedFaultsFailTheNextCreation) {
    gpuInjectFault(GpuFault::OutOfVideoMemory);
    GpuTexture* t = nullptr;
    EXPECT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t),
              D3D_OK); // not default pool
    t->Release();
    EXPECT_EQ(
        device->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &t),
        D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(
        device->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &t),
        D3D_OK);
    t->Release();
    gpuInjectFault(GpuFault::OutOfMemory);
    GpuVertexBuffer* vb = nullptr;
    EXPECT_EQ(device->CreateVertexBuffer(64, 0, D3DFVF_XYZ, D3DPOOL_MANAGED, &vb), E_OUTOFMEMORY);
    EXPECT_EQ(vb, nullptr);
    gpuInjectFault(GpuFault::CreateDeviceFails);
    GpuDevice* second = nullptr;
    EXPECT_EQ(system->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                                   &params, &second),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(second, nullptr);
}

TEST_F(GpuFixture, lossAndResetEmptyTheDefaultPoolAndKeepManagedContents) {
    GpuVertexBuffer *dynamicVb = nullptr, *managedVb = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(64, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, D3DFVF_XYZ,
                                         D3DPOOL_DEFAULT, &dynamicVb),
              D3D_OK);
    ASSERT_EQ(device->CreateVertexBuffer(64, 0, D3DFVF_XYZ, D3DPOOL_MANAGED, &managedVb), D3D_OK);
    GpuTexture *rtt = nullptr, *managed = nullptr;
    ASSERT_EQ(device->CreateTexture(16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8,
                                    D3DPOOL_DEFAULT, &rtt),
              D3D_OK);
    ASSERT_EQ(device->CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &managed),
              D3D_OK);
    uint8_t* bytes = nullptr;
    for (GpuVertexBuffer* vb : {dynamicVb, managedVb}) {
        ASSERT_EQ(vb->Lock(0, 0, &bytes, vb == dynamicVb ? D3DLOCK_DISCARD : 0), D3D_OK);
        memset(bytes, 0xAB, 64);
        ASSERT_EQ(vb->Unlock(), D3D_OK);
    }
    D3DLOCKED_RECT r;
    ASSERT_EQ(managed->LockRect(0, &r, nullptr, 0), D3D_OK);
    for (int i = 0; i < 4; ++i)
        static_cast<uint32_t*>(r.pBits)[i] = 0xFF00FF00;
    ASSERT_EQ(managed->UnlockRect(0), D3D_OK);
    GpuSurface* rtSurface = nullptr;
    rtt->GetSurfaceLevel(0, &rtSurface);
    GpuSurface *back = nullptr, *depth = nullptr;
    device->GetRenderTarget(&back);
    device->GetDepthStencilSurface(&depth);
    device->SetRenderTarget(rtSurface, nullptr);
    device->BeginScene();
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFF0000, 1, 0);
    device->EndScene();
    device->SetRenderTarget(back, depth);
    back->Release();
    depth->Release();

    device->SimulateDeviceLoss(2);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_TRUE(dynamicVb->IsLost());
    EXPECT_TRUE(rtt->IsLost());
    EXPECT_FALSE(managedVb->IsLost());
    EXPECT_EQ(dynamicVb->Lock(0, 0, &bytes, 0), D3DERR_DEVICELOST);
    ASSERT_EQ(managedVb->Lock(0, 0, &bytes, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(bytes[63], 0xAB);
    managedVb->Unlock();

    ASSERT_EQ(device->Reset(&params), D3D_OK);
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
    EXPECT_FALSE(dynamicVb->IsLost());
    ASSERT_EQ(dynamicVb->Lock(0, 0, &bytes, 0), D3D_OK);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[63], 0);
    dynamicVb->Unlock();
    std::vector<uint32_t> texels;
    ASSERT_EQ(device->ReadSurface(rtSurface, &texels), D3D_OK);
    EXPECT_EQ(texels[0], 0u); // the render target came back empty
    // The managed texture still draws green.
    device->SetRenderState(D3DRS_LIGHTING, 0);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetTexture(0, managed);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0);
    drawFull(0xFFFFFFFF);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(pixel(5, 5), 0xFF00FF00u);
    device->SetTexture(0, nullptr);
    rtSurface->Release();
    for (GpuResource* res : std::initializer_list<GpuResource*>{dynamicVb, managedVb, rtt, managed})
        res->Release();
}

TEST_F(GpuFixture, invalidCallsAreRefusedAndDrawNothing) {
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0xFF000000);
    EXPECT_EQ(device->SetRenderState(D3DRENDERSTATETYPE(6), 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetRenderState(D3DRENDERSTATETYPE(172), 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetTextureStageState(8, D3DTSS_COLOROP, D3DTOP_ADD), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetTextureStageState(0, D3DTEXTURESTAGESTATETYPE(29), 0), D3DERR_INVALIDCALL);
    D3DLIGHT8 light;
    EXPECT_EQ(device->SetLight(8, &light), D3DERR_INVALIDCALL);
    light.Type = D3DLIGHTTYPE(9);
    EXPECT_EQ(device->SetLight(0, &light), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->LightEnable(8, true), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetTexture(8, nullptr), D3DERR_INVALIDCALL);
    D3DMATRIX identity;
    EXPECT_EQ(device->SetTransform(D3DTRANSFORMSTATETYPE(5), &identity), D3DERR_INVALIDCALL);
    D3DVIEWPORT8 tooBig{0, 0, 65, 64, 0, 1};
    EXPECT_EQ(device->SetViewport(&tooBig), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetVertexShader(0), D3DERR_INVALIDCALL); // no position
    EXPECT_EQ(device->SetVertexShader(3), D3DERR_INVALIDCALL); // no such shader
    // Drawing with no vertex source.
    ASSERT_EQ(device->SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE), D3D_OK);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, nullptr, 16), D3DERR_INVALIDCALL);
    // A vertex buffer too small for the range.
    GpuVertexBuffer* vb = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(3 * 16, D3DUSAGE_WRITEONLY, D3DFVF_XYZ | D3DFVF_DIFFUSE,
                                         D3DPOOL_MANAGED, &vb),
              D3D_OK);
    ASSERT_EQ(device->SetStreamSource(0, vb, 16), D3D_OK);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 1, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitive(D3DPRIMITIVETYPE(9), 0, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 0, 1),
              D3DERR_INVALIDCALL); // no indices
    uint8_t* bytes;
    EXPECT_EQ(vb->Lock(40, 16, &bytes, 0), D3DERR_INVALIDCALL);
    // Index values outside the stated vertex range.
    float tri[3][4] = {};
    uint16_t indices[3] = {0, 1, 7};
    EXPECT_EQ(device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 3, 1, indices, D3DFMT_INDEX16,
                                             tri, 16),
              D3DERR_INVALIDCALL);
    // Resources that cannot exist.
    GpuTexture* t = nullptr;
    EXPECT_EQ(device->CreateTexture(0, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(
        device->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t),
        D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, &t),
              D3DERR_INVALIDCALL);
    const uint32_t declaration[] = {D3DVSD_STREAM(0), D3DVSD_REG(D3DVSDE_POSITION, D3DVSDT_FLOAT3),
                                    D3DVSD_END()};
    const uint32_t function[] = {0xFFFE0200, 0x0000FFFF}; // vs.2.0 is not translated
    uint32_t handle = 0;
    EXPECT_EQ(device->CreateVertexShader(declaration, function, &handle, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Clear(0, nullptr, 0, 0, 1, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->BeginScene(), D3DERR_INVALIDCALL); // already in a scene
    ASSERT_EQ(device->EndScene(), D3D_OK);
    // Outside a scene nothing draws.
    RhwVertex quad[3] = {{0, 0, 0.5f, 1, 0xFFFFFFFF, 0, 0},
                         {64, 0, 0.5f, 1, 0xFFFFFFFF, 0, 0},
                         {0, 64, 0.5f, 1, 0xFFFFFFFF, 0, 0}};
    device->SetVertexShader(kRhwFvf);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, quad, sizeof(RhwVertex)),
              D3DERR_INVALIDCALL);
    std::vector<uint32_t> p = readTarget();
    for (uint32_t v : p)
        ASSERT_EQ(v, 0xFF000000u);
    device->SetStreamSource(0, nullptr, 0);
    vb->Release();
}

TEST_F(GpuFixture, declarationsDrawFromSeveralStreamsWithIndices) {
    const uint32_t declaration[] = {
        D3DVSD_STREAM(0), D3DVSD_REG(D3DVSDE_POSITION, D3DVSDT_FLOAT3),  D3DVSD_STREAM(1),
        D3DVSD_SKIP(1),   D3DVSD_REG(D3DVSDE_DIFFUSE, D3DVSDT_D3DCOLOR), D3DVSD_END()};
    uint32_t handle = 0;
    ASSERT_EQ(device->CreateVertexShader(declaration, nullptr, &handle, 0), D3D_OK);
    EXPECT_EQ(handle & 1, 1u);
    GpuVertexBuffer *positions = nullptr, *colors = nullptr;
    GpuIndexBuffer* ib = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(5 * 12, 0, 0, D3DPOOL_MANAGED, &positions), D3D_OK);
    ASSERT_EQ(device->CreateVertexBuffer(5 * 8, 0, 0, D3DPOOL_MANAGED, &colors), D3D_OK);
    ASSERT_EQ(device->CreateIndexBuffer(6 * 2, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib), D3D_OK);
    // Vertex 0 is unused: the base vertex index skips it. Left half of the screen.
    const float p[5][3] = {{9, 9, 9}, {-1, 1, 0.5f}, {0, 1, 0.5f}, {-1, -1, 0.5f}, {0, -1, 0.5f}};
    const uint32_t c[5][2] = {
        {0, 0xFFFFFFFF}, {0, 0xFF00FF00}, {0, 0xFF00FF00}, {0, 0xFF00FF00}, {0, 0xFF00FF00}};
    const uint16_t idx[6] = {0, 1, 2, 2, 1, 3};
    uint8_t* bytes;
    ASSERT_EQ(positions->Lock(0, 0, &bytes, 0), D3D_OK);
    memcpy(bytes, p, sizeof p);
    positions->Unlock();
    ASSERT_EQ(colors->Lock(0, 0, &bytes, 0), D3D_OK);
    memcpy(bytes, c, sizeof c);
    colors->Unlock();
    ASSERT_EQ(ib->Lock(0, 0, &bytes, 0), D3D_OK);
    memcpy(bytes, idx, sizeof idx);
    ib->Unlock();
    device->SetStreamSource(0, positions, 12);
    device->SetStreamSource(1, colors, 8);
    device->SetIndices(ib, 1);
    ASSERT_EQ(device->SetVertexShader(handle), D3D_OK);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0xFF000000);
    ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 4, 0, 2), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(pixel(5, 30), 0xFF00FF00u);
    EXPECT_EQ(pixel(58, 30), 0xFF000000u);
    device->SetStreamSource(0, nullptr, 0);
    device->SetStreamSource(1, nullptr, 0);
    device->SetIndices(nullptr, 0);
    EXPECT_EQ(device->DeleteVertexShader(handle), D3D_OK);
    EXPECT_EQ(device->DeleteVertexShader(handle), D3DERR_INVALIDCALL);
    positions->Release();
    colors->Release();
    ib->Release();
}

TEST_F(GpuFixture, presentCapturesTheBackBufferThroughTheGammaRamp) {
    D3DGAMMARAMP ramp;
    for (int i = 0; i < 256; ++i) {
        ramp.red[i] = uint16_t((255 - i) * 257); // inverted
        ramp.green[i] = uint16_t(i * 257);
        ramp.blue[i] = uint16_t((i / 2) * 257);
    }
    device->SetGammaRamp(D3DSGR_NO_CALIBRATION, &ramp);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0xFF204080);
    drawQuad(-0.5f, -0.5f, 9.5f, 4.5f, 0xFFFFFFFF); // white band at the top
    ASSERT_EQ(device->EndScene(), D3D_OK);
    ASSERT_EQ(device->CapturePng("frame.png", false), D3D_OK);
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    int w = 0, h = 0, n = 0;
    unsigned char* image = stbi_load("frame.png", &w, &h, &n, 3);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(w, int(kSize));
    EXPECT_EQ(h, int(kSize));
    auto at = [&](int x, int y, int c) { return int(image[(y * w + x) * 3 + c]); };
    EXPECT_EQ(at(0, 0, 0), 0); // white through the inverted red ramp
    EXPECT_EQ(at(0, 0, 1), 255);
    EXPECT_EQ(at(0, 0, 2), 127);
    EXPECT_EQ(at(20, 40, 0), 255 - 0x20);
    EXPECT_EQ(at(20, 40, 1), 0x40);
    EXPECT_EQ(at(20, 40, 2), 0x40);
    stbi_image_free(image);
}

// Video frames: BT.709 in the limited range, each chroma sample the mean of its 2 x 2 block
// (fewer pixels at an odd edge), everything through the gamma ramp.
TEST(GpuVideoFrames, pixelsBecomeLimitedRangeBt709WithBlockChroma) {
    auto luma = [](double r, double g, double b) {
        return 16 + 219 * (0.2126 * r + 0.7152 * g + 0.0722 * b) / 255;
    };
    auto blue = [](double r, double g, double b) {
        return 128 + 224 * (-0.1146 * r - 0.3854 * g + 0.5 * b) / 255;
    };
    auto red = [](double r, double g, double b) {
        return 128 + 224 * (0.5 * r - 0.4542 * g - 0.0458 * b) / 255;
    };
    const uint32_t R = 0xFFFF0000, W = 0xFFFFFFFF, K = 0xFF000000, G = 0xFF808080, B = 0xFF0000FF;
    const uint32_t pixels[9] = {R, R, W, R, R, K, G, B, G}; // 3 x 3, top row first
    D3DGAMMARAMP ramp;
    for (int i = 0; i < 256; ++i)
        ramp.red[i] = ramp.green[i] = ramp.blue[i] = uint16_t(i * 257);
    std::vector<uint8_t> yuv;
    gpuYuv420FromPixels(pixels, 3, 3, ramp, &yuv);
    ASSERT_EQ(yuv.size(), 9u + 4u + 4u); // chroma planes of 2 x 2
    const uint8_t* cb = yuv.data() + 9;
    const uint8_t* cr = cb + 4;
    EXPECT_NEAR(yuv[0], luma(255, 0, 0), 0.51);
    EXPECT_EQ(yuv[2], 235);
    EXPECT_EQ(yuv[5], 16);
    EXPECT_NEAR(yuv[7], luma(0, 0, 255), 0.51);
    EXPECT_NEAR(cb[0], blue(255, 0, 0), 0.51); // the red block
    EXPECT_NEAR(cr[0], red(255, 0, 0), 0.51);
    EXPECT_EQ(cb[1], 128); // white over black: grey
    EXPECT_EQ(cr[1], 128);
    EXPECT_NEAR(cb[2], blue(64, 64, 191.5), 0.51); // grey beside blue on the last row
    EXPECT_NEAR(cr[2], red(64, 64, 191.5), 0.51);
    EXPECT_EQ(cb[3], 128); // the corner's grey alone
    EXPECT_EQ(cr[3], 128);

    for (int i = 0; i < 256; ++i)
        ramp.red[i] = ramp.green[i] = ramp.blue[i] = uint16_t((255 - i) * 257);
    gpuYuv420FromPixels(pixels, 3, 3, ramp, &yuv);
    EXPECT_EQ(yuv[2], 16); // white shown black
    EXPECT_EQ(yuv[5], 235);
    EXPECT_NEAR(cr[0], red(0, 255, 255), 0.51);

    // The same picture as the bytes red, green, blue, alpha (what the export reads) gives the
    // same planes, through the identity and through the inverting ramp.
    uint32_t rgba[9];
    for (int i = 0; i < 9; ++i) {
        const uint8_t bytes[4] = {uint8_t(pixels[i] >> 16), uint8_t(pixels[i] >> 8),
                                  uint8_t(pixels[i]), uint8_t(pixels[i] >> 24)};
        memcpy(&rgba[i], bytes, 4);
    }
    std::vector<uint8_t> fromRgba;
    gpuYuv420FromPixels(rgba, 3, 3, ramp, &fromRgba, GpuPixelLayout::RgbaBytes);
    EXPECT_EQ(fromRgba, yuv);
    for (int i = 0; i < 256; ++i)
        ramp.red[i] = ramp.green[i] = ramp.blue[i] = uint16_t(i * 257);
    gpuYuv420FromPixels(pixels, 3, 3, ramp, &yuv);
    gpuYuv420FromPixels(rgba, 3, 3, ramp, &fromRgba, GpuPixelLayout::RgbaBytes);
    EXPECT_EQ(fromRgba, yuv);
}

TEST_F(GpuFixture, frameCountersAndTheProgramCacheStayBounded) {
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    for (int frame = 0; frame < 3; ++frame) {
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        clear(0);
        for (int i = 0; i < 50; ++i) {
            device->SetRenderState(D3DRS_ALPHABLENDENABLE, i & 1);
            drawQuad(float(i), 0, float(i + 1), 1, 0xFFFFFFFF);
        }
        ASSERT_EQ(device->EndScene(), D3D_OK);
        ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    }
    const GpuFrameStats& stats = device->GetFrameStats();
    EXPECT_EQ(stats.draws, 50u);
    EXPECT_EQ(stats.shaderLookups, 50u);
    EXPECT_EQ(stats.shaderCacheHits, 50u); // the last frame compiles nothing
    EXPECT_EQ(stats.shaderCompiles, 0u);
    EXPECT_GE(stats.stateChanges, 50u);
    EXPECT_GT(stats.glCalls, 50u);
    EXPECT_EQ(device->GetShaderCount(), 1u); // blending is not part of the program
}

#include "platform/window.h"

TEST(GpuWindow, presentDrawsIntoTheDemoWindowUprightLetterboxedThroughTheGammaRamp) {
    ASSERT_TRUE(initVideo());
    ASSERT_TRUE(createDemoWindow("gpu test", 200, 100, true, true));
    GpuSystem* system = gpuCreate();
    ASSERT_NE(system, nullptr);
    D3DPRESENT_PARAMETERS params;
    params.BackBufferWidth = 64; // a square picture in a wide window: bars left and right
    params.BackBufferHeight = 64;
    params.Windowed = true;
    GpuDevice* device = nullptr;
    ASSERT_EQ(system->CreateDevice(0, D3DDEVTYPE_HAL, demoWindowHandle(),
                                   D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device),
              D3D_OK);
    D3DGAMMARAMP ramp;
    for (int i = 0; i < 256; ++i) {
        ramp.red[i] = uint16_t(i * 257);
        ramp.green[i] = uint16_t((255 - i) * 257); // inverted green
        ramp.blue[i] = uint16_t(i * 257);
    }
    device->SetGammaRamp(D3DSGR_NO_CALIBRATION, &ramp);
    device->KeepPresentedImage(true);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF336699, 1, 0), D3D_OK);
    D3DRECT top{0, 0, 64, 8}; // a red band along the top of the picture
    ASSERT_EQ(device->Clear(1, &top, D3DCLEAR_TARGET, 0xFFFF0000, 1, 0), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    std::vector<uint32_t> window;
    uint32_t w = 0, h = 0;
    ASSERT_EQ(device->GetPresentedImage(&window, &w, &h), D3D_OK);
    ASSERT_EQ(w, 200u);
    ASSERT_EQ(h, 100u);
    // The 64x64 picture scales to 100x100, centred: black bars of 50 columns on each side.
    auto at = [&](int x, int y) { return window[size_t(y) * w + size_t(x)] & 0xFFFFFF; };
    EXPECT_EQ(at(10, 50), 0u);
    EXPECT_EQ(at(190, 50), 0u);
    EXPECT_EQ(at(100, 2), 0xFFFF00u);  // the red band at the top; green 0 -> 255
    EXPECT_EQ(at(100, 90), 0x339999u); // 0x336699 with green 0x66 -> 0x99
    EXPECT_EQ(at(60, 2), 0xFFFF00u);   // first columns inside the picture
    EXPECT_EQ(at(139, 97), 0x339999u);
    GpuSurface* back = nullptr;
    ASSERT_EQ(device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    D3DSURFACE_DESC desc;
    back->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 64u);
    EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8); // the default back buffer format
    back->Release();
    device->Release();
    system->Release();
    destroyDemoWindow();
    closeVideo();
}

TEST_F(GpuFixture, programCacheStaysBoundedUnderManyDistinctStates) {
    // Each colour operation with each alpha test function is a distinct program: 50 of them
    // through a cache limited to 16.
    gpuSetProgramCacheLimit(16);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    for (uint32_t op = D3DTOP_SELECTARG1; op <= D3DTOP_ADDSMOOTH; ++op)
        for (uint32_t func = D3DCMP_NEVER; func <= D3DCMP_GREATER; ++func) {
            device->SetTextureStageState(0, D3DTSS_COLOROP, op);
            device->SetRenderState(D3DRS_ALPHATESTENABLE, 1);
            device->SetRenderState(D3DRS_ALPHAFUNC, func);
            drawQuad(0, 0, 1, 1, 0xFFFFFFFF);
            ASSERT_LE(device->GetShaderCount(), 16u);
        }
    ASSERT_EQ(device->EndScene(), D3D_OK);
    gpuSetProgramCacheLimit(0);
    EXPECT_EQ(device->GetCurrentStats().shaderCompiles, 50u);
    EXPECT_EQ(device->GetShaderCount(), 50u % 16u);
}

TEST_F(GpuFixture, dynamicBufferLocksWithDiscardAndNoOverwriteDrawWhatWasWritten) {
    GpuVertexBuffer* vb = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(12 * sizeof(RhwVertex),
                                         D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, kRhwFvf,
                                         D3DPOOL_DEFAULT, &vb),
              D3D_OK);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    device->SetVertexShader(kRhwFvf);
    ASSERT_EQ(device->SetStreamSource(0, vb, sizeof(RhwVertex)), D3D_OK);
    auto quadAt = [&](float x, D3DCOLOR c, RhwVertex* out) {
        RhwVertex v[6] = {{x, 0, 0.5f, 1, c, 0, 0},     {x + 8, 0, 0.5f, 1, c, 0, 0},
                          {x, 8, 0.5f, 1, c, 0, 0},     {x + 8, 0, 0.5f, 1, c, 0, 0},
                          {x + 8, 8, 0.5f, 1, c, 0, 0}, {x, 8, 0.5f, 1, c, 0, 0}};
        std::copy(v, v + 6, out);
    };
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    clear(0xFF000000);
    uint8_t* bytes = nullptr;
    ASSERT_EQ(vb->Lock(0, 6 * sizeof(RhwVertex), &bytes, D3DLOCK_DISCARD), D3D_OK);
    quadAt(0, 0xFFFF0000, reinterpret_cast<RhwVertex*>(bytes));
    ASSERT_EQ(vb->Unlock(), D3D_OK);
    ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3D_OK);
    // Appending behind the first quad while it may still be drawn.
    ASSERT_EQ(vb->Lock(6 * sizeof(RhwVertex), 6 * sizeof(RhwVertex), &bytes, D3DLOCK_NOOVERWRITE),
              D3D_OK);
    quadAt(16, 0xFF00FF00, reinterpret_cast<RhwVertex*>(bytes));
    ASSERT_EQ(vb->Unlock(), D3D_OK);
    ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 6, 2), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(pixel(3, 3), 0xFFFF0000u);
    EXPECT_EQ(pixel(19, 3), 0xFF00FF00u);
    device->SetStreamSource(0, nullptr, 0);
    vb->Release();
}

TEST_F(GpuFixture, indicesBeyondTheVertexBufferDoNotCrash) {
    GpuVertexBuffer* vb = nullptr;
    GpuIndexBuffer* ib = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(3 * sizeof(RhwVertex), 0, kRhwFvf, D3DPOOL_MANAGED, &vb),
              D3D_OK);
    ASSERT_EQ(device->CreateIndexBuffer(3 * 2, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib), D3D_OK);
    uint8_t* bytes;
    ASSERT_EQ(ib->Lock(0, 0, &bytes, 0), D3D_OK);
    const uint16_t indices[3] = {0, 1, 60000};
    memcpy(bytes, indices, sizeof indices);
    ib->Unlock();
    device->SetVertexShader(kRhwFvf);
    device->SetStreamSource(0, vb, sizeof(RhwVertex));
    device->SetIndices(ib, 0);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    // The stated range fits the buffer; the third index does not.
    device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 0, 1);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    readTarget();
    device->SetStreamSource(0, nullptr, 0);
    device->SetIndices(nullptr, 0);
    vb->Release();
    ib->Release();
}

TEST_F(GpuFixture, surfacesHeldAcrossResetAndPastTheDeviceAreSafeToRelease) {
    GpuSurface* oldBack = nullptr;
    ASSERT_EQ(device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &oldBack), D3D_OK);
    GpuTexture* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture),
              D3D_OK);
    params.BackBufferWidth = 32;
    ASSERT_EQ(device->Reset(&params), D3D_OK);
    GpuSurface* newBack = nullptr;
    ASSERT_EQ(device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &newBack), D3D_OK);
    EXPECT_NE(newBack, oldBack);
    D3DSURFACE_DESC desc;
    newBack->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 32u);
    newBack->Release();
    device->Release();
    device = nullptr;
    // The device is gone: releasing what is left must not touch GL.
    EXPECT_EQ(oldBack->Release(), 0u);
    EXPECT_EQ(texture->Release(), 0u);
}
