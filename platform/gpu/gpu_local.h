// Shared between the files of the graphics device: GL format table, vertex layouts, the
// fixed-function program key and cache, the device's private state.
#pragma once

#include "platform/gpu/gpu.h"

#include <SDL2/SDL.h>
#include <epoxy/gl.h>

#include <array>
#include <set>
#include <string>
#include <unordered_map>

// The library's own types; only its source files include this header.
namespace gpu {}
using namespace gpu;

// ---- Counting GL calls ----
extern GpuFrameStats gGpuFrame;
extern GpuTotals gGpuTotals;
#define GLCALL(call) (++gGpuFrame.glCalls, call)

// ---- Faults and profiles ----
bool gpuTakeFault(GpuFault fault);
bool gpuClipControlAllowed();
uint32_t gpuProgramCacheLimit();
void gpuFillCaps(uint32_t deviceType, D3DCAPS8* caps);

// ---- Formats ----
namespace gpu {
struct GpuFormatInfo {
    D3DFORMAT format = D3DFMT_UNKNOWN;
    uint32_t bytes = 0;
    GLenum internalFormat = 0, glFormat = 0, glType = 0;
    GLint swizzle[4] = {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA};
    bool renderable = false;
};
} // namespace gpu
const GpuFormatInfo* gpuFormatInfo(D3DFORMAT format);

// ---- Vertex layouts ----
// Attribute slots: position, normal, diffuse, specular, texture coordinates 0..7.
enum : uint32_t {
    kAttrPosition = 0,
    kAttrNormal = 1,
    kAttrDiffuse = 2,
    kAttrSpecular = 3,
    kAttrTex0 = 4,
    kAttrCount = 16 // 12..15 only for declared vertex shader registers
};
namespace gpu {
struct VertexElement {
    bool present = false;
    uint8_t stream = 0;
    uint8_t type = 0; // D3DVSDT_...
    uint16_t offset = 0;
};
struct VertexLayout {
    VertexElement elements[kAttrCount]; // by attribute slot, or by input register (programmable)
    bool rhw = false;
    bool programmable = false;
    uint32_t strides[16] = {};
};
} // namespace gpu
bool layoutFromFvf(uint32_t fvf, VertexLayout* layout);
// byRegister: elements indexed by input register v0..v15 (for shader programs) instead of the
// fixed-function slot of each register.
bool layoutFromDeclaration(const uint32_t* tokens, VertexLayout* layout, bool byRegister);
// vs.1.0/1.1 tokens to GLSL statements; false for anything outside that language.
bool translateVertexShader(const uint32_t* tokens, std::string* body);
extern const char* kVertexShaderHelpers;
uint32_t vertexTypeComponents(uint32_t type);
uint32_t vertexTypeBytes(uint32_t type);

// ---- Fixed-function programs ----
namespace gpu {
struct FfStageKey {
    uint8_t colorOp = 0, alphaOp = 0;
    uint8_t colorArg[3] = {}, alphaArg[3] = {}; // arg0, arg1, arg2
    uint8_t resultTemp = 0;
    uint8_t texKind = 0;        // 0 none, 1 2D, 2 cube
    uint8_t coordSource = 0;    // vertex set index 0..7
    uint8_t texGen = 0;         // 0 pass, 1 normal, 2 position, 3 reflection
    uint8_t coordSize = 0;      // components of the source coordinate
    uint8_t transformCount = 0; // 0 no transform, else 1..4
    uint8_t projected = 0;
    uint8_t pad = 0;
};
struct FfKey {
    uint8_t rhw = 0, hasNormal = 0, hasDiffuse = 0, hasSpecular = 0;
    uint8_t texSizes[8] = {};
    uint8_t lighting = 0, localViewer = 0, normalize = 0, specularEnable = 0;
    uint8_t lightTypes[8] = {};
    uint8_t diffuseSource = 0, ambientSource = 0, specularSource = 0,
            emissiveSource = 0; // 0 material, 1 diffuse, 2 specular
    uint8_t flat = 0, alphaFunc = 0, clipControl = 0, stageCount = 0;
    FfStageKey stages[8];
    uint32_t programHandle = 0; // a vertex shader program replaces transform and lighting
    bool operator==(const FfKey& other) const;
};
struct FfKeyHash {
    size_t operator()(const FfKey& key) const;
};

enum FfUniformGroup : uint32_t {
    kGroupTransform,
    kGroupViewport,
    kGroupLighting,
    kGroupTexMatrix,
    kGroupFactors,
    kGroupConstants,
    kGroupCount
};

struct FfProgram {
    GLuint program = 0;
    uint32_t versions[kGroupCount] = {};
    GLint worldView = -1, projection = -1, normalMatrix = -1, viewportXform = -1;
    GLint texMatrix[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    GLint sampler[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    GLint textureFactor = -1, alphaRef = -1, constants = -1;
    GLint ambient = -1, matDiffuse = -1, matAmbient = -1, matSpecular = -1, matEmissive = -1,
          matPower = -1;
    GLint lightPos[8], lightDir[8], lightDiffuse[8], lightSpecular[8], lightAmbient[8],
        lightAtten[8], lightSpot[8];
};
} // namespace gpu

// Generates the GLSL of a key (vertex and fragment) and links it; 0 on failure.
GLuint ffBuildProgram(const FfKey& key, const std::string& programBody);
void ffLocateUniforms(FfProgram* program, const FfKey& key);

// ---- Device state ----
namespace gpu {
struct VertexShaderRecord {
    VertexLayout layout;
    std::string body; // translated shader program; empty for the fixed-function pipeline
};

struct AppliedGl {
    int depthTest = -1, depthFunc = -1, depthMask = -1, cull = -1, cullFace = -1;
    int blend = -1, blendSrc = -1, blendDst = -1, blendEq = -1, colorMask = -1, polygonMode = -1;
    int stencil = -1, zBias = -1;
    uint32_t stencilState[7] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF,
                                0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    GLuint program = 0xFFFFFFFF;
    GLuint boundTexture[8] = {};
    GLenum boundTarget[8] = {};
    GLuint arrayBuffer = 0xFFFFFFFF, elementBuffer = 0xFFFFFFFF;
    int viewport[4] = {-1, -1, -1, -1};
    float depthNear = -1, depthFar = -1;
};

struct AttribBinding {
    GLuint buffer = 0;
    uint32_t stride = 0;
    uintptr_t offset = 0;
    uint8_t type = 0xFF;
    bool enabled = false;
};

// The gamma ramp as one byte per level and channel, as the window shows it.
struct GammaBytes {
    uint8_t red[256], green[256], blue[256];
    explicit GammaBytes(const D3DGAMMARAMP& ramp) {
        for (int i = 0; i < 256; ++i) {
            red[i] = uint8_t(ramp.red[i] >> 8);
            green[i] = uint8_t(ramp.green[i] >> 8);
            blue[i] = uint8_t(ramp.blue[i] >> 8);
        }
    }
    bool identity() const {
        for (int i = 0; i < 256; ++i)
            if (red[i] != i || green[i] != i || blue[i] != i) return false;
        return true;
    }
};

struct GpuDeviceState {
    SDL_Window* window = nullptr;
    bool ownsWindow = false;
    SDL_GLContext context = nullptr;
    D3DPRESENT_PARAMETERS parameters;
    D3DCAPS8 caps;
    uint32_t deviceType = D3DDEVTYPE_HAL;
    bool clipControl = false;
    bool mirrorClampToEdge = false;

    // Loss simulation
    bool lost = false;
    uint32_t lostTestsLeft = 0;
    uint32_t resetCount = 0;

    std::set<GpuResource*> resources; // every live resource, for Reset
    GpuSurface* backBuffer = nullptr;
    GpuSurface* renderTarget = nullptr;
    GpuSurface* depthStencil = nullptr;
    GLuint framebuffer = 0;
    bool inScene = false;

    // Wanted Direct3D state
    uint32_t renderStates[256] = {};
    uint32_t stageStates[kMaxTextureStages][32] = {};
    GpuBaseTexture* textures[kMaxTextureStages] = {};
    D3DMATRIX world, view, projection, texture[8];
    D3DVIEWPORT8 viewport;
    D3DMATERIAL8 material;
    D3DLIGHT8 lights[kMaxActiveLights];
    bool lightEnabled[kMaxActiveLights] = {};
    uint32_t vertexShader = 0;
    std::unordered_map<uint32_t, VertexShaderRecord> shaders;
    uint32_t nextShaderHandle = 1;
    float shaderConstants[96][4] = {};
    struct Stream {
        GpuVertexBuffer* buffer = nullptr;
        uint32_t stride = 0;
    } streams[16];
    GpuIndexBuffer* indices = nullptr;
    uint32_t baseVertexIndex = 0;
    D3DGAMMARAMP gamma;

    // Versions of the uniform groups (bumped when the Direct3D state behind them changes)
    uint32_t versions[kGroupCount] = {1, 1, 1, 1, 1, 1};
    bool samplerDirty[kMaxTextureStages] = {};

    // GL objects
    GLuint vertexArray = 0;
    GLuint samplers[kMaxTextureStages] = {};
    GLuint streamBuffer = 0, streamIndexBuffer = 0;
    uint32_t streamBufferSize = 4 << 20, streamBufferUsed = 0;
    uint32_t streamIndexSize = 1 << 20, streamIndexUsed = 0;
    AttribBinding attribs[kAttrCount];
    AppliedGl applied;
    std::unordered_map<FfKey, FfProgram, FfKeyHash> programs;
    GLuint presentProgram = 0, gammaTexture = 0;
    GLuint whiteTexture = 0, whiteCube = 0;
    bool gammaDirty = true;

    std::string capturePath;
    bool keepPresented = false;
    std::vector<uint32_t> presented;
    uint32_t presentedWidth = 0, presentedHeight = 0;
    GpuFrameStats lastFrame;
};
} // namespace gpu

// ---- Helpers shared by resources and device ----
void gpuRegisterResource(GpuDevice* device, GpuResource* resource);
void gpuUnregisterResource(GpuDevice* device, GpuResource* resource);
void gpuUploadLevel(GpuBaseTexture* texture, uint32_t face, uint32_t level);
void gpuLevelSize(const GpuBaseTexture* texture, uint32_t level, uint32_t* width, uint32_t* height);
GLenum gpuFaceTarget(const GpuBaseTexture* texture, uint32_t face);
bool gpuPoolLockable(D3DPOOL pool);

inline void gpuColorOf(D3DCOLOR c, float out[4]) {
    out[0] = float((c >> 16) & 255) / 255.0f;
    out[1] = float((c >> 8) & 255) / 255.0f;
    out[2] = float(c & 255) / 255.0f;
    out[3] = float(c >> 24) / 255.0f;
}

// D3DCMP_NEVER..ALWAYS are in the same order as GL_NEVER..GL_ALWAYS.
inline GLenum gpuCompareFunction(uint32_t f) {
    return (f >= 1 && f <= 8) ? GLenum(GL_NEVER + f - 1) : GLenum(GL_ALWAYS);
}
