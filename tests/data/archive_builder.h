// Builds archive bytes in memory for the tests: every field can be set, so that both valid
// archives and archives with chosen faults are easy to write.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

struct TestMember {
    std::string name;
    std::string data;                   // stored bytes
    uint32_t unpackedSize = 0xffffffff; // default: the stored size
    uint32_t method = 0;
};

struct TestArchive {
    std::string id = "demo";
    std::string patchTarget;
    std::string description = "A demo";
    uint16_t version = 1;
    uint32_t headerMethod = 0;
    std::vector<TestMember> members;
    std::string trailing; // bytes after the data area

    std::string headerBlock() const {
        std::string block;
        putU32(block, uint32_t(id.size() + 1));
        putU32(block, uint32_t(patchTarget.size() + 1));
        putU32(block, uint32_t(description.size() + 1));
        putU32(block, uint32_t(members.size()));
        block += id + '\0' + patchTarget + '\0' + description + '\0';
        for (const TestMember& m : members) {
            putU32(block, uint32_t(m.name.size() + 1));
            putU32(block, uint32_t(m.data.size()));
            putU32(block, m.unpackedSize == 0xffffffff ? uint32_t(m.data.size()) : m.unpackedSize);
            putU32(block, m.method);
            block += m.name + '\0';
        }
        return block;
    }

    // packedHeader replaces the header block (for packed headers); the sizes default to it.
    std::string bytes(const std::string* packedHeader = nullptr, int64_t unpackedSize = -1) const {
        std::string block = headerBlock();
        const std::string& stored = packedHeader ? *packedHeader : block;
        std::string out("Nord-Kessel Compacted Content\x1a", 30);
        out += char(0x5a); // offset 30: not examined
        out += char(version & 0xff);
        out += char(version >> 8);
        putU32(out, headerMethod);
        putU32(out, uint32_t(stored.size()));
        putU32(out, uint32_t(unpackedSize >= 0 ? unpackedSize : int64_t(block.size())));
        out += "\x7f\x80"; // offsets 45 and 46: not examined
        out += stored;
        for (const TestMember& m : members)
            out += m.data;
        return out + trailing;
    }

    static void putU32(std::string& out, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            out += char((value >> (8 * i)) & 0xff);
    }
};

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// ctest runs the cases of one program side by side in the same working folder: a case that
// writes files works in a folder of its own, named after it (made empty first).
inline void enterOwnFolder() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name)
        if (c == '/') c = '_';
    static const std::filesystem::path start = std::filesystem::current_path();
    std::filesystem::path own = start / name;
    std::filesystem::remove_all(own);
    std::filesystem::create_directories(own);
    std::filesystem::current_path(own);
}
