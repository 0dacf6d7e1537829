// The Direct3D 8 numbers that the graphics Parts, scene files and scripts speak: result codes,
// render states, texture stage states and operations, blend factors, compare functions,
// formats, pools, usages, lock flags, flexible vertex format bits, primitive, light and
// transform types, and the plain structures passed to the device (matrix, viewport, material,
// light, display mode, descriptions, caps). The values are the real ones, so numbers read from
// scripts and scene files can be passed straight through. No SDL, GL or Windows header here.
//
// `gpuResultName` names a result code (the replacement for the SDK's error-string function);
// `fvfVertexSize` gives the stride of a flexible vertex format.
#pragma once

#include <cstdint>

using HRESULT = int32_t;
using D3DCOLOR = uint32_t; // 0xAARRGGBB

constexpr HRESULT makeD3DError(uint32_t code) {
    return HRESULT(0x88760000u | code);
}

constexpr HRESULT D3D_OK = 0;
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = HRESULT(0x80004005u);
constexpr HRESULT E_OUTOFMEMORY = HRESULT(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = HRESULT(0x80070057u);
constexpr HRESULT D3DERR_WRONGTEXTUREFORMAT = makeD3DError(2072);
constexpr HRESULT D3DERR_UNSUPPORTEDCOLOROPERATION = makeD3DError(2073);
constexpr HRESULT D3DERR_UNSUPPORTEDCOLORARG = makeD3DError(2074);
constexpr HRESULT D3DERR_UNSUPPORTEDALPHAOPERATION = makeD3DError(2075);
constexpr HRESULT D3DERR_UNSUPPORTEDALPHAARG = makeD3DError(2076);
constexpr HRESULT D3DERR_TOOMANYOPERATIONS = makeD3DError(2077);
constexpr HRESULT D3DERR_CONFLICTINGTEXTUREFILTER = makeD3DError(2078);
constexpr HRESULT D3DERR_UNSUPPORTEDFACTORVALUE = makeD3DError(2079);
constexpr HRESULT D3DERR_CONFLICTINGRENDERSTATE = makeD3DError(2081);
constexpr HRESULT D3DERR_UNSUPPORTEDTEXTUREFILTER = makeD3DError(2082);
constexpr HRESULT D3DERR_CONFLICTINGTEXTUREPALETTE = makeD3DError(2086);
constexpr HRESULT D3DERR_DRIVERINTERNALERROR = makeD3DError(2087);
constexpr HRESULT D3DERR_NOTFOUND = makeD3DError(2150);
constexpr HRESULT D3DERR_MOREDATA = makeD3DError(2151);
constexpr HRESULT D3DERR_DEVICELOST = makeD3DError(2152);
constexpr HRESULT D3DERR_DEVICENOTRESET = makeD3DError(2153);
constexpr HRESULT D3DERR_NOTAVAILABLE = makeD3DError(2154);
constexpr HRESULT D3DERR_OUTOFVIDEOMEMORY = makeD3DError(380);
constexpr HRESULT D3DERR_INVALIDDEVICE = makeD3DError(2155);
constexpr HRESULT D3DERR_INVALIDCALL = makeD3DError(2156);
constexpr HRESULT D3DERR_DRIVERINVALIDCALL = makeD3DError(2157);

constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}
constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}

// The name of a result code ("D3DERR_INVALIDCALL"); "Unknown" for codes not listed above.
const char* gpuResultName(HRESULT hr);

// ---- Device types, adapters ----
enum : uint32_t { D3DDEVTYPE_HAL = 1, D3DDEVTYPE_REF = 2, D3DDEVTYPE_SW = 3 };
constexpr uint32_t D3DADAPTER_DEFAULT = 0;
constexpr uint32_t D3DENUM_NO_WHQL_LEVEL = 2;
constexpr uint32_t D3DCREATE_FPU_PRESERVE = 0x2;
constexpr uint32_t D3DCREATE_MULTITHREADED = 0x4;
constexpr uint32_t D3DCREATE_PUREDEVICE = 0x10;
constexpr uint32_t D3DCREATE_SOFTWARE_VERTEXPROCESSING = 0x20;
constexpr uint32_t D3DCREATE_HARDWARE_VERTEXPROCESSING = 0x40;
constexpr uint32_t D3DCREATE_MIXED_VERTEXPROCESSING = 0x80;

// ---- Formats ----
enum D3DFORMAT : uint32_t {
    D3DFMT_UNKNOWN = 0,
    D3DFMT_R8G8B8 = 20,
    D3DFMT_A8R8G8B8 = 21,
    D3DFMT_X8R8G8B8 = 22,
    D3DFMT_R5G6B5 = 23,
    D3DFMT_X1R5G5B5 = 24,
    D3DFMT_A1R5G5B5 = 25,
    D3DFMT_A4R4G4B4 = 26,
    D3DFMT_R3G3B2 = 27,
    D3DFMT_A8 = 28,
    D3DFMT_A8R3G3B2 = 29,
    D3DFMT_X4R4G4B4 = 30,
    D3DFMT_A8P8 = 40,
    D3DFMT_P8 = 41,
    D3DFMT_L8 = 50,
    D3DFMT_A8L8 = 51,
    D3DFMT_A4L4 = 52,
    D3DFMT_V8U8 = 60,
    D3DFMT_L6V5U5 = 61,
    D3DFMT_X8L8V8U8 = 62,
    D3DFMT_Q8W8V8U8 = 63,
    D3DFMT_V16U16 = 64,
    D3DFMT_W11V11U10 = 65,
    D3DFMT_D16_LOCKABLE = 70,
    D3DFMT_D32 = 71,
    D3DFMT_D15S1 = 73,
    D3DFMT_D24S8 = 75,
    D3DFMT_D16 = 80,
    D3DFMT_D24X8 = 77,
    D3DFMT_D24X4S4 = 79,
    D3DFMT_VERTEXDATA = 100,
    D3DFMT_INDEX16 = 101,
    D3DFMT_INDEX32 = 102,
    D3DFMT_DXT1 = 0x31545844,
    D3DFMT_DXT2 = 0x32545844,
    D3DFMT_DXT3 = 0x33545844,
    D3DFMT_DXT4 = 0x34545844,
    D3DFMT_DXT5 = 0x35545844,
};

// ---- Resources ----
enum D3DPOOL : uint32_t {
    D3DPOOL_DEFAULT = 0,
    D3DPOOL_MANAGED = 1,
    D3DPOOL_SYSTEMMEM = 2,
    D3DPOOL_SCRATCH = 3
};
enum D3DRESOURCETYPE : uint32_t {
    D3DRTYPE_SURFACE = 1,
    D3DRTYPE_VOLUME = 2,
    D3DRTYPE_TEXTURE = 3,
    D3DRTYPE_VOLUMETEXTURE = 4,
    D3DRTYPE_CUBETEXTURE = 5,
    D3DRTYPE_VERTEXBUFFER = 6,
    D3DRTYPE_INDEXBUFFER = 7,
};
constexpr uint32_t D3DUSAGE_RENDERTARGET = 0x1;
constexpr uint32_t D3DUSAGE_DEPTHSTENCIL = 0x2;
constexpr uint32_t D3DUSAGE_WRITEONLY = 0x8;
constexpr uint32_t D3DUSAGE_SOFTWAREPROCESSING = 0x10;
constexpr uint32_t D3DUSAGE_DONOTCLIP = 0x20;
constexpr uint32_t D3DUSAGE_POINTS = 0x40;
constexpr uint32_t D3DUSAGE_RTPATCHES = 0x80;
constexpr uint32_t D3DUSAGE_NPATCHES = 0x100;
constexpr uint32_t D3DUSAGE_DYNAMIC = 0x200;

constexpr uint32_t D3DLOCK_READONLY = 0x10;
constexpr uint32_t D3DLOCK_NOSYSLOCK = 0x800;
constexpr uint32_t D3DLOCK_NOOVERWRITE = 0x1000;
constexpr uint32_t D3DLOCK_DISCARD = 0x2000;
constexpr uint32_t D3DLOCK_NO_DIRTY_UPDATE = 0x8000;

enum D3DCUBEMAP_FACES : uint32_t {
    D3DCUBEMAP_FACE_POSITIVE_X = 0,
    D3DCUBEMAP_FACE_NEGATIVE_X = 1,
    D3DCUBEMAP_FACE_POSITIVE_Y = 2,
    D3DCUBEMAP_FACE_NEGATIVE_Y = 3,
    D3DCUBEMAP_FACE_POSITIVE_Z = 4,
    D3DCUBEMAP_FACE_NEGATIVE_Z = 5,
};
enum D3DMULTISAMPLE_TYPE : uint32_t { D3DMULTISAMPLE_NONE = 0 };
enum D3DSWAPEFFECT : uint32_t {
    D3DSWAPEFFECT_DISCARD = 1,
    D3DSWAPEFFECT_FLIP = 2,
    D3DSWAPEFFECT_COPY = 3,
    D3DSWAPEFFECT_COPY_VSYNC = 4
};
enum D3DBACKBUFFER_TYPE : uint32_t { D3DBACKBUFFER_TYPE_MONO = 0 };
constexpr uint32_t D3DPRESENT_INTERVAL_DEFAULT = 0;
constexpr uint32_t D3DPRESENT_INTERVAL_ONE = 1;
constexpr uint32_t D3DPRESENT_INTERVAL_IMMEDIATE = 0x80000000u;
constexpr uint32_t D3DSGR_NO_CALIBRATION = 0;
constexpr uint32_t D3DSGR_CALIBRATE = 1;

// ---- Clear flags ----
constexpr uint32_t D3DCLEAR_TARGET = 1;
constexpr uint32_t D3DCLEAR_ZBUFFER = 2;
constexpr uint32_t D3DCLEAR_STENCIL = 4;

// ---- Primitives ----
enum D3DPRIMITIVETYPE : uint32_t {
    D3DPT_POINTLIST = 1,
    D3DPT_LINELIST = 2,
    D3DPT_LINESTRIP = 3,
    D3DPT_TRIANGLELIST = 4,
    D3DPT_TRIANGLESTRIP = 5,
    D3DPT_TRIANGLEFAN = 6,
};

// ---- Transforms ----
enum D3DTRANSFORMSTATETYPE : uint32_t {
    D3DTS_VIEW = 2,
    D3DTS_PROJECTION = 3,
    D3DTS_TEXTURE0 = 16,
    D3DTS_TEXTURE1,
    D3DTS_TEXTURE2,
    D3DTS_TEXTURE3,
    D3DTS_TEXTURE4,
    D3DTS_TEXTURE5,
    D3DTS_TEXTURE6,
    D3DTS_TEXTURE7,
    D3DTS_WORLD = 256,
    D3DTS_WORLD1 = 257,
    D3DTS_WORLD2 = 258,
    D3DTS_WORLD3 = 259,
};
constexpr uint32_t D3DTS_WORLDMATRIX(uint32_t index) {
    return 256 + index;
}

// ---- Render states ----
enum D3DRENDERSTATETYPE : uint32_t {
    D3DRS_ZENABLE = 7,
    D3DRS_FILLMODE = 8,
    D3DRS_SHADEMODE = 9,
    D3DRS_LINEPATTERN = 10,
    D3DRS_ZWRITEENABLE = 14,
    D3DRS_ALPHATESTENABLE = 15,
    D3DRS_LASTPIXEL = 16,
    D3DRS_SRCBLEND = 19,
    D3DRS_DESTBLEND = 20,
    D3DRS_CULLMODE = 22,
    D3DRS_ZFUNC = 23,
    D3DRS_ALPHAREF = 24,
    D3DRS_ALPHAFUNC = 25,
    D3DRS_DITHERENABLE = 26,
    D3DRS_ALPHABLENDENABLE = 27,
    D3DRS_FOGENABLE = 28,
    D3DRS_SPECULARENABLE = 29,
    D3DRS_ZVISIBLE = 30,
    D3DRS_FOGCOLOR = 34,
    D3DRS_FOGTABLEMODE = 35,
    D3DRS_FOGSTART = 36,
    D3DRS_FOGEND = 37,
    D3DRS_FOGDENSITY = 38,
    D3DRS_EDGEANTIALIAS = 40,
    D3DRS_ZBIAS = 47,
    D3DRS_RANGEFOGENABLE = 48,
    D3DRS_STENCILENABLE = 52,
    D3DRS_STENCILFAIL = 53,
    D3DRS_STENCILZFAIL = 54,
    D3DRS_STENCILPASS = 55,
    D3DRS_STENCILFUNC = 56,
    D3DRS_STENCILREF = 57,
    D3DRS_STENCILMASK = 58,
    D3DRS_STENCILWRITEMASK = 59,
    D3DRS_TEXTUREFACTOR = 60,
    D3DRS_WRAP0 = 128,
    D3DRS_WRAP1,
    D3DRS_WRAP2,
    D3DRS_WRAP3,
    D3DRS_WRAP4,
    D3DRS_WRAP5,
    D3DRS_WRAP6,
    D3DRS_WRAP7,
    D3DRS_CLIPPING = 136,
    D3DRS_LIGHTING = 137,
    D3DRS_AMBIENT = 139,
    D3DRS_FOGVERTEXMODE = 140,
    D3DRS_COLORVERTEX = 141,
    D3DRS_LOCALVIEWER = 142,
    D3DRS_NORMALIZENORMALS = 143,
    D3DRS_DIFFUSEMATERIALSOURCE = 145,
    D3DRS_SPECULARMATERIALSOURCE = 146,
    D3DRS_AMBIENTMATERIALSOURCE = 147,
    D3DRS_EMISSIVEMATERIALSOURCE = 148,
    D3DRS_VERTEXBLEND = 151,
    D3DRS_CLIPPLANEENABLE = 152,
    D3DRS_SOFTWAREVERTEXPROCESSING = 153,
    D3DRS_POINTSIZE = 154,
    D3DRS_POINTSIZE_MIN = 155,
    D3DRS_POINTSPRITEENABLE = 156,
    D3DRS_POINTSCALEENABLE = 157,
    D3DRS_POINTSCALE_A = 158,
    D3DRS_POINTSCALE_B = 159,
    D3DRS_POINTSCALE_C = 160,
    D3DRS_MULTISAMPLEANTIALIAS = 161,
    D3DRS_MULTISAMPLEMASK = 162,
    D3DRS_PATCHEDGESTYLE = 163,
    D3DRS_PATCHSEGMENTS = 164,
    D3DRS_DEBUGMONITORTOKEN = 165,
    D3DRS_POINTSIZE_MAX = 166,
    D3DRS_INDEXEDVERTEXBLENDENABLE = 167,
    D3DRS_COLORWRITEENABLE = 168,
    D3DRS_TWEENFACTOR = 170,
    D3DRS_BLENDOP = 171,
};
constexpr uint32_t kFirstRenderState = 7;
constexpr uint32_t kLastRenderState = 171;

enum : uint32_t { D3DZB_FALSE = 0, D3DZB_TRUE = 1, D3DZB_USEW = 2 };
enum D3DFILLMODE : uint32_t { D3DFILL_POINT = 1, D3DFILL_WIREFRAME = 2, D3DFILL_SOLID = 3 };
enum D3DSHADEMODE : uint32_t { D3DSHADE_FLAT = 1, D3DSHADE_GOURAUD = 2, D3DSHADE_PHONG = 3 };
enum D3DBLEND : uint32_t {
    D3DBLEND_ZERO = 1,
    D3DBLEND_ONE = 2,
    D3DBLEND_SRCCOLOR = 3,
    D3DBLEND_INVSRCCOLOR = 4,
    D3DBLEND_SRCALPHA = 5,
    D3DBLEND_INVSRCALPHA = 6,
    D3DBLEND_DESTALPHA = 7,
    D3DBLEND_INVDESTALPHA = 8,
    D3DBLEND_DESTCOLOR = 9,
    D3DBLEND_INVDESTCOLOR = 10,
    D3DBLEND_SRCALPHASAT = 11,
    D3DBLEND_BOTHSRCALPHA = 12,
    D3DBLEND_BOTHINVSRCALPHA = 13,
};
enum D3DBLENDOP : uint32_t {
    D3DBLENDOP_ADD = 1,
    D3DBLENDOP_SUBTRACT = 2,
    D3DBLENDOP_REVSUBTRACT = 3,
    D3DBLENDOP_MIN = 4,
    D3DBLENDOP_MAX = 5,
};
enum D3DCULL : uint32_t { D3DCULL_NONE = 1, D3DCULL_CW = 2, D3DCULL_CCW = 3 };
enum D3DCMPFUNC : uint32_t {
    D3DCMP_NEVER = 1,
    D3DCMP_LESS = 2,
    D3DCMP_EQUAL = 3,
    D3DCMP_LESSEQUAL = 4,
    D3DCMP_GREATER = 5,
    D3DCMP_NOTEQUAL = 6,
    D3DCMP_GREATEREQUAL = 7,
    D3DCMP_ALWAYS = 8,
};
enum D3DSTENCILOP : uint32_t {
    D3DSTENCILOP_KEEP = 1,
    D3DSTENCILOP_ZERO = 2,
    D3DSTENCILOP_REPLACE = 3,
    D3DSTENCILOP_INCRSAT = 4,
    D3DSTENCILOP_DECRSAT = 5,
    D3DSTENCILOP_INVERT = 6,
    D3DSTENCILOP_INCR = 7,
    D3DSTENCILOP_DECR = 8,
};
enum D3DMATERIALCOLORSOURCE : uint32_t {
    D3DMCS_MATERIAL = 0,
    D3DMCS_COLOR1 = 1,
    D3DMCS_COLOR2 = 2
};
constexpr uint32_t D3DCOLORWRITEENABLE_RED = 1;
constexpr uint32_t D3DCOLORWRITEENABLE_GREEN = 2;
constexpr uint32_t D3DCOLORWRITEENABLE_BLUE = 4;
constexpr uint32_t D3DCOLORWRITEENABLE_ALPHA = 8;

// ---- Texture stage states ----
enum D3DTEXTURESTAGESTATETYPE : uint32_t {
    D3DTSS_COLOROP = 1,
    D3DTSS_COLORARG1 = 2,
    D3DTSS_COLORARG2 = 3,
    D3DTSS_ALPHAOP = 4,
    D3DTSS_ALPHAARG1 = 5,
    D3DTSS_ALPHAARG2 = 6,
    D3DTSS_BUMPENVMAT00 = 7,
    D3DTSS_BUMPENVMAT01 = 8,
    D3DTSS_BUMPENVMAT10 = 9,
    D3DTSS_BUMPENVMAT11 = 10,
    D3DTSS_TEXCOORDINDEX = 11,
    D3DTSS_ADDRESSU = 13,
    D3DTSS_ADDRESSV = 14,
    D3DTSS_BORDERCOLOR = 15,
    D3DTSS_MAGFILTER = 16,
    D3DTSS_MINFILTER = 17,
    D3DTSS_MIPFILTER = 18,
    D3DTSS_MIPMAPLODBIAS = 19,
    D3DTSS_MAXMIPLEVEL = 20,
    D3DTSS_MAXANISOTROPY = 21,
    D3DTSS_BUMPENVLSCALE = 22,
    D3DTSS_BUMPENVLOFFSET = 23,
    D3DTSS_TEXTURETRANSFORMFLAGS = 24,
    D3DTSS_ADDRESSW = 25,
    D3DTSS_COLORARG0 = 26,
    D3DTSS_ALPHAARG0 = 27,
    D3DTSS_RESULTARG = 28,
};
constexpr uint32_t kLastStageState = 28;
constexpr uint32_t kMaxTextureStages = 8;

enum D3DTEXTUREOP : uint32_t {
    D3DTOP_DISABLE = 1,
    D3DTOP_SELECTARG1 = 2,
    D3DTOP_SELECTARG2 = 3,
    D3DTOP_MODULATE = 4,
    D3DTOP_MODULATE2X = 5,
    D3DTOP_MODULATE4X = 6,
    D3DTOP_ADD = 7,
    D3DTOP_ADDSIGNED = 8,
    D3DTOP_ADDSIGNED2X = 9,
    D3DTOP_SUBTRACT = 10,
    D3DTOP_ADDSMOOTH = 11,
    D3DTOP_BLENDDIFFUSEALPHA = 12,
    D3DTOP_BLENDTEXTUREALPHA = 13,
    D3DTOP_BLENDFACTORALPHA = 14,
    D3DTOP_BLENDTEXTUREALPHAPM = 15,
    D3DTOP_BLENDCURRENTALPHA = 16,
    D3DTOP_PREMODULATE = 17,
    D3DTOP_MODULATEALPHA_ADDCOLOR = 18,
    D3DTOP_MODULATECOLOR_ADDALPHA = 19,
    D3DTOP_MODULATEINVALPHA_ADDCOLOR = 20,
    D3DTOP_MODULATEINVCOLOR_ADDALPHA = 21,
    D3DTOP_BUMPENVMAP = 22,
    D3DTOP_BUMPENVMAPLUMINANCE = 23,
    D3DTOP_DOTPRODUCT3 = 24,
    D3DTOP_MULTIPLYADD = 25,
    D3DTOP_LERP = 26,
};
constexpr uint32_t D3DTA_SELECTMASK = 0x0f;
constexpr uint32_t D3DTA_DIFFUSE = 0x0;
constexpr uint32_t D3DTA_CURRENT = 0x1;
constexpr uint32_t D3DTA_TEXTURE = 0x2;
constexpr uint32_t D3DTA_TFACTOR = 0x3;
constexpr uint32_t D3DTA_SPECULAR = 0x4;
constexpr uint32_t D3DTA_TEMP = 0x5;
constexpr uint32_t D3DTA_COMPLEMENT = 0x10;
constexpr uint32_t D3DTA_ALPHAREPLICATE = 0x20;

enum D3DTEXTUREADDRESS : uint32_t {
    D3DTADDRESS_WRAP = 1,
    D3DTADDRESS_MIRROR = 2,
    D3DTADDRESS_CLAMP = 3,
    D3DTADDRESS_BORDER = 4,
    D3DTADDRESS_MIRRORONCE = 5,
};
enum D3DTEXTUREFILTERTYPE : uint32_t {
    D3DTEXF_NONE = 0,
    D3DTEXF_POINT = 1,
    D3DTEXF_LINEAR = 2,
    D3DTEXF_ANISOTROPIC = 3,
    D3DTEXF_FLATCUBIC = 4,
    D3DTEXF_GAUSSIANCUBIC = 5,
};
constexpr uint32_t D3DTSS_TCI_PASSTHRU = 0x00000;
constexpr uint32_t D3DTSS_TCI_CAMERASPACENORMAL = 0x10000;
constexpr uint32_t D3DTSS_TCI_CAMERASPACEPOSITION = 0x20000;
constexpr uint32_t D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR = 0x30000;
enum D3DTEXTURETRANSFORMFLAGS : uint32_t {
    D3DTTFF_DISABLE = 0,
    D3DTTFF_COUNT1 = 1,
    D3DTTFF_COUNT2 = 2,
    D3DTTFF_COUNT3 = 3,
    D3DTTFF_COUNT4 = 4,
    D3DTTFF_PROJECTED = 256,
};

// ---- Flexible vertex format ----
constexpr uint32_t D3DFVF_RESERVED0 = 0x001;
constexpr uint32_t D3DFVF_POSITION_MASK = 0x00E;
constexpr uint32_t D3DFVF_XYZ = 0x002;
constexpr uint32_t D3DFVF_XYZRHW = 0x004;
constexpr uint32_t D3DFVF_XYZB1 = 0x006;
constexpr uint32_t D3DFVF_XYZB2 = 0x008;
constexpr uint32_t D3DFVF_XYZB3 = 0x00a;
constexpr uint32_t D3DFVF_XYZB4 = 0x00c;
constexpr uint32_t D3DFVF_XYZB5 = 0x00e;
constexpr uint32_t D3DFVF_NORMAL = 0x010;
constexpr uint32_t D3DFVF_PSIZE = 0x020;
constexpr uint32_t D3DFVF_DIFFUSE = 0x040;
constexpr uint32_t D3DFVF_SPECULAR = 0x080;
constexpr uint32_t D3DFVF_TEXCOUNT_MASK = 0xf00;
constexpr uint32_t D3DFVF_TEXCOUNT_SHIFT = 8;
constexpr uint32_t D3DFVF_TEX0 = 0x000;
constexpr uint32_t D3DFVF_TEX1 = 0x100;
constexpr uint32_t D3DFVF_TEX2 = 0x200;
constexpr uint32_t D3DFVF_TEX3 = 0x300;
constexpr uint32_t D3DFVF_TEX4 = 0x400;
constexpr uint32_t D3DFVF_TEX5 = 0x500;
constexpr uint32_t D3DFVF_TEX6 = 0x600;
constexpr uint32_t D3DFVF_TEX7 = 0x700;
constexpr uint32_t D3DFVF_TEX8 = 0x800;
constexpr uint32_t D3DFVF_LASTBETA_UBYTE4 = 0x1000;
constexpr uint32_t D3DFVF_RESERVED2 = 0xE000;
constexpr uint32_t D3DFVF_TEXTUREFORMAT1 = 3;
constexpr uint32_t D3DFVF_TEXTUREFORMAT2 = 0;
constexpr uint32_t D3DFVF_TEXTUREFORMAT3 = 1;
constexpr uint32_t D3DFVF_TEXTUREFORMAT4 = 2;
constexpr uint32_t D3DFVF_TEXCOORDSIZE1(uint32_t set) {
    return D3DFVF_TEXTUREFORMAT1 << (set * 2 + 16);
}
constexpr uint32_t D3DFVF_TEXCOORDSIZE2(uint32_t) {
    return D3DFVF_TEXTUREFORMAT2;
}
constexpr uint32_t D3DFVF_TEXCOORDSIZE3(uint32_t set) {
    return D3DFVF_TEXTUREFORMAT3 << (set * 2 + 16);
}
constexpr uint32_t D3DFVF_TEXCOORDSIZE4(uint32_t set) {
    return D3DFVF_TEXTUREFORMAT4 << (set * 2 + 16);
}

// Number of floats of texture coordinate set `set` (0..7) of an FVF code.
constexpr uint32_t fvfTexCoordSize(uint32_t fvf, uint32_t set) {
    constexpr uint32_t sizes[4] = {2, 3, 4, 1};
    return sizes[(fvf >> (set * 2 + 16)) & 3];
}
// Bytes per vertex of an FVF code: position 12 (XYZ), 16 (XYZRHW), 16..32 with blend weights;
// normal 12, point size 4, diffuse 4, specular 4, each texture set 4..16.
uint32_t fvfVertexSize(uint32_t fvf);

// ---- Vertex shader declarations ----
constexpr uint32_t D3DVSD_END() {
    return 0xFFFFFFFFu;
}
constexpr uint32_t D3DVSD_NOP() {
    return 0;
}
constexpr uint32_t D3DVSD_STREAM(uint32_t stream) {
    return (1u << 29) | stream;
}
constexpr uint32_t D3DVSD_REG(uint32_t reg, uint32_t type) {
    return (2u << 29) | (type << 16) | reg;
}
constexpr uint32_t D3DVSD_SKIP(uint32_t dwords) {
    return (2u << 29) | (1u << 28) | (dwords << 16);
}
enum : uint32_t {
    D3DVSDT_FLOAT1 = 0,
    D3DVSDT_FLOAT2 = 1,
    D3DVSDT_FLOAT3 = 2,
    D3DVSDT_FLOAT4 = 3,
    D3DVSDT_D3DCOLOR = 4,
    D3DVSDT_UBYTE4 = 5,
    D3DVSDT_SHORT2 = 6,
    D3DVSDT_SHORT4 = 7,
};
enum : uint32_t {
    D3DVSDE_POSITION = 0,
    D3DVSDE_BLENDWEIGHT = 1,
    D3DVSDE_BLENDINDICES = 2,
    D3DVSDE_NORMAL = 3,
    D3DVSDE_PSIZE = 4,
    D3DVSDE_DIFFUSE = 5,
    D3DVSDE_SPECULAR = 6,
    D3DVSDE_TEXCOORD0 = 7,
    D3DVSDE_TEXCOORD7 = 14,
    D3DVSDE_POSITION2 = 15,
    D3DVSDE_NORMAL2 = 16,
};

// ---- Lights ----
enum D3DLIGHTTYPE : uint32_t { D3DLIGHT_POINT = 1, D3DLIGHT_SPOT = 2, D3DLIGHT_DIRECTIONAL = 3 };
constexpr uint32_t kMaxActiveLights = 8;

// ---- Caps bits used by the graphics layer ----
constexpr uint32_t D3DDEVCAPS_HWTRANSFORMANDLIGHT = 0x00010000;
constexpr uint32_t D3DDEVCAPS_PUREDEVICE = 0x00100000;
constexpr uint32_t D3DDEVCAPS_HWRASTERIZATION = 0x00080000;
constexpr uint32_t D3DPTEXTURECAPS_PERSPECTIVE = 0x1;
constexpr uint32_t D3DPTEXTURECAPS_POW2 = 0x2;
constexpr uint32_t D3DPTEXTURECAPS_ALPHA = 0x4;
constexpr uint32_t D3DPTEXTURECAPS_SQUAREONLY = 0x20;
constexpr uint32_t D3DPTEXTURECAPS_TEXREPEATNOTSCALEDBYSIZE = 0x40;
constexpr uint32_t D3DPTEXTURECAPS_ALPHAPALETTE = 0x80;
constexpr uint32_t D3DPTEXTURECAPS_NONPOW2CONDITIONAL = 0x100;
constexpr uint32_t D3DPTEXTURECAPS_PROJECTED = 0x400;
constexpr uint32_t D3DPTEXTURECAPS_CUBEMAP = 0x800;
constexpr uint32_t D3DPTEXTURECAPS_VOLUMEMAP = 0x2000;
constexpr uint32_t D3DPTEXTURECAPS_MIPMAP = 0x4000;
constexpr uint32_t D3DPTEXTURECAPS_MIPVOLUMEMAP = 0x8000;
constexpr uint32_t D3DPTEXTURECAPS_MIPCUBEMAP = 0x10000;
constexpr uint32_t D3DPTEXTURECAPS_CUBEMAP_POW2 = 0x20000;
constexpr uint32_t D3DCAPS2_FULLSCREENGAMMA = 0x20000;
constexpr uint32_t D3DCAPS2_DYNAMICTEXTURES = 0x20000000;
constexpr uint32_t D3DPRASTERCAPS_ZTEST = 0x10;
constexpr uint32_t D3DPMISCCAPS_CULLNONE = 0x10;
constexpr uint32_t D3DPMISCCAPS_CULLCW = 0x20;
constexpr uint32_t D3DPMISCCAPS_CULLCCW = 0x40;
constexpr uint32_t D3DPMISCCAPS_COLORWRITEENABLE = 0x80;
constexpr uint32_t D3DPMISCCAPS_BLENDOP = 0x800;
constexpr uint32_t kTextureOpCapsWithoutBump =
    0x03ffffffu & ~(0x200000u | 0x400000u); // every op bit except the two bump ops
constexpr uint32_t D3DVTXPCAPS_TEXGEN = 0x1;
constexpr uint32_t D3DVTXPCAPS_MATERIALSOURCE7 = 0x2;
constexpr uint32_t D3DVTXPCAPS_DIRECTIONALLIGHTS = 0x8;
constexpr uint32_t D3DVTXPCAPS_POSITIONALLIGHTS = 0x10;
constexpr uint32_t D3DVTXPCAPS_LOCALVIEWER = 0x20;

// ---- Structures ----
struct D3DVECTOR {
    float x = 0, y = 0, z = 0;
};
struct D3DCOLORVALUE {
    float r = 0, g = 0, b = 0, a = 0;
};
struct D3DMATRIX {
    float m[4][4] = {{1, 0, 0, 0},
                     {0, 1, 0, 0},
                     {0, 0, 1, 0},
                     {0, 0, 0, 1}}; // row-major, rows are multiplied by vectors on the left
};
struct D3DVIEWPORT8 {
    uint32_t X = 0, Y = 0, Width = 0, Height = 0; // pixels, top-left origin
    float MinZ = 0, MaxZ = 1;
};
struct D3DMATERIAL8 {
    D3DCOLORVALUE Diffuse, Ambient, Specular, Emissive;
    float Power = 0;
};
struct D3DLIGHT8 {
    D3DLIGHTTYPE Type = D3DLIGHT_DIRECTIONAL;
    D3DCOLORVALUE Diffuse, Specular, Ambient;
    D3DVECTOR Position, Direction;
    float Range = 0, Falloff = 0, Attenuation0 = 0, Attenuation1 = 0, Attenuation2 = 0;
    float Theta = 0, Phi = 0; // radians: inner and outer cone
};
struct D3DRECT {
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};
struct RECT {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};
struct D3DLOCKED_RECT {
    int32_t Pitch = 0; // bytes per row
    void* pBits = nullptr;
};
struct D3DDISPLAYMODE {
    uint32_t Width = 0, Height = 0, RefreshRate = 0;
    D3DFORMAT Format = D3DFMT_UNKNOWN;
};
struct D3DADAPTER_IDENTIFIER8 {
    char Driver[512] = {};
    char Description[512] = {};
    uint32_t DriverVersionLowPart = 0, DriverVersionHighPart = 0;
    uint32_t VendorId = 0, DeviceId = 0, SubSysId = 0, Revision = 0;
    uint8_t DeviceIdentifier[16] = {};
    uint32_t WHQLLevel = 0;
};
struct D3DSURFACE_DESC {
    D3DFORMAT Format = D3DFMT_UNKNOWN;
    D3DRESOURCETYPE Type = D3DRTYPE_SURFACE;
    uint32_t Usage = 0;
    D3DPOOL Pool = D3DPOOL_DEFAULT;
    uint32_t Size = 0;
    D3DMULTISAMPLE_TYPE MultiSampleType = D3DMULTISAMPLE_NONE;
    uint32_t Width = 0, Height = 0;
};
struct D3DVERTEXBUFFER_DESC {
    D3DFORMAT Format = D3DFMT_VERTEXDATA;
    D3DRESOURCETYPE Type = D3DRTYPE_VERTEXBUFFER;
    uint32_t Usage = 0;
    D3DPOOL Pool = D3DPOOL_DEFAULT;
    uint32_t Size = 0;
    uint32_t FVF = 0;
};
struct D3DINDEXBUFFER_DESC {
    D3DFORMAT Format = D3DFMT_INDEX16;
    D3DRESOURCETYPE Type = D3DRTYPE_INDEXBUFFER;
    uint32_t Usage = 0;
    D3DPOOL Pool = D3DPOOL_DEFAULT;
    uint32_t Size = 0;
};
struct D3DGAMMARAMP {
    uint16_t red[256] = {}, green[256] = {}, blue[256] = {};
};
struct D3DPRESENT_PARAMETERS {
    uint32_t BackBufferWidth = 0, BackBufferHeight = 0;
    D3DFORMAT BackBufferFormat = D3DFMT_UNKNOWN;
    uint32_t BackBufferCount = 1;
    D3DMULTISAMPLE_TYPE MultiSampleType = D3DMULTISAMPLE_NONE;
    D3DSWAPEFFECT SwapEffect = D3DSWAPEFFECT_COPY;
    void* hDeviceWindow = nullptr;
    bool Windowed = true;
    bool EnableAutoDepthStencil = false;
    D3DFORMAT AutoDepthStencilFormat = D3DFMT_UNKNOWN;
    uint32_t Flags = 0;
    uint32_t FullScreen_RefreshRateInHz = 0;
    uint32_t FullScreen_PresentationInterval = 0;
};
// The device capabilities, in the real structure's field order (the fields of later versions
// are not part of it).
struct D3DCAPS8 {
    uint32_t DeviceType = D3DDEVTYPE_HAL;
    uint32_t AdapterOrdinal = 0;
    uint32_t Caps = 0, Caps2 = 0, Caps3 = 0, PresentationIntervals = 0, CursorCaps = 0;
    uint32_t DevCaps = 0, PrimitiveMiscCaps = 0, RasterCaps = 0, ZCmpCaps = 0;
    uint32_t SrcBlendCaps = 0, DestBlendCaps = 0, AlphaCmpCaps = 0, ShadeCaps = 0;
    uint32_t TextureCaps = 0, TextureFilterCaps = 0, CubeTextureFilterCaps = 0;
    uint32_t VolumeTextureFilterCaps = 0, TextureAddressCaps = 0, VolumeTextureAddressCaps = 0;
    uint32_t LineCaps = 0;
    uint32_t MaxTextureWidth = 0, MaxTextureHeight = 0, MaxVolumeExtent = 0;
    uint32_t MaxTextureRepeat = 0, MaxTextureAspectRatio = 0, MaxAnisotropy = 0;
    float MaxVertexW = 0, GuardBandLeft = 0, GuardBandTop = 0, GuardBandRight = 0,
          GuardBandBottom = 0;
    float ExtentsAdjust = 0;
    uint32_t StencilCaps = 0, FVFCaps = 0, TextureOpCaps = 0;
    uint32_t MaxTextureBlendStages = 0, MaxSimultaneousTextures = 0;
    uint32_t VertexProcessingCaps = 0, MaxActiveLights = 0, MaxUserClipPlanes = 0;
    uint32_t MaxVertexBlendMatrices = 0, MaxVertexBlendMatrixIndex = 0;
    float MaxPointSize = 0;
    uint32_t MaxPrimitiveCount = 0, MaxVertexIndex = 0, MaxStreams = 0, MaxStreamStride = 0;
    uint32_t VertexShaderVersion = 0, MaxVertexShaderConst = 0;
    uint32_t PixelShaderVersion = 0;
    float MaxPixelShaderValue = 0;
};
