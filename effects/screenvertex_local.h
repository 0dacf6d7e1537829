// The pre-transformed vertex every flat effect draws with: pixel coordinates (pixel centres
// on integers minus 0.5), a diffuse colour and two texture coordinate sets. Only the effects'
// own files include this header.
#pragma once

#include "platform/gpu/d3d8types.h"

#include <cstdint>

namespace effects {

struct ScreenVertex {
    float x, y, z, rhw;
    uint32_t diffuse;
    float u0, v0, u1, v1;
};
constexpr uint32_t kScreenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX2;
static_assert(sizeof(ScreenVertex) == 36);

} // namespace effects
