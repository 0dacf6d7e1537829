// Device context: the state cache (wanted and sent values), the default state, the vertex
// shader registry and the draw wrappers.
#include "gfx/device.h"

#include "gfx/device_local.h"
#include "gfx/dxcheck.h"
#include "platform/gpu/gpu.h"
#include "platform/log.h"

#include <cstring>

namespace {

constexpr uint32_t kUnknown = 0xFFFFFFFF;
constexpr uint32_t kFirstRenderState = 7;
constexpr uint32_t kLastRenderState = 171;
constexpr uint32_t kDeclarationEnd = 0xFFFFFFFF;
constexpr uint32_t kFunctionEnd = 0x0000FFFF;
constexpr size_t kMaxShaderTokens = 65536;

StateCache& cache() {
    return deviceContext.cache;
}

uint32_t renderSlot(uint32_t state) {
    return state >= kFirstRenderState && state <= kLastRenderState ? state : kSpareSlot;
}

uint32_t stageSlot(uint32_t stage, uint32_t type) {
    if (stage >= kMaxTextureStages || type == 0 || type > kLastStageState) return kSpareSlot;
    return stage * 32 + type;
}

bool sendableStageSlot(uint32_t slot) {
    return slot != kSpareSlot && (slot % 32) != 0 && (slot % 32) <= kLastStageState;
}

void markConstantDirty(uint32_t reg) {
    StateCache& s = cache();
    if (s.dirtyLow < 0 || int32_t(reg) < s.dirtyLow) s.dirtyLow = int32_t(reg);
    if (int32_t(reg) > s.dirtyHigh) s.dirtyHigh = int32_t(reg);
}

VertexShaderRecord* findShader(uint32_t id) {
    for (VertexShaderRecord& r : deviceContext.shaders)
        if (r.id == id) return &r;
    return nullptr;
}

void flushRenderStates(GpuDevice* device) {
    StateCache& s = cache();
    for (uint32_t i = kFirstRenderState; i <= kLastRenderState; ++i) {
        if (s.wantedRender[i] == s.sentRender[i]) continue;
        checkDx(device->SetRenderState(D3DRENDERSTATETYPE(i), s.wantedRender[i]),
                "SetRenderState FAILED", false);
        s.sentRender[i] = s.wantedRender[i];
    }
}

void flushStageStates(GpuDevice* device) {
    StateCache& s = cache();
    for (uint32_t i = 0; i < kSpareSlot; ++i) {
        if (!sendableStageSlot(i) || s.wantedStage[i] == s.sentStage[i]) continue;
        checkDx(device->SetTextureStageState(i / 32, D3DTEXTURESTAGESTATETYPE(i % 32),
                                             s.wantedStage[i]),
                "SetTextureStageState FAILED", false);
        s.sentStage[i] = s.wantedStage[i];
    }
}

// A sent texture that no longer says what the device holds (after a reset or at start).
GpuBaseTexture* const kUnknownTexture = reinterpret_cast<GpuBaseTexture*>(uintptr_t(-1));

void flushTextures(GpuDevice* device) {
    StateCache& s = cache();
    for (uint32_t stage = 0; stage < kMaxTextureStages; ++stage) {
        if (s.wantedTexture[stage] == s.sentTexture[stage]) continue;
        checkDx(device->SetTexture(stage, s.wantedTexture[stage]), "SetTexture FAILED", false);
        s.sentTexture[stage] = s.wantedTexture[stage];
    }
}

void flushShader(GpuDevice* device) {
    StateCache& s = cache();
    if (s.wantedShader == s.sentShader) return;
    if (s.wantedShader & 1) {
        useVertexShader(s.wantedShader);
        return;
    }
    setSoftwareVertexProcessing(false);
    checkDx(device->SetVertexShader(s.wantedShader), "SetVertexShader FAILED", false);
    s.sentShader = s.wantedShader;
}

void flushStreams(GpuDevice* device) {
    StateCache& s = cache();
    for (uint32_t i = 0; i < kStreams; ++i) {
        if (s.wantedStream[i] == s.sentStream[i]) continue;
        checkDx(device->SetStreamSource(i, s.wantedStream[i].buffer, s.wantedStream[i].stride),
                "SetStreamSource FAILED", false);
        s.sentStream[i] = s.wantedStream[i];
    }
    if (!(s.wantedIndex == s.sentIndex)) {
        checkDx(device->SetIndices(s.wantedIndex.buffer, s.wantedIndex.baseIndex),
                "SetIndices FAILED", false);
        s.sentIndex = s.wantedIndex;
    }
}

void flushConstants(GpuDevice* device) {
    StateCache& s = cache();
    if (deviceContext.softwareSwitchedOff || s.dirtyLow < 0) return;
    for (int32_t reg = s.dirtyLow; reg <= s.dirtyHigh; ++reg) {
        if (memcmp(s.wantedConstant[reg], s.sentConstant[reg], sizeof(s.sentConstant[reg])) == 0)
            continue;
        checkDx(device->SetVertexShaderConstant(uint32_t(reg), s.wantedConstant[reg], 1),
                "SetVertexShaderConstant FAILED", false);
        memcpy(s.sentConstant[reg], s.wantedConstant[reg], sizeof(s.sentConstant[reg]));
    }
    s.dirtyLow = s.dirtyHigh = -1;
}

// Per-stream strides from the declaration tokens, as the device reads them.
void computeStrides(const std::vector<uint32_t>& tokens, uint32_t* strides) {
    GpuDeclarationStreams streams = gpuDeclarationStreams(tokens.data(), tokens.size());
    if (streams.tessellator) fatal("Tesselator streams not supported yet\n");
    for (uint32_t stream = 0; stream < kShaderStreams; ++stream)
        strides[stream] = streams.strides[stream];
}

// Copies tokens up to and including `end`; false when no end token comes within the limit.
bool copyTokens(const uint32_t* tokens, uint32_t end, std::vector<uint32_t>* out) {
    for (size_t i = 0; i < kMaxShaderTokens; ++i) {
        out->push_back(tokens[i]);
        if (tokens[i] == end) return true;
    }
    return false;
}

void drawUP(D3DPRIMITIVETYPE type, uint32_t primitives, const void* vertices, uint32_t fvf) {
    GpuDevice* device = deviceContext.device;
    if (!primitives || !vertices || !device) return;
    setVertexShader(fvf);
    flushState();
    if (FAILED(device->DrawPrimitiveUP(type, primitives, vertices, fvfVertexSize(fvf))))
        logf("DCTX: DrawPrimitiveUP failed\n");
    // The device unbinds stream 0 after a draw from user memory.
    cache().sentStream[0] = StreamSlot{};
}

} // namespace

// ---- The cache ----

void resetStateCache() {
    StateCache& s = cache();
    s = StateCache{};
    for (GpuBaseTexture*& sent : s.sentTexture)
        sent = kUnknownTexture;
    GpuDevice* device = deviceContext.device;
    for (uint32_t i = 0; i < kStateSlots; ++i) {
        s.sentRender[i] = s.sentStage[i] = kUnknown;
        s.wantedRender[i] = s.wantedStage[i] = kUnknown;
        uint32_t value = 0;
        if (device && renderSlot(i) == i &&
            SUCCEEDED(device->GetRenderState(D3DRENDERSTATETYPE(i), &value)))
            s.wantedRender[i] = value;
        if (device && sendableStageSlot(i) &&
            SUCCEEDED(
                device->GetTextureStageState(i / 32, D3DTEXTURESTAGESTATETYPE(i % 32), &value)))
            s.wantedStage[i] = value;
    }
}

void forgetSentState() {
    StateCache& s = cache();
    for (uint32_t i = 0; i < kStateSlots; ++i)
        s.sentRender[i] = s.sentStage[i] = kUnknown;
    for (StreamSlot& slot : s.sentStream)
        slot = StreamSlot{};
    for (StreamSlot& slot : s.wantedStream)
        slot = StreamSlot{};
    s.sentIndex = s.wantedIndex = IndexSlot{};
    // Restored device objects are new ones: no texture pointer wanted before the reset holds.
    for (uint32_t stage = 0; stage < kMaxTextureStages; ++stage) {
        s.wantedTexture[stage] = nullptr;
        s.sentTexture[stage] = kUnknownTexture;
    }
    s.sentShader = 0;
    memset(s.sentConstant, 0, sizeof(s.sentConstant));
    s.dirtyLow = 0;
    s.dirtyHigh = int32_t(kShaderConstants) - 1;
    deviceContext.softwareProcessing = false;
}

void setRenderState(uint32_t state, uint32_t value) {
    cache().wantedRender[renderSlot(state)] = value;
}

void setRenderStates(const uint32_t* list) {
    for (; list && list[0] != 0; list += 2)
        setRenderState(list[0], list[1]);
}

void setStageState(uint32_t stage, uint32_t type, uint32_t value) {
    cache().wantedStage[stageSlot(stage, type)] = value;
}

void setStageStates(uint32_t stage, const uint32_t* list) {
    for (; list && list[0] != 0; list += 2)
        setStageState(stage, list[0], list[1]);
}

void setStream(uint32_t number, GpuVertexBuffer* buffer, uint32_t stride) {
    if (number < kStreams) cache().wantedStream[number] = StreamSlot{buffer, stride};
}

void setTexture(uint32_t stage, GpuBaseTexture* texture) {
    if (stage < blendStageCount() && stage < kMaxTextureStages)
        cache().wantedTexture[stage] = texture;
}

void forgetTexture(GpuBaseTexture* texture) {
    if (!texture) return;
    StateCache& s = cache();
    for (uint32_t stage = 0; stage < kMaxTextureStages; ++stage) {
        if (s.wantedTexture[stage] == texture) s.wantedTexture[stage] = nullptr;
        if (s.sentTexture[stage] != texture) continue;
        if (deviceContext.device) deviceContext.device->SetTexture(stage, nullptr);
        s.sentTexture[stage] = nullptr;
    }
}

void setIndices(GpuIndexBuffer* buffer, uint32_t baseIndex) {
    cache().wantedIndex = IndexSlot{buffer, baseIndex};
}

void setVertexShader(uint32_t fvfOrId) {
    cache().wantedShader = fvfOrId;
}

void setShaderConstant(uint32_t reg, float x, float y, float z, float w) {
    if (reg >= kShaderConstants) return;
    float* c = cache().wantedConstant[reg];
    c[0] = x;
    c[1] = y;
    c[2] = z;
    c[3] = w;
    markConstantDirty(reg);
}

void setShaderConstantVector(uint32_t reg, const float* vec4) {
    setShaderConstant(reg, vec4[0], vec4[1], vec4[2], vec4[3]);
}

void setShaderMatrix(uint32_t reg, const D3DMATRIX& matrix) {
    for (uint32_t column = 0; column < 4; ++column)
        setShaderConstant(reg + column, matrix.m[0][column], matrix.m[1][column],
                          matrix.m[2][column], matrix.m[3][column]);
}

void flushState() {
    GpuDevice* device = deviceContext.device;
    if (!device) return;
    flushRenderStates(device);
    flushStageStates(device);
    flushTextures(device);
    flushShader(device);
    flushStreams(device);
    flushConstants(device);
}

uint32_t wantedRenderState(uint32_t state) {
    return cache().wantedRender[renderSlot(state)];
}

uint32_t sentRenderState(uint32_t state) {
    return cache().sentRender[renderSlot(state)];
}

GpuBaseTexture* wantedTexture(uint32_t stage) {
    return stage < kMaxTextureStages ? cache().wantedTexture[stage] : nullptr;
}

GpuBaseTexture* sentTexture(uint32_t stage) {
    return stage < kMaxTextureStages ? cache().sentTexture[stage] : nullptr;
}

void resetDeviceState() {
    D3DMATRIX identity;
    setTransform(D3DTS_WORLD, identity);
    setTransform(D3DTS_VIEW, identity);
    setTransform(D3DTS_PROJECTION, identity);
    const uint32_t renderStates[] = {D3DRS_ZENABLE,
                                     D3DZB_TRUE,
                                     D3DRS_ZWRITEENABLE,
                                     1,
                                     D3DRS_ZFUNC,
                                     D3DCMP_LESS,
                                     D3DRS_FILLMODE,
                                     D3DFILL_SOLID,
                                     D3DRS_SHADEMODE,
                                     D3DSHADE_GOURAUD,
                                     D3DRS_DITHERENABLE,
                                     1,
                                     D3DRS_SPECULARENABLE,
                                     0,
                                     D3DRS_ALPHABLENDENABLE,
                                     0,
                                     D3DRS_SRCBLEND,
                                     D3DBLEND_ONE,
                                     D3DRS_DESTBLEND,
                                     D3DBLEND_ZERO,
                                     D3DRS_CLIPPING,
                                     1,
                                     D3DRS_LIGHTING,
                                     0,
                                     D3DRS_DIFFUSEMATERIALSOURCE,
                                     D3DMCS_COLOR1,
                                     D3DRS_CULLMODE,
                                     D3DCULL_NONE,
                                     0,
                                     0};
    setRenderStates(renderStates);
    uint32_t mip = deviceSettings.notrilin ? D3DTEXF_POINT : D3DTEXF_LINEAR;
    const uint32_t stage0[] = {D3DTSS_COLOROP,
                               D3DTOP_MODULATE,
                               D3DTSS_COLORARG1,
                               D3DTA_TEXTURE,
                               D3DTSS_COLORARG2,
                               D3DTA_DIFFUSE,
                               D3DTSS_ALPHAOP,
                               D3DTOP_SELECTARG1,
                               D3DTSS_ALPHAARG1,
                               D3DTA_DIFFUSE,
                               D3DTSS_ALPHAARG2,
                               D3DTA_DIFFUSE,
                               D3DTSS_MINFILTER,
                               D3DTEXF_LINEAR,
                               D3DTSS_MAGFILTER,
                               D3DTEXF_LINEAR,
                               D3DTSS_MIPFILTER,
                               mip,
                               D3DTSS_TEXCOORDINDEX,
                               0,
                               D3DTSS_TEXTURETRANSFORMFLAGS,
                               D3DTTFF_DISABLE,
                               D3DTSS_ADDRESSU,
                               D3DTADDRESS_WRAP,
                               D3DTSS_ADDRESSV,
                               D3DTADDRESS_WRAP,
                               0,
                               0};
    setStageStates(0, stage0);
    const uint32_t later[] = {D3DTSS_COLOROP,
                              D3DTOP_DISABLE,
                              D3DTSS_ALPHAOP,
                              D3DTOP_DISABLE,
                              D3DTSS_MINFILTER,
                              D3DTEXF_LINEAR,
                              D3DTSS_MAGFILTER,
                              D3DTEXF_LINEAR,
                              D3DTSS_MIPFILTER,
                              mip,
                              0,
                              0};
    for (uint32_t stage = 1; stage < blendStageCount(); ++stage)
        setStageStates(stage, later);
    flushState();
}

void setTransform(D3DTRANSFORMSTATETYPE kind, const D3DMATRIX& matrix) {
    if (deviceContext.device) deviceContext.device->SetTransform(kind, &matrix);
}

void getTransform(D3DTRANSFORMSTATETYPE kind, D3DMATRIX* matrix) {
    if (deviceContext.device) deviceContext.device->GetTransform(kind, matrix);
}

void setSoftwareVertexProcessing(bool on) {
    DeviceContext& c = deviceContext;
    uint32_t devCaps = c.caps.DevCaps;
    if (!c.device || !(devCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) ||
        (devCaps & D3DDEVCAPS_PUREDEVICE))
        return;
    if (FAILED(c.device->SetRenderState(D3DRS_SOFTWAREVERTEXPROCESSING, on ? 1 : 0)))
        fatal("Cannot enable/disable software vertex processing");
    c.softwareProcessing = on;
    c.softwareSwitchedOff = !on;
    cache().wantedRender[D3DRS_SOFTWAREVERTEXPROCESSING] = on ? 1 : 0;
    cache().sentRender[D3DRS_SOFTWAREVERTEXPROCESSING] = on ? 1 : 0;
}

bool softwareVertexProcessingOn() {
    return deviceContext.softwareDevice || deviceContext.softwareProcessing;
}

// ---- Vertex shaders ----

uint32_t registerVertexShader(const uint32_t* declaration, const uint32_t* function) {
    DeviceContext& c = deviceContext;
    VertexShaderRecord record;
    if (!declaration || !copyTokens(declaration, kDeclarationEnd, &record.declaration))
        fatal("DCTX: vertex shader declaration without end token");
    if (function && !copyTokens(function, kFunctionEnd, &record.function))
        fatal("DCTX: vertex shader function without end token");
    computeStrides(record.declaration, record.strides);
    record.id = c.nextShaderId;
    c.nextShaderId += 2;
    c.shaders.push_back(std::move(record));
    return c.shaders.back().id;
}

void useVertexShader(uint32_t id) {
    DeviceContext& c = deviceContext;
    VertexShaderRecord* record = findShader(id);
    if (!record) fatal("DCTX: Vertex Shader with id #%08x not available", id);
    if (!c.device) return;
    setSoftwareVertexProcessing(true);
    if (!record->handle) {
        uint32_t usage = (c.caps.DevCaps & 1) ? 0 : D3DUSAGE_SOFTWAREPROCESSING;
        const uint32_t* function = record->function.empty() ? nullptr : record->function.data();
        if (checkDx(c.device->CreateVertexShader(record->declaration.data(), function,
                                                 &record->handle, usage),
                    "CreateVertexShader FAILED", false) != 0) {
            record->handle = 0;
            return;
        }
    }
    checkDx(c.device->SetVertexShader(record->handle), "SetVertexShader FAILED", false);
    cache().wantedShader = cache().sentShader = id;
}

void deleteVertexShader(uint32_t id) {
    DeviceContext& c = deviceContext;
    VertexShaderRecord* record = findShader(id);
    if (!record) fatal("DCTX: Cannot delete nonexistant vertex shader #%08x\n", id);
    if (record->handle && c.device) c.device->DeleteVertexShader(record->handle);
    c.shaders.erase(c.shaders.begin() + (record - c.shaders.data()));
    if (cache().sentShader == id) cache().sentShader = 0;
}

void freeVertexShaders() {
    DeviceContext& c = deviceContext;
    for (VertexShaderRecord& record : c.shaders)
        if (record.handle && c.device) c.device->DeleteVertexShader(record.handle);
    c.shaders.clear();
    c.nextShaderId = 1;
}

uint32_t getShaderStreamStride(uint32_t id, uint32_t stream) {
    VertexShaderRecord* record = findShader(id);
    return record && stream < kShaderStreams ? record->strides[stream] : 0;
}

void setShaderStreamStride(uint32_t id, uint32_t stream, uint32_t stride) {
    VertexShaderRecord* record = findShader(id);
    if (record && stream < kShaderStreams) record->strides[stream] = stride;
}

// ---- Draw wrappers ----

void drawLinesUP(const void* vertices, uint32_t n, uint32_t fvf) {
    drawUP(D3DPT_LINELIST, n / 2, vertices, fvf);
}

void drawLineStripUP(const void* vertices, uint32_t n, uint32_t fvf) {
    drawUP(D3DPT_LINESTRIP, n >= 2 ? n - 1 : 0, vertices, fvf);
}

void drawTrianglesUP(const void* vertices, uint32_t n, uint32_t fvf) {
    drawUP(D3DPT_TRIANGLELIST, n / 3, vertices, fvf);
}

void drawFanUP(const void* vertices, uint32_t n, uint32_t fvf) {
    drawUP(D3DPT_TRIANGLEFAN, n >= 3 ? n - 2 : 0, vertices, fvf);
}

void drawStripUP(const void* vertices, uint32_t n, uint32_t fvf) {
    drawUP(D3DPT_TRIANGLESTRIP, n >= 3 ? n - 2 : 0, vertices, fvf);
}

void drawPrimitive(D3DPRIMITIVETYPE type, uint32_t start, uint32_t count) {
    GpuDevice* device = deviceContext.device;
    if (!count || !device) return;
    flushState();
    if (FAILED(device->DrawPrimitive(type, start, count))) logf("DCTX: DrawPrimitive failed\n");
}

void drawIndexed(D3DPRIMITIVETYPE type, uint32_t minIndex, uint32_t numVertices,
                 uint32_t startIndex, uint32_t count) {
    GpuDevice* device = deviceContext.device;
    if (!count || !numVertices || !device) return;
    flushState();
    if (FAILED(device->DrawIndexedPrimitive(type, minIndex, numVertices, startIndex, count)))
        logf("DCTX: DrawIndexedPrimitive failed\n");
}
