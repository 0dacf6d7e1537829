// Helpers of the script tests: files in the test's working folder and the text of a fatal
// error, read back from the log of a child process that ran into it.
#pragma once

#include "platform/log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>

inline std::string readTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeTextFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Moves the running test into a folder of its own, named after the test, for the object's
// lifetime: ctest runs the cases of one program side by side in one working folder, and the
// tests write files with the same names ("script", includes).
struct OwnFolder {
    OwnFolder() : home(std::filesystem::current_path()) {
        const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
        std::filesystem::path folder =
            home / (std::string(info->test_suite_name()) + "." + info->name());
        std::filesystem::create_directories(folder);
        std::filesystem::current_path(folder);
    }
    ~OwnFolder() { std::filesystem::current_path(home); }
    OwnFolder(const OwnFolder&) = delete;
    OwnFolder& operator=(const OwnFolder&) = delete;
    std::filesystem::path home;
};

// Runs body in a death-test child that must leave through fatal with status 1, and returns
// the message that fatal logged ("" when the log holds none).
inline std::string fatalMessageOf(const std::function<void()>& body) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Named by test and call, so that the child (which runs only this test) and the parent
    // agree on the file.
    static std::map<std::string, int> calls;
    std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
    std::string log = "fatal-" + test + "-" + std::to_string(calls[test]++) + ".txt";
    EXPECT_EXIT(
        {
            logSetFile(log.c_str());
            body();
        },
        testing::ExitedWithCode(1), "");
    std::string text = readTextFile(log);
    const std::string mark = "we don't free anything)\n";
    size_t start = text.find(mark);
    if (start == std::string::npos) return "";
    std::string message = text.substr(start + mark.size());
    if (!message.empty() && message.back() == '\n') message.pop_back();
    return message;
}
