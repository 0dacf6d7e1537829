// Fuzz target of the picture loader's decoders (JPEG, PNG, BMP, GIF, TGA), in both the colour
// and the luma layout.
#include "data/stream.h"
#include "gfx/texture.h"
#include "gfx/texturepool.h"
#include "platform/log.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = (logSetFile("/dev/null"), true);
    (void)quiet;
    if (size > (1u << 22)) return 0;
    for (uint32_t flags : {uint32_t(kTextureRgb), uint32_t(kTextureAlpha)}) {
        MemoryStream stream;
        stream.attachReadOnly(data, int32_t(size));
        Picture picture;
        if (!decodePicture(&stream, flags, &picture)) continue;
        // Every pixel byte is readable.
        volatile uint32_t sum = 0;
        for (int64_t i = 0, n = int64_t(picture.width) * picture.height * picture.pixelBytes; i < n;
             ++i)
            sum = sum + picture.pixels[i];
        freePicture(&picture);
    }
    return 0;
}
