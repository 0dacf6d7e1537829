// Resources: reference counting, surfaces, textures and cube textures (levels kept in the
// Direct3D layout for the lockable pools, uploaded to GL on unlock), vertex and index buffers.
#include "platform/gpu/gpu_local.h"

#include <cstring>

uint32_t GpuResource::Release() {
    uint32_t left = --refCount;
    if (left == 0) {
        if (device) gpuUnregisterResource(device, this);
        delete this;
    }
    return left;
}

bool GpuResource::IsLost() const {
    return pool == D3DPOOL_DEFAULT && device && device->IsDeviceLost();
}

bool gpuPoolLockable(D3DPOOL pool) {
    return pool == D3DPOOL_MANAGED || pool == D3DPOOL_SYSTEMMEM;
}

// ---- Surfaces ----
GpuSurface::~GpuSurface() {
    if (owner) owner->Release();
    if (glTexture) GLCALL(glDeleteTextures(1, &glTexture));
    if (glRenderbuffer) GLCALL(glDeleteRenderbuffers(1, &glRenderbuffer));
}

HRESULT GpuSurface::GetDesc(D3DSURFACE_DESC* desc) const {
    if (!desc) return D3DERR_INVALIDCALL;
    *desc = D3DSURFACE_DESC{};
    desc->Format = format;
    desc->Type = D3DRTYPE_SURFACE;
    desc->Usage = usage;
    desc->Pool = pool;
    desc->Width = width;
    desc->Height = height;
    desc->Size = width * height * (gpuIsDepthFormat(format) ? 4 : gpuFormatBytes(format));
    return D3D_OK;
}

HRESULT GpuSurface::LockRect(D3DLOCKED_RECT* locked, const RECT* rect, uint32_t flags) {
    if (!owner) return D3DERR_INVALIDCALL;
    if (owner->type == D3DRTYPE_CUBETEXTURE)
        return static_cast<GpuCubeTexture*>(owner)->LockRect(D3DCUBEMAP_FACES(face), level, locked,
                                                             rect, flags);
    return static_cast<GpuTexture*>(owner)->LockRect(level, locked, rect, flags);
}

HRESULT GpuSurface::UnlockRect() {
    if (!owner) return D3DERR_INVALIDCALL;
    if (owner->type == D3DRTYPE_CUBETEXTURE)
        return static_cast<GpuCubeTexture*>(owner)->UnlockRect(D3DCUBEMAP_FACES(face), level);
    return static_cast<GpuTexture*>(owner)->UnlockRect(level);
}

// ---- Textures ----
GpuBaseTexture::~GpuBaseTexture() {
    if (glTexture) GLCALL(glDeleteTextures(1, &glTexture));
}

void gpuLevelSize(const GpuBaseTexture* texture, uint32_t level, uint32_t* width,
                  uint32_t* height) {
    *width = texture->width >> level;
    *height = texture->height >> level;
    if (*width == 0) *width = 1;
    if (*height == 0) *height = 1;
}

GLenum gpuFaceTarget(const GpuBaseTexture* texture, uint32_t face) {
    return texture->faces == 6 ? GLenum(GL_TEXTURE_CUBE_MAP_POSITIVE_X + face)
                               : GLenum(GL_TEXTURE_2D);
}

HRESULT GpuBaseTexture::GetLevelDesc(uint32_t level, D3DSURFACE_DESC* desc) const {
    if (level >= levels || !desc) return D3DERR_INVALIDCALL;
    *desc = D3DSURFACE_DESC{};
    desc->Format = format;
    desc->Type = D3DRTYPE_SURFACE;
    desc->Usage = usage;
    desc->Pool = pool;
    gpuLevelSize(this, level, &desc->Width, &desc->Height);
    desc->Size = desc->Width * desc->Height * gpuFormatBytes(format);
    return D3D_OK;
}

// Sends one face level to GL: the shadow copy when there is one, zeros otherwise.
void gpuUploadLevel(GpuBaseTexture* texture, uint32_t face, uint32_t level) {
    if (!texture->glTexture) return;
    const GpuFormatInfo* info = gpuFormatInfo(texture->format);
    uint32_t w, h;
    gpuLevelSize(texture, level, &w, &h);
    std::vector<uint8_t> zeros;
    const uint8_t* data;
    uint32_t index = face * texture->levels + level;
    if (index < texture->shadow.size() && !texture->shadow[index].empty()) {
        data = texture->shadow[index].data();
    } else {
        zeros.assign(size_t(w) * h * info->bytes, 0);
        data = zeros.data();
    }
    GLCALL(glActiveTexture(GL_TEXTURE0 + kMaxTextureStages));
    GLCALL(glBindTexture(texture->glTarget, texture->glTexture));
    GLCALL(glPixelStorei(GL_UNPACK_ALIGNMENT, 1));
    GLCALL(glTexImage2D(gpuFaceTarget(texture, face), GLint(level), GLint(info->internalFormat),
                        GLsizei(w), GLsizei(h), 0, info->glFormat, info->glType, data));
}

static HRESULT lockLevel(GpuBaseTexture* texture, uint32_t face, uint32_t level,
                         D3DLOCKED_RECT* locked, const RECT* rect, uint32_t flags) {
    if (!locked || level >= texture->levels || face >= texture->faces) return D3DERR_INVALIDCALL;
    if (texture->IsLost()) return D3DERR_DEVICELOST;
    if (!gpuPoolLockable(texture->pool) || texture->lockedIndex >= 0) return D3DERR_INVALIDCALL;
    uint32_t w, h;
    gpuLevelSize(texture, level, &w, &h);
    RECT area{0, 0, int32_t(w), int32_t(h)};
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->right > int32_t(w) ||
            rect->bottom > int32_t(h) || rect->left >= rect->right || rect->top >= rect->bottom)
            return D3DERR_INVALIDCALL;
        area = *rect;
    }
    uint32_t bytes = gpuFormatBytes(texture->format);
    uint32_t index = face * texture->levels + level;
    locked->Pitch = int32_t(w * bytes);
    locked->pBits =
        texture->shadow[index].data() + size_t(area.top) * w * bytes + size_t(area.left) * bytes;
    texture->lockedIndex = int32_t(index);
    texture->lockedRect = area;
    texture->lockedReadOnly = (flags & D3DLOCK_READONLY) != 0;
    return D3D_OK;
}

static HRESULT unlockLevel(GpuBaseTexture* texture, uint32_t face, uint32_t level) {
    if (level >= texture->levels || face >= texture->faces) return D3DERR_INVALIDCALL;
    if (texture->lockedIndex != int32_t(face * texture->levels + level)) return D3DERR_INVALIDCALL;
    texture->lockedIndex = -1;
    if (!texture->lockedReadOnly) gpuUploadLevel(texture, face, level);
    return D3D_OK;
}

static HRESULT surfaceOf(GpuBaseTexture* texture, uint32_t face, uint32_t level, GpuSurface** out) {
    if (!out || level >= texture->levels || face >= texture->faces) return D3DERR_INVALIDCALL;
    GpuSurface* surface = new GpuSurface;
    surface->device = nullptr; // a view of the texture: not registered on its own
    surface->pool = texture->pool;
    surface->usage = texture->usage;
    surface->format = texture->format;
    gpuLevelSize(texture, level, &surface->width, &surface->height);
    surface->owner = texture;
    texture->AddRef();
    surface->level = level;
    surface->face = face;
    *out = surface;
    return D3D_OK;
}

HRESULT GpuTexture::LockRect(uint32_t level, D3DLOCKED_RECT* locked, const RECT* rect,
                             uint32_t flags) {
    return lockLevel(this, 0, level, locked, rect, flags);
}
HRESULT GpuTexture::UnlockRect(uint32_t level) {
    return unlockLevel(this, 0, level);
}
HRESULT GpuTexture::GetSurfaceLevel(uint32_t level, GpuSurface** surface) {
    return surfaceOf(this, 0, level, surface);
}

HRESULT GpuCubeTexture::LockRect(D3DCUBEMAP_FACES face, uint32_t level, D3DLOCKED_RECT* locked,
                                 const RECT* rect, uint32_t flags) {
    return lockLevel(this, face, level, locked, rect, flags);
}
HRESULT GpuCubeTexture::UnlockRect(D3DCUBEMAP_FACES face, uint32_t level) {
    return unlockLevel(this, face, level);
}
HRESULT GpuCubeTexture::GetCubeMapSurface(D3DCUBEMAP_FACES face, uint32_t level,
                                          GpuSurface** surface) {
    return surfaceOf(this, face, level, surface);
}

// ---- Buffers ----
GpuBuffer::~GpuBuffer() {
    if (glBuffer) GLCALL(glDeleteBuffers(1, &glBuffer));
}

HRESULT GpuBuffer::Lock(uint32_t offset, uint32_t size, uint8_t** data, uint32_t flags) {
    if (!data) return D3DERR_INVALIDCALL;
    *data = nullptr;
    if (IsLost()) return D3DERR_DEVICELOST;
    if (locked) return D3DERR_INVALIDCALL;
    uint32_t length = uint32_t(contents.size());
    if (size == 0) {
        if (offset > length) return D3DERR_INVALIDCALL;
        size = length - offset;
    }
    if (offset > length || size > length - offset) return D3DERR_INVALIDCALL;
    locked = true;
    lockReadOnly = (flags & D3DLOCK_READONLY) != 0;
    lockFlags = flags;
    lockOffset = offset;
    lockSize = size;
    *data = contents.data() + offset;
    return D3D_OK;
}

// Dynamic buffers follow the lock's promise: after DISCARD the buffer gets new storage, and
// NOOVERWRITE writes where no queued draw reads, so neither makes the driver wait or copy.
HRESULT GpuBuffer::Unlock() {
    if (!locked) return D3DERR_INVALIDCALL;
    locked = false;
    if (lockReadOnly || !lockSize || !glBuffer) return D3D_OK;
    GLCALL(glBindBuffer(GL_COPY_WRITE_BUFFER, glBuffer));
    const uint8_t* data = contents.data() + lockOffset;
    bool dynamic = (usage & D3DUSAGE_DYNAMIC) != 0;
    if (dynamic && (lockFlags & D3DLOCK_DISCARD)) {
        GLCALL(glBufferData(GL_COPY_WRITE_BUFFER, GLsizeiptr(contents.size()), nullptr,
                            GL_DYNAMIC_DRAW));
        GLCALL(glBufferSubData(GL_COPY_WRITE_BUFFER, GLintptr(lockOffset), GLsizeiptr(lockSize),
                               data));
        return D3D_OK;
    }
    if (dynamic && (lockFlags & D3DLOCK_NOOVERWRITE)) {
        void* mapped = GLCALL(glMapBufferRange(
            GL_COPY_WRITE_BUFFER, GLintptr(lockOffset), GLsizeiptr(lockSize),
            GL_MAP_WRITE_BIT | GL_MAP_UNSYNCHRONIZED_BIT | GL_MAP_INVALIDATE_RANGE_BIT));
        if (mapped) {
            memcpy(mapped, data, lockSize);
            GLCALL(glUnmapBuffer(GL_COPY_WRITE_BUFFER));
            return D3D_OK;
        }
    }
    GLCALL(glBufferSubData(GL_COPY_WRITE_BUFFER, GLintptr(lockOffset), GLsizeiptr(lockSize), data));
    return D3D_OK;
}

HRESULT GpuVertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* desc) const {
    if (!desc) return D3DERR_INVALIDCALL;
    *desc = D3DVERTEXBUFFER_DESC{};
    desc->Usage = usage;
    desc->Pool = pool;
    desc->Size = uint32_t(contents.size());
    desc->FVF = fvf;
    return D3D_OK;
}

HRESULT GpuIndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* desc) const {
    if (!desc) return D3DERR_INVALIDCALL;
    *desc = D3DINDEXBUFFER_DESC{};
    desc->Format = format;
    desc->Usage = usage;
    desc->Pool = pool;
    desc->Size = uint32_t(contents.size());
    return D3D_OK;
}
