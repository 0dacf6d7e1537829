// Fuzz target of the flat scene reader: the bytes are a flat scene file, read without a
// device or texture pool, then freed.
#include "data/stream.h"
#include "platform/log.h"
#include "scene/scenefile.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = (logSetFile("/dev/null"), true);
    (void)quiet;
    if (size > (1u << 24)) return 0;
    MemoryStream stream;
    stream.attachReadOnly(data, int32_t(size));
    std::string error;
    freeFlatScene(readFlatScene(&stream, &error));
    return 0;
}
