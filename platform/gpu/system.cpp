// The Direct3D object: adapters over SDL displays, mode lists, format checks, device caps,
// caps profiles and fault injection.
#include "platform/gpu/gpu_local.h"

#include "platform/config.h"

#include <algorithm>
#include <cstring>

GpuFrameStats gGpuFrame;
GpuTotals gGpuTotals;

const GpuTotals& gpuTotals() {
    return gGpuTotals;
}

namespace {
GpuCapsProfile gProfile = GpuCapsProfile::Default;
GpuFault gArmedFault = GpuFault::None;
bool gClipControlAllowed = true;
// A device that churns through more states than this starts over with an empty program cache
// instead of growing without end.
uint32_t gProgramCacheLimit = 512;
uint32_t gGlMaxTextureSize = 0; // read once from a probe context

struct ModeSize {
    uint32_t width, height;
};
// Offered by a display that has no mode list of its own (the headless drivers).
constexpr ModeSize kCommonModes[] = {{640, 480},   {800, 600},   {1024, 768}, {1280, 720},
                                     {1280, 1024}, {1600, 1200}, {1920, 1080}};

bool headlessDriver() {
    const char* driver = SDL_GetCurrentVideoDriver();
    return driver && (strcmp(driver, "offscreen") == 0 || strcmp(driver, "dummy") == 0);
}

D3DFORMAT formatOfSdl(uint32_t pixelFormat) {
    uint32_t bits = SDL_BITSPERPIXEL(pixelFormat);
    if (bits == 16) return D3DFMT_R5G6B5;
    if (bits == 15) return D3DFMT_X1R5G5B5;
    return D3DFMT_X8R8G8B8;
}

// Modes of a display: every size SDL lists (or the common sizes when headless) in 32-bit
// colour, then the same sizes in 16-bit colour.
std::vector<D3DDISPLAYMODE> displayModes(int display) {
    std::vector<D3DDISPLAYMODE> sizes;
    if (headlessDriver()) {
        for (const ModeSize& m : kCommonModes)
            sizes.push_back({m.width, m.height, 60, D3DFMT_X8R8G8B8});
    } else {
        int count = SDL_GetNumDisplayModes(display);
        for (int i = 0; i < count; ++i) {
            SDL_DisplayMode mode;
            if (SDL_GetDisplayMode(display, i, &mode) != 0) continue;
            sizes.push_back(
                {uint32_t(mode.w), uint32_t(mode.h), uint32_t(mode.refresh_rate), D3DFMT_X8R8G8B8});
        }
    }
    std::vector<D3DDISPLAYMODE> modes = sizes;
    for (D3DDISPLAYMODE m : sizes) {
        m.Format = D3DFMT_R5G6B5;
        modes.push_back(m);
    }
    return modes;
}

bool validAdapter(uint32_t adapter) {
    return adapter < uint32_t(std::max(SDL_GetNumVideoDisplays(), 0));
}
bool validDeviceType(uint32_t type) {
    return type == D3DDEVTYPE_HAL || type == D3DDEVTYPE_REF;
}
bool displayFormat(D3DFORMAT f) {
    return f == D3DFMT_X8R8G8B8 || f == D3DFMT_R5G6B5 || f == D3DFMT_X1R5G5B5;
}
bool backBufferFormat(D3DFORMAT f) {
    return f == D3DFMT_X8R8G8B8 || f == D3DFMT_A8R8G8B8 || f == D3DFMT_R5G6B5;
}
bool depthFormatSupported(D3DFORMAT f) {
    return f == D3DFMT_D16 || f == D3DFMT_D24S8 || f == D3DFMT_D24X8;
}
bool bitsMatch(D3DFORMAT display, D3DFORMAT back) {
    auto bits = [](D3DFORMAT f) {
        return (f == D3DFMT_X8R8G8B8 || f == D3DFMT_A8R8G8B8) ? 32 : 16;
    };
    return bits(display) == bits(back);
}

void probeGlLimits() {
    if (gGlMaxTextureSize) return;
    gGlMaxTextureSize = 2048;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_Window* window = SDL_CreateWindow("", 0, 0, 16, 16, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!window) return;
    SDL_GLContext previous = SDL_GL_GetCurrentContext();
    SDL_Window* previousWindow = SDL_GL_GetCurrentWindow();
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (context) {
        GLint size = 0;
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
        if (size > 0) gGlMaxTextureSize = uint32_t(std::min(size, 8192));
        SDL_GL_DeleteContext(context);
    }
    SDL_DestroyWindow(window);
    if (previous) SDL_GL_MakeCurrent(previousWindow, previous);
}
} // namespace

void gpuSetCapsProfile(GpuCapsProfile profile) {
    gProfile = profile;
}
GpuCapsProfile gpuCapsProfile() {
    return gProfile;
}
void gpuInjectFault(GpuFault fault) {
    gArmedFault = fault;
}
void gpuSetClipControlAllowed(bool allowed) {
    gClipControlAllowed = allowed;
}
void gpuSetProgramCacheLimit(uint32_t limit) {
    gProgramCacheLimit = limit ? limit : 512;
}
uint32_t gpuProgramCacheLimit() {
    return gProgramCacheLimit;
}
bool gpuClipControlAllowed() {
    return gClipControlAllowed;
}

bool gpuTakeFault(GpuFault fault) {
    if (gArmedFault != fault) return false;
    gArmedFault = GpuFault::None;
    return true;
}

void gpuFillCaps(uint32_t deviceType, D3DCAPS8* caps) {
    *caps = D3DCAPS8{};
    caps->DeviceType = deviceType;
    caps->Caps2 = D3DCAPS2_FULLSCREENGAMMA;
    caps->PresentationIntervals = D3DPRESENT_INTERVAL_ONE | D3DPRESENT_INTERVAL_IMMEDIATE;
    caps->DevCaps = D3DDEVCAPS_HWRASTERIZATION |
                    (deviceType == D3DDEVTYPE_HAL ? D3DDEVCAPS_HWTRANSFORMANDLIGHT : 0);
    caps->PrimitiveMiscCaps = D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW | D3DPMISCCAPS_CULLCCW |
                              D3DPMISCCAPS_COLORWRITEENABLE | D3DPMISCCAPS_BLENDOP;
    caps->RasterCaps = D3DPRASTERCAPS_ZTEST;
    caps->ZCmpCaps = caps->AlphaCmpCaps = 0xFF;
    caps->SrcBlendCaps = caps->DestBlendCaps = 0x1FFF;
    caps->ShadeCaps = 0xFFFF;
    caps->TextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_ALPHA |
                        D3DPTEXTURECAPS_PROJECTED | D3DPTEXTURECAPS_CUBEMAP |
                        D3DPTEXTURECAPS_MIPMAP | D3DPTEXTURECAPS_MIPCUBEMAP;
    caps->TextureFilterCaps = caps->CubeTextureFilterCaps =
        0x03030300; // point/linear min, mag, mip
    caps->TextureAddressCaps = 0x3F;
    probeGlLimits();
    caps->MaxTextureWidth = caps->MaxTextureHeight = gGlMaxTextureSize;
    caps->MaxTextureRepeat = 8192;
    caps->MaxTextureAspectRatio = gGlMaxTextureSize;
    caps->MaxAnisotropy = 1;
    caps->MaxVertexW = 1e10f;
    caps->TextureOpCaps = kTextureOpCapsWithoutBump;
    caps->MaxTextureBlendStages = caps->MaxSimultaneousTextures = kMaxTextureStages;
    caps->FVFCaps = 8; // texture coordinate sets
    caps->VertexProcessingCaps = D3DVTXPCAPS_TEXGEN | D3DVTXPCAPS_MATERIALSOURCE7 |
                                 D3DVTXPCAPS_DIRECTIONALLIGHTS | D3DVTXPCAPS_POSITIONALLIGHTS |
                                 D3DVTXPCAPS_LOCALVIEWER;
    caps->MaxActiveLights = kMaxActiveLights;
    caps->MaxPointSize = 1;
    caps->MaxPrimitiveCount = 0xFFFFF;
    caps->MaxVertexIndex = 0xFFFFFF;
    caps->MaxStreams = 16;
    caps->MaxStreamStride = 255;
    caps->MaxVertexShaderConst = 96;
    caps->VertexShaderVersion = 0xFFFE0101; // vs.1.1
    switch (gProfile) {
    case GpuCapsProfile::Default:
        break;
    case GpuCapsProfile::Pow2Only:
        caps->TextureCaps |= D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_CUBEMAP_POW2;
        break;
    case GpuCapsProfile::SquareOnly:
        caps->TextureCaps |=
            D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_CUBEMAP_POW2 | D3DPTEXTURECAPS_SQUAREONLY;
        break;
    case GpuCapsProfile::SmallMax:
        caps->MaxTextureWidth = caps->MaxTextureHeight = 256;
        break;
    case GpuCapsProfile::FewStages:
        caps->MaxTextureBlendStages = caps->MaxSimultaneousTextures = 2;
        break;
    }
}

GpuSystem* gpuCreate() {
    if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return nullptr;
    return new GpuSystem;
}

uint32_t gpuWindowFlags() {
    return SDL_WINDOW_OPENGL;
}

uint32_t GpuSystem::Release() {
    uint32_t left = --refCount;
    if (left == 0) delete this;
    return left;
}

uint32_t GpuSystem::GetAdapterCount() const {
    return uint32_t(std::max(SDL_GetNumVideoDisplays(), 0));
}

HRESULT GpuSystem::GetAdapterIdentifier(uint32_t adapter, uint32_t,
                                        D3DADAPTER_IDENTIFIER8* id) const {
    if (!validAdapter(adapter) || !id) return D3DERR_INVALIDCALL;
    *id = D3DADAPTER_IDENTIFIER8{};
    const char* driver = SDL_GetCurrentVideoDriver();
    const char* name = SDL_GetDisplayName(int(adapter));
    copyName(id->Driver, driver ? driver : "sdl");
    char description[512];
    snprintf(description, sizeof description, "OpenGL display %u (%s)", adapter + 1,
             name ? name : "unnamed");
    copyName(id->Description, description);
    id->DeviceId = adapter;
    return D3D_OK;
}

uint32_t GpuSystem::GetAdapterModeCount(uint32_t adapter) const {
    return validAdapter(adapter) ? uint32_t(displayModes(int(adapter)).size()) : 0;
}

HRESULT GpuSystem::EnumAdapterModes(uint32_t adapter, uint32_t mode, D3DDISPLAYMODE* out) const {
    if (!validAdapter(adapter) || !out) return D3DERR_INVALIDCALL;
    std::vector<D3DDISPLAYMODE> modes = displayModes(int(adapter));
    if (mode >= modes.size()) return D3DERR_INVALIDCALL;
    *out = modes[mode];
    return D3D_OK;
}

HRESULT GpuSystem::GetAdapterDisplayMode(uint32_t adapter, D3DDISPLAYMODE* out) const {
    if (!validAdapter(adapter) || !out) return D3DERR_INVALIDCALL;
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(int(adapter), &mode) != 0) return D3DERR_NOTAVAILABLE;
    *out = {uint32_t(mode.w), uint32_t(mode.h), uint32_t(mode.refresh_rate),
            formatOfSdl(mode.format)};
    return D3D_OK;
}

void* GpuSystem::GetAdapterMonitor(uint32_t adapter) const {
    return validAdapter(adapter) ? reinterpret_cast<void*>(uintptr_t(adapter) + 1) : nullptr;
}

HRESULT GpuSystem::CheckDeviceType(uint32_t adapter, uint32_t deviceType, D3DFORMAT display,
                                   D3DFORMAT back, bool windowed) const {
    if (!validAdapter(adapter) || !validDeviceType(deviceType)) return D3DERR_INVALIDCALL;
    if (!displayFormat(display) || !backBufferFormat(back)) return D3DERR_NOTAVAILABLE;
    if (!windowed && !bitsMatch(display, back)) return D3DERR_NOTAVAILABLE;
    return D3D_OK;
}

HRESULT GpuSystem::CheckDeviceFormat(uint32_t adapter, uint32_t deviceType, D3DFORMAT adapterFormat,
                                     uint32_t usage, D3DRESOURCETYPE type, D3DFORMAT format) const {
    if (!validAdapter(adapter) || !validDeviceType(deviceType)) return D3DERR_INVALIDCALL;
    if (!displayFormat(adapterFormat)) return D3DERR_NOTAVAILABLE;
    if (usage & D3DUSAGE_DEPTHSTENCIL)
        return type == D3DRTYPE_SURFACE && depthFormatSupported(format) ? D3D_OK
                                                                        : D3DERR_NOTAVAILABLE;
    if (type != D3DRTYPE_TEXTURE && type != D3DRTYPE_CUBETEXTURE && type != D3DRTYPE_SURFACE)
        return D3DERR_NOTAVAILABLE;
    const GpuFormatInfo* info = gpuFormatInfo(format);
    if (!info) return D3DERR_NOTAVAILABLE;
    if ((usage & D3DUSAGE_RENDERTARGET) && !info->renderable) return D3DERR_NOTAVAILABLE;
    return D3D_OK;
}

HRESULT GpuSystem::CheckDepthStencilMatch(uint32_t adapter, uint32_t deviceType,
                                          D3DFORMAT adapterFormat, D3DFORMAT renderTargetFormat,
                                          D3DFORMAT depthFormat) const {
    if (!validAdapter(adapter) || !validDeviceType(deviceType)) return D3DERR_INVALIDCALL;
    if (!displayFormat(adapterFormat)) return D3DERR_NOTAVAILABLE;
    const GpuFormatInfo* info = gpuFormatInfo(renderTargetFormat);
    if (!info || !info->renderable || !depthFormatSupported(depthFormat))
        return D3DERR_NOTAVAILABLE;
    return D3D_OK;
}

HRESULT GpuSystem::GetDeviceCaps(uint32_t adapter, uint32_t deviceType, D3DCAPS8* caps) const {
    if (!validAdapter(adapter) || !validDeviceType(deviceType) || !caps) return D3DERR_INVALIDCALL;
    gpuFillCaps(deviceType, caps);
    caps->AdapterOrdinal = adapter;
    return D3D_OK;
}
