// Fuzz target of the method-2 decoder (and a round trip through the packer).
//
// Input: a 32-bit little-endian unpacked size (kept below 64 KiB), then the packed bytes.
// The decoder must return without reading past the packed bytes or writing past the
// unpacked size; the packed copy is exactly sized so that the sanitizers see any overrun.
// For one input in eight (by the low bits of the size field) the first bytes of the packed
// part are also packed and unpacked again, which must give them back unchanged; the packer
// costs many times the decoder, which is what the fuzzer is here for.
#include "data/depacker.h"
#include "tools/ncc/packers.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    uint32_t unpackedSize = 0;
    std::memcpy(&unpackedSize, data, 4);
    unpackedSize &= (1u << 16) - 1;
    std::vector<uint8_t> packed(data + 4, data + size);
    std::vector<uint8_t> out(unpackedSize);
    decodeMethod2(packed.data(), static_cast<int32_t>(packed.size()), out.data(),
                  static_cast<int32_t>(unpackedSize));

    size_t sample = std::min<size_t>(packed.size(), 1024);
    if (sample == 0 || data[0] % 8 != 0) return 0;
    std::vector<uint8_t> repacked = packMethod2(packed.data(), sample, 1 + data[0] % 9);
    std::vector<uint8_t> back(sample);
    if (!decodeMethod2(repacked.data(), static_cast<int32_t>(repacked.size()), back.data(),
                       static_cast<int32_t>(sample)) ||
        std::memcmp(back.data(), packed.data(), sample) != 0)
        std::abort();
    return 0;
}
