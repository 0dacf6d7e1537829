// What the device context's two source files share: the one context object.
#pragma once

#include "gfx/device.h"

#include <vector>

// The library's own types; only its source files include this header.
namespace gfx {}
using namespace gfx;

class NamedCache;

namespace gfx {
struct StreamSlot {
    GpuVertexBuffer* buffer = nullptr;
    uint32_t stride = 0;
    bool operator==(const StreamSlot&) const = default;
};

struct IndexSlot {
    GpuIndexBuffer* buffer = nullptr;
    uint32_t baseIndex = 0;
    bool operator==(const IndexSlot&) const = default;
};
} // namespace gfx

constexpr uint32_t kStateSlots = 256;
constexpr uint32_t kSpareSlot = 255;
constexpr uint32_t kStreams = 8;
constexpr uint32_t kShaderConstants = 96;
constexpr uint32_t kShaderStreams = 16;

namespace gfx {
struct StateCache {
    uint32_t wantedRender[kStateSlots] = {}, sentRender[kStateSlots] = {};
    uint32_t wantedStage[kStateSlots] = {}, sentStage[kStateSlots] = {};
    StreamSlot wantedStream[kStreams], sentStream[kStreams];
    IndexSlot wantedIndex, sentIndex;
    GpuBaseTexture* wantedTexture[kMaxTextureStages] = {};
    GpuBaseTexture* sentTexture[kMaxTextureStages] = {};
    uint32_t wantedShader = 0, sentShader = 0;
    float wantedConstant[kShaderConstants][4] = {}, sentConstant[kShaderConstants][4] = {};
    int32_t dirtyLow = -1, dirtyHigh = -1; // registers changed since the last flush
};

struct VertexShaderRecord {
    uint32_t id = 0;
    uint32_t handle = 0; // device shader, 0 until first use
    std::vector<uint32_t> declaration;
    std::vector<uint32_t> function;
    uint32_t strides[kShaderStreams] = {};
};

struct DeviceContext {
    GpuSystem* direct3d = nullptr;
    GpuDevice* device = nullptr;
    uint32_t adapter = 0;
    uint32_t deviceType = 1;
    D3DCAPS8 caps;
    D3DPRESENT_PARAMETERS parameters;
    D3DFORMAT depthFormat = D3DFMT_UNKNOWN;
    GpuSurface* backBuffer = nullptr;
    GpuSurface* depthBuffer = nullptr;
    RenderTarget* targets = nullptr; // newest first
    RenderTarget* primary = nullptr;
    RenderTarget* current = nullptr;
    bool sceneOpen = false;
    Viewport viewport;
    float aspect = 1.0f;
    NamedCache* depthPool = nullptr;

    StateCache cache;
    bool softwareDevice = false;      // created with software vertex processing
    bool softwareProcessing = false;  // switched on with setSoftwareVertexProcessing
    bool softwareSwitchedOff = false; // the last switch turned it off
    std::vector<VertexShaderRecord> shaders;
    uint32_t nextShaderId = 1;
};
} // namespace gfx

extern DeviceContext deviceContext;

// The state cache at device start: the wanted tables take the device's own values, the sent
// render and stage tables are marked unknown so the first flush sends everything.
void resetStateCache();
// After a reset: the device holds its defaults, so every cached "sent" value is stale.
void forgetSentState();
void freeVertexShaders();
