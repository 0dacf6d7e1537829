#include "gfx/dxcheck.h"
#include "gfx/resources.h"
#include "gfx_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using ResourceManagerTest = DeviceFixture;
using GeometryTest = DeviceFixture;

constexpr uint32_t kFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE; // 16 bytes

void fill(VertexBuffer& vb, uint8_t value) {
    void* data = vb.lock(0, -1, kLockNormal);
    ASSERT_NE(data, nullptr);
    memset(data, value, vb.count * vb.stride);
    vb.unlock();
}

bool allBytes(GpuBuffer* buffer, uint8_t value) {
    if (!buffer || buffer->contents.empty()) return false;
    for (uint8_t b : buffer->contents)
        if (b != value) return false;
    return true;
}

// The device goes lost and comes back through present, as after switching away.
void loseAndRecover(GpuDevice* device) {
    device->SimulateDeviceLoss(2);
    present();
}

TEST_F(ResourceManagerTest, DeviceLossKeepsManagedBuffersAndRestoresReadableOnes) {
    VertexBuffer managed, writeOnly, readable;
    managed.create(kFvf, 8, false, false);
    writeOnly.create(kFvf, 8, true, true);
    readable.create(kFvf, 8, true, false);
    fill(managed, 0x11);
    fill(writeOnly, 0x22);
    fill(readable, 0x33);
    ASSERT_EQ(managed.buffer()->GetPool(), D3DPOOL_MANAGED);
    ASSERT_EQ(writeOnly.buffer()->GetPool(), D3DPOOL_DEFAULT);
    ASSERT_EQ(readable.buffer()->GetPool(), D3DPOOL_DEFAULT);
    GpuVertexBuffer* managedObject = managed.buffer();
    GpuVertexBuffer* readableObject = readable.buffer();

    saveResources();
    EXPECT_EQ(resourceState(), 1);
    loseAndRecover(device);
    EXPECT_EQ(resourceState(), 0);

    EXPECT_EQ(managed.buffer(), managedObject); // untouched
    EXPECT_TRUE(allBytes(managed.buffer(), 0x11));
    ASSERT_NE(writeOnly.buffer(), nullptr);
    EXPECT_EQ(writeOnly.buffer()->contents.size(), 8u * 16u);
    EXPECT_FALSE(allBytes(writeOnly.buffer(), 0x22)); // recreated empty
    ASSERT_NE(readable.buffer(), nullptr);
    EXPECT_NE(readable.buffer(), readableObject);
    EXPECT_TRUE(allBytes(readable.buffer(), 0x33));
    std::string text = log();
    EXPECT_NE(text.find("RESM: resource save\nRESM: resource kill\nRESM: resource restore\n"),
              std::string::npos);
    // The restored buffer can be locked and drawn from again.
    EXPECT_NE(readable.lock(0, 4, kLockDiscard), nullptr);
    readable.unlock();
}

int pumped = 0;
void countPump() {
    ++pumped;
}

TEST_F(ResourceManagerTest, LostDevicePumpsMessagesAndResendsStatesAfterTheReset) {
    pumped = 0;
    deviceSettings.pumpMessages = countPump;
    setRenderState(D3DRS_ALPHATESTENABLE, 1);
    setRenderState(D3DRS_ALPHAREF, 0x40);
    flushState();
    device->SimulateDeviceLoss(2);
    present();
    EXPECT_EQ(pumped, 2);
    EXPECT_EQ(device->GetResetCount(), 1u);
    flushState();
    uint32_t value = 0;
    device->GetRenderState(D3DRS_ALPHATESTENABLE, &value);
    EXPECT_EQ(value, 1u);
    device->GetRenderState(D3DRS_ALPHAREF, &value);
    EXPECT_EQ(value, 0x40u);
    EXPECT_TRUE(sceneOpen());
}

uint32_t firstPixel(const char* target) {
    GpuSurface* surface = renderTargetSurface(findRenderTarget(target));
    if (!surface) return 0;
    std::vector<uint32_t> pixels;
    HRESULT read = dxDevice()->ReadSurface(surface, &pixels);
    surface->Release();
    return SUCCEEDED(read) ? pixels[0] & 0xFFFFFF : 0;
}

// A feedback effect reads last frame's picture from its target or draws over the last frame
// on the screen: the loss must blank neither.
TEST_F(ResourceManagerTest, TargetsKeepTheirPicturesAndDepthBuffersAcrossALoss) {
    createRenderTexture(32, 32, "glow", true);
    selectRenderTarget("glow");
    clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x123456);
    selectRenderTarget("primary");
    clear(D3DCLEAR_TARGET, 0x0000FF);
    saveResources();
    loseAndRecover(device);
    EXPECT_EQ(firstPixel("glow"), 0x123456u);
    EXPECT_EQ(firstPixel("primary"), 0x0000FFu);
    selectRenderTarget("glow");
    clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x654321);
    EXPECT_EQ(firstPixel("glow"), 0x654321u);
    EXPECT_EQ(log().find("recreation failed"), std::string::npos);
    EXPECT_EQ(log().find("not restored"), std::string::npos);
}

TEST_F(ResourceManagerTest, KillWithoutSaveAndRestoreWithoutKillChangeNothing) {
    VertexBuffer vb;
    vb.create(kFvf, 4, true, false);
    GpuVertexBuffer* object = vb.buffer();
    killResources();
    restoreResources();
    EXPECT_EQ(resourceState(), 0);
    EXPECT_EQ(vb.buffer(), object);
    EXPECT_EQ(log().find("RESM: resource kill"), std::string::npos);
}

TEST_F(ResourceManagerTest, UnknownIdsAreWarnedAbout) {
    VertexBuffer vb;
    vb.create(kFvf, 4, false, true);
    uint32_t id = vb.id;
    vb.destroy();
    EXPECT_EQ(resourceObject(id), nullptr);
    removeResource(id);
    EXPECT_NE(log().find(formatTemp("RESM: warning: no resource with id %08x found\n", id)),
              std::string::npos);
}

TEST_F(GeometryTest, DynamicSlicesOfOneFormatShareARingBuffer) {
    GeometrySlice a, b, other;
    a.create(kFvf, 100, true);
    b.create(kFvf, 50, true);
    other.create(D3DFVF_XYZRHW, 10, true);
    EXPECT_EQ(a.shared, b.shared);
    EXPECT_NE(a.shared, other.shared);
    EXPECT_EQ(sliceBufferCapacity(a), 0x3000u);
    ASSERT_NE(a.lock(), nullptr);
    a.unlock();
    EXPECT_EQ(a.use(), 0u);
    ASSERT_NE(b.lock(), nullptr);
    b.unlock();
    EXPECT_EQ(b.use(), 100u);
    EXPECT_NE(log().find("DXHL: init\n"), std::string::npos);
}

TEST_F(GeometryTest, DynamicRingStartsOverWhenARequestDoesNotFit) {
    GeometrySlice big, last;
    big.create(kFvf, 0x3000 - 10, true);
    last.create(kFvf, 20, true);
    ASSERT_NE(big.lock(), nullptr);
    big.unlock();
    ASSERT_NE(last.lock(), nullptr);
    last.unlock();
    EXPECT_EQ(last.use(), 0u);
}

TEST_F(GeometryTest, LargeRequestsGetBuffersOfTheirOwnSize) {
    GeometrySlice dynamicLarge, staticLarge;
    dynamicLarge.create(kFvf, 0x3001, true);
    EXPECT_EQ(sliceBufferCapacity(dynamicLarge), 0x3001u);
    staticLarge.create(kFvf, 20000, false);
    EXPECT_EQ(sliceBufferCapacity(staticLarge), 20000u);
    int32_t buffers = sharedVertexBufferCount();
    dynamicLarge.release();
    EXPECT_EQ(sharedVertexBufferCount(), buffers - 1);
    // A large static buffer goes when its last user does (small slices may share its rest),
    // so that making and releasing one again and again does not pile buffers up.
    GeometrySlice small;
    small.create(kFvf, 10, false);
    staticLarge.release();
    EXPECT_EQ(sharedVertexBufferCount(), buffers - 1);
    for (int i = 0; i < 3; ++i) {
        GeometrySlice again;
        again.create(kFvf, 20000, false);
        EXPECT_EQ(sharedVertexBufferCount(), buffers);
        again.release();
    }
    small.release();
    IndexSlice indices;
    indices.create(20000, false);
    int32_t indexBuffers = sharedIndexBufferCount();
    indices.release();
    EXPECT_EQ(sharedIndexBufferCount(), indexBuffers - 1);
}

TEST_F(GeometryTest, StaticSlicesTakeTheFirstGapThatFits) {
    GeometrySlice a, b, c, d, e;
    a.create(kFvf, 1000, false);
    b.create(kFvf, 2000, false);
    c.create(kFvf, 3000, false);
    EXPECT_EQ(a.shared, c.shared);
    EXPECT_EQ(sliceBufferCapacity(a), 16000u);
    EXPECT_EQ(a.offset, 0u);
    EXPECT_EQ(b.offset, 1000u);
    EXPECT_EQ(c.offset, 3000u);
    b.release();
    d.create(kFvf, 2500, false); // the 2000 gap is too small: after c
    EXPECT_EQ(d.offset, 6000u);
    e.create(kFvf, 1500, false); // fits the gap b left
    EXPECT_EQ(e.offset, 1000u);

    GeometrySlice tooBig;
    tooBig.create(kFvf, 15000, false); // no gap left: a new buffer
    EXPECT_NE(tooBig.shared, a.shared);
    EXPECT_EQ(tooBig.offset, 0u);

    // The contents land in the slice's own range of the shared buffer.
    auto* p = static_cast<uint8_t*>(e.lock(0, 1));
    ASSERT_NE(p, nullptr);
    memset(p, 0x7F, 16);
    e.unlock();
    GpuVertexBuffer* buffer = static_cast<GpuVertexBuffer*>(resourceObject(sliceBufferId(e)));
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->contents[1000 * 16], 0x7F);
    EXPECT_EQ(buffer->contents[1000 * 16 - 1], 0);
}

TEST_F(GeometryTest, IndexSlicesShareAndFitLikeVertexSlices) {
    IndexSlice a, b, s1, s2;
    a.create(30, true);
    b.create(60, true);
    EXPECT_EQ(a.shared, b.shared);
    ASSERT_NE(a.lock(), nullptr);
    a.unlock();
    ASSERT_NE(b.lock(), nullptr);
    b.unlock();
    EXPECT_EQ(b.use(), 30u);
    s1.create(100, false);
    s2.create(100, false);
    EXPECT_EQ(s2.offset, 100u);
    s1.release();
    IndexSlice s3;
    s3.create(50, false);
    EXPECT_EQ(s3.offset, 0u);
}

TEST_F(GeometryTest, LocksOutsideTheSliceFail) {
    GeometrySlice slice;
    slice.create(kFvf, 10, false);
    EXPECT_EQ(slice.lock(5, 6), nullptr);
    EXPECT_NE(log().find("DXRC: vb lock failed\n"), std::string::npos);
    EXPECT_NE(slice.lock(5, 5), nullptr);
    slice.unlock();
}

struct ScreenVertex {
    float x, y, z, rhw;
    D3DCOLOR diffuse;
};
constexpr uint32_t kScreenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;

uint32_t primaryPixel(GpuDevice* device, int x, int y) {
    std::vector<uint32_t> pixels;
    EXPECT_EQ(device->ReadSurface(findRenderTarget("primary")->surface, &pixels), D3D_OK);
    return pixels.at(size_t(y) * DeviceFixture::kWidth + size_t(x)) & 0xFFFFFF;
}

void writeQuad(ScreenVertex* v, float x0, float y0, float x1, float y1, D3DCOLOR colour) {
    v[0] = {x0 - 0.5f, y0 - 0.5f, 0.5f, 0.5f, colour};
    v[1] = {x1 - 0.5f, y0 - 0.5f, 0.5f, 0.5f, colour};
    v[2] = {x1 - 0.5f, y1 - 0.5f, 0.5f, 0.5f, colour};
    v[3] = {x0 - 0.5f, y1 - 0.5f, 0.5f, 0.5f, colour};
}

TEST_F(GeometryTest, SlicesDrawFansAndIndexedTriangles) {
    selectRenderTarget("primary");
    clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0);
    resetDeviceState();
    setStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);

    // Two fans from one dynamic slice in one frame: the second lands after the first.
    GeometrySlice fan;
    fan.create(kScreenFvf, 4, true);
    auto* v = static_cast<ScreenVertex*>(fan.lock());
    ASSERT_NE(v, nullptr);
    writeQuad(v, 0, 0, 16, 16, 0xFFFF0000);
    fan.unlock();
    drawPrimitive(D3DPT_TRIANGLEFAN, fan.use(), 2);
    v = static_cast<ScreenVertex*>(fan.lock());
    writeQuad(v, 16, 0, 32, 16, 0xFF00FF00);
    fan.unlock();
    uint32_t first = fan.use();
    EXPECT_EQ(first, 4u);
    drawPrimitive(D3DPT_TRIANGLEFAN, first, 2);

    GeometrySlice quad;
    IndexSlice indices;
    quad.create(kScreenFvf, 4, false);
    indices.create(6, false);
    v = static_cast<ScreenVertex*>(quad.lock());
    writeQuad(v, 0, 32, 16, 48, 0xFF0000FF);
    quad.unlock();
    uint16_t* i = indices.lock();
    ASSERT_NE(i, nullptr);
    const uint16_t order[6] = {0, 1, 2, 0, 2, 3};
    memcpy(i, order, sizeof order);
    indices.unlock();
    uint32_t base = quad.use();
    drawIndexed(D3DPT_TRIANGLELIST, 0, 4, indices.use(base), 2);

    EXPECT_EQ(primaryPixel(device, 8, 8), 0xFF0000u);
    EXPECT_EQ(primaryPixel(device, 24, 8), 0x00FF00u);
    EXPECT_EQ(primaryPixel(device, 8, 40), 0x0000FFu);
    EXPECT_EQ(primaryPixel(device, 40, 40), 0x000000u);
    EXPECT_EQ(log().find("failed"), std::string::npos);
    EXPECT_EQ(log().find("TOOL:"), std::string::npos);
}

TEST_F(GeometryTest, ShutdownInEitherOrderLeavesNoWarnings) {
    GeometrySlice a;
    a.create(kFvf, 10, false);
    createRenderTexture(16, 16, "t", true);
    resourceClose(); // the order of the shutdown sequence: manager, then the device
    closeGeometryCaches();
    closeDevice();
    EXPECT_EQ(log().find("warning"), std::string::npos);
}

TEST_F(GeometryTest, CachesAreEmptiedAtShutdown) {
    GeometrySlice a;
    a.create(kFvf, 10, true);
    EXPECT_GT(sharedVertexBufferCount(), 0);
    closeGeometryCaches();
    EXPECT_EQ(sharedVertexBufferCount(), 0);
}

} // namespace
