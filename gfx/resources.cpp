// Resource manager: the registry of device objects and their save / kill / restore steps
// around a device reset. The geometry buffers built on it are in geometry.cpp.
#include "gfx/resources.h"

#include "gfx/device.h"
#include "gfx/dxcheck.h"
#include "platform/gpu/gpu.h"
#include "platform/log.h"

#include <cstring>
#include <unordered_map>
#include <vector>

namespace {

struct ResourceRecord {
    GpuResource* resource = nullptr; // textures, cube textures, buffers
    GpuSurface* surface = nullptr;   // kind 1
    uint32_t kind = 0;
    int32_t keepByDriver = 0;
    bool saved = false;
    std::vector<uint8_t> savedData;                  // buffer contents (readable buffers only)
    std::vector<std::vector<uint8_t>> savedPictures; // texture levels, face * levels + level
    D3DSURFACE_DESC savedSurface;                    // surfaces and level 0 of textures
    D3DVERTEXBUFFER_DESC savedVertexBuffer;
    D3DINDEXBUFFER_DESC savedIndexBuffer;
    uint32_t savedLevels = 0;
    uint32_t id = 0;
    ResourceRecord* previous = nullptr;
    ResourceRecord* next = nullptr;
};

struct ResourceManager {
    ResourceRecord* head = nullptr; // newest first
    std::unordered_map<uint32_t, ResourceRecord*> byId;
    uint32_t nextId = 1;
    int32_t state = 0; // 0 normal, 1 saved, 2 killed
    // The back buffer's picture: effects that draw over the last frame without clearing it
    // (motion blur) need it after a reset as much as their targets.
    std::vector<uint8_t> backBuffer;
    D3DSURFACE_DESC backBufferDesc{};
};

ResourceManager* manager = nullptr;

ResourceRecord* findRecord(uint32_t id) {
    if (!manager) return nullptr;
    auto found = manager->byId.find(id);
    return found == manager->byId.end() ? nullptr : found->second;
}

uint32_t link(ResourceRecord* record) {
    if (!manager) resourceInit();
    record->id = manager->nextId++;
    record->next = manager->head;
    if (manager->head) manager->head->previous = record;
    manager->head = record;
    manager->byId[record->id] = record;
    return record->id;
}

void unlink(ResourceRecord* record) {
    if (record->previous)
        record->previous->next = record->next;
    else
        manager->head = record->next;
    if (record->next) record->next->previous = record->previous;
    manager->byId.erase(record->id);
}

void releaseObjects(ResourceRecord* record) {
    if (record->resource) record->resource->Release();
    if (record->surface) record->surface->Release();
    record->resource = nullptr;
    record->surface = nullptr;
}

void freeSaved(ResourceRecord* record) {
    record->savedData.clear();
    record->savedData.shrink_to_fit();
    record->savedPictures.clear();
    record->savedPictures.shrink_to_fit();
    record->saved = false;
}

// Copies a whole buffer's contents while it can still be read.
void copyBufferContents(GpuBuffer* buffer, uint32_t size, std::vector<uint8_t>* out) {
    uint8_t* data = nullptr;
    if (FAILED(buffer->Lock(0, size, &data, D3DLOCK_READONLY)) || !data) return;
    out->assign(data, data + size);
    buffer->Unlock();
}

// A level's surface of a texture or cube texture; released by the caller.
GpuSurface* levelSurface(GpuBaseTexture* texture, uint32_t kind, uint32_t face, uint32_t level) {
    GpuSurface* surface = nullptr;
    HRESULT got = kind == kResourceCubeTexture
                      ? static_cast<GpuCubeTexture*>(texture)->GetCubeMapSurface(
                            D3DCUBEMAP_FACES(face), level, &surface)
                      : static_cast<GpuTexture*>(texture)->GetSurfaceLevel(level, &surface);
    return SUCCEEDED(got) ? surface : nullptr;
}

uint32_t faceCount(const ResourceRecord* record) {
    return record->kind == kResourceCubeTexture ? 6 : 1;
}

// Copies (or, with `write`, refills) every level of a texture; false when one fails.
bool transferPictures(GpuBaseTexture* texture, ResourceRecord* record, bool write) {
    GpuDevice* device = dxDevice();
    if (!device) return false;
    record->savedPictures.resize(size_t(faceCount(record)) * record->savedLevels);
    for (uint32_t f = 0; f < faceCount(record); ++f)
        for (uint32_t l = 0; l < record->savedLevels; ++l) {
            GpuSurface* surface = levelSurface(texture, record->kind, f, l);
            std::vector<uint8_t>& picture = record->savedPictures[f * record->savedLevels + l];
            HRESULT done = !surface ? D3DERR_INVALIDCALL
                           : write  ? device->WriteSurfaceData(surface, picture)
                                    : device->ReadSurfaceData(surface, &picture);
            if (surface) surface->Release();
            if (FAILED(done)) return false;
        }
    return true;
}

// Default-pool textures come back empty from a reset. A render target that an effect feeds
// back into itself (a blur's trail) would start over, so every level is copied out while the
// device can still be read; a texture that cannot be read comes back empty.
void copyTextureContents(GpuBaseTexture* texture, ResourceRecord* record) {
    if (!transferPictures(texture, record, false)) record->savedPictures.clear();
}

void refillTexture(GpuBaseTexture* texture, ResourceRecord* record) {
    if (record->savedPictures.empty()) return;
    if (!transferPictures(texture, record, true))
        logf("RESM: texture #%08x contents not restored\n", record->id);
}

void saveRecord(ResourceRecord* record) {
    switch (record->kind) {
    case kResourceSurface:
        if (record->surface) record->surface->GetDesc(&record->savedSurface);
        break;
    case kResourceTexture:
    case kResourceCubeTexture: {
        auto* texture = static_cast<GpuBaseTexture*>(record->resource);
        record->savedLevels = texture->GetLevelCount();
        texture->GetLevelDesc(0, &record->savedSurface);
        copyTextureContents(texture, record);
        break;
    }
    case kResourceVertexBuffer: {
        auto* buffer = static_cast<GpuVertexBuffer*>(record->resource);
        buffer->GetDesc(&record->savedVertexBuffer);
        if (!(record->savedVertexBuffer.Usage & D3DUSAGE_WRITEONLY))
            copyBufferContents(buffer, record->savedVertexBuffer.Size, &record->savedData);
        break;
    }
    case kResourceIndexBuffer: {
        auto* buffer = static_cast<GpuIndexBuffer*>(record->resource);
        buffer->GetDesc(&record->savedIndexBuffer);
        if (!(record->savedIndexBuffer.Usage & D3DUSAGE_WRITEONLY))
            copyBufferContents(buffer, record->savedIndexBuffer.Size, &record->savedData);
        break;
    }
    default:
        logf("RESM: not saving resource #%08x because of unknown resource type\n", record->id);
        return;
    }
    record->saved = true;
}

// Fills a recreated buffer with the saved contents; false when the lock fails.
bool refillBuffer(GpuBuffer* buffer, const std::vector<uint8_t>& contents) {
    if (contents.empty()) return true;
    uint8_t* data = nullptr;
    if (FAILED(buffer->Lock(0, uint32_t(contents.size()), &data, 0)) || !data) return false;
    memcpy(data, contents.data(), contents.size());
    buffer->Unlock();
    return true;
}

void restoreSurface(GpuDevice* device, ResourceRecord* record) {
    const D3DSURFACE_DESC& d = record->savedSurface;
    GpuSurface* surface = nullptr;
    if ((d.Usage & D3DUSAGE_DEPTHSTENCIL) &&
        SUCCEEDED(device->CreateDepthStencilSurface(d.Width, d.Height, d.Format, d.MultiSampleType,
                                                    &surface))) {
        record->surface = surface;
        return;
    }
    logf("RESM: surface #%08x recreation failed (non-depth-stencil)\n", record->id);
}

void restoreTexture(GpuDevice* device, ResourceRecord* record) {
    const D3DSURFACE_DESC& d = record->savedSurface;
    if (record->kind == kResourceTexture) {
        GpuTexture* texture = nullptr;
        if (FAILED(device->CreateTexture(d.Width, d.Height, record->savedLevels, d.Usage, d.Format,
                                         d.Pool, &texture)))
            logf("RESM: texture #%08x recreation failed\n", record->id);
        else
            refillTexture(texture, record);
        record->resource = texture;
    } else {
        GpuCubeTexture* cube = nullptr;
        if (FAILED(device->CreateCubeTexture(d.Width, record->savedLevels, d.Usage, d.Format,
                                             d.Pool, &cube)))
            logf("RESM: cubemap #%08x recreation failed\n", record->id);
        else
            refillTexture(cube, record);
        record->resource = cube;
    }
}

void restoreVertexBuffer(GpuDevice* device, ResourceRecord* record) {
    const D3DVERTEXBUFFER_DESC& d = record->savedVertexBuffer;
    GpuVertexBuffer* buffer = nullptr;
    if (FAILED(device->CreateVertexBuffer(d.Size, d.Usage, d.FVF, d.Pool, &buffer))) {
        logf("RESM: vertex buffer #%08x recreation failed\n", record->id);
        return;
    }
    record->resource = buffer;
    if (!refillBuffer(buffer, record->savedData))
        logf("RESM: vertex buffer #%08x recreation lock failed\n", record->id);
}

void restoreIndexBuffer(GpuDevice* device, ResourceRecord* record) {
    const D3DINDEXBUFFER_DESC& d = record->savedIndexBuffer;
    GpuIndexBuffer* buffer = nullptr;
    if (FAILED(device->CreateIndexBuffer(d.Size, d.Usage, d.Format, d.Pool, &buffer))) {
        logf("RESM: index buffer #%08x recreation failed\n", record->id);
        return;
    }
    record->resource = buffer;
    if (!refillBuffer(buffer, record->savedData))
        logf("RESM: index buffer #%08x recreation lock failed\n", record->id);
}

void restoreRecord(GpuDevice* device, ResourceRecord* record) {
    switch (record->kind) {
    case kResourceSurface:
        restoreSurface(device, record);
        break;
    case kResourceTexture:
    case kResourceCubeTexture:
        restoreTexture(device, record);
        break;
    case kResourceVertexBuffer:
        restoreVertexBuffer(device, record);
        break;
    case kResourceIndexBuffer:
        restoreIndexBuffer(device, record);
        break;
    default:
        logf("RESM: don't know how to restore #%08x\n", record->id);
        break;
    }
    freeSaved(record);
}

D3DPOOL poolOf(GpuResource* resource, bool* known) {
    *known = true;
    switch (resource->GetType()) {
    case D3DRTYPE_TEXTURE:
    case D3DRTYPE_CUBETEXTURE: {
        D3DSURFACE_DESC desc;
        static_cast<GpuBaseTexture*>(resource)->GetLevelDesc(0, &desc);
        return desc.Pool;
    }
    case D3DRTYPE_VERTEXBUFFER: {
        D3DVERTEXBUFFER_DESC desc;
        static_cast<GpuVertexBuffer*>(resource)->GetDesc(&desc);
        return desc.Pool;
    }
    case D3DRTYPE_INDEXBUFFER: {
        D3DINDEXBUFFER_DESC desc;
        static_cast<GpuIndexBuffer*>(resource)->GetDesc(&desc);
        return desc.Pool;
    }
    default:
        *known = false;
        return D3DPOOL_DEFAULT;
    }
}

void saveBackBuffer(ResourceManager* m) {
    m->backBuffer.clear();
    GpuDevice* device = dxDevice();
    GpuSurface* back = nullptr;
    if (!device || FAILED(device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back))) return;
    back->GetDesc(&m->backBufferDesc);
    if (FAILED(device->ReadSurfaceData(back, &m->backBuffer))) m->backBuffer.clear();
    back->Release();
}

// Refills the new back buffer when it has the old one's size and format.
void restoreBackBuffer(ResourceManager* m) {
    GpuDevice* device = dxDevice();
    GpuSurface* back = nullptr;
    if (m->backBuffer.empty() || !device ||
        FAILED(device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back)))
        return;
    D3DSURFACE_DESC desc;
    back->GetDesc(&desc);
    if (desc.Width == m->backBufferDesc.Width && desc.Height == m->backBufferDesc.Height &&
        desc.Format == m->backBufferDesc.Format)
        device->WriteSurfaceData(back, m->backBuffer);
    back->Release();
    m->backBuffer.clear();
    m->backBuffer.shrink_to_fit();
}

} // namespace

void resourceInit() {
    if (manager) return;
    manager = new ResourceManager;
    logf("RSRC: init\n");
}

void resourceClose() {
    if (!manager) return;
    ResourceRecord* record = manager->head;
    while (record) {
        ResourceRecord* next = record->next;
        releaseObjects(record);
        delete record;
        record = next;
    }
    delete manager;
    manager = nullptr;
}

bool hasResourceManager() {
    return manager != nullptr;
}

uint32_t addResource(GpuResource* resource) {
    auto* record = new ResourceRecord;
    record->resource = resource;
    bool known = false;
    D3DPOOL pool = resource ? poolOf(resource, &known) : D3DPOOL_DEFAULT;
    record->kind = known ? uint32_t(resource->GetType()) : 0;
    record->keepByDriver = !known || pool != D3DPOOL_DEFAULT;
    if (!known) logf("RESM: warning: unknown resource type added\n");
    return link(record);
}

uint32_t addSurface(GpuSurface* surface) {
    auto* record = new ResourceRecord;
    record->surface = surface;
    record->kind = kResourceSurface;
    return link(record);
}

void removeResource(uint32_t id) {
    ResourceRecord* record = findRecord(id);
    if (!record) {
        logf("RESM: warning: no resource with id %08x found\n", id);
        return;
    }
    freeSaved(record);
    releaseObjects(record);
    unlink(record);
    delete record;
}

GpuResource* resourceObject(uint32_t id) {
    ResourceRecord* record = findRecord(id);
    if (!record) return nullptr;
    return record->kind == kResourceSurface ? record->surface : record->resource;
}

GpuSurface* resourceSurface(uint32_t id) {
    ResourceRecord* record = findRecord(id);
    return record && record->kind == kResourceSurface ? record->surface : nullptr;
}

int32_t resourceCount() {
    return manager ? int32_t(manager->byId.size()) : 0;
}

void saveResources() {
    if (!manager || manager->state != 0) return;
    logf("RESM: resource save\n");
    for (ResourceRecord* r = manager->head; r; r = r->next)
        if (!r->keepByDriver && !r->saved) saveRecord(r);
    saveBackBuffer(manager);
    manager->state = 1;
}

void killResources() {
    if (!manager || manager->state != 1) return;
    logf("RESM: resource kill\n");
    for (ResourceRecord* r = manager->head; r; r = r->next)
        if (!r->keepByDriver) releaseObjects(r);
    manager->state = 2;
}

void restoreResources() {
    if (!manager || manager->state != 2) return;
    logf("RESM: resource restore\n");
    GpuDevice* device = dxDevice();
    for (ResourceRecord* r = manager->head; r; r = r->next)
        if (!r->keepByDriver && r->saved && device) restoreRecord(device, r);
    restoreBackBuffer(manager);
    manager->state = 0;
}

int32_t resourceState() {
    return manager ? manager->state : 0;
}

// The emulated device has no managed-memory cache to evict; nothing to do.
void resourceManagerDiscardBytes(uint32_t) {}
