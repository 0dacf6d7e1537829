// Targets, scenes, clear and the Direct3D state setters: they record what is wanted; draw.cpp
// sends it to GL at the next draw.
//
// Sections: targets and clear - state setters - vertex shaders and streams.
#include "platform/gpu/gpu_local.h"

#include <algorithm>
#include <cstring>

namespace {

void bump(GpuDeviceState* s, FfUniformGroup group) {
    ++s->versions[group];
    ++gGpuFrame.stateChanges;
}

bool validTransform(uint32_t t) {
    return t == D3DTS_VIEW || t == D3DTS_PROJECTION ||
           (t >= D3DTS_TEXTURE0 && t <= D3DTS_TEXTURE7) || (t >= D3DTS_WORLD && t <= 511);
}

} // namespace

// ---- Targets and clear ----

HRESULT GpuDevice::SetRenderTarget(GpuSurface* renderTarget, GpuSurface* depthStencil) {
    GpuDeviceState* s = state.get();
    GpuSurface* color = renderTarget ? renderTarget : s->renderTarget;
    if (!color || !(color->usage & D3DUSAGE_RENDERTARGET) || gpuIsDepthFormat(color->format))
        return D3DERR_INVALIDCALL;
    if (depthStencil &&
        (!gpuIsDepthFormat(depthStencil->format) || depthStencil->width < color->width ||
         depthStencil->height < color->height))
        return D3DERR_INVALIDCALL;
    GLCALL(glBindFramebuffer(GL_DRAW_FRAMEBUFFER, s->framebuffer));
    if (color->owner)
        GLCALL(glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0,
                                      gpuFaceTarget(color->owner, color->face),
                                      color->owner->glTexture, GLint(color->level)));
    else
        GLCALL(glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                                      color->glTexture, 0));
    GLCALL(glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT,
                                     GL_RENDERBUFFER, 0));
    if (depthStencil) {
        GLenum attachment =
            depthStencil->format == D3DFMT_D16 ? GL_DEPTH_ATTACHMENT : GL_DEPTH_STENCIL_ATTACHMENT;
        GLCALL(glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, attachment, GL_RENDERBUFFER,
                                         depthStencil->glRenderbuffer));
    }
    color->AddRef();
    if (depthStencil) depthStencil->AddRef();
    if (s->renderTarget) s->renderTarget->Release();
    if (s->depthStencil) s->depthStencil->Release();
    s->renderTarget = color;
    s->depthStencil = depthStencil;
    s->viewport = {0, 0, color->width, color->height, 0, 1};
    bump(s, kGroupViewport);
    return D3D_OK;
}

HRESULT GpuDevice::BeginScene() {
    if (state->inScene) return D3DERR_INVALIDCALL;
    state->inScene = true;
    return D3D_OK;
}

HRESULT GpuDevice::EndScene() {
    if (!state->inScene) return D3DERR_INVALIDCALL;
    state->inScene = false;
    return D3D_OK;
}

HRESULT GpuDevice::Clear(uint32_t count, const D3DRECT* rects, uint32_t flags, D3DCOLOR color,
                         float z, uint32_t stencil) {
    GpuDeviceState* s = state.get();
    if ((count && !rects) || flags == 0 || (flags & ~7u)) return D3DERR_INVALIDCALL;
    if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && !s->depthStencil)
        return D3DERR_INVALIDCALL;
    if ((flags & D3DCLEAR_STENCIL) && s->depthStencil->format == D3DFMT_D16)
        return D3DERR_INVALIDCALL;
    if (s->lost) return D3D_OK;
    GLbitfield mask = 0;
    if (flags & D3DCLEAR_TARGET) {
        float c[4];
        gpuColorOf(color, c);
        GLCALL(glClearColor(c[0], c[1], c[2], c[3]));
        GLCALL(glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE));
        s->applied.colorMask = -1;
        mask |= GL_COLOR_BUFFER_BIT;
    }
    if (flags & D3DCLEAR_ZBUFFER) {
        GLCALL(glClearDepth(std::clamp(z, 0.0f, 1.0f)));
        GLCALL(glDepthMask(GL_TRUE));
        s->applied.depthMask = -1;
        mask |= GL_DEPTH_BUFFER_BIT;
    }
    if (flags & D3DCLEAR_STENCIL) {
        GLCALL(glClearStencil(GLint(stencil)));
        GLCALL(glStencilMask(0xFF));
        memset(s->applied.stencilState, 0xFF, sizeof s->applied.stencilState);
        mask |= GL_STENCIL_BUFFER_BIT;
    }
    // The viewport, or each rectangle within it.
    const D3DVIEWPORT8& v = s->viewport;
    D3DRECT whole{int32_t(v.X), int32_t(v.Y), int32_t(v.X + v.Width), int32_t(v.Y + v.Height)};
    GLCALL(glEnable(GL_SCISSOR_TEST));
    for (uint32_t i = 0; i < std::max(count, 1u); ++i) {
        D3DRECT r = whole;
        if (count) {
            r.x1 = std::max(r.x1, rects[i].x1), r.y1 = std::max(r.y1, rects[i].y1);
            r.x2 = std::min(r.x2, rects[i].x2), r.y2 = std::min(r.y2, rects[i].y2);
        }
        if (r.x2 <= r.x1 || r.y2 <= r.y1) continue;
        GLCALL(glScissor(r.x1, r.y1, r.x2 - r.x1, r.y2 - r.y1));
        GLCALL(glClear(mask));
    }
    GLCALL(glDisable(GL_SCISSOR_TEST));
    return D3D_OK;
}

// ---- State setters ----

HRESULT GpuDevice::SetTransform(D3DTRANSFORMSTATETYPE type, const D3DMATRIX* matrix) {
    GpuDeviceState* s = state.get();
    if (!matrix || !validTransform(type)) return D3DERR_INVALIDCALL;
    if (type == D3DTS_WORLD)
        s->world = *matrix, bump(s, kGroupTransform);
    else if (type == D3DTS_VIEW)
        s->view = *matrix, bump(s, kGroupTransform), bump(s, kGroupLighting);
    else if (type == D3DTS_PROJECTION)
        s->projection = *matrix, bump(s, kGroupTransform);
    else if (type >= D3DTS_TEXTURE0 && type <= D3DTS_TEXTURE7)
        s->texture[type - D3DTS_TEXTURE0] = *matrix, bump(s, kGroupTexMatrix);
    return D3D_OK; // further world matrices (vertex blending) are kept nowhere
}

HRESULT GpuDevice::GetTransform(D3DTRANSFORMSTATETYPE type, D3DMATRIX* matrix) const {
    const GpuDeviceState* s = state.get();
    if (!matrix || !validTransform(type)) return D3DERR_INVALIDCALL;
    if (type == D3DTS_WORLD)
        *matrix = s->world;
    else if (type == D3DTS_VIEW)
        *matrix = s->view;
    else if (type == D3DTS_PROJECTION)
        *matrix = s->projection;
    else if (type >= D3DTS_TEXTURE0 && type <= D3DTS_TEXTURE7)
        *matrix = s->texture[type - D3DTS_TEXTURE0];
    else
        *matrix = D3DMATRIX{};
    return D3D_OK;
}

HRESULT GpuDevice::SetViewport(const D3DVIEWPORT8* v) {
    GpuDeviceState* s = state.get();
    if (!v || v->Width == 0 || v->Height == 0) return D3DERR_INVALIDCALL;
    if (uint64_t(v->X) + v->Width > s->renderTarget->width ||
        uint64_t(v->Y) + v->Height > s->renderTarget->height)
        return D3DERR_INVALIDCALL;
    if (!(v->MinZ >= 0 && v->MinZ <= 1 && v->MaxZ >= 0 && v->MaxZ <= 1)) return D3DERR_INVALIDCALL;
    s->viewport = *v;
    bump(s, kGroupViewport);
    return D3D_OK;
}

HRESULT GpuDevice::GetViewport(D3DVIEWPORT8* v) const {
    if (!v) return D3DERR_INVALIDCALL;
    *v = state->viewport;
    return D3D_OK;
}

HRESULT GpuDevice::SetMaterial(const D3DMATERIAL8* material) {
    if (!material) return D3DERR_INVALIDCALL;
    state->material = *material;
    bump(state.get(), kGroupLighting);
    return D3D_OK;
}

HRESULT GpuDevice::GetMaterial(D3DMATERIAL8* material) const {
    if (!material) return D3DERR_INVALIDCALL;
    *material = state->material;
    return D3D_OK;
}

HRESULT GpuDevice::SetLight(uint32_t index, const D3DLIGHT8* light) {
    if (!light || index >= kMaxActiveLights) return D3DERR_INVALIDCALL;
    if (light->Type < D3DLIGHT_POINT || light->Type > D3DLIGHT_DIRECTIONAL || light->Range < 0)
        return D3DERR_INVALIDCALL;
    if (light->Type == D3DLIGHT_SPOT && (light->Theta < 0 || light->Phi < light->Theta))
        return D3DERR_INVALIDCALL;
    if (light->Type != D3DLIGHT_POINT) {
        const D3DVECTOR& d = light->Direction;
        if (d.x == 0 && d.y == 0 && d.z == 0) return D3DERR_INVALIDCALL;
    }
    state->lights[index] = *light;
    bump(state.get(), kGroupLighting);
    return D3D_OK;
}

HRESULT GpuDevice::GetLight(uint32_t index, D3DLIGHT8* light) const {
    if (!light || index >= kMaxActiveLights) return D3DERR_INVALIDCALL;
    *light = state->lights[index];
    return D3D_OK;
}

HRESULT GpuDevice::LightEnable(uint32_t index, bool enable) {
    if (index >= kMaxActiveLights) return D3DERR_INVALIDCALL;
    if (state->lightEnabled[index] != enable)
        state->lightEnabled[index] = enable, bump(state.get(), kGroupLighting);
    return D3D_OK;
}

HRESULT GpuDevice::GetLightEnable(uint32_t index, bool* enable) const {
    if (!enable || index >= kMaxActiveLights) return D3DERR_INVALIDCALL;
    *enable = state->lightEnabled[index];
    return D3D_OK;
}

HRESULT GpuDevice::SetRenderState(D3DRENDERSTATETYPE rs, uint32_t value) {
    GpuDeviceState* s = state.get();
    if (rs < kFirstRenderState || rs > kLastRenderState) return D3DERR_INVALIDCALL;
    if (s->renderStates[rs] == value) return D3D_OK;
    s->renderStates[rs] = value;
    ++gGpuFrame.stateChanges;
    if (rs == D3DRS_AMBIENT) ++s->versions[kGroupLighting];
    if (rs == D3DRS_TEXTUREFACTOR || rs == D3DRS_ALPHAREF) ++s->versions[kGroupFactors];
    return D3D_OK;
}

HRESULT GpuDevice::GetRenderState(D3DRENDERSTATETYPE rs, uint32_t* value) const {
    if (!value || rs < kFirstRenderState || rs > kLastRenderState) return D3DERR_INVALIDCALL;
    *value = state->renderStates[rs];
    return D3D_OK;
}

HRESULT GpuDevice::SetTextureStageState(uint32_t stage, D3DTEXTURESTAGESTATETYPE type,
                                        uint32_t value) {
    GpuDeviceState* s = state.get();
    if (stage >= kMaxTextureStages || type == 0 || type > kLastStageState)
        return D3DERR_INVALIDCALL;
    if (s->stageStates[stage][type] == value) return D3D_OK;
    s->stageStates[stage][type] = value;
    ++gGpuFrame.stateChanges;
    if ((type >= D3DTSS_ADDRESSU && type <= D3DTSS_MAXANISOTROPY) || type == D3DTSS_ADDRESSW)
        s->samplerDirty[stage] = true;
    return D3D_OK;
}

HRESULT GpuDevice::GetTextureStageState(uint32_t stage, D3DTEXTURESTAGESTATETYPE type,
                                        uint32_t* value) const {
    if (!value || stage >= kMaxTextureStages || type == 0 || type > kLastStageState)
        return D3DERR_INVALIDCALL;
    *value = state->stageStates[stage][type];
    return D3D_OK;
}

HRESULT GpuDevice::SetTexture(uint32_t stage, GpuBaseTexture* texture) {
    GpuDeviceState* s = state.get();
    if (stage >= kMaxTextureStages) return D3DERR_INVALIDCALL;
    if (texture && (texture->pool == D3DPOOL_SYSTEMMEM || texture->device != this))
        return D3DERR_INVALIDCALL;
    if (s->textures[stage] == texture) return D3D_OK;
    if (texture) texture->AddRef();
    if (s->textures[stage]) s->textures[stage]->Release();
    s->textures[stage] = texture;
    ++gGpuFrame.stateChanges;
    return D3D_OK;
}

// ---- Vertex shaders and streams ----

HRESULT GpuDevice::CreateVertexShader(const uint32_t* declaration, const uint32_t* function,
                                      uint32_t* handle, uint32_t) {
    if (!declaration || !handle) return D3DERR_INVALIDCALL;
    VertexShaderRecord record;
    if (function && !translateVertexShader(function, &record.body)) return D3DERR_INVALIDCALL;
    if (!layoutFromDeclaration(declaration, &record.layout, function != nullptr))
        return D3DERR_INVALIDCALL;
    record.layout.programmable = function != nullptr;
    uint32_t id = state->nextShaderHandle;
    state->nextShaderHandle += 2;
    state->shaders[id] = record;
    *handle = id;
    return D3D_OK;
}

HRESULT GpuDevice::DeleteVertexShader(uint32_t handle) {
    if (!state->shaders.erase(handle)) return D3DERR_INVALIDCALL;
    if (state->vertexShader == handle) state->vertexShader = 0;
    return D3D_OK;
}

HRESULT GpuDevice::SetVertexShader(uint32_t handle) {
    GpuDeviceState* s = state.get();
    if (handle & 1) {
        if (!s->shaders.count(handle)) return D3DERR_INVALIDCALL;
    } else {
        VertexLayout layout;
        if (!layoutFromFvf(handle, &layout)) return D3DERR_INVALIDCALL;
    }
    if (s->vertexShader != handle) s->vertexShader = handle, ++gGpuFrame.stateChanges;
    return D3D_OK;
}

HRESULT GpuDevice::GetVertexShader(uint32_t* handle) const {
    if (!handle) return D3DERR_INVALIDCALL;
    *handle = state->vertexShader;
    return D3D_OK;
}

HRESULT GpuDevice::SetVertexShaderConstant(uint32_t reg, const void* data, uint32_t count) {
    if (!data || reg >= 96 || count > 96 - reg) return D3DERR_INVALIDCALL;
    memcpy(state->shaderConstants[reg], data, size_t(count) * 16);
    bump(state.get(), kGroupConstants);
    return D3D_OK;
}

HRESULT GpuDevice::SetStreamSource(uint32_t stream, GpuVertexBuffer* buffer, uint32_t stride) {
    GpuDeviceState* s = state.get();
    if (stream >= 16 || (buffer && (stride == 0 || stride > 255 || buffer->device != this)))
        return D3DERR_INVALIDCALL;
    if (buffer) buffer->AddRef();
    if (s->streams[stream].buffer) s->streams[stream].buffer->Release();
    s->streams[stream] = {buffer, stride};
    return D3D_OK;
}

HRESULT GpuDevice::SetIndices(GpuIndexBuffer* buffer, uint32_t baseVertexIndex) {
    GpuDeviceState* s = state.get();
    if (buffer && buffer->device != this) return D3DERR_INVALIDCALL;
    if (buffer) buffer->AddRef();
    if (s->indices) s->indices->Release();
    s->indices = buffer;
    s->baseVertexIndex = baseVertexIndex;
    return D3D_OK;
}
