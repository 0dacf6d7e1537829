// Resource manager and geometry buffers.
//
// Every device object the program creates is registered here under a 32-bit id ("#%08x").
// Around a device reset the manager saves what it needs to rebuild default-pool objects
// (`saveResources`, when the program loses focus in full screen), releases them
// (`killResources`, before the reset) and creates them again (`restoreResources`, after it);
// ids stay valid throughout, so holders keep ids, not device pointers. Managed and
// system-memory objects are left to the device.
//
// `VertexBuffer` and `IndexBuffer` wrap device buffers registered with the manager.
// `GeometrySlice` and `IndexSlice` are what effects and scenes hold: a range in a shared
// buffer. Dynamic slices of one vertex format share one ring buffer (lock, fill, unlock, then
// `use()` gives the first vertex to draw from); static slices take first-fit ranges in shared
// static buffers and give them back with `release()`.
//
// Start-up calls `resourceInit()` before the device exists; `closeDevice()` calls
// `resourceClose()`. `closeGeometryCaches()` empties the shared buffers at shutdown (before
// the device goes).
#pragma once

#include "platform/gpu/d3d8types.h"

#include <cstdint>

class GpuResource;
class GpuSurface;
class GpuVertexBuffer;
class GpuIndexBuffer;

enum ResourceKind : uint32_t {
    kResourceSurface = 1,
    kResourceTexture = 3,
    kResourceCubeTexture = 5,
    kResourceVertexBuffer = 6,
    kResourceIndexBuffer = 7,
};

void resourceInit();
void resourceClose();
bool hasResourceManager();

uint32_t addResource(GpuResource* resource); // takes over the caller's reference
uint32_t addSurface(GpuSurface* surface);    // kind 1, takes over the caller's reference
void removeResource(uint32_t id);
// The object behind an id (the surface for kind 1), null for an unknown id or while killed.
GpuResource* resourceObject(uint32_t id);
GpuSurface* resourceSurface(uint32_t id);
int32_t resourceCount();

void saveResources();
void killResources();
void restoreResources();
int32_t resourceState(); // 0 normal, 1 saved, 2 killed

// Asks the device to evict managed resources before a default-pool creation.
void resourceManagerDiscardBytes(uint32_t bytes);

// Lock modes of the buffer wrappers (dynamic buffers only).
enum LockMode : int32_t { kLockNormal = 0, kLockDiscard = 1, kLockNoOverwrite = 2 };

struct VertexBuffer {
    uint32_t id = 0; // resource id
    uint32_t fvfOrShader = 0;
    uint32_t stride = 0; // bytes per vertex
    uint32_t count = 0;  // vertices
    uint32_t stream = 0; // stream number (shader ids)
    bool dynamic = false;
    bool writeOnly = false;

    // Failure to create is fatal.
    void create(uint32_t fvfOrShaderId, uint32_t vertexCount, bool isDynamic, bool isWriteOnly,
                uint32_t streamNumber = 0);
    void destroy(); // removes the buffer from the manager
    void* lock(uint32_t first, int32_t vertexCount, int32_t mode); // -1: all; null on failure
    void unlock();
    void use();
    GpuVertexBuffer* buffer() const;
};

struct IndexBuffer {
    uint32_t id = 0;
    uint32_t count = 0; // indices
    bool wide = false;  // 32-bit indices
    bool dynamic = false;
    bool writeOnly = false;

    void create(uint32_t indexCount, bool is32Bit, bool isDynamic, bool isWriteOnly);
    void destroy();
    void* lock(uint32_t first, int32_t indexCount, int32_t mode);
    void unlock();
    void use(uint32_t baseVertex);
    GpuIndexBuffer* buffer() const;
};

namespace gfx {
struct SharedVertexBuffer;
struct SharedIndexBuffer;
} // namespace gfx

// A range of vertices in a shared (or, for large dynamic requests, private) buffer.
struct GeometrySlice {
    gfx::SharedVertexBuffer* shared = nullptr;
    uint32_t fvf = 0;
    uint32_t count = 0;  // vertices of the slice
    uint32_t offset = 0; // first vertex in the buffer (dynamic: set by the last lock)
    bool dynamic = false;

    // key: a creator-chosen part of the sharing key (0 everywhere here).
    void create(uint32_t fvfCode, uint32_t vertexCount, bool isDynamic, uint32_t key = 0);
    void* lock(uint32_t first = 0, int32_t vertexCount = -1);
    void unlock();
    uint32_t use(); // binds the buffer; returns the first vertex for drawPrimitive
    void release();
};

struct IndexSlice {
    gfx::SharedIndexBuffer* shared = nullptr;
    uint32_t count = 0;
    uint32_t offset = 0;
    bool dynamic = false;

    void create(uint32_t indexCount, bool isDynamic);
    uint16_t* lock(uint32_t first = 0, int32_t indexCount = -1);
    void unlock();
    uint32_t use(uint32_t baseVertex = 0); // binds the buffer; returns the first index
    void release();
};

// Shared geometry buffers: the capacities of a new shared buffer and the whole list.
constexpr uint32_t kDynamicVertexSlots = 0x3000;
constexpr uint32_t kDynamicIndexSlots = 0x4000;
constexpr uint32_t kStaticSlots = 16000;
void initGeometryCaches();  // logs "DXHL: init"
void closeGeometryCaches(); // frees every shared buffer
int32_t sharedVertexBufferCount();
int32_t sharedIndexBufferCount();
uint32_t sliceBufferCapacity(const GeometrySlice& slice); // vertices of the slice's buffer
uint32_t sliceBufferId(const GeometrySlice& slice);       // resource id of the slice's buffer
