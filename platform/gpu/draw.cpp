// Draws: each draw builds the fixed-function key, takes (or builds) its program, sends the
// uniforms and GL state that changed since the last draw, binds textures and vertex streams,
// and draws.
//
// Sections: applying state - draws.
#include "platform/gpu/gpu_local.h"
#include "platform/log.h"

#include <algorithm>
#include <cmath>
#include <cstring>

void gpuResetAppliedState(GpuDeviceState* s) {
    s->applied = AppliedGl{};
    for (AttribBinding& a : s->attribs)
        a = AttribBinding{};
    for (uint32_t i = 0; i < kAttrCount; ++i)
        GLCALL(glDisableVertexAttribArray(i));
    for (bool& dirty : s->samplerDirty)
        dirty = true;
    GLCALL(glDisable(GL_SCISSOR_TEST));
}

namespace {

// Row-vector matrices: (a * b) applies a first.
D3DMATRIX multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float sum = 0;
            for (int k = 0; k < 4; ++k)
                sum += a.m[i][k] * b.m[k][j];
            r.m[i][j] = sum;
        }
    return r;
}

// Inverse of the upper 3x3 block (row-major); identity when singular.
void inverse3(const D3DMATRIX& m, float out[9]) {
    float a = m.m[0][0], b = m.m[0][1], c = m.m[0][2], d = m.m[1][0], e = m.m[1][1], f = m.m[1][2],
          g = m.m[2][0], h = m.m[2][1], i = m.m[2][2];
    float det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
    if (std::fabs(det) < 1e-20f) {
        const float id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        memcpy(out, id, sizeof id);
        return;
    }
    float k = 1.0f / det;
    out[0] = (e * i - f * h) * k, out[1] = (c * h - b * i) * k, out[2] = (b * f - c * e) * k;
    out[3] = (f * g - d * i) * k, out[4] = (a * i - c * g) * k, out[5] = (c * d - a * f) * k;
    out[6] = (d * h - e * g) * k, out[7] = (b * g - a * h) * k, out[8] = (a * e - b * d) * k;
}

uint32_t primitiveVertices(D3DPRIMITIVETYPE type, uint32_t count, GLenum* mode) {
    switch (type) {
    case D3DPT_POINTLIST:
        *mode = GL_POINTS;
        return count;
    case D3DPT_LINELIST:
        *mode = GL_LINES;
        return count * 2;
    case D3DPT_LINESTRIP:
        *mode = GL_LINE_STRIP;
        return count + 1;
    case D3DPT_TRIANGLELIST:
        *mode = GL_TRIANGLES;
        return count * 3;
    case D3DPT_TRIANGLESTRIP:
        *mode = GL_TRIANGLE_STRIP;
        return count + 2;
    case D3DPT_TRIANGLEFAN:
        *mode = GL_TRIANGLE_FAN;
        return count + 2;
    default:
        return 0;
    }
}

GLenum blendFactor(uint32_t b) {
    switch (b) {
    case D3DBLEND_ZERO:
        return GL_ZERO;
    case D3DBLEND_ONE:
        return GL_ONE;
    case D3DBLEND_SRCCOLOR:
        return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR:
        return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA:
        return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA:
        return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA:
        return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA:
        return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR:
        return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR:
        return GL_ONE_MINUS_DST_COLOR;
    case D3DBLEND_SRCALPHASAT:
        return GL_SRC_ALPHA_SATURATE;
    default:
        return GL_ONE;
    }
}

GLenum blendEquation(uint32_t op) {
    switch (op) {
    case D3DBLENDOP_SUBTRACT:
        return GL_FUNC_SUBTRACT;
    case D3DBLENDOP_REVSUBTRACT:
        return GL_FUNC_REVERSE_SUBTRACT;
    case D3DBLENDOP_MIN:
        return GL_MIN;
    case D3DBLENDOP_MAX:
        return GL_MAX;
    default:
        return GL_FUNC_ADD;
    }
}

} // namespace

// ---- Applying state ----
namespace {

bool currentLayout(GpuDeviceState* s, VertexLayout* layout) {
    if (s->vertexShader & 1) {
        auto it = s->shaders.find(s->vertexShader);
        if (it == s->shaders.end()) return false;
        *layout = it->second.layout;
        return true;
    }
    return layoutFromFvf(s->vertexShader, layout);
}

uint8_t materialSource(GpuDeviceState* s, const VertexLayout& layout, uint32_t rs) {
    if (!s->renderStates[D3DRS_COLORVERTEX]) return 0;
    uint32_t source = s->renderStates[rs];
    if (source == D3DMCS_COLOR1 && layout.elements[kAttrDiffuse].present) return 1;
    if (source == D3DMCS_COLOR2 && layout.elements[kAttrSpecular].present) return 2;
    return 0;
}

// The texture stages up to the first disabled one.
void addStages(GpuDeviceState* s, FfKey* key) {
    uint32_t stages = std::min(s->caps.MaxTextureBlendStages, kMaxTextureStages);
    for (uint32_t st = 0; st < stages; ++st) {
        const uint32_t* ts = s->stageStates[st];
        if (ts[D3DTSS_COLOROP] == D3DTOP_DISABLE || ts[D3DTSS_COLOROP] > D3DTOP_LERP ||
            ts[D3DTSS_COLOROP] == 0)
            break;
        FfStageKey& k = key->stages[st];
        k.colorOp = uint8_t(ts[D3DTSS_COLOROP]);
        k.alphaOp = uint8_t(std::min(ts[D3DTSS_ALPHAOP], uint32_t(D3DTOP_LERP)));
        k.colorArg[0] = uint8_t(ts[D3DTSS_COLORARG0]),
        k.colorArg[1] = uint8_t(ts[D3DTSS_COLORARG1]);
        k.colorArg[2] = uint8_t(ts[D3DTSS_COLORARG2]);
        k.alphaArg[0] = uint8_t(ts[D3DTSS_ALPHAARG0]),
        k.alphaArg[1] = uint8_t(ts[D3DTSS_ALPHAARG1]);
        k.alphaArg[2] = uint8_t(ts[D3DTSS_ALPHAARG2]);
        k.resultTemp = (ts[D3DTSS_RESULTARG] & D3DTA_SELECTMASK) == D3DTA_TEMP;
        GpuBaseTexture* t = s->textures[st];
        k.texKind = t ? (t->faces == 6 ? 2 : 1) : 0;
        k.coordSource = uint8_t(ts[D3DTSS_TEXCOORDINDEX] & 7);
        k.texGen = uint8_t((ts[D3DTSS_TEXCOORDINDEX] >> 16) & 3);
        k.coordSize = key->texSizes[k.coordSource] ? key->texSizes[k.coordSource] : 2;
        uint32_t flags = ts[D3DTSS_TEXTURETRANSFORMFLAGS];
        k.transformCount = uint8_t(std::min(flags & 0xFF, 4u));
        k.projected = (flags & D3DTTFF_PROJECTED) != 0;
        key->stageCount = uint8_t(st + 1);
    }
}

// With a shader program the vertex side is the program; each stage takes the output texture
// coordinate its index names, with no generation or transform.
FfKey programmableKey(GpuDeviceState* s) {
    FfKey key;
    const uint32_t* rs = s->renderStates;
    key.programHandle = s->vertexShader;
    key.specularEnable = rs[D3DRS_SPECULARENABLE] != 0;
    key.flat = rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT;
    key.alphaFunc = rs[D3DRS_ALPHATESTENABLE] ? uint8_t(std::min(rs[D3DRS_ALPHAFUNC], 8u)) : 0;
    key.clipControl = s->clipControl;
    addStages(s, &key);
    for (uint32_t st = 0; st < key.stageCount; ++st) {
        key.stages[st].texGen = 0;
        key.stages[st].coordSize = 4;
        key.stages[st].transformCount = 0;
    }
    return key;
}

FfKey buildKey(GpuDeviceState* s, const VertexLayout& layout) {
    FfKey key;
    const uint32_t* rs = s->renderStates;
    if (layout.programmable) return programmableKey(s);
    key.rhw = layout.rhw;
    key.hasNormal = layout.elements[kAttrNormal].present;
    key.hasDiffuse = layout.elements[kAttrDiffuse].present;
    key.hasSpecular = layout.elements[kAttrSpecular].present;
    for (int t = 0; t < 8; ++t)
        if (layout.elements[kAttrTex0 + t].present)
            key.texSizes[t] = uint8_t(vertexTypeComponents(layout.elements[kAttrTex0 + t].type));
    key.lighting = rs[D3DRS_LIGHTING] && !layout.rhw;
    if (key.lighting) {
        key.localViewer = rs[D3DRS_LOCALVIEWER] != 0;
        int n = 0;
        for (uint32_t i = 0; i < kMaxActiveLights; ++i)
            if (s->lightEnabled[i]) key.lightTypes[n++] = uint8_t(s->lights[i].Type);
        key.diffuseSource = materialSource(s, layout, D3DRS_DIFFUSEMATERIALSOURCE);
        key.ambientSource = materialSource(s, layout, D3DRS_AMBIENTMATERIALSOURCE);
        key.specularSource = materialSource(s, layout, D3DRS_SPECULARMATERIALSOURCE);
        key.emissiveSource = materialSource(s, layout, D3DRS_EMISSIVEMATERIALSOURCE);
    }
    key.normalize = rs[D3DRS_NORMALIZENORMALS] != 0 && !layout.rhw;
    key.specularEnable = rs[D3DRS_SPECULARENABLE] != 0;
    key.flat = rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT;
    key.alphaFunc = rs[D3DRS_ALPHATESTENABLE] ? uint8_t(std::min(rs[D3DRS_ALPHAFUNC], 8u)) : 0;
    key.clipControl = s->clipControl;
    addStages(s, &key);
    return key;
}

void dropPrograms(GpuDeviceState* s) {
    logf("GPUD: warning: %zu fixed-function programs, emptying the cache\n", s->programs.size());
    for (auto& entry : s->programs)
        GLCALL(glDeleteProgram(entry.second.program));
    s->programs.clear();
    s->applied.program = 0xFFFFFFFF;
}

FfProgram* programFor(GpuDeviceState* s, const FfKey& key) {
    ++gGpuFrame.shaderLookups;
    auto it = s->programs.find(key);
    if (it != s->programs.end()) {
        ++gGpuFrame.shaderCacheHits;
        return it->second.program ? &it->second : nullptr;
    }
    if (s->programs.size() >= gpuProgramCacheLimit()) dropPrograms(s);
    ++gGpuFrame.shaderCompiles;
    ++gGpuTotals.programsCompiled;
    FfProgram program;
    const std::string* body = nullptr;
    if (key.programHandle) {
        auto record = s->shaders.find(key.programHandle);
        if (record != s->shaders.end()) body = &record->second.body;
    }
    program.program = ffBuildProgram(key, body ? *body : std::string());
    if (program.program) ffLocateUniforms(&program, key);
    s->applied.program = program.program;
    FfProgram& stored = s->programs[key];
    stored = program;
    return stored.program ? &stored : nullptr;
}

void uploadLighting(GpuDeviceState* s, FfProgram* p, const FfKey& key) {
    float c[4];
    gpuColorOf(s->renderStates[D3DRS_AMBIENT], c);
    GLCALL(glUniform4fv(p->ambient, 1, c));
    const D3DMATERIAL8& m = s->material;
    GLCALL(glUniform4fv(p->matDiffuse, 1, &m.Diffuse.r));
    GLCALL(glUniform4fv(p->matAmbient, 1, &m.Ambient.r));
    GLCALL(glUniform4fv(p->matSpecular, 1, &m.Specular.r));
    GLCALL(glUniform4fv(p->matEmissive, 1, &m.Emissive.r));
    GLCALL(glUniform1f(p->matPower, m.Power));
    const D3DMATRIX& v = s->view;
    int n = 0;
    for (uint32_t i = 0; i < kMaxActiveLights && n < 8; ++i) {
        if (!s->lightEnabled[i]) continue;
        if (!key.lightTypes[n]) break;
        const D3DLIGHT8& l = s->lights[i];
        const D3DVECTOR& P = l.Position;
        float pos[3], dir[3];
        for (int j = 0; j < 3; ++j) {
            pos[j] = P.x * v.m[0][j] + P.y * v.m[1][j] + P.z * v.m[2][j] + v.m[3][j];
            dir[j] =
                l.Direction.x * v.m[0][j] + l.Direction.y * v.m[1][j] + l.Direction.z * v.m[2][j];
        }
        float len = std::sqrt(dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2]);
        if (len > 0)
            for (float& d : dir)
                d /= len;
        float atten[4] = {l.Attenuation0, l.Attenuation1, l.Attenuation2, l.Range};
        float spot[3] = {std::cos(l.Theta * 0.5f), std::cos(l.Phi * 0.5f), l.Falloff};
        GLCALL(glUniform3fv(p->lightPos[n], 1, pos));
        GLCALL(glUniform3fv(p->lightDir[n], 1, dir));
        GLCALL(glUniform4fv(p->lightDiffuse[n], 1, &l.Diffuse.r));
        GLCALL(glUniform4fv(p->lightSpecular[n], 1, &l.Specular.r));
        GLCALL(glUniform4fv(p->lightAmbient[n], 1, &l.Ambient.r));
        GLCALL(glUniform4fv(p->lightAtten[n], 1, atten));
        GLCALL(glUniform3fv(p->lightSpot[n], 1, spot));
        ++n;
    }
}

void uploadUniforms(GpuDeviceState* s, FfProgram* p, const FfKey& key) {
    if (p->versions[kGroupTransform] != s->versions[kGroupTransform]) {
        D3DMATRIX worldView = multiply(s->world, s->view);
        GLCALL(glUniformMatrix4fv(p->worldView, 1, GL_FALSE, &worldView.m[0][0]));
        GLCALL(glUniformMatrix4fv(p->projection, 1, GL_FALSE, &s->projection.m[0][0]));
        float normal[9];
        inverse3(worldView, normal);
        GLCALL(glUniformMatrix3fv(p->normalMatrix, 1, GL_TRUE, normal));
        p->versions[kGroupTransform] = s->versions[kGroupTransform];
    }
    if (p->versions[kGroupViewport] != s->versions[kGroupViewport]) {
        const D3DVIEWPORT8& v = s->viewport;
        float xform[4] = {float(v.X), float(v.Y), 2.0f / float(v.Width), 2.0f / float(v.Height)};
        GLCALL(glUniform4fv(p->viewportXform, 1, xform));
        p->versions[kGroupViewport] = s->versions[kGroupViewport];
    }
    if (key.lighting && p->versions[kGroupLighting] != s->versions[kGroupLighting]) {
        uploadLighting(s, p, key);
        p->versions[kGroupLighting] = s->versions[kGroupLighting];
    }
    if (p->versions[kGroupTexMatrix] != s->versions[kGroupTexMatrix]) {
        for (int st = 0; st < key.stageCount; ++st)
            if (key.stages[st].transformCount)
                GLCALL(glUniformMatrix4fv(p->texMatrix[st], 1, GL_FALSE, &s->texture[st].m[0][0]));
        p->versions[kGroupTexMatrix] = s->versions[kGroupTexMatrix];
    }
    if (p->versions[kGroupFactors] != s->versions[kGroupFactors]) {
        float c[4];
        gpuColorOf(s->renderStates[D3DRS_TEXTUREFACTOR], c);
        GLCALL(glUniform4fv(p->textureFactor, 1, c));
        GLCALL(glUniform1f(p->alphaRef, float(s->renderStates[D3DRS_ALPHAREF] & 0xFF)));
        p->versions[kGroupFactors] = s->versions[kGroupFactors];
    }
    if (key.programHandle && p->versions[kGroupConstants] != s->versions[kGroupConstants]) {
        GLCALL(glUniform4fv(p->constants, 96, &s->shaderConstants[0][0]));
        p->versions[kGroupConstants] = s->versions[kGroupConstants];
    }
}

template <typename T> void setIfChanged(int* applied, T value, void (*apply)(T)) {
    if (*applied == int(value)) return;
    *applied = int(value);
    apply(value);
}

GLenum stencilOperation(uint32_t op) {
    switch (op) {
    case D3DSTENCILOP_ZERO:
        return GL_ZERO;
    case D3DSTENCILOP_REPLACE:
        return GL_REPLACE;
    case D3DSTENCILOP_INCRSAT:
        return GL_INCR;
    case D3DSTENCILOP_DECRSAT:
        return GL_DECR;
    case D3DSTENCILOP_INVERT:
        return GL_INVERT;
    case D3DSTENCILOP_INCR:
        return GL_INCR_WRAP;
    case D3DSTENCILOP_DECR:
        return GL_DECR_WRAP;
    default:
        return GL_KEEP;
    }
}

// The stencil test, when the depth surface has stencil bits.
void applyStencil(GpuDeviceState* s) {
    const uint32_t* rs = s->renderStates;
    AppliedGl& a = s->applied;
    bool on = rs[D3DRS_STENCILENABLE] && s->depthStencil && s->depthStencil->format == D3DFMT_D24S8;
    if (a.stencil != int(on)) {
        a.stencil = on;
        on ? GLCALL(glEnable(GL_STENCIL_TEST)) : GLCALL(glDisable(GL_STENCIL_TEST));
    }
    if (!on) return;
    uint32_t wanted[7] = {rs[D3DRS_STENCILFUNC],     rs[D3DRS_STENCILREF],   rs[D3DRS_STENCILMASK],
                          rs[D3DRS_STENCILFAIL],     rs[D3DRS_STENCILZFAIL], rs[D3DRS_STENCILPASS],
                          rs[D3DRS_STENCILWRITEMASK]};
    if (memcmp(wanted, a.stencilState, sizeof wanted) == 0) return;
    memcpy(a.stencilState, wanted, sizeof wanted);
    GLCALL(glStencilFunc(gpuCompareFunction(wanted[0]), GLint(wanted[1] & 0xFF), wanted[2] & 0xFF));
    GLCALL(glStencilOp(stencilOperation(wanted[3]), stencilOperation(wanted[4]),
                       stencilOperation(wanted[5])));
    GLCALL(glStencilMask(wanted[6] & 0xFF));
}

void applyFixedState(GpuDeviceState* s, bool rhw) {
    const uint32_t* rs = s->renderStates;
    AppliedGl& a = s->applied;
    bool depth = rs[D3DRS_ZENABLE] != D3DZB_FALSE && s->depthStencil;
    if (a.depthTest != int(depth)) {
        a.depthTest = depth;
        depth ? GLCALL(glEnable(GL_DEPTH_TEST)) : GLCALL(glDisable(GL_DEPTH_TEST));
    }
    if (depth) {
        int func = int(gpuCompareFunction(rs[D3DRS_ZFUNC]));
        if (a.depthFunc != func) a.depthFunc = func, GLCALL(glDepthFunc(GLenum(func)));
        int mask = rs[D3DRS_ZWRITEENABLE] != 0;
        if (a.depthMask != mask) a.depthMask = mask, GLCALL(glDepthMask(GLboolean(mask)));
    }
    // Direct3D's clockwise (on screen, y down) is GL's counter-clockwise in our row order.
    uint32_t cull = rs[D3DRS_CULLMODE];
    int cullOn = cull == D3DCULL_CW || cull == D3DCULL_CCW;
    if (a.cull != cullOn) {
        a.cull = cullOn;
        cullOn ? GLCALL(glEnable(GL_CULL_FACE)) : GLCALL(glDisable(GL_CULL_FACE));
    }
    if (cullOn) {
        int face = cull == D3DCULL_CCW ? GL_BACK : GL_FRONT;
        if (a.cullFace != face) a.cullFace = face, GLCALL(glCullFace(GLenum(face)));
    }
    int blend = rs[D3DRS_ALPHABLENDENABLE] != 0;
    if (a.blend != blend) {
        a.blend = blend;
        blend ? GLCALL(glEnable(GL_BLEND)) : GLCALL(glDisable(GL_BLEND));
    }
    if (blend) {
        uint32_t src = rs[D3DRS_SRCBLEND], dst = rs[D3DRS_DESTBLEND];
        GLenum glSrc = blendFactor(src), glDst = blendFactor(dst);
        if (src == D3DBLEND_BOTHSRCALPHA) glSrc = GL_SRC_ALPHA, glDst = GL_ONE_MINUS_SRC_ALPHA;
        if (src == D3DBLEND_BOTHINVSRCALPHA) glSrc = GL_ONE_MINUS_SRC_ALPHA, glDst = GL_SRC_ALPHA;
        if (a.blendSrc != int(glSrc) || a.blendDst != int(glDst)) {
            a.blendSrc = int(glSrc), a.blendDst = int(glDst);
            GLCALL(glBlendFunc(glSrc, glDst));
        }
        int eq = int(blendEquation(rs[D3DRS_BLENDOP]));
        if (a.blendEq != eq) a.blendEq = eq, GLCALL(glBlendEquation(GLenum(eq)));
    }
    applyStencil(s);
    // ZBIAS 0..16: larger values are drawn in front of coplanar geometry.
    int bias = int(std::min(rs[D3DRS_ZBIAS], 16u));
    if (a.zBias != bias) {
        a.zBias = bias;
        bias ? GLCALL(glEnable(GL_POLYGON_OFFSET_FILL)) : GLCALL(glDisable(GL_POLYGON_OFFSET_FILL));
        if (bias) GLCALL(glPolygonOffset(0.0f, -float(bias)));
    }
    int mask = int(rs[D3DRS_COLORWRITEENABLE] & 0xF);
    if (a.colorMask != mask) {
        a.colorMask = mask;
        GLCALL(glColorMask(mask & 1, (mask >> 1) & 1, (mask >> 2) & 1, (mask >> 3) & 1));
    }
    int fill = rs[D3DRS_FILLMODE] == D3DFILL_POINT       ? GL_POINT
               : rs[D3DRS_FILLMODE] == D3DFILL_WIREFRAME ? GL_LINE
                                                         : GL_FILL;
    if (a.polygonMode != fill)
        a.polygonMode = fill, GLCALL(glPolygonMode(GL_FRONT_AND_BACK, GLenum(fill)));
    const D3DVIEWPORT8& v = s->viewport;
    // Pre-transformed depth is final: it bypasses the viewport's depth range.
    float near = rhw ? 0.0f : v.MinZ, far = rhw ? 1.0f : v.MaxZ;
    if (a.depthNear != near || a.depthFar != far) {
        a.depthNear = near, a.depthFar = far;
        GLCALL(glDepthRange(near, far));
    }
    int vp[4] = {int(v.X), int(v.Y), int(v.Width), int(v.Height)};
    if (memcmp(vp, a.viewport, sizeof vp) != 0) {
        memcpy(a.viewport, vp, sizeof vp);
        GLCALL(glViewport(vp[0], vp[1], vp[2], vp[3]));
    }
}

GLint addressMode(GpuDeviceState* s, uint32_t mode) {
    switch (mode) {
    case D3DTADDRESS_MIRROR:
        return GL_MIRRORED_REPEAT;
    case D3DTADDRESS_CLAMP:
        return GL_CLAMP_TO_EDGE;
    case D3DTADDRESS_BORDER:
        return GL_CLAMP_TO_BORDER;
    case D3DTADDRESS_MIRRORONCE:
        return s->mirrorClampToEdge ? GL_MIRROR_CLAMP_TO_EDGE : GL_MIRRORED_REPEAT;
    default:
        return GL_REPEAT;
    }
}

void applySampler(GpuDeviceState* s, uint32_t stage) {
    const uint32_t* ts = s->stageStates[stage];
    GLuint sampler = s->samplers[stage];
    bool magLinear = ts[D3DTSS_MAGFILTER] >= D3DTEXF_LINEAR;
    bool minLinear = ts[D3DTSS_MINFILTER] >= D3DTEXF_LINEAR;
    GLint minFilter = minLinear ? GL_LINEAR : GL_NEAREST;
    if (ts[D3DTSS_MIPFILTER] == D3DTEXF_POINT)
        minFilter = minLinear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
    if (ts[D3DTSS_MIPFILTER] >= D3DTEXF_LINEAR)
        minFilter = minLinear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
    GLCALL(glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, magLinear ? GL_LINEAR : GL_NEAREST));
    GLCALL(glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, minFilter));
    GLCALL(glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, addressMode(s, ts[D3DTSS_ADDRESSU])));
    GLCALL(glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, addressMode(s, ts[D3DTSS_ADDRESSV])));
    GLCALL(glSamplerParameteri(sampler, GL_TEXTURE_WRAP_R, addressMode(s, ts[D3DTSS_ADDRESSW])));
    float border[4];
    gpuColorOf(ts[D3DTSS_BORDERCOLOR], border);
    GLCALL(glSamplerParameterfv(sampler, GL_TEXTURE_BORDER_COLOR, border));
    float bias;
    memcpy(&bias, &ts[D3DTSS_MIPMAPLODBIAS], 4);
    GLCALL(glSamplerParameterf(sampler, GL_TEXTURE_LOD_BIAS, std::isfinite(bias) ? bias : 0.0f));
    GLCALL(glSamplerParameterf(sampler, GL_TEXTURE_MIN_LOD, float(ts[D3DTSS_MAXMIPLEVEL])));
    s->samplerDirty[stage] = false;
}

void bindTextures(GpuDeviceState* s, const FfKey& key) {
    for (uint32_t st = 0; st < key.stageCount; ++st) {
        GpuBaseTexture* t = s->textures[st];
        if (!t) continue;
        if (s->applied.boundTexture[st] != t->glTexture ||
            s->applied.boundTarget[st] != t->glTarget) {
            GLCALL(glActiveTexture(GL_TEXTURE0 + st));
            GLCALL(glBindTexture(t->glTarget, t->glTexture));
            s->applied.boundTexture[st] = t->glTexture;
            s->applied.boundTarget[st] = t->glTarget;
        }
        if (s->samplerDirty[st]) applySampler(s, st);
    }
}

void bindAttribute(GpuDeviceState* s, uint32_t slot, const VertexElement* e, GLuint buffer,
                   uint32_t stride, uintptr_t base) {
    AttribBinding& a = s->attribs[slot];
    if (!e) {
        if (a.enabled) GLCALL(glDisableVertexAttribArray(slot)), a.enabled = false;
        return;
    }
    uintptr_t offset = base + e->offset;
    if (!a.enabled) GLCALL(glEnableVertexAttribArray(slot)), a.enabled = true;
    if (a.buffer == buffer && a.stride == stride && a.offset == offset && a.type == e->type) return;
    if (s->applied.arrayBuffer != buffer)
        s->applied.arrayBuffer = buffer, GLCALL(glBindBuffer(GL_ARRAY_BUFFER, buffer));
    const void* pointer = reinterpret_cast<const void*>(offset);
    switch (e->type) {
    case D3DVSDT_D3DCOLOR:
        GLCALL(glVertexAttribPointer(slot, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, GLsizei(stride),
                                     pointer));
        break;
    case D3DVSDT_UBYTE4:
        GLCALL(
            glVertexAttribPointer(slot, 4, GL_UNSIGNED_BYTE, GL_FALSE, GLsizei(stride), pointer));
        break;
    case D3DVSDT_SHORT2:
        GLCALL(glVertexAttribPointer(slot, 2, GL_SHORT, GL_FALSE, GLsizei(stride), pointer));
        break;
    case D3DVSDT_SHORT4:
        GLCALL(glVertexAttribPointer(slot, 4, GL_SHORT, GL_FALSE, GLsizei(stride), pointer));
        break;
    default:
        GLCALL(glVertexAttribPointer(slot, GLint(vertexTypeComponents(e->type)), GL_FLOAT, GL_FALSE,
                                     GLsizei(stride), pointer));
        break;
    }
    a = {buffer, stride, offset, e->type, true};
}

// Binds the attributes from the device's streams; returns false when a declared stream has no
// buffer or the vertices [0, vertexEnd) do not fit in it.
bool bindStreams(GpuDeviceState* s, const VertexLayout& layout, uint64_t vertexEnd) {
    for (uint32_t slot = 0; slot < kAttrCount; ++slot) {
        const VertexElement& e = layout.elements[slot];
        if (!e.present) {
            bindAttribute(s, slot, nullptr, 0, 0, 0);
            continue;
        }
        const auto& stream = s->streams[e.stream];
        if (!stream.buffer || vertexEnd == 0) return false;
        uint64_t end = (vertexEnd - 1) * stream.stride + e.offset + vertexTypeBytes(e.type);
        if (end > stream.buffer->contents.size()) return false;
    }
    for (uint32_t slot = 0; slot < kAttrCount; ++slot) {
        const VertexElement& e = layout.elements[slot];
        if (e.present)
            bindAttribute(s, slot, &e, s->streams[e.stream].buffer->glBuffer,
                          s->streams[e.stream].stride, 0);
    }
    return true;
}

// Copies user vertices into the streaming buffer; returns the index of the first vertex there.
// Each draw gives the buffer new storage of exactly its size: writing into storage that a
// queued draw still reads would make the driver copy or wait.
uint32_t streamVertices(GpuDeviceState* s, const VertexLayout& layout, const void* data,
                        uint32_t bytes, uint32_t stride) {
    if (s->applied.arrayBuffer != s->streamBuffer)
        s->applied.arrayBuffer = s->streamBuffer,
        GLCALL(glBindBuffer(GL_ARRAY_BUFFER, s->streamBuffer));
    GLCALL(glBufferData(GL_ARRAY_BUFFER, bytes, data, GL_STREAM_DRAW));
    for (uint32_t slot = 0; slot < kAttrCount; ++slot) {
        const VertexElement& e = layout.elements[slot];
        bindAttribute(s, slot, e.present ? &e : nullptr, s->streamBuffer, stride, 0);
    }
    return 0;
}

uint32_t streamIndices(GpuDeviceState* s, const void* data, uint32_t bytes) {
    if (s->applied.elementBuffer != s->streamIndexBuffer)
        s->applied.elementBuffer = s->streamIndexBuffer,
        GLCALL(glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, s->streamIndexBuffer));
    GLCALL(glBufferData(GL_ELEMENT_ARRAY_BUFFER, bytes, data, GL_STREAM_DRAW));
    return 0;
}

// Everything a draw needs except the vertex streams. Null when nothing can be drawn.
FfProgram* prepareDraw(GpuDeviceState* s, const VertexLayout& layout) {
    FfKey key = buildKey(s, layout);
    FfProgram* program = programFor(s, key);
    if (!program) return nullptr;
    if (s->applied.program != program->program) {
        s->applied.program = program->program;
        GLCALL(glUseProgram(program->program));
    }
    uploadUniforms(s, program, key);
    applyFixedState(s, layout.rhw);
    bindTextures(s, key);
    ++gGpuFrame.draws;
    return program;
}

HRESULT checkDrawable(GpuDeviceState* s, D3DPRIMITIVETYPE type, uint32_t count,
                      VertexLayout* layout, GLenum* mode, uint32_t* vertices) {
    if (!s->inScene || count == 0) return D3DERR_INVALIDCALL;
    *vertices = primitiveVertices(type, count, mode);
    if (*vertices == 0 || count > s->caps.MaxPrimitiveCount) return D3DERR_INVALIDCALL;
    if (!currentLayout(s, layout)) return D3DERR_INVALIDCALL;
    return D3D_OK;
}

} // namespace

// Draws from user memory have one stream: every declared element must come from stream 0.
static bool onlyStreamZero(const VertexLayout& layout) {
    for (const VertexElement& e : layout.elements)
        if (e.present && e.stream != 0) return false;
    return true;
}

// ---- Draws ----

HRESULT GpuDevice::DrawPrimitive(D3DPRIMITIVETYPE type, uint32_t startVertex, uint32_t count) {
    GpuDeviceState* s = state.get();
    VertexLayout layout;
    GLenum mode;
    uint32_t vertices;
    HRESULT hr = checkDrawable(s, type, count, &layout, &mode, &vertices);
    if (FAILED(hr)) return hr;
    if (s->lost) return D3D_OK;
    if (!bindStreams(s, layout, uint64_t(startVertex) + vertices)) return D3DERR_INVALIDCALL;
    if (!prepareDraw(s, layout)) return D3DERR_INVALIDCALL;
    GLCALL(glDrawArrays(mode, GLint(startVertex), GLsizei(vertices)));
    return D3D_OK;
}

HRESULT GpuDevice::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, uint32_t minIndex,
                                        uint32_t numVertices, uint32_t startIndex, uint32_t count) {
    GpuDeviceState* s = state.get();
    VertexLayout layout;
    GLenum mode;
    uint32_t indices;
    HRESULT hr = checkDrawable(s, type, count, &layout, &mode, &indices);
    if (FAILED(hr)) return hr;
    if (!s->indices || numVertices == 0) return D3DERR_INVALIDCALL;
    uint32_t indexSize = s->indices->format == D3DFMT_INDEX32 ? 4 : 2;
    if ((uint64_t(startIndex) + indices) * indexSize > s->indices->contents.size())
        return D3DERR_INVALIDCALL;
    if (s->lost) return D3D_OK;
    if (!bindStreams(s, layout, uint64_t(s->baseVertexIndex) + minIndex + numVertices))
        return D3DERR_INVALIDCALL;
    if (!prepareDraw(s, layout)) return D3DERR_INVALIDCALL;
    GLuint buffer = s->indices->glBuffer;
    if (s->applied.elementBuffer != buffer)
        s->applied.elementBuffer = buffer, GLCALL(glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffer));
    GLCALL(glDrawElementsBaseVertex(
        mode, GLsizei(indices), indexSize == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
        reinterpret_cast<const void*>(uintptr_t(startIndex) * indexSize),
        GLint(s->baseVertexIndex)));
    return D3D_OK;
}

HRESULT GpuDevice::DrawPrimitiveUP(D3DPRIMITIVETYPE type, uint32_t count, const void* data,
                                   uint32_t stride) {
    GpuDeviceState* s = state.get();
    VertexLayout layout;
    GLenum mode;
    uint32_t vertices;
    HRESULT hr = checkDrawable(s, type, count, &layout, &mode, &vertices);
    if (FAILED(hr)) return hr;
    if (!data || stride == 0 || stride < layout.strides[0] || !onlyStreamZero(layout))
        return D3DERR_INVALIDCALL;
    // Direct3D unbinds stream 0 after a draw from user memory.
    if (s->streams[0].buffer) s->streams[0].buffer->Release(), s->streams[0] = {};
    if (s->lost) return D3D_OK;
    if (!prepareDraw(s, layout)) return D3DERR_INVALIDCALL;
    uint32_t first = streamVertices(s, layout, data, vertices * stride, stride);
    GLCALL(glDrawArrays(mode, GLint(first), GLsizei(vertices)));
    return D3D_OK;
}

HRESULT GpuDevice::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, uint32_t minIndex,
                                          uint32_t numVertices, uint32_t count,
                                          const void* indexData, D3DFORMAT indexFormat,
                                          const void* vertexData, uint32_t stride) {
    GpuDeviceState* s = state.get();
    VertexLayout layout;
    GLenum mode;
    uint32_t indices;
    HRESULT hr = checkDrawable(s, type, count, &layout, &mode, &indices);
    if (FAILED(hr)) return hr;
    if (!indexData || !vertexData || numVertices == 0 || stride < layout.strides[0] ||
        !onlyStreamZero(layout) || (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32))
        return D3DERR_INVALIDCALL;
    uint32_t indexSize = indexFormat == D3DFMT_INDEX32 ? 4 : 2;
    // Indices outside [minIndex, minIndex + numVertices) would read beyond the caller's vertices.
    for (uint32_t i = 0; i < indices; ++i) {
        uint32_t index = indexSize == 4 ? static_cast<const uint32_t*>(indexData)[i]
                                        : static_cast<const uint16_t*>(indexData)[i];
        if (index < minIndex || index >= minIndex + numVertices) return D3DERR_INVALIDCALL;
    }
    if (s->streams[0].buffer) s->streams[0].buffer->Release(), s->streams[0] = {};
    if (s->indices) s->indices->Release(), s->indices = nullptr;
    if (s->lost) return D3D_OK;
    if (!prepareDraw(s, layout)) return D3DERR_INVALIDCALL;
    uint32_t first =
        streamVertices(s, layout, vertexData, (minIndex + numVertices) * stride, stride);
    uint32_t offset = streamIndices(s, indexData, indices * indexSize);
    GLCALL(glDrawElementsBaseVertex(
        mode, GLsizei(indices), indexSize == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
        reinterpret_cast<const void*>(uintptr_t(offset)), GLint(first)));
    return D3D_OK;
}
