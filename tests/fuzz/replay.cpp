// Replays a fuzz target's corpus as an ordinary test: every file goes through the target once.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// The suite is named by the program that replays (one per target).
#ifndef LUX_FUZZ_SUITE
#define LUX_FUZZ_SUITE ArchiveFuzzCorpus
#endif

TEST(LUX_FUZZ_SUITE, everyInputRunsThroughTheTarget) {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(LUX_FUZZ_CORPUS)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().string());
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
        ++count;
    }
    EXPECT_GT(count, 0u) << "empty corpus " << LUX_FUZZ_CORPUS;
}
