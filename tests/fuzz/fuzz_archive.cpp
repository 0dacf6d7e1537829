// Fuzz target of the archive reader: the bytes are an archive; when it is accepted, every
// member is opened and read through the depackers that report errors instead of ending.
#include "data/archive.h"
#include "data/depacker.h"
#include "platform/log.h"

#include <cstdint>
#include <cstring>
#include <memory>

namespace {

// The non-fatal depackers, refusing blocks that state more than 1 MiB unpacked as corrupt
// data is refused. A 15-byte method-1 block may lawfully unpack to 46 MB of runs; decoding
// such blocks (fresh pages, filled) took most of this target's time without reaching more of
// the archive reader, and fuzz_depack_method1 covers the decoder itself.
class CappedDepacker : public Depacker {
  public:
    explicit CappedDepacker(uint32_t method) : method_(method) {}
    MemoryStream* unpack(Stream* source, int32_t unpackedSize) override {
        if (unpackedSize > (1 << 20)) return nullptr;
        return nonFatalDepackerFor(method_)->unpack(source, unpackedSize);
    }

  private:
    uint32_t method_;
};

Depacker* cappedDepackerFor(uint32_t method) {
    static CappedDepacker method1(1), method2(2);
    if (method == 1) return &method1;
    if (method == 2) return &method2;
    return nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = (logSetFile("/dev/null"), true);
    (void)quiet;
    if (size > (1u << 24)) return 0;
    ArchiveSet set;
    set.depackers = cappedDepackerFor;
    auto* stream = new MemoryStream;
    if (!stream->reserve(int32_t(size))) {
        delete stream;
        return 0;
    }
    if (size) memcpy(stream->data(), data, size);
    if (!set.addArchive(stream, true)) return 0;
    set.resolvePatches();
    uint8_t buffer[4096];
    for (const FileRecord* file : set.files()) {
        std::unique_ptr<Stream> member(set.openMember(*file));
        if (!member) continue;
        while (member->read(buffer, sizeof buffer) > 0) {
        }
    }
    return 0;
}
