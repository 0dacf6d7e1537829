// Replays the method-2 fuzz corpus through the fuzz target as an ordinary test.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

TEST(FuzzCorpusMethod2, everyInputRunsCleanly) {
    // Every file, the named seeds and what fuzzing runs added (hash names).
    int seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(LUX_FUZZ_CORPUS)) {
        std::ifstream file(entry.path(), std::ios::binary);
        std::vector<uint8_t> input((std::istreambuf_iterator<char>(file)), {});
        EXPECT_EQ(LLVMFuzzerTestOneInput(input.data(), input.size()), 0) << entry.path();
        seeds += entry.path().filename().string().rfind("method2", 0) == 0;
    }
    EXPECT_GE(seeds, 5);
}
