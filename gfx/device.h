// Device context: the one graphics device and everything global to drawing.
//
// Start-up fills `deviceSettings` (chosen adapter and mode, "notrilin") and the screen size in
// configValues, creates the resource manager (gfx/resources.h) and then calls
// `initDevice(direct3d, mainWindow)`; it owns the device from then on. Shutdown calls
// `closeDevice()`, which also closes the resource manager and releases the Direct3D object.
//
// Each frame: the timeline selects a render target by name (`selectRenderTarget`, which opens
// the frame's scene) and a viewport (`setViewport`), effects set wanted states through the cache
// (`setRenderState` ... `setVertexShader`), which `flushState` and the draw wrappers send when
// they differ from what the device already has, and the main loop ends the frame with
// `present()`, which also brings the device back after a loss and reopens "primary".
//
// Render targets are named: "primary" is the back buffer; every other target is a texture of
// its own with a depth buffer shared by surface size.
#pragma once

#include "platform/gpu/d3d8types.h"

#include <cstdint>
#include <vector>

class GpuSystem;
class GpuDevice;
class GpuSurface;
class GpuTexture;
class GpuBaseTexture;
class GpuVertexBuffer;
class GpuIndexBuffer;
struct Texture;

// What start-up chooses before `initDevice` (launch dialog or command line). The screen size
// comes from configValues.xres/yres and configValues.windowed.
struct DeviceSettings {
    int32_t adapter = 0;              // index into the enumeration's adapter list
    int32_t mode = 0;                 // index into the chosen adapter's kept modes (full screen)
    int32_t notrilin = 0;             // 1: point mip filtering instead of linear
    int32_t vsync = 1;                // 0: present without waiting for the display
    void (*pumpMessages)() = nullptr; // called while the device is lost in `present`
};
extern DeviceSettings deviceSettings;

// Written by `initDevice`: the back-buffer format, its bits per pixel (16 or 32) and the size
// the device really runs at (the full-screen mode's, or the desktop's for a 0 x 0 request).
struct ScreenFormat {
    D3DFORMAT format = D3DFMT_UNKNOWN;
    int32_t bitsPerPixel = 0;
    int32_t width = 0, height = 0;
};
extern ScreenFormat screenFormat;

namespace gfx {
struct DepthEntry; // a shared depth buffer of one surface size
}

struct RenderTarget {
    GpuSurface* surface = nullptr;         // "primary": the back buffer; texture targets: null
    gfx::DepthEntry* depthEntry = nullptr; // shared depth buffer; null for "primary"
    Texture* texture = nullptr;            // texture targets: the texture drawn into
    uint32_t textureId = 0;                // resource id of the device texture (texture targets)
    char name[64] = {};
    int32_t width = 0, height = 0;               // as requested
    int32_t surfaceWidth = 0, surfaceHeight = 0; // as created
    int32_t hasDepth = 0;
    RenderTarget* next = nullptr; // list, newest first
};

// The current viewport in pixels of the current target; right = left + width,
// bottom = top + height.
struct Viewport {
    int32_t left = 0, top = 0, width = 0, height = 0, right = 0, bottom = 0;
};

// ---- Start and end ----
// mainWindow: the SDL window from the platform layer (demoWindowHandle()), or null to draw
// headless into a hidden window of the device's own (windowed mode only).
void initDevice(GpuSystem* direct3d, void* mainWindow);
void closeDevice();
// Fatal path: releases the device without touching pools or resources (may run half-built).
void closeDeviceOnFatal();
bool hasDevice();
// The size of "primary": the device's, or the chosen configValues.xres x yres before a device
// exists (a dry parse, the script check).
int32_t screenWidth();
int32_t screenHeight();

GpuDevice* dxDevice();        // null before initDevice
const D3DCAPS8& deviceCaps(); // caps of the device-type record the device runs on
uint32_t blendStageCount();   // texture blend stages the device offers (at least 1)

// ---- Targets and viewports ----
RenderTarget* createRenderTexture(int32_t width, int32_t height, const char* name, bool withDepth);
RenderTarget* findRenderTarget(const char* name); // null name: the current target
// Frees a texture target (not "primary") and lets go of its shared depth buffer.
void destroyRenderTarget(const char* name);
int32_t depthBufferCount();    // shared depth buffers in the pool
RenderTarget* renderTargets(); // head of the list, newest first
void selectRenderTarget(const char* name, bool force = false);
void setRenderTarget(RenderTarget* target, bool force = false);
RenderTarget* currentRenderTarget();
// Colour surface of a target with a reference added (caller releases), null when unavailable.
GpuSurface* renderTargetSurface(RenderTarget* target);
void setViewport(int32_t x, int32_t y, int32_t width, int32_t height);
const Viewport& currentViewport();
float aspectRatio(); // current target's width / height
bool sceneOpen();

void clear(uint32_t flags, D3DCOLOR colour, float z = 1.0f, uint32_t stencil = 0);
void present(const RECT* destRect = nullptr, void* windowOverride = nullptr);
// A lost device is waited out (pumping messages) and reset, as `present` does; the frame loop
// calls it before drawing, so that a frame is never drawn into a device that then resets.
void restoreLostDevice();
// Writes "primary" as a PNG file when the next `present` shows it (or at once when `now`).
bool captureFrame(const char* path, bool now = false);
// "primary" as drawn (the bytes red, green, blue, alpha: GpuPixelLayout::RgbaBytes; top row
// first) and the gamma ramp the window shows it through; false without a device.
bool readFramePixels(std::vector<uint32_t>* pixels, D3DGAMMARAMP* ramp, int32_t* width,
                     int32_t* height);

// ---- State cache: the setters only record the wanted value ----
void setRenderState(uint32_t state, uint32_t value);
void setRenderStates(const uint32_t* list); // state, value pairs ending with state 0
void setStageState(uint32_t stage, uint32_t type, uint32_t value);
void setStageStates(uint32_t stage, const uint32_t* list); // type, value pairs ending with 0
// The texture of a stage (null: none; stages past the device's limit are ignored).
void setTexture(uint32_t stage, GpuBaseTexture* texture);
// Drops a texture that is about to be freed from the wanted and sent tables (the device lets
// go of it at once), so that no later flush binds a freed object.
void forgetTexture(GpuBaseTexture* texture);
void setStream(uint32_t number, GpuVertexBuffer* buffer, uint32_t stride);
void setIndices(GpuIndexBuffer* buffer, uint32_t baseIndex);
void setVertexShader(uint32_t fvfOrId);
void setShaderConstant(uint32_t reg, float x, float y, float z, float w);
void setShaderConstantVector(uint32_t reg, const float* vec4);
void setShaderMatrix(uint32_t reg, const D3DMATRIX& matrix); // transposed into 4 registers
void flushState();
void resetDeviceState();
void setTransform(D3DTRANSFORMSTATETYPE kind, const D3DMATRIX& matrix);
void getTransform(D3DTRANSFORMSTATETYPE kind, D3DMATRIX* matrix);
void setSoftwareVertexProcessing(bool on);
// True while vertices are processed in software (device created so, or switched on).
bool softwareVertexProcessingOn();

// Wanted / last sent values, for tests and tools.
uint32_t wantedRenderState(uint32_t state);
uint32_t sentRenderState(uint32_t state);
GpuBaseTexture* wantedTexture(uint32_t stage);
GpuBaseTexture* sentTexture(uint32_t stage);

// ---- Vertex shaders (ids 1, 3, 5 ...) ----
uint32_t registerVertexShader(const uint32_t* declaration, const uint32_t* function);
void useVertexShader(uint32_t id);
void deleteVertexShader(uint32_t id);
uint32_t getShaderStreamStride(uint32_t id, uint32_t stream);
void setShaderStreamStride(uint32_t id, uint32_t stream, uint32_t stride);

// ---- Draw wrappers (nothing drawn for a zero count) ----
void drawLinesUP(const void* vertices, uint32_t n, uint32_t fvf);
void drawLineStripUP(const void* vertices, uint32_t n, uint32_t fvf);
void drawTrianglesUP(const void* vertices, uint32_t n, uint32_t fvf);
void drawFanUP(const void* vertices, uint32_t n, uint32_t fvf);
void drawStripUP(const void* vertices, uint32_t n, uint32_t fvf);
void drawPrimitive(D3DPRIMITIVETYPE type, uint32_t start, uint32_t count);
void drawIndexed(D3DPRIMITIVETYPE type, uint32_t minIndex, uint32_t numVertices,
                 uint32_t startIndex, uint32_t count);
