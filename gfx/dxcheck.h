// Checking of device results and small helpers shared by the graphics layer.
//
// Every device call whose failure matters goes through `checkDx`: a failure is logged with
// the code's symbolic name and, when asked, ends the program; running out of memory always
// ends it, with advice for the user. The helpers: one temporary formatting buffer, growing
// scratch buffers freed at shutdown (`freeScratchBuffers`), a left-handed perspective matrix.
#pragma once

#include "platform/gpu/d3d8types.h"

#include <cstddef>
#include <cstdint>

// 0 for success; -1 after logging a failure (does not return when fatal or out of memory).
int checkDx(HRESULT result, const char* message, bool fatal);
const char* dxErrorName(HRESULT result);
// The advice text shown when the device runs out of memory.
const char* outOfMemoryAdvice(int32_t minxres, int32_t minyres, int32_t width, int32_t height,
                              int32_t bitsPerPixel);

// Formats into one static buffer (the next call overwrites it).
const char* formatTemp(const char* format, ...) __attribute__((format(printf, 1, 2)));

struct ScratchBuffer {
    uint8_t* data = nullptr;
    size_t size = 0;
};
// Keeps the buffer if it holds at least `size` bytes, else replaces it with one of `size`.
uint8_t* scratchBuffer(ScratchBuffer& buffer, size_t size);
void freeScratchBuffers();

void setPerspective(D3DMATRIX* matrix, float xScale, float yScale, float nearZ, float farZ);
void sinCos(float angle, float* sine, float* cosine);
