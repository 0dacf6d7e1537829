// Geometry buffers: vertex and index buffers registered with the resource manager, and the
// slices that share a few large buffers among many small users.
#include "gfx/device.h"
#include "gfx/dxcheck.h"
#include "gfx/resources.h"
#include "platform/gpu/gpu.h"
#include "platform/log.h"

#include <algorithm>
#include <vector>

namespace {

uint32_t lockFlags(bool dynamic, int32_t mode) {
    if (!dynamic) return 0;
    if (mode == kLockDiscard) return D3DLOCK_DISCARD;
    if (mode == kLockNoOverwrite) return D3DLOCK_NOOVERWRITE;
    return 0;
}

uint32_t bufferUsage(bool dynamic, bool writeOnly) {
    return (dynamic ? D3DUSAGE_DYNAMIC : 0) | (writeOnly ? D3DUSAGE_WRITEONLY : 0);
}

bool hardwareShaders() {
    uint32_t devCaps = deviceCaps().DevCaps;
    return (devCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) && (devCaps & D3DDEVCAPS_PUREDEVICE);
}

// Locks `count` elements of `size` bytes from `first`; -1 means all from `first`.
void* lockRange(GpuBuffer* buffer, uint32_t elements, uint32_t size, uint32_t first, int32_t count,
                uint32_t flags) {
    if (!buffer || first > elements) return nullptr;
    uint32_t n = count < 0 ? elements - first : uint32_t(count);
    if (n > elements - first) return nullptr;
    if (n == 0) return nullptr;
    uint8_t* data = nullptr;
    if (FAILED(buffer->Lock(first * size, n * size, &data, flags))) return nullptr;
    return data;
}

} // namespace

// ---- VertexBuffer ----

void VertexBuffer::create(uint32_t fvfOrShaderId, uint32_t vertexCount, bool isDynamic,
                          bool isWriteOnly, uint32_t streamNumber) {
    fvfOrShader = fvfOrShaderId;
    count = vertexCount;
    dynamic = isDynamic;
    writeOnly = isWriteOnly;
    stream = streamNumber;
    bool shader = (fvfOrShaderId & 1) != 0;
    stride =
        shader ? getShaderStreamStride(fvfOrShaderId, streamNumber) : fvfVertexSize(fvfOrShaderId);
    uint32_t usage = bufferUsage(dynamic, writeOnly);
    D3DPOOL pool = dynamic ? D3DPOOL_DEFAULT : D3DPOOL_MANAGED;
    if (softwareVertexProcessingOn() || (shader && !hardwareShaders())) {
        pool = D3DPOOL_SYSTEMMEM;
        usage |= D3DUSAGE_SOFTWAREPROCESSING;
    }
    if (pool == D3DPOOL_DEFAULT) resourceManagerDiscardBytes(0);
    GpuVertexBuffer* created = nullptr;
    GpuDevice* device = dxDevice();
    HRESULT hr = device ? device->CreateVertexBuffer(count * stride, usage,
                                                     shader ? 0 : fvfOrShader, pool, &created)
                        : D3DERR_INVALIDCALL;
    checkDx(hr, "CreateVertexBuffer FAILED", true);
    id = addResource(created);
}

void VertexBuffer::destroy() {
    if (id && hasResourceManager()) removeResource(id);
    id = 0;
}

GpuVertexBuffer* VertexBuffer::buffer() const {
    return static_cast<GpuVertexBuffer*>(resourceObject(id));
}

void* VertexBuffer::lock(uint32_t first, int32_t vertexCount, int32_t mode) {
    void* data = lockRange(buffer(), count, stride, first, vertexCount, lockFlags(dynamic, mode));
    if (!data) logf("DXRC: vb lock failed\n");
    return data;
}

void VertexBuffer::unlock() {
    GpuVertexBuffer* b = buffer();
    if (!b || FAILED(b->Unlock())) logf("DXRC: vb unlock failed\n");
}

void VertexBuffer::use() {
    setVertexShader(fvfOrShader);
    setStream(stream, buffer(), stride);
}

// ---- IndexBuffer ----

void IndexBuffer::create(uint32_t indexCount, bool is32Bit, bool isDynamic, bool isWriteOnly) {
    count = indexCount;
    wide = is32Bit;
    dynamic = isDynamic;
    writeOnly = isWriteOnly;
    D3DPOOL pool = dynamic ? D3DPOOL_DEFAULT : D3DPOOL_MANAGED;
    if (dynamic) resourceManagerDiscardBytes(0);
    GpuIndexBuffer* created = nullptr;
    GpuDevice* device = dxDevice();
    HRESULT hr =
        device ? device->CreateIndexBuffer(count * (wide ? 4 : 2), bufferUsage(dynamic, writeOnly),
                                           wide ? D3DFMT_INDEX32 : D3DFMT_INDEX16, pool, &created)
               : D3DERR_INVALIDCALL;
    checkDx(hr, "CreateIndexBuffer FAILED", true);
    id = addResource(created);
}

void IndexBuffer::destroy() {
    if (id && hasResourceManager()) removeResource(id);
    id = 0;
}

GpuIndexBuffer* IndexBuffer::buffer() const {
    return static_cast<GpuIndexBuffer*>(resourceObject(id));
}

void* IndexBuffer::lock(uint32_t first, int32_t indexCount, int32_t mode) {
    void* data =
        lockRange(buffer(), count, wide ? 4 : 2, first, indexCount, lockFlags(dynamic, mode));
    if (!data) logf("DXRC: ib lock failed\n");
    return data;
}

void IndexBuffer::unlock() {
    GpuIndexBuffer* b = buffer();
    if (!b || FAILED(b->Unlock())) logf("DXRC: ib unlock failed\n");
}

void IndexBuffer::use(uint32_t baseVertex) {
    setIndices(buffer(), baseVertex);
}

// ---- Shared buffers ----

namespace gfx {

struct Range {
    uint32_t start = 0, end = 0; // [start, end)
};

// Used ranges of a static shared buffer, kept sorted; first fit.
struct RangeList {
    std::vector<Range> used;

    int64_t take(uint32_t count, uint32_t capacity) {
        uint32_t gapStart = 0;
        for (size_t i = 0; i <= used.size(); ++i) {
            uint32_t gapEnd = i < used.size() ? used[i].start : capacity;
            if (gapEnd >= gapStart && gapEnd - gapStart >= count) {
                used.insert(used.begin() + long(i), Range{gapStart, gapStart + count});
                return gapStart;
            }
            if (i < used.size()) gapStart = used[i].end;
        }
        return -1;
    }

    void give(uint32_t start, uint32_t count) {
        uint32_t end = start + count;
        std::vector<Range> kept;
        for (const Range& r : used) {
            if (r.end <= start || r.start >= end) {
                kept.push_back(r);
                continue;
            }
            if (r.start < start) kept.push_back(Range{r.start, start});
            if (r.end > end) kept.push_back(Range{end, r.end});
        }
        used.swap(kept);
    }
};

struct SharedVertexBuffer {
    VertexBuffer vb;
    uint32_t fvf = 0, key = 0;
    uint32_t capacity = 0; // vertices
    uint32_t fill = 0;     // dynamic: next free vertex
    bool dynamic = false;
    bool isPrivate = false; // a large dynamic request of its own
    bool oneOff = false;    // made for a large static request: freed once empty
    RangeList ranges;
};

struct SharedIndexBuffer {
    IndexBuffer ib;
    uint32_t capacity = 0;
    uint32_t fill = 0;
    bool dynamic = false;
    bool isPrivate = false;
    bool oneOff = false;
    RangeList ranges;
};

} // namespace gfx

using namespace gfx;

namespace {

struct GeometryCaches {
    bool started = false;
    std::vector<SharedVertexBuffer*> vertexBuffers;
    std::vector<SharedIndexBuffer*> indexBuffers;
};
GeometryCaches caches;

void startCaches() {
    if (!caches.started) initGeometryCaches();
}

SharedVertexBuffer* newVertexBuffer(uint32_t fvf, uint32_t key, uint32_t capacity, bool dynamic,
                                    bool isPrivate) {
    auto* shared = new SharedVertexBuffer;
    shared->fvf = fvf;
    shared->key = key;
    shared->capacity = capacity;
    shared->dynamic = dynamic;
    shared->isPrivate = isPrivate;
    shared->vb.create(fvf, capacity, dynamic, true);
    caches.vertexBuffers.push_back(shared);
    return shared;
}

SharedIndexBuffer* newIndexBuffer(uint32_t capacity, bool dynamic, bool isPrivate) {
    auto* shared = new SharedIndexBuffer;
    shared->capacity = capacity;
    shared->dynamic = dynamic;
    shared->isPrivate = isPrivate;
    shared->ib.create(capacity, false, dynamic, true);
    caches.indexBuffers.push_back(shared);
    return shared;
}

template <class Shared> void dropShared(std::vector<Shared*>& list, Shared* shared) {
    list.erase(std::remove(list.begin(), list.end(), shared), list.end());
}

// The ring position of a dynamic buffer: continue after what was written this frame, or start
// over (discarding) when the request does not fit.
template <class Shared>
uint32_t dynamicOffset(Shared* shared, uint32_t first, uint32_t count, int32_t* mode) {
    uint64_t end = uint64_t(shared->fill) + first + count;
    uint32_t offset = 0;
    if (end < shared->capacity) {
        offset = shared->fill;
        *mode = kLockNoOverwrite;
    } else {
        *mode = kLockDiscard;
    }
    shared->fill = offset + first + count;
    return offset;
}

} // namespace

void initGeometryCaches() {
    if (caches.started) return;
    caches.started = true;
    logf("DXHL: init\n");
}

void closeGeometryCaches() {
    for (SharedVertexBuffer* shared : caches.vertexBuffers) {
        shared->vb.destroy();
        delete shared;
    }
    for (SharedIndexBuffer* shared : caches.indexBuffers) {
        shared->ib.destroy();
        delete shared;
    }
    caches.vertexBuffers.clear();
    caches.indexBuffers.clear();
    caches.started = false;
}

int32_t sharedVertexBufferCount() {
    return int32_t(caches.vertexBuffers.size());
}

int32_t sharedIndexBufferCount() {
    return int32_t(caches.indexBuffers.size());
}

uint32_t sliceBufferCapacity(const GeometrySlice& slice) {
    return slice.shared ? slice.shared->capacity : 0;
}

uint32_t sliceBufferId(const GeometrySlice& slice) {
    return slice.shared ? slice.shared->vb.id : 0;
}

// ---- GeometrySlice ----

void GeometrySlice::create(uint32_t fvfCode, uint32_t vertexCount, bool isDynamic, uint32_t key) {
    startCaches();
    fvf = fvfCode;
    count = vertexCount;
    dynamic = isDynamic;
    offset = 0;
    shared = nullptr;
    if (dynamic) {
        if (count > kDynamicVertexSlots) {
            shared = newVertexBuffer(fvf, key, count, true, true);
            return;
        }
        for (SharedVertexBuffer* s : caches.vertexBuffers)
            if (s->dynamic && !s->isPrivate && s->fvf == fvf && s->key == key) shared = s;
        if (!shared) shared = newVertexBuffer(fvf, key, kDynamicVertexSlots, true, false);
        return;
    }
    if (count < kStaticSlots) {
        for (SharedVertexBuffer* s : caches.vertexBuffers) {
            if (s->dynamic || s->fvf != fvf || s->key != key) continue;
            int64_t start = s->ranges.take(count, s->capacity);
            if (start < 0) continue;
            shared = s;
            offset = uint32_t(start);
            return;
        }
    }
    shared = newVertexBuffer(fvf, key, std::max(kStaticSlots, count), false, false);
    shared->oneOff = count >= kStaticSlots;
    offset = uint32_t(shared->ranges.take(count, shared->capacity));
}

void* GeometrySlice::lock(uint32_t first, int32_t vertexCount) {
    if (!shared) return nullptr;
    uint32_t n = vertexCount < 0 ? count : uint32_t(vertexCount);
    if (first > count || n > count - first) {
        logf("DXRC: vb lock failed\n");
        return nullptr;
    }
    if (!dynamic) return shared->vb.lock(offset + first, int32_t(n), kLockNormal);
    int32_t mode = kLockNormal;
    offset = dynamicOffset(shared, first, n, &mode);
    return shared->vb.lock(offset + first, int32_t(n), mode);
}

void GeometrySlice::unlock() {
    if (shared) shared->vb.unlock();
}

uint32_t GeometrySlice::use() {
    if (!shared) return 0;
    shared->vb.use();
    return offset;
}

// Large static requests never share a buffer made for another large one, so theirs goes once
// nothing uses it: a production that loops would otherwise add one per loop.
void GeometrySlice::release() {
    if (!shared) return;
    if (!dynamic) shared->ranges.give(offset, count);
    if (shared->isPrivate || (shared->oneOff && shared->ranges.used.empty())) {
        shared->vb.destroy();
        dropShared(caches.vertexBuffers, shared);
        delete shared;
    }
    shared = nullptr;
}

// ---- IndexSlice ----

void IndexSlice::create(uint32_t indexCount, bool isDynamic) {
    startCaches();
    count = indexCount;
    dynamic = isDynamic;
    offset = 0;
    shared = nullptr;
    if (dynamic) {
        // A request larger than the shared ring gets a buffer of its own.
        if (count > kDynamicIndexSlots) {
            shared = newIndexBuffer(count, true, true);
            return;
        }
        for (SharedIndexBuffer* s : caches.indexBuffers)
            if (s->dynamic && !s->isPrivate) shared = s;
        if (!shared) shared = newIndexBuffer(kDynamicIndexSlots, true, false);
        return;
    }
    if (count < kStaticSlots) {
        for (SharedIndexBuffer* s : caches.indexBuffers) {
            if (s->dynamic) continue;
            int64_t start = s->ranges.take(count, s->capacity);
            if (start < 0) continue;
            shared = s;
            offset = uint32_t(start);
            return;
        }
    }
    shared = newIndexBuffer(std::max(kStaticSlots, count), false, false);
    shared->oneOff = count >= kStaticSlots;
    offset = uint32_t(shared->ranges.take(count, shared->capacity));
}

uint16_t* IndexSlice::lock(uint32_t first, int32_t indexCount) {
    if (!shared) return nullptr;
    uint32_t n = indexCount < 0 ? count : uint32_t(indexCount);
    if (first > count || n > count - first) {
        logf("DXRC: ib lock failed\n");
        return nullptr;
    }
    if (!dynamic) return static_cast<uint16_t*>(shared->ib.lock(offset + first, int32_t(n), 0));
    int32_t mode = kLockNormal;
    offset = dynamicOffset(shared, first, n, &mode);
    return static_cast<uint16_t*>(shared->ib.lock(offset + first, int32_t(n), mode));
}

void IndexSlice::unlock() {
    if (shared) shared->ib.unlock();
}

uint32_t IndexSlice::use(uint32_t baseVertex) {
    if (!shared) return 0;
    shared->ib.use(baseVertex);
    return offset;
}

void IndexSlice::release() {
    if (!shared) return;
    if (!dynamic) shared->ranges.give(offset, count);
    if (shared->isPrivate || (shared->oneOff && shared->ranges.used.empty())) {
        shared->ib.destroy();
        dropShared(caches.indexBuffers, shared);
        delete shared;
    }
    shared = nullptr;
}
