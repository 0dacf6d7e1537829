// Device result checking, out-of-memory advice and the small shared helpers.
#include "gfx/dxcheck.h"

#include "gfx/device.h"
#include "platform/config.h"
#include "platform/log.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

const char* dxErrorName(HRESULT result) {
    return gpuResultName(result);
}

const char* outOfMemoryAdvice(int32_t minxres, int32_t minyres, int32_t width, int32_t height,
                              int32_t bitsPerPixel) {
    static std::string advice;
    bool tooLarge = minxres < width || minyres < height;
    bool deep = bitsPerPixel > 16;
    advice = "Sorry, your graphics card has run out of memory";
    if (tooLarge || deep) {
        advice += ". You could try the following things:\n";
        if (tooLarge) advice += "- decrease the screen resolution\n";
        if (deep) advice += "- use less bits per pixel (eg. 16)\n";
        advice += "This should help running this demo. Have thanks.\n";
    } else {
        advice += ", and there's not much that can be done about it. \t\t\t\tMaybe changing your "
                  "card configuration will help something, maybe not.\n";
    }
    return advice.c_str();
}

static bool outOfMemory(HRESULT result) {
    return result == E_OUTOFMEMORY || result == D3DERR_OUTOFVIDEOMEMORY;
}

int checkDx(HRESULT result, const char* message, bool fatalFailure) {
    if (SUCCEEDED(result)) return 0;
    const char* text = message ? message : "";
    const char* name = dxErrorName(result);
    logf("TOOL: dx error: %s (#0x%08x, %s)\n", text, uint32_t(result), name);
    if (outOfMemory(result)) {
        fatal("%s", outOfMemoryAdvice(configValues.minxres, configValues.minyres,
                                      configValues.xres, configValues.yres,
                                      screenFormat.bitsPerPixel));
    }
    if (fatalFailure) fatal("%s (#0x%08x, %s)\n", text, uint32_t(result), name);
    return -1;
}

const char* formatTemp(const char* format, ...) {
    static char buffer[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    return buffer;
}

// Every scratch buffer that holds memory, so that shutdown can free them all and leave their
// owners empty rather than dangling.
static std::vector<ScratchBuffer*>& scratchOwners() {
    static std::vector<ScratchBuffer*> owners;
    return owners;
}

uint8_t* scratchBuffer(ScratchBuffer& buffer, size_t size) {
    if (buffer.data && buffer.size >= size) return buffer.data;
    std::vector<ScratchBuffer*>& owners = scratchOwners();
    if (buffer.data) {
        free(buffer.data);
        buffer.data = nullptr;
        buffer.size = 0;
    }
    buffer.data = static_cast<uint8_t*>(malloc(size ? size : 1));
    if (!buffer.data) fatal("TOOL: out of memory for a scratch buffer of %zu bytes\n", size);
    buffer.size = size;
    if (std::find(owners.begin(), owners.end(), &buffer) == owners.end()) owners.push_back(&buffer);
    return buffer.data;
}

void freeScratchBuffers() {
    for (ScratchBuffer* owner : scratchOwners()) {
        free(owner->data);
        owner->data = nullptr;
        owner->size = 0;
    }
    scratchOwners().clear();
}

void setPerspective(D3DMATRIX* matrix, float xScale, float yScale, float nearZ, float farZ) {
    float depth = farZ / (farZ - nearZ);
    for (auto& row : matrix->m)
        for (float& v : row)
            v = 0;
    matrix->m[0][0] = xScale;
    matrix->m[1][1] = yScale;
    matrix->m[2][2] = depth;
    matrix->m[2][3] = 1;
    matrix->m[3][2] = -nearZ * depth;
}

void sinCos(float angle, float* sine, float* cosine) {
    *sine = sinf(angle);
    *cosine = cosf(angle);
}
