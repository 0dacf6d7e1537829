// Result names, format table, FVF sizes and vertex layouts.
#include "platform/gpu/gpu_local.h"

const char* gpuResultName(HRESULT hr) {
    struct Name {
        HRESULT code;
        const char* name;
    };
    static const Name names[] = {
        {D3D_OK, "D3D_OK"},
        {E_FAIL, "E_FAIL"},
        {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
        {E_INVALIDARG, "E_INVALIDARG"},
        {D3DERR_WRONGTEXTUREFORMAT, "D3DERR_WRONGTEXTUREFORMAT"},
        {D3DERR_UNSUPPORTEDCOLOROPERATION, "D3DERR_UNSUPPORTEDCOLOROPERATION"},
        {D3DERR_UNSUPPORTEDCOLORARG, "D3DERR_UNSUPPORTEDCOLORARG"},
        {D3DERR_UNSUPPORTEDALPHAOPERATION, "D3DERR_UNSUPPORTEDALPHAOPERATION"},
        {D3DERR_UNSUPPORTEDALPHAARG, "D3DERR_UNSUPPORTEDALPHAARG"},
        {D3DERR_TOOMANYOPERATIONS, "D3DERR_TOOMANYOPERATIONS"},
        {D3DERR_CONFLICTINGTEXTUREFILTER, "D3DERR_CONFLICTINGTEXTUREFILTER"},
        {D3DERR_UNSUPPORTEDFACTORVALUE, "D3DERR_UNSUPPORTEDFACTORVALUE"},
        {D3DERR_CONFLICTINGRENDERSTATE, "D3DERR_CONFLICTINGRENDERSTATE"},
        {D3DERR_UNSUPPORTEDTEXTUREFILTER, "D3DERR_UNSUPPORTEDTEXTUREFILTER"},
        {D3DERR_CONFLICTINGTEXTUREPALETTE, "D3DERR_CONFLICTINGTEXTUREPALETTE"},
        {D3DERR_DRIVERINTERNALERROR, "D3DERR_DRIVERINTERNALERROR"},
        {D3DERR_NOTFOUND, "D3DERR_NOTFOUND"},
        {D3DERR_MOREDATA, "D3DERR_MOREDATA"},
        {D3DERR_DEVICELOST, "D3DERR_DEVICELOST"},
        {D3DERR_DEVICENOTRESET, "D3DERR_DEVICENOTRESET"},
        {D3DERR_NOTAVAILABLE, "D3DERR_NOTAVAILABLE"},
        {D3DERR_OUTOFVIDEOMEMORY, "D3DERR_OUTOFVIDEOMEMORY"},
        {D3DERR_INVALIDDEVICE, "D3DERR_INVALIDDEVICE"},
        {D3DERR_INVALIDCALL, "D3DERR_INVALIDCALL"},
        {D3DERR_DRIVERINVALIDCALL, "D3DERR_DRIVERINVALIDCALL"},
    };
    for (const Name& n : names)
        if (n.code == hr) return n.name;
    return "Unknown";
}

uint32_t fvfVertexSize(uint32_t fvf) {
    uint32_t size = 0;
    switch (fvf & D3DFVF_POSITION_MASK) {
    case D3DFVF_XYZ:
        size = 12;
        break;
    case D3DFVF_XYZRHW:
        size = 16;
        break;
    case D3DFVF_XYZB1:
        size = 16;
        break;
    case D3DFVF_XYZB2:
        size = 20;
        break;
    case D3DFVF_XYZB3:
        size = 24;
        break;
    case D3DFVF_XYZB4:
        size = 28;
        break;
    case D3DFVF_XYZB5:
        size = 32;
        break;
    default:
        break;
    }
    if (fvf & D3DFVF_NORMAL) size += 12;
    if (fvf & D3DFVF_PSIZE) size += 4;
    if (fvf & D3DFVF_DIFFUSE) size += 4;
    if (fvf & D3DFVF_SPECULAR) size += 4;
    uint32_t sets = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    for (uint32_t s = 0; s < sets && s < 8; ++s)
        size += 4 * fvfTexCoordSize(fvf, s);
    return size;
}

namespace {
constexpr GLint kOne = GL_ONE;
const GpuFormatInfo kFormats[] = {
    {D3DFMT_A8R8G8B8,
     4,
     GL_RGBA8,
     GL_BGRA,
     GL_UNSIGNED_BYTE,
     {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA},
     true},
    // Stored without alpha so that blending reads an opaque destination alpha.
    {D3DFMT_X8R8G8B8,
     4,
     GL_RGB8,
     GL_BGRA,
     GL_UNSIGNED_BYTE,
     {GL_RED, GL_GREEN, GL_BLUE, kOne},
     true},
    {D3DFMT_R5G6B5,
     2,
     GL_RGB565,
     GL_RGB,
     GL_UNSIGNED_SHORT_5_6_5,
     {GL_RED, GL_GREEN, GL_BLUE, kOne},
     true},
    {D3DFMT_X1R5G5B5,
     2,
     GL_RGB5_A1,
     GL_BGRA,
     GL_UNSIGNED_SHORT_1_5_5_5_REV,
     {GL_RED, GL_GREEN, GL_BLUE, kOne},
     false},
    {D3DFMT_A1R5G5B5,
     2,
     GL_RGB5_A1,
     GL_BGRA,
     GL_UNSIGNED_SHORT_1_5_5_5_REV,
     {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA},
     false},
    {D3DFMT_A4R4G4B4,
     2,
     GL_RGBA4,
     GL_BGRA,
     GL_UNSIGNED_SHORT_4_4_4_4_REV,
     {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA},
     false},
    {D3DFMT_X4R4G4B4,
     2,
     GL_RGBA4,
     GL_BGRA,
     GL_UNSIGNED_SHORT_4_4_4_4_REV,
     {GL_RED, GL_GREEN, GL_BLUE, kOne},
     false},
    // Without colour channels the colour samples as white.
    {D3DFMT_A8, 1, GL_R8, GL_RED, GL_UNSIGNED_BYTE, {kOne, kOne, kOne, GL_RED}, false},
    {D3DFMT_L8, 1, GL_R8, GL_RED, GL_UNSIGNED_BYTE, {GL_RED, GL_RED, GL_RED, kOne}, false},
    // A8L8: luminance in the low byte, alpha in the high byte.
    {D3DFMT_A8L8, 2, GL_RG8, GL_RG, GL_UNSIGNED_BYTE, {GL_RED, GL_RED, GL_RED, GL_GREEN}, false},
};
} // namespace

const GpuFormatInfo* gpuFormatInfo(D3DFORMAT format) {
    for (const GpuFormatInfo& f : kFormats)
        if (f.format == format) return &f;
    return nullptr;
}

uint32_t gpuFormatBytes(D3DFORMAT format) {
    const GpuFormatInfo* info = gpuFormatInfo(format);
    return info ? info->bytes : 0;
}

bool gpuIsDepthFormat(D3DFORMAT format) {
    switch (format) {
    case D3DFMT_D16_LOCKABLE:
    case D3DFMT_D32:
    case D3DFMT_D15S1:
    case D3DFMT_D24S8:
    case D3DFMT_D16:
    case D3DFMT_D24X8:
    case D3DFMT_D24X4S4:
        return true;
    default:
        return false;
    }
}

uint32_t vertexTypeComponents(uint32_t type) {
    switch (type) {
    case D3DVSDT_FLOAT1:
        return 1;
    case D3DVSDT_FLOAT2:
        return 2;
    case D3DVSDT_FLOAT3:
        return 3;
    case D3DVSDT_FLOAT4:
        return 4;
    case D3DVSDT_SHORT2:
        return 2;
    default:
        return 4;
    }
}

uint32_t vertexTypeBytes(uint32_t type) {
    switch (type) {
    case D3DVSDT_FLOAT1:
        return 4;
    case D3DVSDT_FLOAT2:
        return 8;
    case D3DVSDT_FLOAT3:
        return 12;
    case D3DVSDT_FLOAT4:
        return 16;
    case D3DVSDT_SHORT4:
        return 8;
    default:
        return 4;
    }
}

bool layoutFromFvf(uint32_t fvf, VertexLayout* layout) {
    *layout = VertexLayout{};
    uint32_t position = fvf & D3DFVF_POSITION_MASK;
    if (position == 0 || (fvf & (D3DFVF_RESERVED0 | D3DFVF_RESERVED2))) return false;
    uint32_t sets = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (sets > 8) return false;
    uint16_t offset = 0;
    auto add = [&](uint32_t slot, uint8_t type) {
        layout->elements[slot] = VertexElement{true, 0, type, offset};
        offset = uint16_t(offset + vertexTypeBytes(type));
    };
    layout->rhw = position == D3DFVF_XYZRHW;
    add(kAttrPosition, layout->rhw ? D3DVSDT_FLOAT4 : D3DVSDT_FLOAT3);
    if (!layout->rhw && position != D3DFVF_XYZ)
        offset = uint16_t(fvfVertexSize(position)); // skip blend weights
    if (fvf & D3DFVF_NORMAL) add(kAttrNormal, D3DVSDT_FLOAT3);
    if (fvf & D3DFVF_PSIZE) offset = uint16_t(offset + 4);
    if (fvf & D3DFVF_DIFFUSE) add(kAttrDiffuse, D3DVSDT_D3DCOLOR);
    if (fvf & D3DFVF_SPECULAR) add(kAttrSpecular, D3DVSDT_D3DCOLOR);
    for (uint32_t s = 0; s < sets; ++s)
        add(kAttrTex0 + s, uint8_t(D3DVSDT_FLOAT1 + fvfTexCoordSize(fvf, s) - 1));
    layout->strides[0] = offset;
    return true;
}

// Maps declaration registers to the fixed-function inputs; registers without one are skipped.
static int slotOfRegister(uint32_t reg) {
    if (reg == D3DVSDE_POSITION) return kAttrPosition;
    if (reg == D3DVSDE_NORMAL) return kAttrNormal;
    if (reg == D3DVSDE_DIFFUSE) return kAttrDiffuse;
    if (reg == D3DVSDE_SPECULAR) return kAttrSpecular;
    if (reg >= D3DVSDE_TEXCOORD0 && reg <= D3DVSDE_TEXCOORD7)
        return int(kAttrTex0 + reg - D3DVSDE_TEXCOORD0);
    return -1;
}

namespace {

// Walks declaration tokens once: strides per stream, and element(stream, type, register,
// offset) for every register loaded from a stream (false from element ends the walk as
// invalid). Top three bits of a token above 0x1FFFFFFF: 1 stream selector, 2 stream data
// (bit 28: skip 4 x bits 16-19 bytes; bit 19: tessellator data, no bytes; else a data type),
// 3 tessellator, 4 constants (4 words each, count in bits 25-28), 5 extension (count of words
// in bits 24-28), 7 end.
template <class Element>
bool walkDeclaration(const uint32_t* tokens, size_t count, GpuDeclarationStreams* streams,
                     Element element) {
    *streams = GpuDeclarationStreams{};
    int stream = -1;
    for (size_t i = 0; i < count; ++i) {
        uint32_t token = tokens[i];
        if (token <= 0x1FFFFFFF) continue;
        switch (token >> 29) {
        case 1:
            stream = int(token & 0xF);
            break;
        case 2: {
            if (stream < 0) {
                streams->dataWithoutStream = true;
                break;
            }
            if (token & (1u << 28)) {
                streams->strides[stream] += 4 * ((token >> 16) & 0xF);
                break;
            }
            if (token & (1u << 19)) break;
            uint32_t type = (token >> 16) & 0x7;
            if (!element(uint32_t(stream), type, token & 0x1F, streams->strides[stream]))
                return false;
            streams->strides[stream] += vertexTypeBytes(type);
            break;
        }
        case 3:
            streams->tessellator = true;
            return false;
        case 4:
            i += 4 * ((token >> 25) & 0xF);
            break;
        case 5:
            i += (token >> 24) & 0x1F;
            break;
        case 7:
            streams->terminated = true;
            return true;
        default:
            break;
        }
    }
    return false;
}

} // namespace

GpuDeclarationStreams gpuDeclarationStreams(const uint32_t* tokens, size_t count) {
    GpuDeclarationStreams streams;
    walkDeclaration(tokens, count, &streams,
                    [](uint32_t, uint32_t, uint32_t, uint32_t) { return true; });
    return streams;
}

bool layoutFromDeclaration(const uint32_t* tokens, VertexLayout* layout, bool byRegister) {
    *layout = VertexLayout{};
    GpuDeclarationStreams streams;
    auto element = [&](uint32_t stream, uint32_t type, uint32_t reg, uint32_t offset) {
        int slot = byRegister ? (reg < 16 ? int(reg) : -1) : slotOfRegister(reg);
        if (slot < 0) return true;
        if (type > D3DVSDT_SHORT4) return false;
        if (!byRegister && slot == kAttrPosition && type != D3DVSDT_FLOAT3 &&
            type != D3DVSDT_FLOAT4)
            return false;
        layout->elements[slot] =
            VertexElement{true, uint8_t(stream), uint8_t(type), uint16_t(offset)};
        return true;
    };
    if (!walkDeclaration(tokens, 4096, &streams, element) || streams.dataWithoutStream)
        return false;
    for (uint32_t s = 0; s < 16; ++s)
        layout->strides[s] = streams.strides[s];
    return byRegister || layout->elements[kAttrPosition].present;
}
