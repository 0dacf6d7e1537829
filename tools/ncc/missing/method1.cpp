// Stands in for the method-1 decoder and packer while they are not in the tree: every use
// reports that the method is not built. CMake adds this file only when data/depack_method1.cpp
// (or tools/ncc/pack_method1.cpp) is missing.
#include "data/depacker.h"
#include "data/stream.h"
#include "tools/ncc/packers.h"

#ifndef LUX_HAVE_DEPACK_METHOD1
namespace {
class MissingMethod1 : public Depacker {
  public:
    MemoryStream* unpack(Stream*, int32_t) override { return nullptr; }
};
} // namespace

Depacker* method1Depacker() {
    static MissingMethod1 depacker;
    return &depacker;
}
const char* decodeMethod1(Stream*, uint8_t*, int32_t) {
    return "method 1 decoder not built";
}
void freeDepackerBuffers() {}
#endif

#ifndef LUX_HAVE_PACK_METHOD1
std::vector<uint8_t> packMethod1(const uint8_t*, size_t, int) {
    return {};
}
#endif
