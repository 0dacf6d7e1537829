#include "script/parser.h"

#include "data/filesystem.h"
#include "data/stream.h"
#include "effects/effect.h"
#include "platform/music/music.h"
#include "script/preprocessor.h"
#include "script_test_support.h"
#include "tests/effects/builtin_classes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint32_t sec(double seconds) {
    return uint32_t(seconds * 65536.0);
}

std::unique_ptr<Script> parsed(const std::string& text, bool dryRun = false) {
    auto script = std::make_unique<Script>(text.data(), int32_t(text.size()), nullptr);
    EXPECT_TRUE(script->parse(dryRun)) << text;
    return script;
}

// The message inside the parse-error frame.
std::string errorOf(const std::string& text, bool dryRun = false) {
    std::string message = fatalMessageOf([&] {
        Script script(text.data(), int32_t(text.size()), nullptr);
        script.parse(dryRun);
    });
    size_t body = message.find(":\n\n");
    return body == std::string::npos ? message : message.substr(body + 3);
}

// Preprocesses the file "script" of the working folder and parses it; returns the whole
// fatal message.
std::string sourceErrorOf() {
    return fatalMessageOf([] {
        Preprocessor preprocessor;
        preprocessor.run("script");
        preprocessor.output()->seek(0);
        Script script(preprocessor.output(), &preprocessor.sourceLines());
        script.parse(false);
    });
}

class ParserTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::ifstream in(std::string(LUX_TEST_DATA) + "/dali.xm", std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        static SoundSettings settings;
        tmxInit(&settings);
        ASSERT_EQ(tmxLoadMem(bytes.data(), uint32_t(bytes.size()), kTuneXm), 0);
        initFileSystem();
    }
    void TearDown() override {
        destroyEffects();
        setScriptMessagePump(nullptr);
    }
    OwnFolder folder;
};

const char* kEffects = "effect a is clear effect b is fade effect c is image effect d is lofi ";

TEST_F(ParserTest, emptyDemoBlockHasNothingToDo) {
    std::string text = std::string(kEffects) + "demo enddemo";
    EXPECT_NE(parsed(text, true), nullptr);
    EXPECT_EQ(errorOf(text), "nothing will ever happen\n");
}

TEST_F(ParserTest, countsLineIncludesTheBuiltIns) {
    logSetFile("counts.txt");
    parsed("demo at second 0 start tmx enddemo");
    parsed("set tune to x.xm demo enddemo", true);
    closeLog();
    EXPECT_EQ(readTextFile("counts.txt"),
              "SCRP: parsed script: 0 globals, 1 effects, 1 targets, 1 viewports, 0 macros, "
              "0 bindings, 0 events, 0 fades, 1 actions\n"
              "SCRP: parsed script: 1 globals, 1 effects, 1 targets, 1 viewports, 0 macros, "
              "0 bindings, 0 events, 0 fades, 0 actions\n");
}

TEST_F(ParserTest, declarationsBuildTheirRecords) {
    auto script = parsed("set tune to \"Dali.xm\" set gamma to 50% "
                         "rendertarget quarter 0.5 0.5 rendertarget big 1024 768 "
                         "viewport v 0.25 0 50% 1 target quarter viewport w 0 0 1 1 "
                         "effect a is clear bind a to b macro m wait endmacro "
                         "demo at second 0 start a vp v enddemo");
    ASSERT_EQ(script->globals().size(), 2u);
    EXPECT_STREQ(script->globals()[0].value, "Dali.xm");
    EXPECT_STREQ(script->globals()[1].value, "50%");
    ASSERT_EQ(script->targets().size(), 3u);
    EXPECT_STREQ(script->targets()[0].name, "primary");
    EXPECT_FLOAT_EQ(script->targets()[2].width, 1024.0f);
    ASSERT_EQ(script->viewports().size(), 3u);
    EXPECT_STREQ(script->viewports()[0].name, "screen");
    EXPECT_FLOAT_EQ(script->viewports()[0].width, 1.0f);
    EXPECT_EQ(script->viewports()[1].target, 1);
    EXPECT_FLOAT_EQ(script->viewports()[1].width, 0.5f);
    EXPECT_EQ(script->viewports()[2].target, 0);
    ASSERT_EQ(script->effects().size(), 2u);
    EXPECT_STREQ(script->effects()[0].instanceName, "tmx");
    EXPECT_STREQ(script->effects()[0].className, "tmxcontrol");
    EXPECT_STREQ(script->effects()[1].className, "clear");
    EXPECT_NE(findEffectInstance("a"), nullptr);
    ASSERT_EQ(script->bindings().size(), 1u);
    EXPECT_STREQ(script->bindings()[0].bound, "a");
    EXPECT_STREQ(script->bindings()[0].target, "b");
    EXPECT_EQ(script->macros().size(), 1u);
    EXPECT_EQ(script->actions()[0].viewport, 1);
}

TEST_F(ParserTest, dryRunKeepsOnlyGlobalsAndCreatesNothing) {
    auto script = parsed("set a to 1 rendertarget t 1 1 viewport v 0 0 1 1 target nowhere "
                         "effect x is nosuchclass macro m endmacro set b to 2 "
                         "demo at second 0 start x enddemo",
                         true);
    EXPECT_EQ(script->globals().size(), 2u);
    EXPECT_EQ(script->targets().size(), 1u);
    EXPECT_EQ(script->effects().size(), 1u);
    EXPECT_EQ(script->actions().size(), 0u);
    EXPECT_EQ(findEffectInstance("x"), nullptr);
    std::vector<std::string> seen;
    static std::vector<std::string>* sink;
    sink = &seen;
    EXPECT_EQ(script->forEachGlobal(
                  [](const char* k, const char* v) { sink->push_back(std::string(k) + "=" + v); }),
              2);
    EXPECT_EQ(seen, (std::vector<std::string>{"a=1", "b=2"}));
}

TEST_F(ParserTest, dryRunNeverAsksTheMusicPlayer) {
    uint64_t before = tmxConversionCount();
    auto script = parsed("set tune to dali.xm demo runs until order 10 "
                         "at order 3 row 4 start tmx for 2 orders at row 8 wait enddemo",
                         true);
    EXPECT_EQ(tmxConversionCount(), before);
    EXPECT_EQ(script->demoEnd(), 0u);
    script->parse(false);
    EXPECT_GT(tmxConversionCount(), before);
    EXPECT_EQ(script->demoEnd(), uint32_t(tmxPositionToTime(10, 0, 0)));
    EXPECT_EQ(script->actions()[0].start, uint32_t(tmxPositionToTime(3, 4, 0)));
    EXPECT_EQ(script->actions()[0].end, uint32_t(tmxPositionToTime(5, 4, 0)));
}

TEST_F(ParserTest, alreadyRunningIsTestedAtTheNewStartOnly) {
    std::string head = std::string(kEffects) + "demo at second 1 start a for 2 seconds ";
    EXPECT_EQ(errorOf(head + "at second 2 start a enddemo"),
              "effect 'a' is already running at that time (second 2.00)");
    EXPECT_EQ(errorOf(head + "and start a enddemo"),
              "effect 'a' is already running at that time (second 1.00)");
    auto script = parsed(head + "at second 3 start a for 1 seconds "
                                "at second 0.5 start a for 5 seconds enddemo");
    EXPECT_EQ(script->actions().size(), 3u);
}

TEST_F(ParserTest, startWithoutEndRunsUntilTheDemoEndKnownThen) {
    auto script = parsed(std::string(kEffects) + "demo at second 1 start a at second 2 stopdemo "
                                                 "at second 3 start b enddemo");
    EXPECT_EQ(script->actions()[0].end, Script::kNever);
    EXPECT_EQ(script->actions()[1].end, sec(2));
    EXPECT_EQ(script->demoEnd(), sec(2));
    auto runs = parsed(std::string(kEffects) + "demo runs for 10 seconds at second 1 start a "
                                               "enddemo");
    EXPECT_EQ(runs->actions()[0].end, sec(10));
    EXPECT_EQ(runs->demoEnd(), sec(10));
}

TEST_F(ParserTest, zStaysUntilChangedAndMacrosUndoTheirs) {
    auto script =
        parsed(std::string(kEffects) +
               "effect e is rain effect f is max macro m start b z 5 for 1 seconds endmacro "
               "demo at second 0 start a z 3 and start c and play m and start d "
               "at second 2 play m z 7 and start e enddemo");
    // Sorted by z, equal z in script order.
    std::vector<std::pair<std::string, int>> order;
    for (const Action& action : script->actions())
        order.emplace_back(script->effects()[size_t(action.effect)].instanceName, action.z);
    EXPECT_EQ(order, (std::vector<std::pair<std::string, int>>{
                         {"a", 3}, {"c", 3}, {"d", 3}, {"b", 5}, {"b", 5}, {"e", 7}}));
}

TEST_F(ParserTest, fadesCarryTheirCurveAndEndTheCommand) {
    auto script = parsed(std::string(kEffects) +
                         "demo at second 1 fade a.x from 0 to 1 for 2 seconds then start a "
                         "at second 4 fade b.alpha from 1 to 50% curve 20 then start b enddemo");
    ASSERT_EQ(script->fades().size(), 2u);
    const Fade& first = script->fades()[0];
    EXPECT_EQ(first.start, sec(1));
    EXPECT_EQ(first.end, sec(3));
    EXPECT_FLOAT_EQ(first.exponent, 1.0f);
    EXPECT_STREQ(first.property, "x");
    const Fade& second = script->fades()[1];
    EXPECT_EQ(second.start, second.end);
    EXPECT_FLOAT_EQ(second.exponent, 2.0f);
    EXPECT_FLOAT_EQ(second.to, 0.5f);
    EXPECT_EQ(script->actions()[0].start, sec(3));
    EXPECT_EQ(script->actions()[1].start, sec(4));
}

TEST_F(ParserTest, eventsSortByTimeWithInitialSettingsFirst) {
    auto script = parsed(std::string(kEffects) +
                         "demo first set a.x to 1 and set a.y to \"two words\" "
                         "at second 2 set a.late to 1 at second 1 set a.early to 1 "
                         "and set b.early to 2 and die \"bye bye\" at second 0 start a enddemo");
    std::vector<std::string> order;
    for (const Event& event : script->events())
        order.push_back(std::to_string(event.time) + " " +
                        (event.effect < 0 ? std::string("die")
                                          : script->effects()[size_t(event.effect)].instanceName) +
                        "." + event.property + "=" + event.value);
    EXPECT_EQ(order, (std::vector<std::string>{"-1 a.x=1", "-1 a.y=two words", "65536 a.early=1",
                                               "65536 b.early=2", "65536 die.=bye bye",
                                               "131072 a.late=1"}));
}

TEST_F(ParserTest, stopEndsTheRunningActionOrWarns) {
    logSetFile("stop.txt");
    auto script = parsed(std::string(kEffects) +
                         "demo at second 1 start a at second 3 stop a "
                         "at second 4 wait for 1 seconds at second 6 stop b then start c "
                         "and die x then start d enddemo");
    closeLog();
    EXPECT_EQ(script->actions()[0].end, sec(3));
    // The failed stop and die leave the result where the wait left it: second 5.
    EXPECT_EQ(script->actions()[1].start, sec(5));
    EXPECT_EQ(script->actions()[2].start, sec(5));
    EXPECT_NE(readTextFile("stop.txt")
                  .find("SCRP: warning - effect 'b' isn't running at that time (second 6.00)\n"),
              std::string::npos);
}

// Of two actions that hold the stop time, the one made first ends; starts are tested
// against every action of the effect, also one that another action's stop shortened.
TEST_F(ParserTest, stopAndAlreadyRunningFindTheActionThatHoldsTheTime) {
    auto script = parsed(std::string(kEffects) +
                         "demo at second 10 start a for 10 seconds "
                         "at second 5 start a for 30 seconds at second 15 stop a "
                         "at second 16 stop a at second 40 start a for 1 seconds enddemo");
    ASSERT_EQ(script->actions().size(), 3u);
    EXPECT_EQ(script->actions()[0].end, sec(15));
    EXPECT_EQ(script->actions()[1].end, sec(16));
    std::string head = std::string(kEffects) + "demo at second 10 start a for 10 seconds "
                                               "at second 5 start a for 30 seconds "
                                               "at second 15 stop a ";
    EXPECT_EQ(errorOf(head + "at second 12 start a enddemo"),
              "effect 'a' is already running at that time (second 12.00)");
    EXPECT_EQ(errorOf(head + "at second 17 start a enddemo"),
              "effect 'a' is already running at that time (second 17.00)");
    EXPECT_EQ(parsed(head + "at second 35 start a enddemo")->actions().size(), 3u);
}

// 200,000 commands on one effect: each start and stop looks at the actions that can hold
// its time only (a scan of all of them took minutes).
TEST_F(ParserTest, manyRepeatedStartsAndStopsParseQuickly) {
    auto script = parsed("effect a is clear\n"
                         "macro s\n start a\n and stop a\nendmacro\n"
                         "demo at second 0 play s times 100000\nenddemo\n");
    ASSERT_EQ(script->actions().size(), 100000u);
    EXPECT_EQ(script->actions().back().start, 0u);
    EXPECT_EQ(script->actions().back().end, 0u);
}

// An event keeps its time in 32 signed bits: a later time is an error, not a wrapped
// "first" setting that would run while loading.
TEST_F(ParserTest, eventTimesPastTheLatestTimeAreErrors) {
    EXPECT_EQ(errorOf("effect a is clear demo at second 0 start a at second 30000 "
                      "wait for 30000 seconds then die \"bye\" enddemo"),
              "time out of range (second 60000.00; times must lie before second 32768)");
    auto script = parsed("effect a is clear demo at second 0 start a at second 30000 "
                         "wait for 2767 seconds then die \"bye\" enddemo");
    ASSERT_EQ(script->events().size(), 1u);
    EXPECT_EQ(script->events()[0].time, int32_t(32767u * 65536u));
}

TEST_F(ParserTest, macrosRepeatAndKeepTheirLength) {
    auto script = parsed(std::string(kEffects) +
                         "macro m runs for 2 seconds start a for 1 seconds endmacro "
                         "macro n start b for 1 seconds and wait for 1.5 seconds endmacro "
                         "demo at second 1 play m times 3 then start c "
                         "at second 10 play n times 2 then start d enddemo");
    std::vector<uint32_t> starts;
    for (const Action& action : script->actions())
        starts.push_back(action.start);
    EXPECT_EQ(starts,
              (std::vector<uint32_t>{sec(1), sec(3), sec(5), sec(7), sec(10), sec(11.5), sec(13)}));
    EXPECT_EQ(errorOf(std::string(kEffects) +
                      "macro m runs for 2 seconds wait for 1 seconds then wait for 3 seconds "
                      "endmacro demo at second 1 play m times 3 enddemo"),
              "macro runs longer (4.00 secs) than it's defined (2.00 secs)");
}

TEST_F(ParserTest, macroBodiesAllowOnlyRelativeEnds) {
    EXPECT_EQ(errorOf(std::string(kEffects) + "macro m start a until second 5 endmacro "
                                              "demo at second 0 play m enddemo"),
              "'endmacro' expected");
    auto script = parsed(std::string(kEffects) + "macro m start a for 2 orders at second 5 "
                                                 "start b endmacro demo at order 1 play m enddemo");
    EXPECT_EQ(script->actions()[0].end, uint32_t(tmxPositionToTime(3, 0, 0)));
    EXPECT_EQ(script->actions()[1].start, sec(5));
}

TEST_F(ParserTest, runawayMacrosAreErrors) {
    EXPECT_EQ(errorOf("macro m play m endmacro demo at second 0 play m enddemo"),
              "macros nested too deeply (more than 64 levels)");
    EXPECT_EQ(errorOf("macro m wait endmacro demo at second 0 play m times 2000000000 enddemo"),
              "script expands to more than 1000000 commands");
}

TEST_F(ParserTest, pumpRunsBeforeEveryCommand) {
    static int pumps = 0;
    setScriptMessagePump([] { ++pumps; });
    parsed(std::string(kEffects) + "macro m wait then wait endmacro demo first set a.x to 1 "
                                   "and set a.y to 2 at second 0 start a then play m times 2 "
                                   "enddemo");
    EXPECT_EQ(pumps, 2 + 2 + 4);
}

TEST_F(ParserTest, namesAreCutToTheirFields) {
    std::string name(100, 'n');
    auto script = parsed("effect " + name + " is clear effect a is clear set k to \"" +
                         std::string(300, 'v') + "\" demo at second 0 start " + name +
                         " and set a.p to \"" + std::string(1000, 'w') + "\" enddemo");
    EXPECT_EQ(std::string(script->effects()[1].instanceName), std::string(63, 'n'));
    EXPECT_EQ(std::string(script->globals()[0].value), std::string(255, 'v'));
    EXPECT_EQ(std::string(script->events()[0].value), std::string(767, 'w'));
    EXPECT_NE(findEffectInstance(name.c_str()), nullptr);
    // The property word is an identifier too: cut before its dot, it has none.
    EXPECT_EQ(
        errorOf("effect " + name + " is clear demo at second 0 set " + name + ".p to 1 enddemo"),
        "property identifier (<ident>.<ident>) expected");
}

TEST_F(ParserTest, errorMessages) {
    std::string e = kEffects;
    EXPECT_EQ(errorOf("effect x is nosuchclass demo enddemo"),
              "could not find effect class 'nosuchclass'");
    EXPECT_EQ(errorOf("viewport v 0 0 1 1 target nowhere demo enddemo"),
              "couldn't find render target 'nowhere'");
    EXPECT_EQ(errorOf(e + "demo at second 0 start ghost enddemo"), "couldn't find effect 'ghost'");
    EXPECT_EQ(errorOf(e + "demo at second 0 play nomacro enddemo"),
              "couldn't find macro 'nomacro'");
    EXPECT_EQ(errorOf(e + "demo at second 0 start a vp novp enddemo"),
              "couldn't find viewport 'novp'");
    EXPECT_EQ(errorOf("set tune to x"), "syntax error");
    EXPECT_EQ(errorOf(e + "demo at second 0"), "syntax error");
    EXPECT_EQ(errorOf(e + "demo runs at second 0 start a enddemo"), "syntax error");
    EXPECT_EQ(errorOf(e + "demo at second 0 bogus enddemo"), "command expected");
    EXPECT_EQ(errorOf(e + "demo first start a enddemo"), "'set' statement expected");
    EXPECT_EQ(errorOf(e + "demo first set a.x to 1 and start a enddemo"),
              "'set' statement expected");
    EXPECT_EQ(errorOf("bogus"), "'demo' expected");
    EXPECT_EQ(errorOf(e + "demo at second 0 start a"), "'enddemo' expected");
    EXPECT_EQ(errorOf(e + "demo at second 0 start a", true),
              "End of file encountered while expecting 'enddemo'");
    EXPECT_EQ(errorOf("macro m start a demo enddemo"),
              "End of file encountered while expecting 'endmacro'");
    EXPECT_EQ(errorOf(e + "demo at second 0 set ax to 1 enddemo"),
              "property identifier (<ident>.<ident>) expected");
    EXPECT_EQ(errorOf(e + "demo at second 0 fade ax from 0 to 1 enddemo"),
              "property identifier (<ident>.<ident>) expected");
    EXPECT_EQ(errorOf(e + "demo at second 0 set a.x 1 enddemo"), "'to' expected");
    EXPECT_EQ(errorOf(e + "demo at second 0 fade a.x to 1 enddemo"), "'from' expected");
    EXPECT_EQ(errorOf("effect x clear demo enddemo"), "'is' expected");
    EXPECT_EQ(errorOf("rendertarget t wide 1 demo enddemo"), "float value expected");
    EXPECT_EQ(errorOf(e + "demo at second 0 start a z deep enddemo"), "float value expected");
    EXPECT_EQ(errorOf(e + "demo at second 0 die"), "string expected");
    EXPECT_EQ(errorOf(e + "demo at second 0 start a for -2 seconds enddemo"), "negative time???");
    EXPECT_EQ(errorOf(e + "demo at order 99 start a enddemo"),
              "song position 99/0/0 does not exist");
}

TEST_F(ParserTest, emptyTextIsNoScript) {
    Script script("", 0, nullptr);
    EXPECT_FALSE(script.parse(true));
    EXPECT_FALSE(script.parse(false));
}

TEST_F(ParserTest, errorsNameTheSourceFileAndLine) {
    writeTextFile("decls",
                  "effect a is clear\n\n  effect b is Nope ; a comment\neffect c is clear\n");
    writeTextFile("script", "#include decls\ndemo\n  at second 0 start a\nenddemo\n");
    EXPECT_EQ(sourceErrorOf(), "while parsing script (line 3) near ' effect c is clear demo at "
                               "second 0 start a enddemo ':\nin file 'decls'\n\n"
                               "could not find effect class 'nope'");
    writeTextFile("decls", "effect a is clear\n");
    writeTextFile("script", "; production\n#include decls\ndemo\n  at second 0 start a\n"
                            "  then start\n    ghost\nenddemo\n");
    EXPECT_EQ(sourceErrorOf(), "while parsing script (line 6) near ' enddemo ':\n"
                               "in file 'script'\n\ncouldn't find effect 'ghost'");
    writeTextFile("script", "#include decls\ndemo\n at second 0 start a\n\n at second 1\n"
                            "   explode a\nenddemo\n");
    EXPECT_EQ(sourceErrorOf(), "while parsing script (line 6) near ' explode a enddemo ':\n"
                               "in file 'script'\n\ncommand expected");
}

// Errors of every stage, each from a script file: the frame names the line of the token the
// error is about and the file it came from.
TEST_F(ParserTest, errorsOfEveryStageNameTheirSource) {
    writeTextFile("lib", "effect a is clear\n"
                         "macro m\n"
                         "  runs for 1 seconds\n"
                         "  wait for 2 seconds\n"
                         "endmacro\n");
    struct Case {
        const char* script;
        const char* expected; // line, file and message
    };
    const Case cases[] = {
        {"#include lib\ndemo\n at second 0 start a\n and play m\nenddemo\n",
         "(line 4) in 'lib': macro runs longer (2.00 secs) than it's defined (1.00 secs)"},
        {"#include lib\ndemo\n at order 300\n start a\nenddemo\n",
         "(line 3) in 'script': illegal order number 300"},
        {"#include lib\ndemo\n at second 0 start a\n and set a.text to "
         "\"broken\nstring\"\nenddemo\n",
         "(line 4) in 'script': End of line/file within string encountered!"},
        {"#include lib\n\ndemo at second 0\n start a vp\n  nowhere\nenddemo\n",
         "(line 5) in 'script': couldn't find viewport 'nowhere'"},
        {"#include lib\ndemo\n\nenddemo\n", "(line 4) in 'script': nothing will ever happen\n"},
        {"#include lib\ndemo\n at second 0\n", "(line 3) in 'script': syntax error"},
        {"#include lib\ndemo runs\n  for 1 bananas\n at second 0 start a\nenddemo\n",
         "(line 2) in 'script': syntax error"},
    };
    for (const Case& c : cases) {
        writeTextFile("script", c.script);
        std::string message = sourceErrorOf();
        size_t lineEnd = message.find(") near '");
        size_t fileStart = message.find("':\nin file '");
        size_t body = message.find("'\n\n", fileStart + 1);
        ASSERT_NE(lineEnd, std::string::npos) << message;
        ASSERT_NE(fileStart, std::string::npos) << message;
        ASSERT_NE(body, std::string::npos) << message;
        std::string shortForm = message.substr(21, lineEnd - 20) + " in '" +
                                message.substr(fileStart + 12, body - fileStart - 12) +
                                "': " + message.substr(body + 3);
        EXPECT_EQ(shortForm, c.expected) << c.script;
    }
}

// About 2,000 lines over three files: nested includes, macros playing macros.
TEST_F(ParserTest, largeScriptWithNestedIncludesAndMacrosParses) {
    const int kEffectCount = 300, kMacroCount = 50;
    std::string effects, macros, timeline;
    int lines = 0;
    for (int i = 0; i < kEffectCount; ++i, ++lines)
        effects += "Effect E" + std::to_string(i) + " is " + (i % 2 ? "clear" : "image") +
                   "   ; effect " + std::to_string(i) + "\n";
    effects += "#include macros.lux\n";
    for (int i = 0; i < kMacroCount; ++i) {
        macros += "macro M" + std::to_string(i) + "\n  runs for 1 rows\n";
        macros += "  set e" + std::to_string(i) + ".alpha to \"Half " + std::to_string(i) + "\"\n";
        macros += "  then fade e" + std::to_string(i) + ".alpha from 0 to 1 for 1 rows\n";
        macros += i > 0 ? "  and play m" + std::to_string(i - 1) + "\n" : "\n";
        macros += "endmacro\n\n";
        lines += 7;
    }
    timeline = "#include effects.lux\nSET tune TO dali.xm\ndemo runs until order 10\n";
    int starts = 0;
    size_t expanded = 0;
    for (int order = 0; order < 10; ++order)
        for (int row = 0; row < 64; row += 2) {
            std::string effect = "e" + std::to_string((order * 32 + row / 2) % kEffectCount);
            int macro = row % kMacroCount;
            timeline += "  at order " + std::to_string(order) + " row " + std::to_string(row) +
                        " start " + effect + " for 1 rows\n";
            timeline += "  and play m" + std::to_string(macro) + "\n";
            timeline += "  and set " + effect + ".color to 0x" + std::to_string(row) + "\n";
            timeline += "  ; comment line\n\n";
            lines += 5;
            ++starts;
            expanded += size_t(macro + 1);
        }
    timeline += "enddemo\n";
    lines += 5;
    writeTextFile("effects.lux", effects);
    writeTextFile("macros.lux", macros);
    writeTextFile("script", timeline);
    EXPECT_GE(lines, 1900);

    Preprocessor preprocessor;
    ASSERT_TRUE(preprocessor.run("script"));
    preprocessor.output()->seek(0);
    Script script(preprocessor.output(), &preprocessor.sourceLines());
    ASSERT_TRUE(script.parse(true));
    EXPECT_EQ(script.globals().size(), 1u);
    ASSERT_TRUE(script.parse(false));
    EXPECT_EQ(script.effects().size(), size_t(kEffectCount + 1));
    EXPECT_EQ(script.macros().size(), size_t(kMacroCount));
    EXPECT_EQ(int(script.actions().size()), starts);
    // Macro mK sets and fades K + 1 properties.
    EXPECT_EQ(script.events().size(), expanded + size_t(starts));
    EXPECT_EQ(script.fades().size(), expanded);
    EXPECT_STREQ(script.events()[0].value, "Half 0");
    EXPECT_EQ(script.actions().back().start, uint32_t(tmxPositionToTime(9, 62, 0)));
    EXPECT_EQ(script.actions().back().end, uint32_t(tmxPositionToTime(9, 63, 0)));
}

} // namespace
