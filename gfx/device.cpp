// Device context: device start and end, render targets, viewports, clear and present.
// The state cache, vertex shaders and draw wrappers are in devicestate.cpp.
//
// Sections: shared depth buffers, start, end, targets, viewport and clear, present.
#include "gfx/device.h"

#include "data/filesystem.h"
#include "gfx/device_local.h"
#include "gfx/dxcheck.h"
#include "gfx/enumeration.h"
#include "gfx/resources.h"
#include "gfx/texture.h"
#include "gfx/texturepool.h"
#include "platform/config.h"
#include "platform/gpu/gpu.h"
#include "platform/log.h"

#include <cmath>
#include <cstdio>
#include <cstring>

DeviceSettings deviceSettings;
ScreenFormat screenFormat;
DeviceContext deviceContext;

// ---- Shared depth buffers of texture targets ----

namespace gfx {
struct DepthEntry {
    uint32_t resourceId = 0;
    int32_t width = 0, height = 0;
};
} // namespace gfx

namespace {

class DepthPool : public NamedCache {
  public:
    int32_t load(const char* name, void** object, int32_t* size) override {
        unsigned width = 0, height = 0;
        if (sscanf(name, "%08x%08x", &width, &height) != 2) return 0;
        resourceManagerDiscardBytes(0);
        GpuSurface* surface = nullptr;
        HRESULT hr = deviceContext.device->CreateDepthStencilSurface(
            width, height, deviceContext.depthFormat, D3DMULTISAMPLE_NONE, &surface);
        if (FAILED(hr)) fatal("DCTX: couldn't create zbuffer surface for RTT targets");
        logf("DCTX: created additional zbuffer of size w: %d h: %d\n", int(width), int(height));
        auto* entry = new DepthEntry;
        entry->resourceId = addSurface(surface);
        entry->width = int32_t(width);
        entry->height = int32_t(height);
        *object = entry;
        if (size) *size = 0;
        return 1;
    }
    void unload(void*& object) override {
        auto* entry = static_cast<DepthEntry*>(object);
        if (entry && hasResourceManager()) removeResource(entry->resourceId);
        delete entry;
        object = nullptr;
    }
};

uint32_t bitsOfFormat(D3DFORMAT format) {
    if (format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8) return 32;
    if (format == D3DFMT_R5G6B5 || format == D3DFMT_X1R5G5B5) return 16;
    return 0;
}

// The device type record to create the device for: hardware when usable, else reference.
uint32_t chooseDeviceType(AdapterInfo* info) {
    if (info->deviceTypes[0].usable) return D3DDEVTYPE_HAL;
    if (info->deviceTypes[1].usable) return D3DDEVTYPE_REF;
    return D3DDEVTYPE_HAL;
}

D3DDISPLAYMODE chooseMode(AdapterInfo* info, bool windowed) {
    if (windowed) return info->desktopMode;
    int32_t index = deviceSettings.mode;
    if (index < 0 || size_t(index) >= info->modes.size())
        fatal("DCTX: display mode %d is not available on this adapter", int(index));
    return info->modes[size_t(index)];
}

void buildPresentParameters(const D3DDISPLAYMODE& mode, bool windowed, void* window) {
    D3DPRESENT_PARAMETERS& p = deviceContext.parameters;
    p = D3DPRESENT_PARAMETERS{};
    p.BackBufferWidth = uint32_t(screenFormat.width);
    p.BackBufferHeight = uint32_t(screenFormat.height);
    p.BackBufferFormat = mode.Format;
    p.BackBufferCount = 1;
    p.MultiSampleType = D3DMULTISAMPLE_NONE;
    p.EnableAutoDepthStencil = false;
    p.Flags = 0;
    p.FullScreen_RefreshRateInHz = 0;
    if (windowed) {
        p.SwapEffect = D3DSWAPEFFECT_COPY;
        p.Windowed = true;
    } else {
        // The demo window itself takes the full screen; no separate device window is needed.
        p.SwapEffect = D3DSWAPEFFECT_FLIP;
        p.hDeviceWindow = window;
        p.Windowed = false;
        p.FullScreen_PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;
    }
    if (!deviceSettings.vsync) p.FullScreen_PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
}

void setGammaRamp() {
    float gamma = configValues.gamma > 0 ? configValues.gamma : 1.0f;
    logf("DCTX: gamma is %1.3f\n", double(gamma));
    D3DGAMMARAMP ramp;
    for (int i = 0; i < 256; ++i) {
        auto value = uint16_t(pow(i / 255.0, 1.0 / gamma) * 65535.0);
        ramp.red[i] = ramp.green[i] = ramp.blue[i] = value;
    }
    deviceContext.device->SetGammaRamp(D3DSGR_NO_CALIBRATION, &ramp);
}

D3DFORMAT findDepthFormat(uint32_t adapter, uint32_t type, D3DFORMAT adapterFormat) {
    for (uint32_t f = 71; f <= 80; ++f) {
        auto format = D3DFORMAT(f);
        if (SUCCEEDED(deviceContext.direct3d->CheckDeviceFormat(
                adapter, type, adapterFormat, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, format)) &&
            SUCCEEDED(deviceContext.direct3d->CheckDepthStencilMatch(adapter, type, adapterFormat,
                                                                     adapterFormat, format)))
            return format;
    }
    fatal("No suitable Depth Buffer Format found");
}

RenderTarget* newTarget(const char* name, int32_t width, int32_t height) {
    auto* target = new RenderTarget;
    copyName(target->name, name);
    target->width = target->surfaceWidth = width;
    target->height = target->surfaceHeight = height;
    target->next = deviceContext.targets;
    deviceContext.targets = target;
    return target;
}

void freeTarget(RenderTarget* target) {
    if (target->surface) target->surface->Release();
    if (target->depthEntry && deviceContext.depthPool)
        deviceContext.depthPool->release(target->depthEntry);
    if (target->texture) {
        withdrawRenderTexture(target);
        delete target->texture;
    }
    delete target;
}

void freeTargets() {
    RenderTarget* target = deviceContext.targets;
    while (target) {
        RenderTarget* next = target->next;
        freeTarget(target);
        target = next;
    }
    deviceContext.targets = nullptr;
    deviceContext.primary = nullptr;
    deviceContext.current = nullptr;
}

// The device's own viewport after a target switch (it resets it to the whole target).
void mirrorDeviceViewport() {
    D3DVIEWPORT8 vp;
    if (FAILED(deviceContext.device->GetViewport(&vp))) return;
    Viewport& v = deviceContext.viewport;
    v.left = int32_t(vp.X);
    v.top = int32_t(vp.Y);
    v.width = int32_t(vp.Width);
    v.height = int32_t(vp.Height);
    v.right = v.left + v.width;
    v.bottom = v.top + v.height;
}

void openScene() {
    if (deviceContext.sceneOpen) return;
    if (FAILED(deviceContext.device->BeginScene())) logf("DCTX: device->BeginScene() failed\n");
    deviceContext.sceneOpen = true;
}

void closeScene(const char* failure) {
    if (!deviceContext.sceneOpen) return;
    if (FAILED(deviceContext.device->EndScene()))
        logf("%s", failure);
    else
        deviceContext.sceneOpen = false;
}

} // namespace

// ---- Start ----

void initDevice(GpuSystem* direct3d, void* mainWindow) {
    DeviceContext& c = deviceContext;
    if (c.device) closeDevice();
    c = DeviceContext{};
    c.direct3d = direct3d;
    AdapterInfo* info = adapterInfo(deviceSettings.adapter);
    if (!direct3d || !info)
        fatal("DCTX: no adapter %d to create the device on", deviceSettings.adapter);
    c.adapter = uint32_t(deviceSettings.adapter);
    c.deviceType = chooseDeviceType(info);
    DeviceTypeInfo& record = info->deviceTypes[c.deviceType - 1];
    c.caps = record.caps;
    if (!record.usable) direct3d->GetDeviceCaps(c.adapter, c.deviceType, &c.caps);

    bool windowed = configValues.windowed != 0 || !mainWindow;
    D3DDISPLAYMODE mode = chooseMode(info, windowed);
    screenFormat.width = windowed ? configValues.xres : int32_t(mode.Width);
    screenFormat.height = windowed ? configValues.yres : int32_t(mode.Height);
    if (screenFormat.width <= 0 || screenFormat.height <= 0) {
        screenFormat.width = int32_t(info->desktopMode.Width);
        screenFormat.height = int32_t(info->desktopMode.Height);
    }
    screenFormat.format = mode.Format;
    screenFormat.bitsPerPixel = int32_t(bitsOfFormat(mode.Format));

    buildPresentParameters(mode, windowed, mainWindow);
    uint32_t behaviour = (c.caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT)
                             ? D3DCREATE_MIXED_VERTEXPROCESSING
                             : D3DCREATE_SOFTWARE_VERTEXPROCESSING;
    c.softwareDevice = (behaviour & D3DCREATE_SOFTWARE_VERTEXPROCESSING) != 0;
    checkDx(direct3d->CreateDevice(c.adapter, c.deviceType, mainWindow, behaviour, &c.parameters,
                                   &c.device),
            "CreateDevice FAILED", true);
    setGammaRamp();

    c.depthFormat = findDepthFormat(c.adapter, c.deviceType, mode.Format);
    checkDx(c.device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &c.backBuffer),
            "Couldn't get Backbuffer", true);
    checkDx(c.device->CreateDepthStencilSurface(uint32_t(screenFormat.width),
                                                uint32_t(screenFormat.height), c.depthFormat,
                                                D3DMULTISAMPLE_NONE, &c.depthBuffer),
            "ZBuffer create FAILED", true);

    c.viewport = Viewport{
        0, 0, screenFormat.width, screenFormat.height, screenFormat.width, screenFormat.height};
    c.primary = newTarget("primary", screenFormat.width, screenFormat.height);
    c.primary->surface = c.backBuffer;
    c.backBuffer->AddRef();
    c.primary->hasDepth = 1;

    c.depthPool = new DepthPool;
    resetStateCache();
    checkDx(c.device->SetRenderTarget(c.backBuffer, c.depthBuffer), "SetRenderTarget FAILED", true);
    c.current = c.primary;
    c.aspect = float(screenFormat.width) / float(screenFormat.height);
    setRenderState(D3DRS_ZENABLE, 1);
    logf("DCTX: init\n");
}

// ---- End ----

void closeDevice() {
    DeviceContext& c = deviceContext;
    if (c.device) closeScene("DCTX: device->EndScene() failed\n");
    closeGeometryCaches();
    freeTargets();
    if (c.depthPool) c.depthPool->releaseAll();
    delete c.depthPool;
    c.depthPool = nullptr;
    if (c.depthBuffer) c.depthBuffer->Release();
    if (c.backBuffer) c.backBuffer->Release();
    c.depthBuffer = c.backBuffer = nullptr;
    freeVertexShaders();
    resourceClose();
    freeScratchBuffers();
    if (c.device) c.device->Release();
    c.device = nullptr;
    if (c.direct3d) c.direct3d->Release();
    c.direct3d = nullptr;
    c = DeviceContext{}; // a later initDevice starts from nothing
}

void closeDeviceOnFatal() {
    // Hands the screen back; pools and resources are left as they are.
    DeviceContext& c = deviceContext;
    if (!c.device) return;
    GpuDevice* device = c.device;
    c.device = nullptr;
    device->Release();
}

int32_t screenWidth() {
    return deviceContext.device ? screenFormat.width : configValues.xres;
}

int32_t screenHeight() {
    return deviceContext.device ? screenFormat.height : configValues.yres;
}

bool hasDevice() {
    return deviceContext.device != nullptr;
}

GpuDevice* dxDevice() {
    return deviceContext.device;
}

const D3DCAPS8& deviceCaps() {
    return deviceContext.caps;
}

uint32_t blendStageCount() {
    uint32_t stages = deviceContext.caps.MaxTextureBlendStages;
    if (stages < 1) stages = 1;
    if (stages > kMaxTextureStages) stages = kMaxTextureStages;
    return stages;
}

// ---- Targets ----

RenderTarget* createRenderTexture(int32_t width, int32_t height, const char* name, bool withDepth) {
    DeviceContext& c = deviceContext;
    if (RenderTarget* existing = findRenderTarget(name)) return existing;
    auto* texture = new Texture(width, height, kTextureRgb | kTextureRenderTarget);
    auto* deviceTexture = static_cast<GpuTexture*>(resourceObject(texture->resourceId));
    GpuSurface* surface = nullptr;
    checkDx(deviceTexture ? deviceTexture->GetSurfaceLevel(0, &surface) : D3DERR_INVALIDCALL,
            "GetSurfaceLevel FAILED", true);
    D3DSURFACE_DESC desc;
    checkDx(surface->GetDesc(&desc), "GetDesc FAILED", true);
    surface->Release();

    RenderTarget* target = newTarget(name, width, height);
    target->texture = texture;
    target->textureId = texture->resourceId;
    target->surfaceWidth = int32_t(desc.Width);
    target->surfaceHeight = int32_t(desc.Height);
    if (withDepth) {
        void* entry = nullptr;
        const char* key = formatTemp("%08x%08x", desc.Width, desc.Height);
        if (!c.depthPool->acquire(key, &entry, nullptr) || !entry)
            fatal("Couldn't get matching ZBuffer for Rendertarget '%s'", target->name);
        target->depthEntry = static_cast<DepthEntry*>(entry);
        target->hasDepth = 1;
    }
    publishRenderTexture(target);
    return target;
}

RenderTarget* findRenderTarget(const char* name) {
    if (!name) return deviceContext.current;
    char wanted[64];
    copyName(wanted, name);
    for (RenderTarget* t = deviceContext.targets; t; t = t->next)
        if (strcmp(t->name, wanted) == 0) return t;
    return nullptr;
}

void destroyRenderTarget(const char* name) {
    DeviceContext& c = deviceContext;
    RenderTarget* target = name ? findRenderTarget(name) : nullptr;
    if (!target || target == c.primary) return;
    if (target == c.current) setRenderTarget(c.primary, true);
    for (RenderTarget** link = &c.targets; *link; link = &(*link)->next) {
        if (*link != target) continue;
        *link = target->next;
        break;
    }
    freeTarget(target);
}

int32_t depthBufferCount() {
    return deviceContext.depthPool ? deviceContext.depthPool->count() : 0;
}

RenderTarget* renderTargets() {
    return deviceContext.targets;
}

void selectRenderTarget(const char* name, bool force) {
    RenderTarget* target = findRenderTarget(name);
    if (!target || !name) {
        logf("DCTX: couldn't find rendertarget '%s', setting primary\n", name ? name : "");
        target = deviceContext.primary;
    }
    setRenderTarget(target, force);
}

GpuSurface* renderTargetSurface(RenderTarget* target) {
    if (!target) return nullptr;
    if (target->surface) {
        target->surface->AddRef();
        return target->surface;
    }
    auto* texture = static_cast<GpuTexture*>(resourceObject(target->textureId));
    GpuSurface* surface = nullptr;
    if (!texture || FAILED(texture->GetSurfaceLevel(0, &surface))) return nullptr;
    return surface;
}

void setRenderTarget(RenderTarget* target, bool force) {
    DeviceContext& c = deviceContext;
    if (!target || !c.device) return;
    if (target != c.current || force) {
        closeScene("DCTX: d3ddev->EndScene() failed\n");
        GpuSurface* colour = renderTargetSurface(target);
        GpuSurface* depth = c.depthBuffer;
        if (target->depthEntry) depth = resourceSurface(target->depthEntry->resourceId);
        if (!colour ||
            FAILED(c.device->SetRenderTarget(colour, target->hasDepth ? depth : nullptr)))
            logf("DCTX: d3ddev->SetRenderTarget() failed\n");
        else
            mirrorDeviceViewport();
        setRenderState(D3DRS_ZENABLE, target->hasDepth ? 1 : 0);
        if (colour) colour->Release();
        c.aspect = target->height ? float(target->width) / float(target->height) : 1.0f;
        c.current = target;
    }
    openScene();
}

RenderTarget* currentRenderTarget() {
    return deviceContext.current;
}

// ---- Viewport and clear ----

void setViewport(int32_t x, int32_t y, int32_t width, int32_t height) {
    Viewport& v = deviceContext.viewport;
    if (x == v.left && y == v.top && width == v.width && height == v.height) return;
    D3DVIEWPORT8 vp{uint32_t(x), uint32_t(y), uint32_t(width), uint32_t(height), 0.0f, 1.0f};
    if (!deviceContext.device || x < 0 || y < 0 || width < 0 || height < 0 ||
        FAILED(deviceContext.device->SetViewport(&vp))) {
        logf("DCTX: failed to set viewport (x: %d y: %d w: %d h: %d)\n", x, y, width, height);
        return;
    }
    v = Viewport{x, y, width, height, x + width, y + height};
}

const Viewport& currentViewport() {
    return deviceContext.viewport;
}

float aspectRatio() {
    return deviceContext.aspect;
}

bool sceneOpen() {
    return deviceContext.sceneOpen;
}

void clear(uint32_t flags, D3DCOLOR colour, float z, uint32_t stencil) {
    DeviceContext& c = deviceContext;
    RenderTarget* target = c.current;
    if (!c.device || !target) return;
    if (!target->hasDepth) flags &= ~D3DCLEAR_ZBUFFER;
    openScene();
    bool wholeSurface = target != c.primary;
    if (wholeSurface) {
        D3DVIEWPORT8 full{
            0, 0, uint32_t(target->surfaceWidth), uint32_t(target->surfaceHeight), 0.0f, 1.0f};
        if (FAILED(c.device->SetViewport(&full)))
            logf("DCTX: device->SetViewport failed in clear\n");
    }
    if (FAILED(c.device->Clear(0, nullptr, flags, colour, z, stencil)))
        logf("DCTX: device->Clear() failed\n");
    if (wholeSurface) {
        const Viewport& v = c.viewport;
        D3DVIEWPORT8 back{
            uint32_t(v.left), uint32_t(v.top), uint32_t(v.width), uint32_t(v.height), 0.0f, 1.0f};
        if (FAILED(c.device->SetViewport(&back)))
            logf("DCTX: device->SetViewport failed in clear\n");
    }
}

// ---- Present ----

namespace {

void recoverDevice() {
    DeviceContext& c = deviceContext;
    // Bound textures would keep default-pool objects alive through the kill.
    for (uint32_t stage = 0; stage < kMaxTextureStages; ++stage)
        c.device->SetTexture(stage, nullptr);
    killResources();
    if (c.primary && c.primary->surface) c.primary->surface->Release();
    if (c.primary) c.primary->surface = nullptr;
    if (c.backBuffer) c.backBuffer->Release();
    c.backBuffer = nullptr;
    c.sceneOpen = false;
    if (checkDx(c.device->Reset(&c.parameters), "Reset FAILED", false) != 0) return;
    restoreResources();
    checkDx(c.device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &c.backBuffer),
            "Couldn't get Backbuffer", true);
    c.primary->surface = c.backBuffer;
    c.backBuffer->AddRef();
    // The reset put every device state back to its default: nothing the cache sent holds.
    forgetSentState();
    setRenderTarget(c.primary, true);
    resetDeviceState();
}

} // namespace

void restoreLostDevice() {
    DeviceContext& c = deviceContext;
    if (!c.device) return;
    HRESULT hr = c.device->TestCooperativeLevel();
    while (hr == D3DERR_DEVICELOST) {
        if (deviceSettings.pumpMessages) deviceSettings.pumpMessages();
        if (!c.device) return; // the pump ended the program's device
        hr = c.device->TestCooperativeLevel();
    }
    if (hr == D3DERR_DEVICENOTRESET)
        recoverDevice();
    else if (FAILED(hr))
        checkDx(hr, "TestCooperativeLevel failed", true);
}

void present(const RECT* destRect, void* windowOverride) {
    DeviceContext& c = deviceContext;
    restoreLostDevice();
    if (!c.device) return;
    closeScene("DCTX: device->EndScene() failed\n");
    c.device->Present(nullptr, destRect, windowOverride, nullptr);
    setRenderTarget(c.primary, true);
    flipAnimatedTextures();
}

bool captureFrame(const char* path, bool now) {
    if (!deviceContext.device || !path) return false;
    return SUCCEEDED(deviceContext.device->CapturePng(path, now));
}

bool readFramePixels(std::vector<uint32_t>* pixels, D3DGAMMARAMP* ramp, int32_t* width,
                     int32_t* height) {
    GpuDevice* device = deviceContext.device;
    if (!device || !pixels || !ramp || !width || !height) return false;
    GpuSurface* backBuffer = nullptr;
    if (FAILED(device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &backBuffer))) return false;
    bool read = SUCCEEDED(device->ReadSurfaceRgba(backBuffer, pixels));
    D3DSURFACE_DESC description;
    backBuffer->GetDesc(&description);
    backBuffer->Release();
    device->GetGammaRamp(ramp);
    *width = int32_t(description.Width);
    *height = int32_t(description.Height);
    return read;
}
