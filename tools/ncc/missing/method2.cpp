// Stands in for the method-2 decoder and packer while they are not in the tree: every use
// reports that the method is not built. CMake adds this file only when data/depack_method2.cpp
// (or tools/ncc/pack_method2.cpp) is missing.
#include "data/depacker.h"
#include "data/stream.h"
#include "tools/ncc/packers.h"

#ifndef LUX_HAVE_DEPACK_METHOD2
namespace {
class MissingMethod2 : public Depacker {
  public:
    MemoryStream* unpack(Stream*, int32_t) override { return nullptr; }
};
} // namespace

Depacker* method2Depacker() {
    static MissingMethod2 depacker;
    return &depacker;
}
bool decodeMethod2(const uint8_t*, int32_t, uint8_t*, int32_t) {
    return false;
}
#endif

#ifndef LUX_HAVE_PACK_METHOD2
std::vector<uint8_t> packMethod2(const uint8_t*, size_t, int) {
    return {};
}
#endif
