// Fuzz target of the archive reader: the bytes are an archive; when it is accepted, every
// member is opened and read through the depackers that report errors instead of ending.
#include "data/archive.h"
#include "platform/log.h"

#include <cstdint>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = (logSetFile("/dev/null"), true);
    (void)quiet;
    if (size > (1u << 24)) return 0;
    ArchiveSet set;
    set.depackers = nonFatalDepackerFor;
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
