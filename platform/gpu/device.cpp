// The device: creation on an SDL window with a GL 3.3 core context, reset and simulated
// loss, resource creation, render targets, clear, state setters, present with the gamma ramp
// and PNG capture. Drawing is in draw.cpp.
//
// Sections: creation and destruction - loss and reset - present and capture - resources -
// targets and clear - state.
#include "platform/gpu/gpu_local.h"
#include "platform/log.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

GLuint gpuLinkProgram(const std::string& vertex, const std::string& fragment);
void gpuResetAppliedState(GpuDeviceState* s);

namespace {

void defaultRenderStates(GpuDeviceState* s) {
    uint32_t* rs = s->renderStates;
    std::fill(rs, rs + 256, 0u);
    rs[D3DRS_ZENABLE] = s->parameters.EnableAutoDepthStencil ? D3DZB_TRUE : D3DZB_FALSE;
    rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
    rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    rs[D3DRS_ZWRITEENABLE] = 1;
    rs[D3DRS_LASTPIXEL] = 1;
    rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    rs[D3DRS_CULLMODE] = D3DCULL_CCW;
    rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_STENCILFAIL] = rs[D3DRS_STENCILZFAIL] = rs[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_STENCILMASK] = rs[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFF;
    rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
    rs[D3DRS_CLIPPING] = 1;
    rs[D3DRS_LIGHTING] = 1;
    rs[D3DRS_COLORVERTEX] = 1;
    rs[D3DRS_LOCALVIEWER] = 1;
    rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
    rs[D3DRS_COLORWRITEENABLE] = 0xF;
    rs[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
    float one = 1.0f;
    memcpy(&rs[D3DRS_POINTSIZE], &one, 4);
    rs[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFF;
    rs[D3DRS_MULTISAMPLEANTIALIAS] = 1;
}

void defaultStageStates(GpuDeviceState* s) {
    for (uint32_t stage = 0; stage < kMaxTextureStages; ++stage) {
        uint32_t* ts = s->stageStates[stage];
        std::fill(ts, ts + 32, 0u);
        ts[D3DTSS_COLOROP] = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        ts[D3DTSS_ALPHAOP] = stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        ts[D3DTSS_COLORARG1] = ts[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        ts[D3DTSS_COLORARG2] = ts[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        ts[D3DTSS_COLORARG0] = ts[D3DTSS_ALPHAARG0] = ts[D3DTSS_RESULTARG] = D3DTA_CURRENT;
        ts[D3DTSS_TEXCOORDINDEX] = stage;
        ts[D3DTSS_ADDRESSU] = ts[D3DTSS_ADDRESSV] = ts[D3DTSS_ADDRESSW] = D3DTADDRESS_WRAP;
        ts[D3DTSS_MAGFILTER] = ts[D3DTSS_MINFILTER] = D3DTEXF_POINT;
        ts[D3DTSS_MIPFILTER] = D3DTEXF_NONE;
        ts[D3DTSS_MAXANISOTROPY] = 1;
        s->samplerDirty[stage] = true;
    }
}

void releaseBindings(GpuDeviceState* s) {
    for (GpuBaseTexture*& t : s->textures)
        if (t) t->Release(), t = nullptr;
    for (auto& stream : s->streams)
        if (stream.buffer) stream.buffer->Release(), stream.buffer = nullptr;
    if (s->indices) s->indices->Release(), s->indices = nullptr;
    if (s->renderTarget) s->renderTarget->Release(), s->renderTarget = nullptr;
    if (s->depthStencil) s->depthStencil->Release(), s->depthStencil = nullptr;
}

void defaultState(GpuDeviceState* s) {
    defaultRenderStates(s);
    defaultStageStates(s);
    s->world = s->view = s->projection = D3DMATRIX{};
    for (D3DMATRIX& m : s->texture)
        m = D3DMATRIX{};
    s->material = D3DMATERIAL8{};
    for (uint32_t i = 0; i < kMaxActiveLights; ++i) {
        s->lights[i] = D3DLIGHT8{};
        s->lights[i].Diffuse = {1, 1, 1, 0};
        s->lights[i].Direction = {0, 0, 1};
        s->lightEnabled[i] = false;
    }
    s->vertexShader = 0;
    s->baseVertexIndex = 0;
    for (uint32_t& v : s->versions)
        ++v;
}

const char* kPresentVertex = R"(#version 330 core
out vec2 vUv;
void main() {
  vec2 p = vec2(float((gl_VertexID & 1) * 4 - 1), float((gl_VertexID & 2) * 2 - 1));
  vUv = vec2((p.x + 1.0) * 0.5, 1.0 - (p.y + 1.0) * 0.5);
  gl_Position = vec4(p, 0.0, 1.0);
}
)";
// The back buffer is stored top row first, so the top of the window samples v = 0.
const char* kPresentFragment = R"(#version 330 core
in vec2 vUv;
uniform sampler2D uImage;
uniform sampler2D uGamma;
out vec4 fragColor;
float ramp(float c, int row) { return texelFetch(uGamma, ivec2(int(c * 255.0 + 0.5), row), 0).r; }
void main() {
  vec4 c = texture(uImage, vUv);
  fragColor = vec4(ramp(c.r, 0), ramp(c.g, 1), ramp(c.b, 2), 1.0);
}
)";

GLuint createColorTexture(uint32_t width, uint32_t height, D3DFORMAT format) {
    const GpuFormatInfo* info = gpuFormatInfo(format);
    GLuint texture = 0;
    GLCALL(glGenTextures(1, &texture));
    GLCALL(glActiveTexture(GL_TEXTURE0 + kMaxTextureStages));
    GLCALL(glBindTexture(GL_TEXTURE_2D, texture));
    std::vector<uint8_t> zeros(size_t(width) * height * info->bytes, 0);
    GLCALL(glPixelStorei(GL_UNPACK_ALIGNMENT, 1));
    GLCALL(glTexImage2D(GL_TEXTURE_2D, 0, GLint(info->internalFormat), GLsizei(width),
                        GLsizei(height), 0, info->glFormat, info->glType, zeros.data()));
    GLCALL(glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0));
    GLCALL(glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, info->swizzle));
    return texture;
}

GLuint createDepthBuffer(uint32_t width, uint32_t height, D3DFORMAT format) {
    GLuint buffer = 0;
    GLCALL(glGenRenderbuffers(1, &buffer));
    GLCALL(glBindRenderbuffer(GL_RENDERBUFFER, buffer));
    GLCALL(glRenderbufferStorage(GL_RENDERBUFFER,
                                 format == D3DFMT_D16 ? GL_DEPTH_COMPONENT16 : GL_DEPTH24_STENCIL8,
                                 GLsizei(width), GLsizei(height)));
    return buffer;
}

bool takeOutOfMemory(D3DPOOL pool, HRESULT* result) {
    if (gpuTakeFault(GpuFault::OutOfMemory)) return *result = E_OUTOFMEMORY, true;
    if (pool == D3DPOOL_DEFAULT && gpuTakeFault(GpuFault::OutOfVideoMemory))
        return *result = D3DERR_OUTOFVIDEOMEMORY, true;
    return false;
}

bool isPowerOfTwo(uint32_t v) {
    return v && !(v & (v - 1));
}

uint32_t fullLevelCount(uint32_t width, uint32_t height) {
    uint32_t levels = 1, side = std::max(width, height);
    while (side > 1)
        side >>= 1, ++levels;
    return levels;
}

// Full screen as a desktop-sized window: the back buffer keeps the chosen mode's size and
// present scales it with letterboxing, so the display's own mode never switches (a switch
// blanks monitors and leaves them at the wrong size when a program dies).
void enterFullScreen(SDL_Window* window, uint32_t, const D3DPRESENT_PARAMETERS&) {
    SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN_DESKTOP);
}

} // namespace

// ---- Creation and destruction ----

GpuDevice::GpuDevice() : state(std::make_unique<GpuDeviceState>()) {}

static bool createBackBuffer(GpuDevice* device) {
    GpuDeviceState* s = device->state.get();
    GpuSurface* back = new GpuSurface;
    back->device = device;
    back->type = D3DRTYPE_SURFACE;
    back->pool = D3DPOOL_DEFAULT;
    back->usage = D3DUSAGE_RENDERTARGET;
    back->format = s->parameters.BackBufferFormat;
    back->width = s->parameters.BackBufferWidth;
    back->height = s->parameters.BackBufferHeight;
    back->glTexture = createColorTexture(back->width, back->height, back->format);
    s->backBuffer = back;
    s->resources.insert(back);
    if (s->parameters.EnableAutoDepthStencil) {
        GpuSurface* depth = nullptr;
        if (FAILED(device->CreateDepthStencilSurface(back->width, back->height,
                                                     s->parameters.AutoDepthStencilFormat,
                                                     D3DMULTISAMPLE_NONE, &depth)))
            return false;
        s->depthStencil = depth;
    }
    s->renderTarget = back;
    back->AddRef();
    return true;
}

static bool validParameters(D3DPRESENT_PARAMETERS* p, SDL_Window* window) {
    if (p->Windowed && (p->BackBufferWidth == 0 || p->BackBufferHeight == 0) && window) {
        int w = 0, h = 0;
        SDL_GetWindowSize(window, &w, &h);
        if (!p->BackBufferWidth) p->BackBufferWidth = uint32_t(w);
        if (!p->BackBufferHeight) p->BackBufferHeight = uint32_t(h);
    }
    if (p->BackBufferFormat == D3DFMT_UNKNOWN) p->BackBufferFormat = D3DFMT_X8R8G8B8;
    if (p->BackBufferWidth == 0 || p->BackBufferHeight == 0 || p->BackBufferWidth > 16384 ||
        p->BackBufferHeight > 16384)
        return false;
    if (p->BackBufferFormat != D3DFMT_X8R8G8B8 && p->BackBufferFormat != D3DFMT_A8R8G8B8 &&
        p->BackBufferFormat != D3DFMT_R5G6B5)
        return false;
    if (p->BackBufferCount > 1 || p->MultiSampleType != D3DMULTISAMPLE_NONE) return false;
    if (p->EnableAutoDepthStencil && p->AutoDepthStencilFormat != D3DFMT_D16 &&
        p->AutoDepthStencilFormat != D3DFMT_D24S8 && p->AutoDepthStencilFormat != D3DFMT_D24X8)
        return false;
    return true;
}

static bool initGl(GpuDeviceState* s) {
    if (epoxy_gl_version() < 33) return false;
    s->clipControl = gpuClipControlAllowed() &&
                     (epoxy_gl_version() >= 45 || epoxy_has_gl_extension("GL_ARB_clip_control"));
    s->mirrorClampToEdge =
        epoxy_gl_version() >= 44 || epoxy_has_gl_extension("GL_ARB_texture_mirror_clamp_to_edge");
    if (s->clipControl) glClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE);
    glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
    glFrontFace(GL_CCW);
    glGenVertexArrays(1, &s->vertexArray);
    glBindVertexArray(s->vertexArray);
    glGenSamplers(kMaxTextureStages, s->samplers);
    for (uint32_t i = 0; i < kMaxTextureStages; ++i)
        glBindSampler(i, s->samplers[i]);
    glGenBuffers(1, &s->streamBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, s->streamBuffer);
    glBufferData(GL_ARRAY_BUFFER, s->streamBufferSize, nullptr, GL_STREAM_DRAW);
    glGenBuffers(1, &s->streamIndexBuffer);
    glBindBuffer(GL_COPY_WRITE_BUFFER, s->streamIndexBuffer);
    glBufferData(GL_COPY_WRITE_BUFFER, s->streamIndexSize, nullptr, GL_STREAM_DRAW);
    glGenFramebuffers(1, &s->framebuffer);
    s->presentProgram = gpuLinkProgram(kPresentVertex, kPresentFragment);
    if (!s->presentProgram) return false;
    glUseProgram(s->presentProgram);
    glUniform1i(glGetUniformLocation(s->presentProgram, "uImage"), 0);
    glUniform1i(glGetUniformLocation(s->presentProgram, "uGamma"), 1);
    glGenTextures(1, &s->gammaTexture);
    glBindTexture(GL_TEXTURE_2D, s->gammaTexture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_R16, 256, 3, 0, GL_RED, GL_UNSIGNED_SHORT, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    return glGetError() == GL_NO_ERROR;
}

HRESULT GpuSystem::CreateDevice(uint32_t adapter, uint32_t deviceType, void* focusWindow,
                                uint32_t behaviorFlags, D3DPRESENT_PARAMETERS* parameters,
                                GpuDevice** out) {
    if (!out || !parameters) return D3DERR_INVALIDCALL;
    *out = nullptr;
    if (adapter >= GetAdapterCount() ||
        (deviceType != D3DDEVTYPE_HAL && deviceType != D3DDEVTYPE_REF))
        return D3DERR_INVALIDCALL;
    uint32_t processing =
        behaviorFlags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING |
                         D3DCREATE_MIXED_VERTEXPROCESSING);
    if (processing == 0 || (processing & (processing - 1))) return D3DERR_INVALIDCALL;
    if (gpuTakeFault(GpuFault::CreateDeviceFails)) return D3DERR_NOTAVAILABLE;
    SDL_Window* window = static_cast<SDL_Window*>(focusWindow);
    if (parameters->hDeviceWindow) window = static_cast<SDL_Window*>(parameters->hDeviceWindow);
    D3DPRESENT_PARAMETERS p = *parameters;
    if (!validParameters(&p, window)) return D3DERR_INVALIDCALL;

    GpuDevice* device = new GpuDevice;
    GpuDeviceState* s = device->state.get();
    s->parameters = p;
    s->deviceType = deviceType;
    gpuFillCaps(deviceType, &s->caps);
    s->caps.AdapterOrdinal = adapter;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    if (!window) {
        uint32_t flags =
            SDL_WINDOW_OPENGL | (p.Windowed ? SDL_WINDOW_HIDDEN : SDL_WINDOW_FULLSCREEN_DESKTOP);
        window = SDL_CreateWindow("lux32", SDL_WINDOWPOS_CENTERED_DISPLAY(adapter),
                                  SDL_WINDOWPOS_CENTERED_DISPLAY(adapter), int(p.BackBufferWidth),
                                  int(p.BackBufferHeight), flags);
        s->ownsWindow = true;
    }
    if (window && !s->ownsWindow && !p.Windowed) enterFullScreen(window, adapter, p);
    // Robust buffer access: an index that points past the vertices reads zeros instead of
    // memory beyond the buffer. Drivers without it get a plain context.
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, SDL_GL_CONTEXT_ROBUST_ACCESS_FLAG);
    if (window) s->context = SDL_GL_CreateContext(window);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, 0);
    if (window && !s->context) s->context = SDL_GL_CreateContext(window);
    s->window = window;
    if (!window || !s->context || !initGl(s)) {
        logf("GPUD: warning: no OpenGL 3.3 context: %s\n", SDL_GetError());
        delete device;
        return D3DERR_NOTAVAILABLE;
    }
    SDL_GL_SetSwapInterval(p.FullScreen_PresentationInterval == D3DPRESENT_INTERVAL_IMMEDIATE ? 0
                                                                                              : 1);
    for (int i = 0; i < 256; ++i) {
        uint16_t v = uint16_t(i * 257);
        s->gamma.red[i] = s->gamma.green[i] = s->gamma.blue[i] = v;
    }
    defaultState(s);
    if (!createBackBuffer(device)) {
        delete device;
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    s->viewport = {0, 0, p.BackBufferWidth, p.BackBufferHeight, 0, 1};
    gpuResetAppliedState(s);
    device->SetRenderTarget(s->backBuffer, s->depthStencil);
    *out = device;
    return D3D_OK;
}

GpuDevice::~GpuDevice() {
    GpuDeviceState* s = state.get();
    if (!s->context) {
        if (s->window && s->ownsWindow) SDL_DestroyWindow(s->window);
        return;
    }
    SDL_GL_MakeCurrent(s->window, s->context);
    releaseBindings(s);
    if (s->backBuffer) s->backBuffer->Release(), s->backBuffer = nullptr;
    // Objects the caller still holds lose their GL objects and their device.
    for (GpuResource* r : s->resources) {
        if (auto* t = dynamic_cast<GpuBaseTexture*>(r))
            glDeleteTextures(1, &t->glTexture), t->glTexture = 0;
        if (auto* b = dynamic_cast<GpuBuffer*>(r))
            glDeleteBuffers(1, &b->glBuffer), b->glBuffer = 0;
        if (auto* f = dynamic_cast<GpuSurface*>(r)) {
            glDeleteTextures(1, &f->glTexture), f->glTexture = 0;
            glDeleteRenderbuffers(1, &f->glRenderbuffer), f->glRenderbuffer = 0;
        }
        r->device = nullptr;
    }
    for (auto& entry : s->programs)
        glDeleteProgram(entry.second.program);
    glDeleteProgram(s->presentProgram);
    glDeleteTextures(1, &s->gammaTexture);
    glDeleteSamplers(kMaxTextureStages, s->samplers);
    glDeleteBuffers(1, &s->streamBuffer);
    glDeleteBuffers(1, &s->streamIndexBuffer);
    glDeleteFramebuffers(1, &s->framebuffer);
    glDeleteVertexArrays(1, &s->vertexArray);
    SDL_GL_DeleteContext(s->context);
    if (s->ownsWindow) SDL_DestroyWindow(s->window);
}

uint32_t GpuDevice::Release() {
    uint32_t left = --refCount;
    if (left == 0) delete this;
    return left;
}

void gpuRegisterResource(GpuDevice* device, GpuResource* resource) {
    resource->device = device;
    resource->lostEpoch = device->state->resetCount;
    device->state->resources.insert(resource);
}

void gpuUnregisterResource(GpuDevice* device, GpuResource* resource) {
    device->state->resources.erase(resource);
}

HRESULT GpuDevice::GetDeviceCaps(D3DCAPS8* caps) const {
    if (!caps) return D3DERR_INVALIDCALL;
    *caps = state->caps;
    return D3D_OK;
}

HRESULT GpuDevice::GetDisplayMode(D3DDISPLAYMODE* mode) const {
    if (!mode) return D3DERR_INVALIDCALL;
    *mode = {state->parameters.BackBufferWidth, state->parameters.BackBufferHeight, 60,
             state->parameters.BackBufferFormat};
    SDL_DisplayMode desktop;
    int display = SDL_GetWindowDisplayIndex(state->window);
    if (state->parameters.Windowed && display >= 0 &&
        SDL_GetDesktopDisplayMode(display, &desktop) == 0)
        *mode = {uint32_t(desktop.w), uint32_t(desktop.h), uint32_t(desktop.refresh_rate),
                 D3DFMT_X8R8G8B8};
    return D3D_OK;
}

// ---- Loss and reset ----

void GpuDevice::SimulateDeviceLoss(uint32_t lostTests) {
    state->lost = true;
    state->lostTestsLeft = lostTests;
}

bool GpuDevice::IsDeviceLost() const {
    return state->lost;
}
uint32_t GpuDevice::GetResetCount() const {
    return state->resetCount;
}

HRESULT GpuDevice::TestCooperativeLevel() {
    GpuDeviceState* s = state.get();
    if (!s->lost) return D3D_OK;
    if (s->lostTestsLeft > 0) {
        --s->lostTestsLeft;
        return D3DERR_DEVICELOST;
    }
    return D3DERR_DEVICENOTRESET;
}

// Default-pool objects come back empty after a reset.
static void emptyDefaultPool(GpuDeviceState* s) {
    for (GpuResource* r : s->resources) {
        if (r->pool != D3DPOOL_DEFAULT) continue;
        if (auto* t = dynamic_cast<GpuBaseTexture*>(r)) {
            for (uint32_t f = 0; f < t->faces; ++f)
                for (uint32_t l = 0; l < t->levels; ++l)
                    gpuUploadLevel(t, f, l);
        } else if (auto* b = dynamic_cast<GpuBuffer*>(r)) {
            std::fill(b->contents.begin(), b->contents.end(), 0);
            b->locked = false;
            GLCALL(glBindBuffer(GL_COPY_WRITE_BUFFER, b->glBuffer));
            GLCALL(glBufferData(GL_COPY_WRITE_BUFFER, GLsizeiptr(b->contents.size()),
                                b->contents.data(), GL_DYNAMIC_DRAW));
        }
        r->lostEpoch = s->resetCount;
    }
}

HRESULT GpuDevice::Reset(D3DPRESENT_PARAMETERS* parameters) {
    GpuDeviceState* s = state.get();
    if (!parameters) return D3DERR_INVALIDCALL;
    D3DPRESENT_PARAMETERS p = *parameters;
    if (!validParameters(&p, s->window)) return D3DERR_INVALIDCALL;
    if (s->inScene) s->inScene = false;
    releaseBindings(s);
    // A caller still holding the old back buffer keeps a registered (orphaned) surface, which
    // the device cleans up with the others if it goes first.
    s->backBuffer->Release();
    s->backBuffer = nullptr;
    s->parameters = p;
    if (s->ownsWindow)
        SDL_SetWindowSize(s->window, int(p.BackBufferWidth), int(p.BackBufferHeight));
    ++s->resetCount;
    emptyDefaultPool(s);
    defaultState(s);
    if (!createBackBuffer(this)) return D3DERR_OUTOFVIDEOMEMORY;
    s->lost = false;
    s->lostTestsLeft = 0;
    s->viewport = {0, 0, p.BackBufferWidth, p.BackBufferHeight, 0, 1};
    gpuResetAppliedState(s);
    GpuSurface* target = s->renderTarget;
    target->AddRef();
    SetRenderTarget(target, s->depthStencil);
    target->Release();
    return D3D_OK;
}

// ---- Present and capture ----

void GpuDevice::SetGammaRamp(uint32_t, const D3DGAMMARAMP* ramp) {
    if (!ramp) return;
    state->gamma = *ramp;
    state->gammaDirty = true;
}

void GpuDevice::GetGammaRamp(D3DGAMMARAMP* ramp) const {
    if (ramp) *ramp = state->gamma;
}

// Reads the window's framebuffer (bottom row first in GL) into top-row-first pixels.
static void keepWindowImage(GpuDeviceState* s, int width, int height) {
    std::vector<uint32_t> rows(size_t(width) * size_t(height));
    GLCALL(glBindFramebuffer(GL_READ_FRAMEBUFFER, 0));
    GLCALL(glPixelStorei(GL_PACK_ALIGNMENT, 4));
    GLCALL(glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, rows.data()));
    s->presented.resize(rows.size());
    for (int y = 0; y < height; ++y)
        std::copy_n(&rows[size_t(height - 1 - y) * size_t(width)], width,
                    &s->presented[size_t(y) * size_t(width)]);
    s->presentedWidth = uint32_t(width);
    s->presentedHeight = uint32_t(height);
}

static void drawBackBufferToWindow(GpuDeviceState* s) {
    if (s->gammaDirty) {
        GLCALL(glActiveTexture(GL_TEXTURE1));
        GLCALL(glBindTexture(GL_TEXTURE_2D, s->gammaTexture));
        GLCALL(glPixelStorei(GL_UNPACK_ALIGNMENT, 2));
        GLCALL(
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 256, 3, GL_RED, GL_UNSIGNED_SHORT, &s->gamma));
        s->gammaDirty = false;
    }
    int width = 0, height = 0;
    SDL_GL_GetDrawableSize(s->window, &width, &height);
    GLCALL(glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0));
    GLCALL(glDisable(GL_SCISSOR_TEST));
    GLCALL(glDisable(GL_DEPTH_TEST));
    GLCALL(glDisable(GL_BLEND));
    GLCALL(glDisable(GL_CULL_FACE));
    GLCALL(glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE));
    GLCALL(glPolygonMode(GL_FRONT_AND_BACK, GL_FILL));
    GLCALL(glViewport(0, 0, width, height));
    GLCALL(glClearColor(0, 0, 0, 1));
    GLCALL(glClear(GL_COLOR_BUFFER_BIT));
    // Keep the aspect ratio: the picture is centred with black bars.
    double scale =
        std::min(double(width) / s->backBuffer->width, double(height) / s->backBuffer->height);
    int w = int(s->backBuffer->width * scale + 0.5), h = int(s->backBuffer->height * scale + 0.5);
    GLCALL(glViewport((width - w) / 2, (height - h) / 2, w, h));
    GLCALL(glUseProgram(s->presentProgram));
    GLCALL(glActiveTexture(GL_TEXTURE0));
    GLCALL(glBindTexture(GL_TEXTURE_2D, s->backBuffer->glTexture));
    GLCALL(glBindSampler(0, 0));
    GLenum filter = (w == int(s->backBuffer->width) && h == int(s->backBuffer->height)) ? GL_NEAREST
                                                                                        : GL_LINEAR;
    GLCALL(glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GLint(filter)));
    GLCALL(glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GLint(filter)));
    GLCALL(glActiveTexture(GL_TEXTURE1));
    GLCALL(glBindTexture(GL_TEXTURE_2D, s->gammaTexture));
    GLCALL(glDrawArrays(GL_TRIANGLES, 0, 3));
    if (s->keepPresented) keepWindowImage(s, width, height);
    SDL_GL_SwapWindow(s->window);
    GLCALL(glBindSampler(0, s->samplers[0]));
    GLCALL(glBindFramebuffer(GL_DRAW_FRAMEBUFFER, s->framebuffer));
    gpuResetAppliedState(s);
}

HRESULT GpuDevice::Present(const RECT*, const RECT*, void*, const void*) {
    GpuDeviceState* s = state.get();
    if (s->lost) return D3DERR_DEVICELOST;
    if (s->inScene) return D3DERR_INVALIDCALL;
    if (!s->capturePath.empty()) {
        std::string path = s->capturePath;
        s->capturePath.clear();
        CapturePng(path.c_str(), true);
    }
    // A hidden window (offline runs) shows nobody anything: the frame only goes on its way.
    if ((SDL_GetWindowFlags(s->window) & SDL_WINDOW_HIDDEN) && !s->keepPresented)
        GLCALL(glFlush());
    else
        drawBackBufferToWindow(s);
    s->lastFrame = gGpuFrame;
    gGpuFrame = GpuFrameStats{};
    return D3D_OK;
}

// Reads a colour surface, top row first, in the client layout `format` (GL_BGRA: 0xAARRGGBB
// words; GL_RGBA: the bytes red, green, blue, alpha).
static HRESULT readColourSurface(GpuSurface* surface, GLenum format,
                                 std::vector<uint32_t>* pixels) {
    if (!surface || !pixels || gpuIsDepthFormat(surface->format)) return D3DERR_INVALIDCALL;
    GLuint texture = surface->owner ? surface->owner->glTexture : surface->glTexture;
    if (!texture) return D3DERR_INVALIDCALL;
    GLuint read = 0;
    GLCALL(glGenFramebuffers(1, &read));
    GLCALL(glBindFramebuffer(GL_READ_FRAMEBUFFER, read));
    GLenum target =
        surface->owner ? gpuFaceTarget(surface->owner, surface->face) : GLenum(GL_TEXTURE_2D);
    GLCALL(glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, target, texture,
                                  GLint(surface->level)));
    HRESULT result = D3DERR_INVALIDCALL;
    if (GLCALL(glCheckFramebufferStatus(GL_READ_FRAMEBUFFER)) == GL_FRAMEBUFFER_COMPLETE) {
        pixels->resize(size_t(surface->width) * surface->height); // every pixel is read
        GLCALL(glPixelStorei(GL_PACK_ALIGNMENT, 4));
        GLCALL(glReadPixels(0, 0, GLsizei(surface->width), GLsizei(surface->height), format,
                            GL_UNSIGNED_BYTE, pixels->data()));
        result = D3D_OK;
    }
    GLCALL(glBindFramebuffer(GL_READ_FRAMEBUFFER, 0));
    GLCALL(glDeleteFramebuffers(1, &read));
    return result;
}

HRESULT GpuDevice::ReadSurface(GpuSurface* surface, std::vector<uint32_t>* pixels) {
    HRESULT result = readColourSurface(surface, GL_BGRA, pixels);
    bool opaque =
        surface && (surface->format == D3DFMT_X8R8G8B8 || surface->format == D3DFMT_R5G6B5);
    if (SUCCEEDED(result) && opaque)
        for (uint32_t& p : *pixels)
            p |= 0xFF000000u;
    return result;
}

HRESULT GpuDevice::ReadSurfaceRgba(GpuSurface* surface, std::vector<uint32_t>* pixels) {
    return readColourSurface(surface, GL_RGBA, pixels);
}

namespace {

// The GL texture, its binding target and face target of a colour surface; false for depth
// surfaces and formats without a pixel layout.
bool colourTexture(GpuSurface* surface, GLuint* texture, GLenum* binding, GLenum* face) {
    if (!surface || !gpuFormatInfo(surface->format)) return false;
    if (surface->owner) {
        *texture = surface->owner->glTexture;
        *binding = surface->owner->glTarget;
        *face = gpuFaceTarget(surface->owner, surface->face);
    } else {
        *texture = surface->glTexture;
        *binding = *face = GL_TEXTURE_2D;
    }
    return *texture != 0;
}

size_t surfaceBytes(const GpuSurface* surface) {
    return size_t(surface->width) * surface->height * gpuFormatBytes(surface->format);
}

} // namespace

HRESULT GpuDevice::ReadSurfaceData(GpuSurface* surface, std::vector<uint8_t>* data) {
    GLuint texture = 0;
    GLenum binding = 0, face = 0;
    if (!data || !colourTexture(surface, &texture, &binding, &face)) return D3DERR_INVALIDCALL;
    if (state->lost) return D3DERR_DEVICELOST;
    const GpuFormatInfo* info = gpuFormatInfo(surface->format);
    data->assign(surfaceBytes(surface), 0);
    GLCALL(glActiveTexture(GL_TEXTURE0 + kMaxTextureStages));
    GLCALL(glBindTexture(binding, texture));
    GLCALL(glPixelStorei(GL_PACK_ALIGNMENT, 1));
    GLCALL(glGetTexImage(face, GLint(surface->level), info->glFormat, info->glType, data->data()));
    return D3D_OK;
}

HRESULT GpuDevice::WriteSurfaceData(GpuSurface* surface, const std::vector<uint8_t>& data) {
    GLuint texture = 0;
    GLenum binding = 0, face = 0;
    if (!colourTexture(surface, &texture, &binding, &face) || data.size() != surfaceBytes(surface))
        return D3DERR_INVALIDCALL;
    if (state->lost) return D3DERR_DEVICELOST;
    const GpuFormatInfo* info = gpuFormatInfo(surface->format);
    GLCALL(glActiveTexture(GL_TEXTURE0 + kMaxTextureStages));
    GLCALL(glBindTexture(binding, texture));
    GLCALL(glPixelStorei(GL_UNPACK_ALIGNMENT, 1));
    GLCALL(glTexSubImage2D(face, GLint(surface->level), 0, 0, GLsizei(surface->width),
                           GLsizei(surface->height), info->glFormat, info->glType, data.data()));
    GpuBaseTexture* owner = surface->owner;
    uint32_t index = owner ? surface->face * owner->levels + surface->level : 0;
    if (owner && index < owner->shadow.size()) owner->shadow[index] = data;
    return D3D_OK;
}

HRESULT GpuDevice::CapturePng(const char* path, bool now) {
    GpuDeviceState* s = state.get();
    if (!path || !*path) return D3DERR_INVALIDCALL;
    if (!now) {
        s->capturePath = path;
        return D3D_OK;
    }
    std::vector<uint8_t> rgb;
    uint32_t w = 0, h = 0;
    HRESULT hr = ReadBackBufferRgb(&rgb, &w, &h);
    if (FAILED(hr)) return hr;
    return stbi_write_png(path, int(w), int(h), 3, rgb.data(), int(w) * 3) ? D3D_OK : E_FAIL;
}

HRESULT GpuDevice::ReadBackBufferRgb(std::vector<uint8_t>* rgb, uint32_t* width, uint32_t* height) {
    GpuDeviceState* s = state.get();
    if (!rgb || !width || !height) return D3DERR_INVALIDCALL;
    std::vector<uint32_t> pixels;
    HRESULT hr = ReadSurface(s->backBuffer, &pixels);
    if (FAILED(hr)) return hr;
    gpu::GammaBytes gamma(s->gamma);
    rgb->resize(pixels.size() * 3);
    uint8_t* out = rgb->data();
    for (size_t i = 0; i < pixels.size(); ++i) {
        uint32_t p = pixels[i];
        out[i * 3 + 0] = gamma.red[(p >> 16) & 255];
        out[i * 3 + 1] = gamma.green[(p >> 8) & 255];
        out[i * 3 + 2] = gamma.blue[p & 255];
    }
    *width = s->backBuffer->width;
    *height = s->backBuffer->height;
    return D3D_OK;
}

void GpuDevice::KeepPresentedImage(bool keep) {
    state->keepPresented = keep;
}

HRESULT GpuDevice::GetPresentedImage(std::vector<uint32_t>* pixels, uint32_t* width,
                                     uint32_t* height) const {
    if (!pixels || !width || !height || state->presented.empty()) return D3DERR_INVALIDCALL;
    *pixels = state->presented;
    *width = state->presentedWidth;
    *height = state->presentedHeight;
    return D3D_OK;
}

const GpuFrameStats& GpuDevice::GetFrameStats() const {
    return state->lastFrame;
}
const GpuFrameStats& GpuDevice::GetCurrentStats() const {
    return gGpuFrame;
}
uint32_t GpuDevice::GetShaderCount() const {
    return uint32_t(state->programs.size());
}

GpuLiveObjects GpuDevice::GetLiveObjects() const {
    GpuLiveObjects live;
    for (const GpuResource* resource : state->resources) {
        switch (resource->type) {
        case D3DRTYPE_SURFACE:
            ++live.surfaces;
            break;
        case D3DRTYPE_TEXTURE:
            ++live.textures;
            break;
        case D3DRTYPE_CUBETEXTURE:
            ++live.cubeTextures;
            break;
        case D3DRTYPE_VERTEXBUFFER:
            ++live.vertexBuffers;
            break;
        case D3DRTYPE_INDEXBUFFER:
            ++live.indexBuffers;
            break;
        default:
            break;
        }
    }
    live.vertexShaders = uint32_t(state->shaders.size());
    live.programs = uint32_t(state->programs.size());
    return live;
}

// ---- Resources ----

static HRESULT checkTextureSize(const D3DCAPS8& caps, uint32_t width, uint32_t height, bool cube) {
    if (width == 0 || height == 0) return D3DERR_INVALIDCALL;
    if (width > caps.MaxTextureWidth || height > caps.MaxTextureHeight) return D3DERR_INVALIDCALL;
    uint32_t pow2 = cube ? D3DPTEXTURECAPS_CUBEMAP_POW2 : D3DPTEXTURECAPS_POW2;
    if ((caps.TextureCaps & pow2) && (!isPowerOfTwo(width) || !isPowerOfTwo(height)))
        return D3DERR_INVALIDCALL;
    if ((caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) && width != height)
        return D3DERR_INVALIDCALL;
    return D3D_OK;
}

static HRESULT createTextureObject(GpuDevice* device, GpuBaseTexture* t, uint32_t width,
                                   uint32_t height, uint32_t levels, uint32_t usage,
                                   D3DFORMAT format, D3DPOOL pool, uint32_t faces) {
    GpuDeviceState* s = device->state.get();
    const GpuFormatInfo* info = gpuFormatInfo(format);
    if (!info || pool > D3DPOOL_SYSTEMMEM) return D3DERR_INVALIDCALL;
    if (usage & ~(D3DUSAGE_RENDERTARGET)) return D3DERR_INVALIDCALL;
    if ((usage & D3DUSAGE_RENDERTARGET) && (pool != D3DPOOL_DEFAULT || !info->renderable))
        return D3DERR_INVALIDCALL;
    HRESULT hr = checkTextureSize(s->caps, width, height, faces == 6);
    if (FAILED(hr)) return hr;
    uint32_t full = fullLevelCount(width, height);
    if (!(s->caps.TextureCaps & D3DPTEXTURECAPS_MIPMAP)) full = 1;
    if (levels == 0 || levels > full) levels = full;
    if (takeOutOfMemory(pool, &hr)) return hr;
    t->type = faces == 6 ? D3DRTYPE_CUBETEXTURE : D3DRTYPE_TEXTURE;
    t->pool = pool;
    t->usage = usage;
    t->format = format;
    t->width = width;
    t->height = height;
    t->levels = levels;
    t->faces = faces;
    t->glTarget = faces == 6 ? GL_TEXTURE_CUBE_MAP : GL_TEXTURE_2D;
    if (gpuPoolLockable(pool)) {
        t->shadow.resize(size_t(faces) * levels);
        for (uint32_t f = 0; f < faces; ++f)
            for (uint32_t l = 0; l < levels; ++l) {
                uint32_t w, h;
                gpuLevelSize(t, l, &w, &h);
                t->shadow[f * levels + l].assign(size_t(w) * h * info->bytes, 0);
            }
    }
    gpuRegisterResource(device, t);
    if (pool == D3DPOOL_SYSTEMMEM) return D3D_OK; // never drawn from: no GL object
    while (glGetError() != GL_NO_ERROR) {
    }
    GLCALL(glGenTextures(1, &t->glTexture));
    ++gGpuTotals.texturesCreated;
    GLCALL(glActiveTexture(GL_TEXTURE0 + kMaxTextureStages));
    GLCALL(glBindTexture(t->glTarget, t->glTexture));
    GLCALL(glTexParameteri(t->glTarget, GL_TEXTURE_MAX_LEVEL, GLint(levels - 1)));
    GLCALL(glTexParameteriv(t->glTarget, GL_TEXTURE_SWIZZLE_RGBA, info->swizzle));
    for (uint32_t f = 0; f < faces; ++f)
        for (uint32_t l = 0; l < levels; ++l)
            gpuUploadLevel(t, f, l);
    if (glGetError() == GL_OUT_OF_MEMORY) return D3DERR_OUTOFVIDEOMEMORY;
    return D3D_OK;
}

// Creates the storage of a new texture object; on failure the object goes (through Release
// once it is attached to the device) and nothing is handed out.
template <typename T, typename Create>
static HRESULT finishTexture(T* t, Create create, GpuDevice* device, uint32_t width,
                             uint32_t height, uint32_t levels, uint32_t usage, D3DFORMAT format,
                             D3DPOOL pool, int faces, T** out) {
    HRESULT hr = create(device, t, width, height, levels, usage, format, pool, faces);
    if (FAILED(hr)) {
        if (t->device)
            t->Release();
        else
            delete t;
        return hr;
    }
    *out = t;
    return D3D_OK;
}

HRESULT GpuDevice::CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                                 D3DFORMAT format, D3DPOOL pool, GpuTexture** texture) {
    if (!texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    return finishTexture(new GpuTexture, createTextureObject, this, width, height, levels, usage,
                         format, pool, 1, texture);
}

HRESULT GpuDevice::CreateCubeTexture(uint32_t edge, uint32_t levels, uint32_t usage,
                                     D3DFORMAT format, D3DPOOL pool, GpuCubeTexture** texture) {
    if (!texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (!(state->caps.TextureCaps & D3DPTEXTURECAPS_CUBEMAP)) return D3DERR_INVALIDCALL;
    return finishTexture(new GpuCubeTexture, createTextureObject, this, edge, edge, levels, usage,
                         format, pool, 6, texture);
}

static HRESULT createBuffer(GpuDevice* device, GpuBuffer* b, D3DRESOURCETYPE type, uint32_t length,
                            uint32_t usage, D3DPOOL pool) {
    constexpr uint32_t known = D3DUSAGE_WRITEONLY | D3DUSAGE_SOFTWAREPROCESSING |
                               D3DUSAGE_DONOTCLIP | D3DUSAGE_POINTS | D3DUSAGE_RTPATCHES |
                               D3DUSAGE_NPATCHES | D3DUSAGE_DYNAMIC;
    if (length == 0 || length > (256u << 20) || (usage & ~known) || pool > D3DPOOL_SYSTEMMEM)
        return D3DERR_INVALIDCALL;
    if ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED) return D3DERR_INVALIDCALL;
    HRESULT hr;
    if (takeOutOfMemory(pool, &hr)) return hr;
    b->type = type;
    b->pool = pool;
    b->usage = usage;
    b->contents.assign(length, 0);
    GLCALL(glGenBuffers(1, &b->glBuffer));
    ++gGpuTotals.buffersCreated;
    GLCALL(glBindBuffer(GL_COPY_WRITE_BUFFER, b->glBuffer));
    GLCALL(glBufferData(GL_COPY_WRITE_BUFFER, GLsizeiptr(length), b->contents.data(),
                        (usage & D3DUSAGE_DYNAMIC) ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW));
    gpuRegisterResource(device, b);
    return D3D_OK;
}

HRESULT GpuDevice::CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, D3DPOOL pool,
                                      GpuVertexBuffer** buffer) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    VertexLayout layout;
    if (fvf && !layoutFromFvf(fvf, &layout)) return D3DERR_INVALIDCALL;
    GpuVertexBuffer* b = new GpuVertexBuffer;
    b->fvf = fvf;
    HRESULT hr = createBuffer(this, b, D3DRTYPE_VERTEXBUFFER, length, usage, pool);
    if (FAILED(hr)) return delete b, hr;
    *buffer = b;
    return D3D_OK;
}

HRESULT GpuDevice::CreateIndexBuffer(uint32_t length, uint32_t usage, D3DFORMAT format,
                                     D3DPOOL pool, GpuIndexBuffer** buffer) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
    GpuIndexBuffer* b = new GpuIndexBuffer;
    b->format = format;
    HRESULT hr = createBuffer(this, b, D3DRTYPE_INDEXBUFFER, length, usage, pool);
    if (FAILED(hr)) return delete b, hr;
    *buffer = b;
    return D3D_OK;
}

HRESULT GpuDevice::CreateDepthStencilSurface(uint32_t width, uint32_t height, D3DFORMAT format,
                                             D3DMULTISAMPLE_TYPE multiSample,
                                             GpuSurface** surface) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (width == 0 || height == 0 || width > 16384 || height > 16384 ||
        multiSample != D3DMULTISAMPLE_NONE)
        return D3DERR_INVALIDCALL;
    if (format != D3DFMT_D16 && format != D3DFMT_D24S8 && format != D3DFMT_D24X8)
        return D3DERR_INVALIDCALL;
    HRESULT hr;
    if (takeOutOfMemory(D3DPOOL_DEFAULT, &hr)) return hr;
    GpuSurface* s = new GpuSurface;
    s->type = D3DRTYPE_SURFACE;
    s->pool = D3DPOOL_DEFAULT;
    s->usage = D3DUSAGE_DEPTHSTENCIL;
    s->format = format;
    s->width = width;
    s->height = height;
    s->glRenderbuffer = createDepthBuffer(width, height, format);
    ++gGpuTotals.depthSurfaces;
    gpuRegisterResource(this, s);
    *surface = s;
    return D3D_OK;
}

HRESULT GpuDevice::UpdateTexture(GpuBaseTexture* source, GpuBaseTexture* destination) {
    if (!source || !destination || source->pool != D3DPOOL_SYSTEMMEM ||
        destination->pool != D3DPOOL_DEFAULT)
        return D3DERR_INVALIDCALL;
    if (source->type != destination->type || source->format != destination->format ||
        source->width != destination->width || source->height != destination->height ||
        source->levels < destination->levels)
        return D3DERR_INVALIDCALL;
    if (state->lost) return D3DERR_DEVICELOST;
    for (uint32_t f = 0; f < destination->faces; ++f)
        for (uint32_t l = 0; l < destination->levels; ++l) {
            uint32_t w, h;
            gpuLevelSize(destination, l, &w, &h);
            const GpuFormatInfo* info = gpuFormatInfo(destination->format);
            GLCALL(glActiveTexture(GL_TEXTURE0 + kMaxTextureStages));
            GLCALL(glBindTexture(destination->glTarget, destination->glTexture));
            GLCALL(glPixelStorei(GL_UNPACK_ALIGNMENT, 1));
            GLCALL(glTexSubImage2D(gpuFaceTarget(destination, f), GLint(l), 0, 0, GLsizei(w),
                                   GLsizei(h), info->glFormat, info->glType,
                                   source->shadow[f * source->levels + l].data()));
        }
    return D3D_OK;
}

HRESULT GpuDevice::GetBackBuffer(uint32_t index, D3DBACKBUFFER_TYPE type, GpuSurface** surface) {
    if (!surface || index != 0 || type != D3DBACKBUFFER_TYPE_MONO) return D3DERR_INVALIDCALL;
    *surface = state->backBuffer;
    state->backBuffer->AddRef();
    return D3D_OK;
}

HRESULT GpuDevice::GetRenderTarget(GpuSurface** surface) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = state->renderTarget;
    state->renderTarget->AddRef();
    return D3D_OK;
}

HRESULT GpuDevice::GetDepthStencilSurface(GpuSurface** surface) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = state->depthStencil;
    if (!*surface) return D3DERR_NOTFOUND;
    (*surface)->AddRef();
    return D3D_OK;
}
