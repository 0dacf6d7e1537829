// Systematic corruption of real archives made by the archive tool: truncations, bit flips,
// wrong sizes and huge counts. Every case must end in a clean accept or reject (the sanitizer
// build checks for overruns); members that open must hold exactly their stated size, and a
// method-1 member whose data was damaged either fails its checks or unpacks unchanged.
#include "data/archive.h"

#include "archive_builder.h"
#include "platform/log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    bool accepted = false;
    std::vector<std::string> members; // "<failed>" for a member that did not open
};

std::string copyOf(Stream* stream) {
    std::string bytes(size_t(std::max(0, stream->size())), '\0');
    int32_t got = bytes.empty() ? 0 : stream->read(bytes.data(), int32_t(bytes.size()));
    bytes.resize(size_t(std::max(0, got)));
    return bytes;
}

Outcome readArchive(const std::string& bytes) {
    Outcome outcome;
    ArchiveSet set;
    set.depackers = nonFatalDepackerFor;
    auto* stream = new MemoryStream;
    if (!stream->reserve(int32_t(bytes.size()))) return outcome;
    memcpy(stream->data(), bytes.data(), bytes.size());
    outcome.accepted = set.addArchive(stream, true) == 1;
    if (!outcome.accepted) return outcome;
    for (const FileRecord* file : set.files()) {
        std::unique_ptr<Stream> member(set.openMember(*file));
        if (!member) {
            outcome.members.push_back("<failed>");
            continue;
        }
        std::string data = copyOf(member.get());
        if (file->method != 0) {
            EXPECT_EQ(data.size(), file->unpackedSize) << file->name;
        } else {
            EXPECT_LE(data.size(), file->storedSize) << file->name;
        }
        outcome.members.push_back(data);
    }
    return outcome;
}

struct Sample {
    std::string name;
    int method = 0;
    std::string bytes;
    Outcome original;
    size_t dataStart = 0; // the data area's offset
};

// Small real inputs keep the sweep fast under the sanitizer build.
std::vector<Sample>& samples() {
    static std::vector<Sample> all;
    if (!all.empty()) return all;
    enterOwnFolder();
    fs::create_directories("in/sub");
    writeFile("in/text.cpp", readFile(LUX_SOURCE_DIR "/data/archive.cpp").substr(0, 3000));
    writeFile("in/sub/music.xm", readFile(LUX_TEST_DATA "/dali.xm").substr(0, 6000));
    writeFile("in/sub/photo.jpg", readFile(LUX_TEST_DATA "/scratch-lake.jpg").substr(0, 4000));
    writeFile("in/empty", "");
    writeFile("in/one", "1");
    for (int method = 0; method <= 2; ++method) {
        for (int header = 0; header <= 1; ++header) {
            Sample sample;
            sample.name = "m" + std::to_string(method) + "h" + std::to_string(header) + ".ncc";
            sample.method = method;
            std::string command = std::string(LUX_NCC_PATH) + " create " + sample.name +
                                  " --id sample --description 'corruption sample' --method " +
                                  std::to_string(method) + " --header-method " +
                                  std::to_string(header) + " in";
            EXPECT_EQ(std::system(command.c_str()), 0) << command;
            sample.bytes = readFile(sample.name);
            uint32_t packedHeader = 0;
            memcpy(&packedHeader, sample.bytes.data() + 37, 4);
            sample.dataStart = 47 + packedHeader;
            all.push_back(sample);
        }
    }
    return all;
}

class Corruption : public ::testing::Test {
  protected:
    void SetUp() override {
        logSetFile("/dev/null");
        for (Sample& sample : samples()) {
            sample.original = readArchive(sample.bytes);
            ASSERT_TRUE(sample.original.accepted) << sample.name;
            for (const std::string& member : sample.original.members)
                ASSERT_NE(member, "<failed>") << sample.name;
        }
    }
};

TEST_F(Corruption, truncationsAreRejectedOrCutCleanly) {
    for (const Sample& sample : samples()) {
        int accepted = 0;
        const size_t size = sample.bytes.size();
        for (size_t length = 0; length < size; length += length < sample.dataStart + 64 ? 1 : 97) {
            Outcome outcome = readArchive(sample.bytes.substr(0, length));
            accepted += outcome.accepted;
        }
        // cut inside the data area: the directory is whole, so the archive is still read
        EXPECT_GT(accepted, 0) << sample.name;
        EXPECT_FALSE(readArchive(sample.bytes.substr(0, sample.dataStart - 1)).accepted)
            << sample.name;
    }
}

TEST_F(Corruption, bitFlipsNeverGoUnnoticedInMethodOneData) {
    for (const Sample& sample : samples()) {
        const size_t size = sample.bytes.size();
        int rejected = 0;
        for (size_t at = 0; at < size; at += at < sample.dataStart + 32 ? 1 : 13) {
            for (int bit = 0; bit < 8; bit += at < sample.dataStart ? 1 : 3) {
                std::string bytes = sample.bytes;
                bytes[at] = char(bytes[at] ^ (1 << bit));
                Outcome outcome = readArchive(bytes);
                rejected += !outcome.accepted;
                if (sample.method != 1 || at < sample.dataStart || !outcome.accepted) continue;
                ASSERT_EQ(outcome.members.size(), sample.original.members.size());
                for (size_t i = 0; i < outcome.members.size(); ++i) {
                    if (outcome.members[i] == "<failed>") continue;
                    EXPECT_TRUE(outcome.members[i] == sample.original.members[i])
                        << sample.name << " byte " << at << " bit " << bit;
                }
            }
        }
        EXPECT_GT(rejected, 0) << sample.name;
    }
}

// The 32-bit fields of the fixed header and of every directory entry, set to sizes and
// counts that are off by one, zero, or huge.
TEST_F(Corruption, wrongSizesAndHugeCountsAreHandled) {
    const uint32_t values[] = {0,       1,          2,          15,         16,        0x7fff,
                               0x10000, 0x7fffffff, 0x80000000, 0xfffffff0, 0xffffffff};
    for (const Sample& sample : samples()) {
        std::vector<size_t> fields = {33, 37, 41};
        // fields of a stored header block: the three string lengths, the count, the entries
        uint32_t headerMethod = 0;
        memcpy(&headerMethod, sample.bytes.data() + 33, 4);
        if (headerMethod == 0) {
            for (size_t at = 47; at < 63; at += 4)
                fields.push_back(at);
            size_t at = 47 + 16 + 7 + 1 + 18; // the strings "sample", "", "corruption sample"
            while (at + 16 <= sample.dataStart) {
                uint32_t nameLength = 0;
                memcpy(&nameLength, sample.bytes.data() + at, 4);
                for (size_t field = 0; field < 16; field += 4)
                    fields.push_back(at + field);
                at += 16 + nameLength;
            }
            EXPECT_GE(fields.size(), 3u + 4u + 5u * 4u) << sample.name;
        }
        for (size_t field : fields) {
            for (uint32_t value : values) {
                std::string bytes = sample.bytes;
                for (int i = 0; i < 4; ++i)
                    bytes[field + size_t(i)] = char(value >> (8 * i));
                readArchive(bytes);
            }
            uint32_t old = 0;
            memcpy(&old, sample.bytes.data() + field, 4);
            for (uint32_t value : {old - 1, old + 1}) {
                std::string bytes = sample.bytes;
                for (int i = 0; i < 4; ++i)
                    bytes[field + size_t(i)] = char(value >> (8 * i));
                readArchive(bytes);
            }
        }
    }
}

} // namespace
