// Every single-byte corruption of a small archive, object scene and flat scene: each offset
// set to 0x00 and 0xff and with its lowest and highest bit flipped. Every variant must be
// either accepted or refused with a reason (a log line for archives, an error text for
// scenes), and an accepted archive's members must read back to at most their stated size or
// fail with a logged depacker error. The sanitizer build runs this too, where an overrun or a
// leak on any variant fails it.
#include "data/archive.h"
#include "data/stream.h"
#include "platform/log.h"
#include "scene/object.h"
#include "scene/scene.h"
#include "scene/scenefile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

std::vector<uint8_t> readCorpusFile(const char* name) {
    std::ifstream in(std::string(LUX_SOURCE_DIR "/tests/fuzz/corpus/") + name, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

// Calls check(bytes, offset) for every corrupted copy; returns how many there were.
template <typename Check>
int32_t forEachCorruption(const std::vector<uint8_t>& original, Check check) {
    int32_t variants = 0;
    std::vector<uint8_t> bytes = original;
    for (size_t offset = 0; offset < original.size(); ++offset) {
        const uint8_t was = original[offset];
        const uint8_t values[] = {0x00, 0xff, uint8_t(was ^ 0x01), uint8_t(was ^ 0x80)};
        for (uint8_t value : values) {
            if (value == was) continue;
            bytes[offset] = value;
            check(bytes, offset);
            ++variants;
        }
        bytes[offset] = was;
    }
    return variants;
}

std::string logPath() {
    return (std::filesystem::temp_directory_path() /
            ("lux_corruption_" + std::to_string(::getpid()) + ".txt"))
        .string();
}

std::string readLog(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

struct ArchiveOutcome {
    bool accepted = false;
    int32_t membersRead = 0;
    int32_t membersRefused = 0;
};

// Reads one archive image the way the archive tool does; failures must leave a log line.
ArchiveOutcome readArchiveImage(const std::vector<uint8_t>& bytes, const std::string& log,
                                size_t offset) {
    ArchiveOutcome outcome;
    logSetFile(log.c_str());
    ArchiveSet set;
    set.depackers = nonFatalDepackerFor;
    auto* stream = new MemoryStream;
    stream->attachReadOnly(bytes.data(), int32_t(bytes.size()));
    if (!set.addArchive(stream, true)) {
        EXPECT_NE(readLog(log).find("NCCF: "), std::string::npos)
            << "refused without a reason, offset " << offset;
        return outcome;
    }
    outcome.accepted = true;
    set.resolvePatches();
    uint8_t buffer[4096];
    for (const FileRecord* file : set.files()) {
        logSetFile(log.c_str());
        std::unique_ptr<Stream> member(set.openMember(*file));
        if (!member) {
            const std::string text = readLog(log);
            EXPECT_TRUE(text.find("NZIP: depacker error") != std::string::npos ||
                        text.find("NCCF: error") != std::string::npos)
                << "member refused without a reason, offset " << offset << ": " << text;
            ++outcome.membersRefused;
            continue;
        }
        int64_t total = 0;
        for (int32_t got; (got = member->read(buffer, sizeof buffer)) > 0;)
            total += got;
        EXPECT_LE(total, int64_t(file->unpackedSize)) << "offset " << offset;
        ++outcome.membersRead;
    }
    return outcome;
}

} // namespace

TEST(SingleByteCorruption, everyCorruptedArchiveIsReadOrRefusedWithAReason) {
    const std::string log = logPath();
    for (const char* name : {"archive/method1.ncc", "archive/method2.ncc"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> original = readCorpusFile(name);
        ASSERT_GT(original.size(), size_t(kArchiveFixedHeaderSize));
        ASSERT_TRUE(readArchiveImage(original, log, 0).accepted);
        int32_t refused = 0, membersRefused = 0;
        const int32_t variants =
            forEachCorruption(original, [&](const std::vector<uint8_t>& bytes, size_t offset) {
                ArchiveOutcome outcome = readArchiveImage(bytes, log, offset);
                refused += !outcome.accepted;
                membersRefused += outcome.membersRefused;
            });
        EXPECT_GE(variants, int32_t(original.size()) * 3);
        // The signature alone is 30 bytes whose corruption must be refused.
        EXPECT_GE(refused, kArchiveSignatureSize * 3);
        EXPECT_GT(membersRefused, 0) << "no corruption of the packed data was caught";
    }
    logSetFile("/dev/null");
    std::filesystem::remove(log);
}

TEST(SingleByteCorruption, everyCorruptedSceneFileIsReadOrRefusedWithAReason) {
    logSetFile("/dev/null");
    initClassRegistry();
    registerSceneClasses();
    const std::vector<uint8_t> object = readCorpusFile("object_scene/full.gled");
    ASSERT_FALSE(object.empty());
    int32_t refused = 0;
    forEachCorruption(object, [&](const std::vector<uint8_t>& bytes, size_t offset) {
        MemoryStream stream;
        stream.attachReadOnly(bytes.data(), int32_t(bytes.size()));
        std::string error;
        gledScene* scene = readObjectScene(&stream, &error);
        if (!scene) {
            EXPECT_FALSE(error.empty())
                << "object scene refused without a reason, offset " << offset;
            ++refused;
        }
        delete scene;
    });
    EXPECT_GT(refused, 0);

    const std::vector<uint8_t> flat = readCorpusFile("flat_scene/small.scene");
    ASSERT_FALSE(flat.empty());
    refused = 0;
    forEachCorruption(flat, [&](const std::vector<uint8_t>& bytes, size_t offset) {
        MemoryStream stream;
        stream.attachReadOnly(bytes.data(), int32_t(bytes.size()));
        std::string error;
        FlatScene* scene = readFlatScene(&stream, &error);
        if (!scene) {
            EXPECT_FALSE(error.empty()) << "flat scene refused without a reason, offset " << offset;
            ++refused;
        }
        freeFlatScene(scene);
    });
    EXPECT_GT(refused, 0);
    closeClassRegistry();
}
