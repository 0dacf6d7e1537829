// The main of every test program: each test case runs in a folder of its own under the
// program's working folder, since ctest runs the cases of one program side by side and
// they write files (logs, WAVs, archives) under fixed names.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

void enterFolder(std::string name) {
    for (char& c : name)
        if (c == '/' || c == '*' || c == ':') c = '_';
    std::filesystem::create_directories(name);
    std::filesystem::current_path(name);
}

class FolderPerTest : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo& info) override {
        std::filesystem::current_path(original);
        enterFolder(std::string(info.test_suite_name()) + "." + info.name());
    }

  public:
    std::string original = std::filesystem::current_path().string();
};

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // A death test's child process gets no test events; it runs the one test its filter
    // names, and must write where its parent will look.
    if (!GTEST_FLAG_GET(internal_run_death_test).empty()) enterFolder(GTEST_FLAG_GET(filter));
    testing::UnitTest::GetInstance()->listeners().Append(new FolderPerTest);
    return RUN_ALL_TESTS();
}
