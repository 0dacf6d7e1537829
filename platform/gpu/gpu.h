// The graphics device: Direct3D 8's objects and operations, drawn with OpenGL 3.3.
//
// `gpuCreate()` stands in for creating the Direct3D object: a `GpuSystem` answers adapter,
// mode, format and caps queries over the SDL displays (headless: one display with a fixed list
// of common modes) and creates the one `GpuDevice`. The device has the operations the graphics
// Parts call on a Direct3D 8 device, with the same arguments, result codes and numbers
// (d3d8types.h). Objects are reference counted like COM objects: every Create*/Get* that hands
// out an object adds a reference, and the caller gives it back with `Release`.
//
// What differs from Direct3D on purpose:
// - every target, the back buffer included, is an offscreen framebuffer stored top row first;
//   `Present` draws the back buffer into the window with the gamma ramp applied, keeping the
//   aspect ratio (letterboxing), and can capture it to a PNG file;
// - a lost device is only simulated (`SimulateDeviceLoss`): TestCooperativeLevel then reports
//   D3DERR_DEVICELOST, later D3DERR_DEVICENOTRESET; default-pool objects are lost until Reset,
//   after which they are empty again; managed and system-memory objects keep their contents;
// - vertex shaders: a declaration without function tokens draws with the fixed-function
//   pipeline and the declared multi-stream layout; vs.1.0/1.1 function tokens are translated to
//   GLSL (the texture stages still run as fixed function); other versions are refused
//   (D3DERR_INVALIDCALL);
// - fog, user clip planes, vertex blending, point sizes and sprites, texture wrapping render
//   states and bump mapping are not emulated; PREMODULATE modulates like MODULATE.
// Invalid calls return D3DERR_INVALIDCALL and draw nothing.
//
// Test support: caps profiles (`gpuSetCapsProfile`), fault injection (`gpuInjectFault`) and the
// per-frame counters (`GetFrameStats`).
#pragma once

#include "platform/gpu/d3d8types.h"

#include <cstdint>
#include <memory>
#include <vector>

class GpuDevice;
namespace gpu {
struct GpuDeviceState;
}

// ---- Test profiles ----
enum class GpuCapsProfile : uint32_t {
    Default,    // what the GL context offers
    Pow2Only,   // textures (and cube maps) need power-of-two sides
    SquareOnly, // textures need square sides (and powers of two)
    SmallMax,   // largest texture side 256
    FewStages,  // two texture blend stages
};
void gpuSetCapsProfile(GpuCapsProfile profile);
GpuCapsProfile gpuCapsProfile();

enum class GpuFault : uint32_t {
    None,
    CreateDeviceFails, // next CreateDevice returns D3DERR_NOTAVAILABLE
    OutOfVideoMemory,  // next default-pool creation returns D3DERR_OUTOFVIDEOMEMORY
    OutOfMemory,       // next creation of any resource returns E_OUTOFMEMORY
};
// Arms one fault; it fires once, at the next matching call.
void gpuInjectFault(GpuFault fault);
// Devices created while this is off ignore ARB_clip_control and remap depth in the shaders
// (the path taken by GL drivers without it).
void gpuSetClipControlAllowed(bool allowed);
// Most fixed-function programs kept (default 512, 0 restores it); beyond it the cache is emptied.
void gpuSetProgramCacheLimit(uint32_t limit);

// Counters of one frame (from one Present to the next).
struct GpuFrameStats {
    uint32_t glCalls = 0;       // GL functions called by the device
    uint32_t stateChanges = 0;  // render/stage/texture/transform/shader values that changed
    uint32_t draws = 0;         // draw calls that reached GL
    uint32_t shaderLookups = 0; // fixed-function program lookups (one per draw)
    uint32_t shaderCacheHits = 0;
    uint32_t shaderCompiles = 0;
};

// Counters since the process started: what loading made, and the proof that playback makes
// no new programs or device objects once loading is over.
struct GpuTotals {
    uint64_t programsCompiled = 0; // fixed-function programs built
    uint64_t texturesCreated = 0;  // textures and cube textures (render textures included)
    uint64_t depthSurfaces = 0;    // depth-stencil surfaces
    uint64_t buffersCreated = 0;   // vertex and index buffers
};
const GpuTotals& gpuTotals();
// Objects alive on a device, by kind (soak runs check that they return to a steady count).
struct GpuLiveObjects {
    uint32_t surfaces = 0; // back buffer, depth-stencil surfaces and texture levels
    uint32_t textures = 0;
    uint32_t cubeTextures = 0;
    uint32_t vertexBuffers = 0;
    uint32_t indexBuffers = 0;
    uint32_t vertexShaders = 0;
    uint32_t programs = 0; // fixed-function programs in the cache
};

// ---- Resources ----
class GpuResource {
  public:
    virtual ~GpuResource() = default;
    uint32_t AddRef() { return ++refCount; }
    uint32_t Release();
    D3DRESOURCETYPE GetType() const { return type; }
    D3DPOOL GetPool() const { return pool; }
    // True while the device is lost (simulated) and this object lives in the default pool.
    bool IsLost() const;

    GpuDevice* device = nullptr;
    D3DRESOURCETYPE type = D3DRTYPE_SURFACE;
    D3DPOOL pool = D3DPOOL_DEFAULT;
    uint32_t usage = 0;
    uint32_t refCount = 1;
    uint32_t lostEpoch = 0; // the device's reset count when this object was last valid
};

class GpuBaseTexture;

// A colour or depth surface: a level (or cube face level) of a texture, the back buffer, or
// a depth-stencil surface.
class GpuSurface : public GpuResource {
  public:
    ~GpuSurface() override;
    HRESULT GetDesc(D3DSURFACE_DESC* desc) const;
    // Only surfaces of lockable textures can be locked.
    HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, uint32_t flags);
    HRESULT UnlockRect();

    D3DFORMAT format = D3DFMT_UNKNOWN;
    uint32_t width = 0, height = 0;
    GpuBaseTexture* owner = nullptr; // texture this surface belongs to (holds a reference)
    uint32_t level = 0, face = 0;
    uint32_t glTexture = 0;      // back buffer: a texture of its own
    uint32_t glRenderbuffer = 0; // depth-stencil surfaces
};

class GpuBaseTexture : public GpuResource {
  public:
    ~GpuBaseTexture() override;
    uint32_t GetLevelCount() const { return levels; }
    HRESULT GetLevelDesc(uint32_t level, D3DSURFACE_DESC* desc) const;

    D3DFORMAT format = D3DFMT_UNKNOWN;
    uint32_t width = 0, height = 0; // level 0 (cube: edge length both)
    uint32_t levels = 1;
    uint32_t faces = 1; // 6 for cube textures
    uint32_t glTexture = 0;
    uint32_t glTarget = 0;
    // Contents of every face and level in the Direct3D layout (lockable pools only).
    std::vector<std::vector<uint8_t>> shadow; // index face * levels + level
    int32_t lockedIndex = -1;
    RECT lockedRect;
    bool lockedReadOnly = false;
    uint32_t samplerKey = 0xFFFFFFFF; // filtering and addressing last applied to glTexture
};

class GpuTexture : public GpuBaseTexture {
  public:
    HRESULT LockRect(uint32_t level, D3DLOCKED_RECT* locked, const RECT* rect, uint32_t flags);
    HRESULT UnlockRect(uint32_t level);
    HRESULT GetSurfaceLevel(uint32_t level, GpuSurface** surface);
};

class GpuCubeTexture : public GpuBaseTexture {
  public:
    HRESULT LockRect(D3DCUBEMAP_FACES face, uint32_t level, D3DLOCKED_RECT* locked,
                     const RECT* rect, uint32_t flags);
    HRESULT UnlockRect(D3DCUBEMAP_FACES face, uint32_t level);
    HRESULT GetCubeMapSurface(D3DCUBEMAP_FACES face, uint32_t level, GpuSurface** surface);
};

// Vertex and index buffers: contents kept in memory, copied to a GL buffer on unlock.
class GpuBuffer : public GpuResource {
  public:
    ~GpuBuffer() override;
    HRESULT Lock(uint32_t offset, uint32_t size, uint8_t** data, uint32_t flags);
    HRESULT Unlock();

    std::vector<uint8_t> contents;
    uint32_t glBuffer = 0;
    bool locked = false;
    bool lockReadOnly = false;
    uint32_t lockFlags = 0;
    uint32_t lockOffset = 0, lockSize = 0;
};

class GpuVertexBuffer : public GpuBuffer {
  public:
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) const;
    uint32_t fvf = 0;
};

class GpuIndexBuffer : public GpuBuffer {
  public:
    HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc) const;
    D3DFORMAT format = D3DFMT_INDEX16;
};

// ---- The Direct3D object: adapters and device creation ----
class GpuSystem {
  public:
    uint32_t AddRef() { return ++refCount; }
    uint32_t Release();

    uint32_t GetAdapterCount() const;
    HRESULT GetAdapterIdentifier(uint32_t adapter, uint32_t flags,
                                 D3DADAPTER_IDENTIFIER8* id) const;
    uint32_t GetAdapterModeCount(uint32_t adapter) const;
    HRESULT EnumAdapterModes(uint32_t adapter, uint32_t mode, D3DDISPLAYMODE* out) const;
    HRESULT GetAdapterDisplayMode(uint32_t adapter, D3DDISPLAYMODE* out) const;
    // A handle for the adapter's monitor (display index + 1); null for an unknown adapter.
    void* GetAdapterMonitor(uint32_t adapter) const;
    HRESULT CheckDeviceType(uint32_t adapter, uint32_t deviceType, D3DFORMAT displayFormat,
                            D3DFORMAT backBufferFormat, bool windowed) const;
    HRESULT CheckDeviceFormat(uint32_t adapter, uint32_t deviceType, D3DFORMAT adapterFormat,
                              uint32_t usage, D3DRESOURCETYPE type, D3DFORMAT format) const;
    HRESULT CheckDepthStencilMatch(uint32_t adapter, uint32_t deviceType, D3DFORMAT adapterFormat,
                                   D3DFORMAT renderTargetFormat, D3DFORMAT depthFormat) const;
    HRESULT GetDeviceCaps(uint32_t adapter, uint32_t deviceType, D3DCAPS8* caps) const;
    // focusWindow: an SDL_Window created with the flags of `gpuWindowFlags`, or null for a
    // window of the device's own (hidden unless the parameters ask for full screen).
    HRESULT CreateDevice(uint32_t adapter, uint32_t deviceType, void* focusWindow,
                         uint32_t behaviorFlags, D3DPRESENT_PARAMETERS* parameters,
                         GpuDevice** device);

    uint32_t refCount = 1;
};

// Direct3DCreate8: starts SDL's video subsystem. Null when there is no video driver.
GpuSystem* gpuCreate();
// SDL window flags a window must be created with for the device to draw into it.
uint32_t gpuWindowFlags();
// True when a format is one of the depth-stencil formats.
bool gpuIsDepthFormat(D3DFORMAT format);
// Bytes per texel of a colour format the device emulates; 0 for any other.
uint32_t gpuFormatBytes(D3DFORMAT format);
// How pixels lie in memory: 0xAARRGGBB words (ReadSurface) or the bytes red, green, blue,
// alpha (ReadSurfaceRgba).
enum class GpuPixelLayout { Argb, RgbaBytes };

// Pixels, top row first, through a gamma ramp into planar 4:2:0 video: the Y plane, then Cb
// and Cr at half width and height (rounded up), each chroma sample the mean of its 2 x 2
// pixels; BT.709 coefficients in the limited range (16-235, 16-240). Touches no device, so
// that it can run beside the drawing.
void gpuYuv420FromPixels(const uint32_t* pixels, uint32_t width, uint32_t height,
                         const D3DGAMMARAMP& ramp, std::vector<uint8_t>* yuv,
                         GpuPixelLayout layout = GpuPixelLayout::Argb);

// What a vertex shader declaration says about its streams, read by the same walk the device
// uses to lay out the vertices: the stride of each of the 16 streams and what the walk met.
struct GpuDeclarationStreams {
    uint32_t strides[16] = {};
    bool terminated = false;        // an end token came within the tokens given
    bool tessellator = false;       // tessellator tokens, which the device does not run
    bool dataWithoutStream = false; // stream data before any stream selector (ignored)
};
GpuDeclarationStreams gpuDeclarationStreams(const uint32_t* tokens, size_t count);

// ---- The device ----
class GpuDevice {
  public:
    GpuDevice();
    ~GpuDevice();
    uint32_t AddRef() { return ++refCount; }
    uint32_t Release();

    HRESULT TestCooperativeLevel();
    HRESULT Reset(D3DPRESENT_PARAMETERS* parameters);
    HRESULT Present(const RECT* source, const RECT* dest, void* window, const void* dirtyRegion);
    HRESULT GetDeviceCaps(D3DCAPS8* caps) const;
    HRESULT GetDisplayMode(D3DDISPLAYMODE* mode) const;
    void SetGammaRamp(uint32_t flags, const D3DGAMMARAMP* ramp);
    void GetGammaRamp(D3DGAMMARAMP* ramp) const;

    HRESULT GetBackBuffer(uint32_t index, D3DBACKBUFFER_TYPE type, GpuSurface** surface);
    HRESULT GetRenderTarget(GpuSurface** surface);
    HRESULT GetDepthStencilSurface(GpuSurface** surface);

    HRESULT CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                          D3DFORMAT format, D3DPOOL pool, GpuTexture** texture);
    HRESULT CreateCubeTexture(uint32_t edge, uint32_t levels, uint32_t usage, D3DFORMAT format,
                              D3DPOOL pool, GpuCubeTexture** texture);
    HRESULT CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, D3DPOOL pool,
                               GpuVertexBuffer** buffer);
    HRESULT CreateIndexBuffer(uint32_t length, uint32_t usage, D3DFORMAT format, D3DPOOL pool,
                              GpuIndexBuffer** buffer);
    HRESULT CreateDepthStencilSurface(uint32_t width, uint32_t height, D3DFORMAT format,
                                      D3DMULTISAMPLE_TYPE multiSample, GpuSurface** surface);
    // Copies every level of a system-memory texture to a default-pool texture of the same
    // format and size (levels beyond the destination's count are ignored).
    HRESULT UpdateTexture(GpuBaseTexture* source, GpuBaseTexture* destination);

    HRESULT SetRenderTarget(GpuSurface* renderTarget, GpuSurface* depthStencil);
    HRESULT BeginScene();
    HRESULT EndScene();
    HRESULT Clear(uint32_t count, const D3DRECT* rects, uint32_t flags, D3DCOLOR color, float z,
                  uint32_t stencil);

    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix);
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) const;
    HRESULT SetViewport(const D3DVIEWPORT8* viewport);
    HRESULT GetViewport(D3DVIEWPORT8* viewport) const;
    HRESULT SetMaterial(const D3DMATERIAL8* material);
    HRESULT GetMaterial(D3DMATERIAL8* material) const;
    HRESULT SetLight(uint32_t index, const D3DLIGHT8* light);
    HRESULT GetLight(uint32_t index, D3DLIGHT8* light) const;
    HRESULT LightEnable(uint32_t index, bool enable);
    HRESULT GetLightEnable(uint32_t index, bool* enable) const;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, uint32_t value);
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, uint32_t* value) const;
    HRESULT SetTextureStageState(uint32_t stage, D3DTEXTURESTAGESTATETYPE type, uint32_t value);
    HRESULT GetTextureStageState(uint32_t stage, D3DTEXTURESTAGESTATETYPE type,
                                 uint32_t* value) const;
    HRESULT SetTexture(uint32_t stage, GpuBaseTexture* texture);

    // Declaration tokens up to D3DVSD_END; function tokens (vs.1.0/1.1) or null.
    HRESULT CreateVertexShader(const uint32_t* declaration, const uint32_t* function,
                               uint32_t* handle, uint32_t usage);
    HRESULT DeleteVertexShader(uint32_t handle);
    // An FVF code (even) or a handle from CreateVertexShader (odd).
    HRESULT SetVertexShader(uint32_t handleOrFvf);
    HRESULT GetVertexShader(uint32_t* handleOrFvf) const;
    HRESULT SetVertexShaderConstant(uint32_t reg, const void* data, uint32_t count);

    HRESULT SetStreamSource(uint32_t stream, GpuVertexBuffer* buffer, uint32_t stride);
    HRESULT SetIndices(GpuIndexBuffer* buffer, uint32_t baseVertexIndex);
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, uint32_t startVertex, uint32_t primitiveCount);
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, uint32_t minIndex, uint32_t numVertices,
                                 uint32_t startIndex, uint32_t primitiveCount);
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, uint32_t primitiveCount, const void* vertices,
                            uint32_t stride);
    HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, uint32_t minIndex, uint32_t numVertices,
                                   uint32_t primitiveCount, const void* indices,
                                   D3DFORMAT indexFormat, const void* vertices, uint32_t stride);

    // ---- Beyond Direct3D: test hooks, capture and counters ----
    // The device reports lost for `lostTests` TestCooperativeLevel calls, then not-reset.
    void SimulateDeviceLoss(uint32_t lostTests = 1);
    // Reads a colour surface (back buffer or texture level) as 0xAARRGGBB, top row first.
    HRESULT ReadSurface(GpuSurface* surface, std::vector<uint32_t>* pixels);
    // The same as the bytes red, green, blue, alpha (alpha 255 where the format has none):
    // the order GL keeps 8-bit colour in, so that nothing is converted on the way; what the
    // video export reads every frame.
    HRESULT ReadSurfaceRgba(GpuSurface* surface, std::vector<uint32_t>* pixels);
    // The pixels of a colour surface (back buffer or texture level, render targets included)
    // in the layout LockRect gives, and back: what the resource manager uses to carry pictures
    // across a reset (Direct3D 8 would copy them to system memory). Both refuse while the
    // device is lost.
    HRESULT ReadSurfaceData(GpuSurface* surface, std::vector<uint8_t>* data);
    HRESULT WriteSurfaceData(GpuSurface* surface, const std::vector<uint8_t>& data);
    // Writes the back buffer, gamma applied, as a PNG file at the next Present (or now when
    // `now` is set).
    HRESULT CapturePng(const char* path, bool now);
    // The back buffer as the window shows it (gamma applied): 8-bit RGB, top row first.
    HRESULT ReadBackBufferRgb(std::vector<uint8_t>* rgb, uint32_t* width, uint32_t* height);
    // Test hook: with `keep` set, each Present also reads back what it drew into the window
    // (0xAARRGGBB, top row first) before the swap.
    void KeepPresentedImage(bool keep);
    HRESULT GetPresentedImage(std::vector<uint32_t>* pixels, uint32_t* width,
                              uint32_t* height) const;
    const GpuFrameStats& GetFrameStats() const;   // the last finished frame
    const GpuFrameStats& GetCurrentStats() const; // the frame in progress
    uint32_t GetShaderCount() const;              // programs in the fixed-function cache
    GpuLiveObjects GetLiveObjects() const;
    uint32_t GetResetCount() const; // completed Resets (the "epoch" of objects)
    bool IsDeviceLost() const;      // lost or not yet reset

    uint32_t refCount = 1;
    std::unique_ptr<gpu::GpuDeviceState> state;
};
