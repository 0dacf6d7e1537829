// Fuzz target of the method-1 decoder. Input: the unpacked size (4 bytes, little-endian: as
// it stands up to 4 MiB, larger values modulo 64 KiB + 1, so that most mutated inputs decode
// into a small buffer and the fuzzer runs fast), then the packed stream. Every input must end in
// success or one of the error texts, never in a crash, an overrun or a hang.
#include "data/depacker.h"
#include "data/stream.h"

#include <cstdlib>
#include <cstring>
#include <memory>

// Decodes one fuzz input; returns the decoder's error text (nullptr on success) and aborts
// on a text that is none of the decoder's errors. Shared with the corpus replay test.
const char* decodeMethod1FuzzInput(const uint8_t* data, size_t size) {
    if (size < 4) return "short input";
    uint32_t header = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                      uint32_t(data[3]) << 24;
    int32_t unpackedSize = int32_t(header <= (4u << 20) ? header : header % ((64u << 10) + 1));
    MemoryStream source;
    source.attachReadOnly(data + 4, int32_t(size - 4));
    // Left unfilled: zeroing up to 4 MiB per input cost more than most decodes.
    std::unique_ptr<uint8_t[]> out(new uint8_t[size_t(unpackedSize)]);
    const char* error = decodeMethod1(&source, out.get(), unpackedSize);
    if (!error) return nullptr;
    static const char* const known[] = {"Data error (wrong magic number)",
                                        "Decompression mem allocation failed", "Data error",
                                        "CRC error"};
    for (const char* text : known)
        if (std::strcmp(error, text) == 0) return error;
    std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    decodeMethod1FuzzInput(data, size);
    return 0;
}
