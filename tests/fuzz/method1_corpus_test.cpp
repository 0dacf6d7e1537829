// Replays the method-1 fuzz corpus through the fuzz target in the ordinary build. Seeds whose
// names contain "wrong-level" must fail with the wrong-magic text, other "method1-" seeds are
// valid streams; files added by fuzzing runs (other names) only have to end cleanly.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

const char* decodeMethod1FuzzInput(const uint8_t* data, size_t size);

TEST(Method1FuzzCorpus, seedsDecodeAndBrokenSeedsFailCleanly) {
    std::filesystem::path folder =
        std::filesystem::path(LUX_SOURCE_DIR) / "tests/fuzz/corpus/method1";
    int seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
        const char* error = decodeMethod1FuzzInput(bytes.data(), bytes.size());
        std::string text = error ? error : "(none)";
        if (name.find("wrong-level") != std::string::npos) {
            EXPECT_EQ(text, "Data error (wrong magic number)") << name;
        } else if (name.rfind("method1-", 0) == 0) {
            EXPECT_EQ(text, "(none)") << name;
        }
        seeds += name.rfind("method1-", 0) == 0;
    }
    EXPECT_GE(seeds, 5);
}
