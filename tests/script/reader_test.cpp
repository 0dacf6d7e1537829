#include "script/reader.h"

#include "platform/config.h"
#include "script_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct Reader {
    explicit Reader(const std::string& text) {
        reader.load(text.data(), int32_t(text.size()), nullptr);
    }
    ScriptReader reader;
    std::string token(int max = ScriptReader::kIdentLength) {
        char buffer[1024];
        if (!reader.readToken(buffer, max)) return "<end>";
        return buffer;
    }
};

TEST(Reader, tokensAreCutToTheirLimitAndTheRestIsSkipped) {
    std::string word(100, 'w');
    Reader r(word + " next");
    EXPECT_EQ(r.token(), std::string(63, 'w'));
    EXPECT_EQ(r.token(), "next");
    EXPECT_EQ(r.token(), "<end>");

    Reader s("\"" + std::string(300, 's') + "\" after");
    char value[256];
    ASSERT_TRUE(s.reader.readString(value, 255));
    EXPECT_EQ(std::string(value), std::string(255, 's'));
    EXPECT_EQ(s.token(), "after");
}

TEST(Reader, quotesAndComments) {
    Reader r("\"two words\" plain \"plain\" 'a b' x;comment\ny ;whole line\n\"\" z");
    EXPECT_EQ(r.token(), "two words");
    EXPECT_EQ(r.token(), "plain");
    EXPECT_EQ(r.token(), "plain");
    EXPECT_EQ(r.token(), "'a");
    EXPECT_EQ(r.token(), "b'");
    EXPECT_EQ(r.token(), "x");
    EXPECT_EQ(r.token(), "y");
    EXPECT_EQ(r.token(), "");
    EXPECT_EQ(r.token(), "z");
    EXPECT_EQ(r.token(), "<end>");
}

TEST(Reader, floatsWithUnitSuffixes) {
    configValues.prefxres = 640;
    configValues.prefyres = 480;
    Reader r("50% 320x 240y 0x10 -2.5 1e1 x % abc 12");
    float value = 0;
    const float expected[] = {0.5f, 0.5f, 0.5f, 16.0f, -2.5f, 10.0f};
    for (float e : expected) {
        ASSERT_TRUE(r.reader.readFloat(&value, false));
        EXPECT_FLOAT_EQ(value, e);
    }
    for (const char* notNumber : {"x", "%", "abc"}) {
        ReaderPosition before = r.reader.save();
        EXPECT_FALSE(r.reader.readFloat(&value, false)) << notNumber;
        EXPECT_EQ(r.reader.save().position, before.position);
        r.token();
    }
    configValues.prefxres = 0; // not set: 640
    ASSERT_TRUE(r.reader.readFloat(&value, false));
    EXPECT_FLOAT_EQ(value, 12.0f);
    Reader unset("320x");
    ASSERT_TRUE(unset.reader.readFloat(&value, true));
    EXPECT_FLOAT_EQ(value, 0.5f);
}

TEST(Reader, integers) {
    Reader r("-2 1.5 0x1f 0XFF word");
    int32_t value = 0;
    ASSERT_TRUE(r.reader.readInt(&value, true));
    EXPECT_EQ(value, -2);
    ASSERT_TRUE(r.reader.readInt(&value, true));
    EXPECT_EQ(value, 1);
    ASSERT_TRUE(r.reader.readInt(&value, true));
    EXPECT_EQ(value, 31);
    ASSERT_TRUE(r.reader.readInt(&value, true));
    EXPECT_EQ(value, 255);
    EXPECT_FALSE(r.reader.readInt(&value, false));
    EXPECT_EQ(r.token(), "word");
}

TEST(Reader, absentOptionalKeywordConsumesNothing) {
    Reader r("\n\n other");
    ReaderPosition before = r.reader.save();
    EXPECT_FALSE(r.reader.expect("nope", false));
    EXPECT_EQ(r.reader.save().position, before.position);
    EXPECT_EQ(r.reader.save().line, 1);
    float f = 0;
    EXPECT_FALSE(r.reader.readFloat(&f, false));
    EXPECT_EQ(r.reader.save().line, 1);
    EXPECT_TRUE(r.reader.expect("other", false));
    EXPECT_EQ(r.reader.save().line, 3);
}

TEST(Reader, expectIsExactAndCaseSensitive) {
    Reader r("Demo demo");
    EXPECT_FALSE(r.reader.expect("demo", false));
    EXPECT_EQ(r.token(), "Demo");
    EXPECT_TRUE(r.reader.expect("demo", true));
}

TEST(Reader, rewindAndEmptyText) {
    Reader r("one two");
    r.token();
    EXPECT_TRUE(r.reader.rewind());
    EXPECT_EQ(r.token(), "one");
    Reader empty("");
    EXPECT_FALSE(empty.reader.rewind());
}

std::string errorOf(const std::string& text, void (*action)(ScriptReader&)) {
    return fatalMessageOf([&] {
        ScriptReader reader;
        reader.load(text.data(), int32_t(text.size()), nullptr);
        action(reader);
    });
}

TEST(ReaderDeathTest, errorMessagesInTheFrame) {
    auto identifier = [](ScriptReader& r) {
        char b[64];
        r.readIdent(b, true);
    };
    EXPECT_EQ(errorOf("  ", identifier),
              "while parsing script (line 1) near '':\n\nidentifier expected");
    EXPECT_EQ(errorOf("word rest", [](ScriptReader& r) { r.expect("demo", true); }),
              "while parsing script (line 1) near ' rest':\n\n'demo' expected");
    EXPECT_EQ(errorOf("",
                      [](ScriptReader& r) {
                          char b[256];
                          r.readString(b, 255);
                      }),
              "while parsing script (line 1) near '':\n\nstring expected");
    EXPECT_EQ(errorOf("abc",
                      [](ScriptReader& r) {
                          float f;
                          r.readFloat(&f, true);
                      }),
              "while parsing script (line 1) near '':\n\nfloat value expected");
    EXPECT_EQ(errorOf("x1",
                      [](ScriptReader& r) {
                          int32_t i;
                          r.readInt(&i, true);
                      }),
              "while parsing script (line 1) near '':\n\ninteger value expected");
    EXPECT_EQ(errorOf("macro m a b", [](ScriptReader& r) { r.skipUntil("endmacro"); }),
              "while parsing script (line 1) near '':\n\n"
              "End of file encountered while expecting 'endmacro'");
    EXPECT_EQ(errorOf("\"open\nline", identifier), "while parsing script (line 1) near ' line':\n\n"
                                                   "End of line/file within string encountered!");
    EXPECT_EQ(
        errorOf("\"never closed", identifier),
        "while parsing script (line 1) near '':\n\nEnd of line/file within string encountered!");
}

TEST(ReaderDeathTest, nearTextHasNoControlCharactersAndAtMost63Characters) {
    std::string text = "x\t\"a\nb\"\r" + std::string(100, 'q');
    std::string message =
        errorOf(text, [](ScriptReader& r) { r.parseError("%s %d", "custom", 7); });
    std::string expectedNear = "x \"a b\" " + std::string(55, 'q');
    EXPECT_EQ(message, "while parsing script (line 1) near '" + expectedNear + "':\n\ncustom 7");
}

TEST(ReaderDeathTest, lineCountFollowsLineFeedsBetweenTokens) {
    std::string message = errorOf("a\n\nb\nc", [](ScriptReader& r) {
        char b[64];
        r.readIdent(b, true);
        r.readIdent(b, true);
        r.parseError("here");
    });
    EXPECT_EQ(message, "while parsing script (line 3) near ' c':\n\nhere");
}

} // namespace
