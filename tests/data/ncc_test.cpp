// Round trips of real files through the archive tool, its error messages, and archives made
// by it read through the player's file lookup.
#include "data/filesystem.h"

#include "archive_builder.h"
#include "platform/log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

Result ncc(const std::string& arguments) {
    std::string command = std::string(LUX_NCC_PATH) + " " + arguments + " >ncc.out 2>ncc.err";
    int status = std::system(command.c_str());
    Result result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readFile("ncc.out");
    result.err = readFile("ncc.err");
    return result;
}

// Real files of every kind: text, binary music, JPEG (already compressed), an executable
// over 1 MB (several method-1 blocks at level 1), an empty file and a one-byte file.
void makeInputs() {
    enterOwnFolder();
    fs::create_directories("in/text");
    fs::create_directories("in/media/deep");
    fs::copy_file(LUX_SOURCE_DIR "/data/archive.cpp", "in/text/archive.cpp");
    fs::copy_file(LUX_SOURCE_DIR "/tests/data/SOURCES.md", "in/text/SOURCES.md");
    fs::copy_file(LUX_TEST_DATA "/dali.xm", "in/media/dali.xm");
    fs::copy_file(LUX_TEST_DATA "/scratch-lake.jpg", "in/media/deep/scratch-lake.jpg");
    std::string program = readFile(LUX_NCC_PATH);
    ASSERT_GT(program.size(), 1300000u);
    writeFile("in/program.bin", program.substr(0, 1300000));
    writeFile("in/empty", "");
    writeFile("in/one", "!");
}

void expectSameTree(const fs::path& expected, const fs::path& actual) {
    size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(expected)) {
        if (!entry.is_regular_file()) continue;
        fs::path other = actual / fs::relative(entry.path(), expected);
        ASSERT_TRUE(fs::exists(other)) << other;
        EXPECT_TRUE(readFile(entry.path().string()) == readFile(other.string())) << other;
        ++count;
    }
    EXPECT_EQ(count, 7u);
}

// The stored size of every member in the listing of an archive, by name.
std::map<std::string, unsigned long> storedSizes(const std::string& listing) {
    std::map<std::string, unsigned long> sizes;
    std::istringstream in(listing);
    for (std::string line; std::getline(in, line);) {
        unsigned long unpacked = 0, stored = 0;
        char method[16], ratio[16], name[256];
        if (sscanf(line.c_str(), "%lu %lu %15s %15s %255s", &unpacked, &stored, method, ratio,
                   name) == 5)
            sizes[name] = stored;
    }
    return sizes;
}

// By default each member gets the smallest of stored, method 1 and method 2: never larger
// than any forced method, and a JPEG, which neither method shrinks, stays stored.
TEST(NccCreate, autoMethodKeepsTheSmallestOfTheThreePerMember) {
    makeInputs();
    std::map<std::string, unsigned long> forced[3];
    for (int method = 0; method < 3; ++method) {
        std::string name = "m" + std::to_string(method) + ".ncc";
        ASSERT_EQ(
            ncc("create " + name + " --id m --level 1 --method " + std::to_string(method) + " in")
                .status,
            0);
        forced[method] = storedSizes(ncc("list " + name).out);
    }
    Result created = ncc("create auto.ncc --id a --level 1 in");
    ASSERT_EQ(created.status, 0) << created.err;
    EXPECT_EQ(ncc("test auto.ncc").status, 0);
    Result listed = ncc("list auto.ncc");
    std::map<std::string, unsigned long> chosen = storedSizes(listed.out);
    ASSERT_EQ(chosen.size(), 7u) << listed.out;
    for (const auto& [name, size] : chosen)
        EXPECT_EQ(size, std::min({forced[0][name], forced[1][name], forced[2][name]})) << name;
    EXPECT_NE(listed.out.find(" 0  1.000  in/media/deep/scratch-lake.jpg"), std::string::npos)
        << listed.out;
}

class RoundTrip : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(RoundTrip, extractGivesBackEveryFileByteForByte) {
    auto [method, headerMethod] = GetParam();
    makeInputs();
    std::string name = "m" + std::to_string(method) + "h" + std::to_string(headerMethod);
    Result created = ncc("create " + name + ".ncc --id " + name +
                         " --description 'Round trip' "
                         "--method " +
                         std::to_string(method) + " --level 1 --header-method " +
                         std::to_string(headerMethod) + " in");
    ASSERT_EQ(created.status, 0) << created.err;

    Result tested = ncc("test " + name + ".ncc");
    EXPECT_EQ(tested.status, 0) << tested.err;
    EXPECT_EQ(tested.out, name + ".ncc: 7 members ok\n");

    fs::remove_all(name);
    Result extracted = ncc("extract " + name + ".ncc -C " + name);
    ASSERT_EQ(extracted.status, 0) << extracted.err;
    expectSameTree("in", fs::path(name) / "in");

    Result listed = ncc("list " + name + ".ncc");
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("id: " + name + "\n"), std::string::npos);
    EXPECT_NE(listed.out.find("description: Round trip\n"), std::string::npos);
    EXPECT_NE(listed.out.find("         0          0      0      -  in/empty\n"), std::string::npos)
        << listed.out; // an empty member is always stored
    EXPECT_NE(listed.out.find(" " + std::to_string(method) + " "), std::string::npos);
    EXPECT_NE(listed.out.find("  in/media/dali.xm\n"), std::string::npos);

    Result one = ncc("cat " + name + ".ncc IN/ONE");
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(one.out, "!");
}

INSTANTIATE_TEST_SUITE_P(AllMethods, RoundTrip,
                         ::testing::Combine(::testing::Values(0, 1, 2), ::testing::Values(0, 1)));

TEST(Ncc, levelNineMethodOneRoundTripsTheLargeFile) {
    makeInputs();
    ASSERT_EQ(ncc("create big.ncc --id big --method 1 --level 9 in/program.bin").status, 0);
    Result big = ncc("cat big.ncc in/program.bin");
    EXPECT_EQ(big.status, 0) << big.err;
    EXPECT_TRUE(big.out == readFile("in/program.bin"));
}

TEST(Ncc, errorsAreOneLineAndExitNonZero) {
    makeInputs();
    auto expectOneLine = [](const Result& result, const std::string& text) {
        EXPECT_NE(result.status, 0);
        EXPECT_EQ(result.err, "ncc: " + text + "\n");
        EXPECT_EQ(result.out, "");
    };
    expectOneLine(ncc("list missing.ncc"), "missing.ncc: cannot open file");
    writeFile("bad.ncc", std::string(100, 'x'));
    expectOneLine(ncc("test bad.ncc"), "bad.ncc: archive has no valid signature");
    ASSERT_EQ(ncc("create ok.ncc --id ok --method 0 --header-method 0 in/one").status, 0);
    expectOneLine(ncc("cat ok.ncc two"), "ok.ncc: no member named 'two'");
    expectOneLine(ncc("extract ok.ncc in/two"), "ok.ncc: no member named 'in/two'");
    expectOneLine(ncc("create x.ncc --id x in/none"), "in/none: no such file or folder");
    std::string truncated = readFile("ok.ncc");
    writeFile("short.ncc", truncated + "tail");
    expectOneLine(ncc("test short.ncc"),
                  "short.ncc: warning: archive 'ok' has different total size (" +
                      std::to_string(truncated.size() + 4) + ") than expected (" +
                      std::to_string(truncated.size()) + ")");
    EXPECT_NE(ncc("create y.ncc --id y --method 3 in").status, 0);
    EXPECT_NE(ncc("frobnicate").status, 0);
    EXPECT_FALSE(fs::exists("luxdebug.txt")); // the tool leaves no log behind
}

TEST(Ncc, extractRefusesNamesThatLeaveTheFolder) {
    enterOwnFolder();
    TestArchive archive;
    archive.members = {{"../escape.txt", "x"}};
    writeFile("escape.ncc", archive.bytes());
    Result result = ncc("extract escape.ncc -C safe");
    EXPECT_NE(result.status, 0);
    EXPECT_EQ(result.err, "ncc: ../escape.txt: unsafe member name\n");
    EXPECT_FALSE(fs::exists("escape.txt"));
}

TEST(Ncc, patchArchiveReplacesFilesForThePlayer) {
    enterOwnFolder();
    fs::create_directories("patch/base/gfx");
    fs::create_directories("patch/new/gfx");
    writeFile("patch/base/gfx/logo.txt", "old logo");
    writeFile("patch/base/gfx/font.txt", "font");
    writeFile("patch/new/gfx/logo.txt", "new logo");
    fs::create_directories("play");
    const std::string m = " --method 1 --header-method 1";
    fs::current_path("patch/base");
    ASSERT_EQ(ncc("create ../../play/a.ncc --id Base --description 'The base'" + m + " gfx").status,
              0);
    fs::current_path("../new");
    ASSERT_EQ(
        ncc("create ../../play/b.ncc --id Fix --patches BASE --description 'The fix'" + m + " gfx")
            .status,
        0);
    fs::current_path("../../play");
    logSetFile("log.txt");
    initFileSystem();
    Stream* logo = openFile("gfx\\logo.txt");
    Stream* font = openFile("font.txt");
    ASSERT_NE(logo, nullptr);
    ASSERT_NE(font, nullptr);
    std::string text(size_t(logo->size()), '\0');
    logo->read(text.data(), logo->size());
    EXPECT_EQ(text, "new logo");
    EXPECT_EQ(font->size(), 4);
    closeFile(logo);
    closeFile(font);
    EXPECT_STREQ(preferredArchiveDescription(), "The fix");
    closeFileSystem();
    EXPECT_NE(readFile("log.txt").find("NCCF: archive 'Fix' is a patch for archive 'Base'\n"),
              std::string::npos);
}

} // namespace
