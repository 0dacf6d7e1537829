// Fuzz target of the DDS reader: the bytes are a raw texture file; a refused file gives its
// message instead of ending the program.
#include "data/stream.h"
#include "gfx/texturepool.h"
#include "platform/log.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = (logSetFile("/dev/null"), true);
    (void)quiet;
    if (size > (1u << 24)) return 0;
    MemoryStream stream;
    stream.attachReadOnly(data, int32_t(size));
    DdsImage image;
    bool declined = false;
    const char* error = parseDds(&stream, &image, &declined);
    if (!error && !declined &&
        image.pixels.size() != size_t(image.width) * image.height * image.pixelBytes)
        __builtin_trap();
    return 0;
}
