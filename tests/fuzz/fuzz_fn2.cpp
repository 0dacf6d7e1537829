// Fuzz target of the ".fn2" reader: an accepted file writes back to the same bytes.
#include "data/stream.h"
#include "gfx/font.h"
#include "platform/log.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = (logSetFile("/dev/null"), true);
    (void)quiet;
    BitmapFont font;
    if (!parseFontFile(data, size, &font)) return 0;
    PagedMemoryStream out;
    if (!out.open() || !writeFontFile(font, &out)) __builtin_trap();
    // Everything the reader took in writes back unchanged.
    size_t written = size_t(out.size());
    if (written > size) __builtin_trap();
    uint8_t buffer[4096];
    out.seek(0);
    for (size_t done = 0; done < written;) {
        int32_t n = out.read(buffer, int32_t(sizeof buffer));
        if (n <= 0 || memcmp(buffer, data + done, size_t(n)) != 0) __builtin_trap();
        done += size_t(n);
    }
    return 0;
}
