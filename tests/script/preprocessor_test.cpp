#include "script/preprocessor.h"

#include "data/filesystem.h"
#include "data/stream.h"
#include "script_test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string preprocess(const char* fileName, Preprocessor& preprocessor) {
    EXPECT_TRUE(preprocessor.run(fileName));
    Stream* out = preprocessor.output();
    std::string text(size_t(out->size()), '\0');
    out->seek(0);
    if (!text.empty()) out->read(text.data(), int32_t(text.size()));
    return text;
}

std::string preprocessText(const std::string& text) {
    writeTextFile("script", text);
    Preprocessor preprocessor;
    return preprocess("script", preprocessor);
}

std::string errorOf(const std::string& text) {
    writeTextFile("script", text);
    return fatalMessageOf([] {
        Preprocessor preprocessor;
        preprocessor.run("script");
    });
}

class PreprocessorTest : public testing::Test {
  protected:
    void SetUp() override { initFileSystem(); }
    OwnFolder folder;
};

TEST_F(PreprocessorTest, lowerCasesOutsideQuotesOnly) {
    EXPECT_EQ(preprocessText("Set Tune TO \"Dali.XM\"\n"), "set tune to \"Dali.XM\" ");
    EXPECT_EQ(preprocessText("A 'B  C' `D\tE` \xB4"
                             "F\nG\xB4 H"),
              "a 'B  C' `D\tE` \xB4"
              "F\nG\xB4 h");
    EXPECT_EQ(preprocessText("\"X;Y\" Z"), "\"X;Y\" z");
    EXPECT_EQ(preprocessText("\xC4Q"), "\xC4q"); // only A-Z change
}

TEST_F(PreprocessorTest, whiteSpaceAndCommentsFoldIntoOneBlank) {
    EXPECT_EQ(preprocessText("one\n\n\t  ; a comment\r\n\ttwo"), "one two");
    EXPECT_EQ(preprocessText("one;comment"), "one");
    EXPECT_EQ(preprocessText("end "), "end ");
    EXPECT_EQ(preprocessText("end\t"), "end ");
    EXPECT_EQ(preprocessText("end\r"), "end ");
    EXPECT_EQ(preprocessText(""), "");
}

TEST_F(PreprocessorTest, includesSpliceInPlaceAndMayRepeat) {
    writeTextFile("part", "Middle\n");
    EXPECT_EQ(preprocessText("first\n#INCLUDE part\nlast\n#include part\n"),
              "first middle last middle ");
    writeTextFile("empty", "");
    EXPECT_EQ(preprocessText("a #include empty b"), "a b");
}

TEST_F(PreprocessorTest, lineRecordsMapOutputBackToFileAndLine) {
    writeTextFile("inner", "x\n\ny\n");
    Preprocessor preprocessor;
    writeTextFile("script", "alpha\nbeta\n#include inner\ngamma\n");
    std::string text = preprocess("script", preprocessor);
    ASSERT_EQ(text, "alpha beta x y gamma ");
    const SourceLines& lines = preprocessor.sourceLines();
    auto where = [&](const char* word) {
        const char* file = nullptr;
        int32_t line = 0;
        EXPECT_TRUE(lines.locate(int32_t(text.find(word)), &file, &line));
        return std::string(file) + ":" + std::to_string(line);
    };
    EXPECT_EQ(where("alpha"), "script:1");
    EXPECT_EQ(where("beta"), "script:2");
    EXPECT_EQ(where("x"), "inner:1");
    EXPECT_EQ(where("y"), "inner:3");
    EXPECT_EQ(where("gamma"), "script:4");
}

TEST_F(PreprocessorTest, rerunStartsAfresh) {
    Preprocessor preprocessor;
    writeTextFile("script", "One");
    EXPECT_EQ(preprocess("script", preprocessor), "one");
    writeTextFile("script", "Two");
    EXPECT_EQ(preprocess("script", preprocessor), "two");
}

TEST_F(PreprocessorTest, unterminatedStringsAreErrorsAtTheirStart) {
    EXPECT_EQ(errorOf("text\n\""),
              "preprocessor error: Unterminated string at file 'script', line 2");
    EXPECT_EQ(errorOf("a\n'open\n\n"),
              "preprocessor error: Unterminated string at file 'script', line 2");
    EXPECT_EQ(errorOf("\xB4"), "preprocessor error: Unterminated string at file 'script', line 1");
}

TEST_F(PreprocessorTest, directiveErrors) {
    EXPECT_EQ(errorOf("x\n#includes part\n"),
              "preprocessor error: Invalid preprocessor directive at file 'script', line 2");
    EXPECT_EQ(errorOf("#define x\n"),
              "preprocessor error: Invalid preprocessor directive at file 'script', line 1");
    EXPECT_EQ(errorOf("#" + std::string(5000, 'i')),
              "preprocessor error: Invalid preprocessor directive at file 'script', line 1");
    EXPECT_EQ(errorOf("\n#include"),
              "preprocessor error: Unexpected end of file at file 'script', line 2");
    EXPECT_EQ(errorOf("#include \n\t "),
              "preprocessor error: Unexpected end of file at file 'script', line 1");
    EXPECT_EQ(errorOf("#include " + std::string(256, 'f')),
              "preprocessor error: Filename too long at file 'script', line 1");
}

TEST_F(PreprocessorTest, longestFileNameIsLookedUp) {
    std::string name(255, 'f');
    EXPECT_EQ(errorOf("#include " + name + "\n"),
              "Unable to find file '" + name + "'\nincluded at file 'script', line 1\n");
}

TEST_F(PreprocessorTest, missingFilesAreFatal) {
    EXPECT_EQ(fatalMessageOf([] {
                  Preprocessor preprocessor;
                  preprocessor.run("nothere");
              }),
              "Unable to find file 'nothere'\n");
    EXPECT_EQ(errorOf("a\n\n#include missing.txt\n"),
              "Unable to find file 'missing.txt'\nincluded at file 'script', line 3\n");
}

TEST_F(PreprocessorTest, selfIncludeIsFatal) {
    writeTextFile("loop", "x\n#include LOOP\n");
    EXPECT_EQ(errorOf("#include loop\n"),
              "File 'LOOP' includes itself\nincluded at file 'loop', line 2\n");
}

TEST_F(PreprocessorTest, runawayIncludeChainStopsAtTheDepthLimit) {
    writeTextFile("ping", "ping\n#include pong\n");
    writeTextFile("pong", "pong\n#include ping\n");
    // script is frame 1, ping the even frames, pong the odd ones from 3 on.
    EXPECT_EQ(errorOf("#include ping\n"),
              "preprocessor error: Includes nested too deeply at file 'ping', line 2");
}

// The end of a file also ends an include's name: the file must still count as open then.
TEST_F(PreprocessorTest, includeAtTheVeryEndOfAFileIsCheckedLikeAnyOther) {
    EXPECT_EQ(errorOf("#include script"),
              "File 'script' includes itself\nincluded at file 'script', line 1\n");
    writeTextFile("ping", "ping\n#include pong");
    writeTextFile("pong", "pong\n#include ping");
    EXPECT_EQ(errorOf("#include ping"),
              "preprocessor error: Includes nested too deeply at file 'ping', line 2");
    writeTextFile("last", "b\n#include tail");
    writeTextFile("tail", "c");
    EXPECT_EQ(preprocessText("a #include last"), "a b c");
}

TEST_F(PreprocessorTest, includesStayInsideTheProductionFolder) {
    writeTextFile("../outside", "secret");
    EXPECT_EQ(errorOf("#include ../outside\n"),
              "File '../outside' lies outside the production folder\n"
              "included at file 'script', line 1\n");
    EXPECT_EQ(errorOf("x\n#include /etc/hostname\n"),
              "File '/etc/hostname' lies outside the production folder\n"
              "included at file 'script', line 2\n");
}

} // namespace
