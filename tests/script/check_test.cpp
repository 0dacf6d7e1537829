#include "shell/check.h"

#include "effects/effect.h"
#include "platform/config.h"
#include "platform/music/music.h"
#include "script_test_support.h"
#include "tests/effects/builtin_classes.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The configuration keys the check needs: the tune and the preferred resolution.
void applyKey(const char* key, const char* value) {
    std::string k = key;
    if (k == "tune") {
        copyName(configValues.tune, value);
        for (char* c = configValues.tune; *c; ++c)
            *c = char(tolower(*c));
    }
    if (k == "prefxres") configValues.prefxres = parseIntValue(value);
    if (k == "prefyres") configValues.prefyres = parseIntValue(value);
}

// Runs the check in a production folder made of the given script and the test tune.
struct Production {
    explicit Production(const std::string& name, const std::string& script) {
        folder = fs::current_path() / name;
        fs::create_directories(folder);
        writeTextFile((folder / "script").string(), script);
        fs::copy_file(fs::path(LUX_TEST_DATA) / "dali.xm", folder / "dali.xm",
                      fs::copy_options::overwrite_existing);
        writeTextFile((folder / "bad.xm").string(), "not a module");
        writeTextFile((folder / "empty.xm").string(), "");
        home = fs::current_path();
        fs::current_path(folder);
    }
    ~Production() { fs::current_path(home); }
    fs::path folder, home;
};

std::string checkOutput() {
    testing::internal::CaptureStdout();
    EXPECT_EQ(runCheck(applyKey), 0);
    return testing::internal::GetCapturedStdout();
}

// Times as the check prints them, from the music player's own conversions of dali.xm.
std::string timeText(uint32_t time) {
    uint32_t position = tmxTimeToPosition(time);
    char text[64];
    snprintf(text, sizeof text, "%.3fs %u/%u/%u", time / 65536.0, position >> 16,
             (position >> 8) & 255, position & 255);
    return text;
}

void loadReferenceTune() {
    std::ifstream in(std::string(LUX_TEST_DATA) + "/dali.xm", std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(tmxLoadMem(bytes.data(), uint32_t(bytes.size()), kTuneXm), 0);
}

const char kScript[] = "; test production\n"
                       "set tune to \"Dali.XM\"\n"
                       "set prefxres to 320\n"
                       "set prefyres to 200\n"
                       "rendertarget half 0.5 0.5\n"
                       "viewport left 0 0 160x 1 target half\n"
                       "effect sky is clear\n"
                       "effect veil is fade\n"
                       "bind sky to veil\n"
                       "macro beat\n"
                       "  runs for 1 orders\n"
                       "  fade veil.fade from 1 to 0 curve 20 for 8 rows\n"
                       "endmacro\n"
                       "demo runs until order 4\n"
                       "  first set sky.color to 0x102030\n"
                       "  at second 1.5 start sky vp left z 2 for 2 seconds\n"
                       "  and set veil.color to \"white light\"\n"
                       "  at order 1 row 8 start veil\n"
                       "  and play beat times 2\n"
                       "  at order 3 die \"the end\"\n"
                       "enddemo\n";

TEST(Check, printsTheTimelineInItsSortedOrder) {
    OwnFolder folder;
    std::string output;
    {
        Production production("prod", kScript);
        output = checkOutput();
    }
    loadReferenceTune();
    uint32_t order1row8 = uint32_t(tmxPositionToTime(1, 8, 0));
    uint32_t order2row8 = uint32_t(tmxPositionToTime(2, 8, 0));
    std::string expected =
        "script: 3 globals, 3 effects, 2 targets, 2 viewports, 1 macros, 1 bindings, "
        "3 events, 2 fades, 2 actions\n"
        "demo end " +
        timeText(uint32_t(tmxPositionToTime(4, 0, 0))) +
        "\n"
        "set tune \"Dali.XM\"\n"
        "set prefxres \"320\"\n"
        "set prefyres \"200\"\n"
        "target primary 320.000 200.000\n"
        "target half 0.500 0.500\n"
        "viewport screen 0.000 0.000 1.000 1.000 target primary\n"
        "viewport left 0.000 0.000 0.500 1.000 target half\n"
        "effect tmx is tmxcontrol\n"
        "effect sky is clear\n"
        "effect veil is fade\n"
        "bind sky to veil\n"
        "macro beat\n"
        "event first sky.color \"0x102030\"\n"
        "event " +
        timeText(98304) +
        " veil.color \"white light\"\n"
        "event " +
        timeText(uint32_t(tmxPositionToTime(3, 0, 0))) +
        " die \"the end\"\n"
        "fade " +
        timeText(order1row8) + " until " + timeText(uint32_t(tmxPositionToTime(1, 16, 0))) +
        " veil.fade from 1.000 to 0.000 exponent 2.000\n"
        "fade " +
        timeText(order2row8) + " until " + timeText(uint32_t(tmxPositionToTime(2, 16, 0))) +
        " veil.fade from 1.000 to 0.000 exponent 2.000\n"
        // Equal z (it carries over from the first start): script order.
        "action " +
        timeText(98304) + " until " + timeText(98304 + 131072) +
        " sky z 2 vp left\n"
        "action " +
        timeText(order1row8) + " until " + timeText(uint32_t(tmxPositionToTime(4, 0, 0))) +
        " veil z 2 vp screen\n";
    EXPECT_EQ(output, expected);
}

TEST(Check, defaultProductionChecksClean) {
    fs::path home = fs::current_path();
    fs::current_path(fs::path(LUX_SOURCE_DIR) / "demo");
    testing::internal::CaptureStdout();
    int status = runCheck(applyKey);
    std::string output = testing::internal::GetCapturedStdout();
    fs::current_path(home);
    EXPECT_EQ(status, 0);
    EXPECT_NE(output.find("set tune \"march.it\"\n"), std::string::npos) << output;
    EXPECT_NE(output.find("effect flash is fade\n"), std::string::npos) << output;
    EXPECT_NE(output.find("event first veil.fade \"0\"\n"), std::string::npos) << output;
}

// The largest preferred resolution is the screen size of the check as it is: the nearest
// float of 2^31 - 1 is 2^31, and the integer never goes through a float on its way.
TEST(Check, largestPreferredResolutionStaysAnInteger) {
    OwnFolder folder;
    std::string output;
    {
        Production production("huge", "set tune to dali.xm\nset prefxres to 2147483647\n"
                                      "set prefyres to 2147483647\neffect a is clear\n"
                                      "demo at second 0 start a enddemo\n");
        output = checkOutput();
    }
    EXPECT_EQ(configValues.xres, 2147483647);
    EXPECT_EQ(configValues.yres, 2147483647);
    EXPECT_NE(output.find("target primary 2147483648.000 2147483648.000\n"), std::string::npos)
        << output;
    configValues.xres = configValues.yres = 0;
    configValues.prefxres = configValues.prefyres = -1;
}

void checkIn(const char* name, const std::string& script) {
    Production production(name, script);
    runCheck(applyKey);
}

TEST(CheckDeathTest, errorsGoToStandardErrorWithStatusOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    OwnFolder folder;
    EXPECT_EXIT(checkIn("ghost", "set tune to dali.xm\neffect a is clear\ndemo\n"
                                 " at second 0 start ghost\nenddemo\n"),
                testing::ExitedWithCode(1),
                "while parsing script \\(line 4\\) near ' enddemo ':\nin file 'script'\n\n"
                "couldn't find effect 'ghost'");
    EXPECT_EXIT(checkIn("notune", "set tune to nothere.xm\ndemo enddemo\n"),
                testing::ExitedWithCode(1), "tune not found: nothere.xm");
    EXPECT_EXIT(checkIn("badtune", "set tune to bad.xm\ndemo enddemo\n"),
                testing::ExitedWithCode(1),
                "module not readable \\(.+\\)\nwe have some serious problems with our tune "
                "'bad.xm': tmxLoadMem returned 1");
    EXPECT_EXIT(checkIn("emptytune", "set tune to empty.xm\ndemo enddemo\n"),
                testing::ExitedWithCode(1),
                "no tune data\nwe have some serious problems with our tune 'empty.xm': "
                "tmxLoadMem returned 3");
    EXPECT_EXIT(checkIn("empty", "set tune to dali.xm\ndemo enddemo\n"), testing::ExitedWithCode(1),
                "nothing will ever happen");
    // An empty script has no settings, so the tune has no name.
    EXPECT_EXIT(checkIn("noscript", ""), testing::ExitedWithCode(1), "tune not found: \n");
}

} // namespace
