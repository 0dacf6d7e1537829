#include "effects/effect.h"
#include "tests/effects/builtin_classes.h"

#include "../script/script_test_support.h"
#include "platform/config.h"
#include "platform/log.h"
#include "platform/music/music.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// An effect that records what the framework hands it.
struct Recorder : Effect {
    static std::vector<uint32_t> times;
    static std::vector<std::string> settings;
    static int alive;
    static int made;
    int serial = ++made;
    Recorder() { ++alive; }
    ~Recorder() override { --alive; }
    void render(uint32_t time, uint32_t) override { times.push_back(time); }
    void set(const char* name, const char* value) override {
        if (std::string(name) == "known") settings.push_back(value);
    }
};
std::vector<uint32_t> Recorder::times;
std::vector<std::string> Recorder::settings;
int Recorder::alive = 0;
int Recorder::made = 0;

Effect* recreateToNull(Effect* current) {
    delete current;
    return nullptr;
}
int closeCalls = 0;

const EffectClass recorderClass = {"recorder", nullptr, nullptr, createEffectOf<Recorder>,
                                   recreateEffectOf<Recorder>};
const EffectClass vanishingClass = {"vanishing", nullptr, nullptr, createEffectOf<Recorder>,
                                    recreateToNull};
const EffectClass failingCreateClass = {"nothing", nullptr, nullptr,
                                        [] { return (Effect*)nullptr; }, recreateToNull};
const EffectClass closingClass = {"closing", nullptr, [] { ++closeCalls; },
                                  createEffectOf<Recorder>, recreateEffectOf<Recorder>};

class EffectFramework : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        registerEffectClass(recorderClass);
        registerEffectClass(vanishingClass);
        registerEffectClass(failingCreateClass);
    }
    void SetUp() override {
        Recorder::times.clear();
        Recorder::settings.clear();
    }
    void TearDown() override { destroyEffects(); }
};

void collectName(const EffectClass& effectClass, void* user) {
    static_cast<std::vector<std::string>*>(user)->push_back(effectClass.name);
}

TEST_F(EffectFramework, registryHoldsTheProgramsClassesInTheirOrder) {
    std::vector<std::string> names;
    forEachEffectClass(collectName, &names);
    // Lookups visit the newest registration first: the three test classes, then the
    // program's classes from the last registered to the first.
    const std::vector<std::string> expected = {
        "grid",          "motionblur",  "fade",       "multitext",  "gled",
        "designbox",     "designlines", "clear",      "yodawriter", "gled2",
        "letterwriter",  "scroller",    "fadeblocks", "pilztum",    "torusfader",
        "imagescroller", "max",         "tmxcontrol", "image",      "crashzoom",
        "rain",          "vexwriter",   "matrix",     "plasma1",    "lofi"};
    ASSERT_EQ(names.size(), expected.size() + 3);
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(names[names.size() - 1 - i], expected[i]) << i;
    for (const std::string& name : expected)
        EXPECT_TRUE(createEffect(name.c_str(), name.c_str()));
}

TEST_F(EffectFramework, unknownClassAndFailedCreationAreLoggedAndRefused) {
    logSetFile("create.txt");
    EXPECT_FALSE(createEffect("a", "nosuchclass"));
    EXPECT_FALSE(createEffect("b", "nothing"));
    EXPECT_FALSE(createEffect("c", "Grid")); // class names are case-sensitive
    closeLog();
    EXPECT_EQ(readTextFile("create.txt"), "EFCT: effect 'nosuchclass' is unknown.\n"
                                          "EFCT: couldn't create instance of effect 'nothing'\n"
                                          "EFCT: effect 'Grid' is unknown.\n");
    EXPECT_EQ(findEffectInstance("a"), nullptr);
    EXPECT_EQ(findEffectInstance("b"), nullptr);
}

TEST_F(EffectFramework, clockPausesBetweenRunsAndStartsAtZero) {
    ASSERT_TRUE(createEffect("rec", "recorder"));
    renderEffect("rec", 1000, 0);
    renderEffect("rec", 2000, 0);
    stopEffect("rec");
    renderEffect("rec", 5000, 0);
    renderEffect("rec", 5500, 0);
    EXPECT_EQ(Recorder::times, (std::vector<uint32_t>{0, 1000, 1000, 1500}));
}

TEST_F(EffectFramework, clockOfTenToTwelveThenTwentySeconds) {
    ASSERT_TRUE(createEffect("rec", "recorder"));
    renderEffect("rec", 10 << 16, 0);
    renderEffect("rec", 12 << 16, 0);
    stopEffect("rec");
    renderEffect("rec", 20 << 16, 0);
    renderEffect("rec", 21 << 16, 0);
    EXPECT_EQ(Recorder::times, (std::vector<uint32_t>{0, 2 << 16, 2 << 16, 3 << 16}));
}

TEST_F(EffectFramework, clockWrapsAroundUnsigned) {
    ASSERT_TRUE(createEffect("rec", "recorder"));
    renderEffect("rec", 0xFFFFFF00u, 0);
    renderEffect("rec", 0x100, 0);
    EXPECT_EQ(Recorder::times, (std::vector<uint32_t>{0, 0x200}));
}

TEST_F(EffectFramework, stopBeforeAnyRenderLeavesClockAtZero) {
    ASSERT_TRUE(createEffect("rec", "recorder"));
    stopEffect("rec");
    EXPECT_EQ(findEffectInstance("rec")->accumulated, 0u);
    renderEffect("rec", 7000, 0);
    EXPECT_EQ(Recorder::times, (std::vector<uint32_t>{0}));
    stopEffect("nobody"); // unknown names are ignored
    renderEffect("nobody", 1, 0);
}

TEST_F(EffectFramework, sameNameReachesTheNewestInstance) {
    ASSERT_TRUE(createEffect("twin", "recorder"));
    EffectInstance* older = findEffectInstance("twin");
    ASSERT_TRUE(createEffect("twin", "recorder"));
    EffectInstance* newer = findEffectInstance("twin");
    EXPECT_NE(older, newer);
    renderEffect("twin", 3000, 0);
    EXPECT_EQ(newer->running, 1);
    EXPECT_EQ(older->running, 0);
    EXPECT_EQ(newer->lastTime, 3000u);
}

// A loop declares every instance again: the older entries and their objects go, the newest
// and the entries of other names stay.
TEST_F(EffectFramework, droppingShadowedEntriesKeepsOneEntryPerName) {
    ASSERT_TRUE(createEffect("twin", "recorder"));
    ASSERT_TRUE(createEffect("single", "recorder"));
    ASSERT_TRUE(createEffect("twin", "recorder"));
    ASSERT_TRUE(createEffect("twin", "recorder"));
    EffectInstance* newest = findEffectInstance("twin");
    EffectInstance* single = findEffectInstance("single");
    int alive = Recorder::alive;
    dropShadowedEffects();
    EXPECT_EQ(Recorder::alive, alive - 2);
    EXPECT_EQ(findEffectInstance("twin"), newest);
    EXPECT_EQ(findEffectInstance("single"), single);
    int entries = 0;
    forEachEffectInstance([](const EffectInstance&, void* count) { ++*static_cast<int*>(count); },
                          &entries);
    EXPECT_EQ(entries, 2);
}

TEST_F(EffectFramework, propertiesReachTheEffectAndUnknownNamesChangeNothing) {
    ASSERT_TRUE(createEffect("rec", "recorder"));
    setEffectProperty("rec", "known", "1.5");
    setEffectProperty("rec", "unknown", "2");
    setEffectProperty("nobody", "known", "3");
    EXPECT_EQ(Recorder::settings, (std::vector<std::string>{"1.5"}));
}

TEST_F(EffectFramework, recreateReplacesObjectsAndKeepsEntries) {
    ASSERT_TRUE(createEffect("rec", "recorder"));
    ASSERT_TRUE(createEffect("gone", "vanishing"));
    renderEffect("rec", 4000, 0);
    int before = static_cast<Recorder*>(findEffectInstance("rec")->effect)->serial;
    int alive = Recorder::alive;
    recreateEffects();
    EXPECT_GT(static_cast<Recorder*>(findEffectInstance("rec")->effect)->serial, before);
    EXPECT_EQ(findEffectInstance("rec")->lastTime, 4000u);
    EXPECT_EQ(Recorder::alive, alive - 1); // the vanishing one was deleted, not replaced
    EXPECT_EQ(findEffectInstance("gone")->effect, nullptr);
    renderEffect("gone", 5000, 0); // no object: skipped
    setEffectProperty("gone", "known", "1");
    EXPECT_TRUE(Recorder::settings.empty());
    destroyEffects();
    EXPECT_EQ(Recorder::alive, 0);
}

TEST_F(EffectFramework, longInstanceNamesAreCutToTheField) {
    std::string longName(100, 'n');
    ASSERT_TRUE(createEffect(longName.c_str(), "recorder"));
    EXPECT_EQ(std::string(findEffectInstance(longName.c_str())->name), std::string(63, 'n'));
}

TEST(EffectClasses, closeRunsGlobalCloseAndEmptiesTheRegistry) {
    registerEffectClass(closingClass);
    closeEffectClasses();
    EXPECT_EQ(closeCalls, 1);
    EXPECT_FALSE(createEffect("x", "grid"));
    registerBuiltinEffectClasses();
    EXPECT_TRUE(createEffect("x", "grid"));
    destroyEffects();
}

TEST(EffectClassesDeathTest, failingGlobalInitIsFatal) {
    static const EffectClass broken = {"broken", [] { return false; }, nullptr,
                                       createEffectOf<Recorder>, recreateEffectOf<Recorder>};
    EXPECT_EQ(fatalMessageOf([] { registerEffectClass(broken); }),
              "effect 'broken' global init failed\n");
}

TEST(ValueParsers, integers) {
    EXPECT_EQ(parseIntValue("0x1F"), 31);
    EXPECT_EQ(parseIntValue("0XFF"), 255);
    EXPECT_EQ(parseIntValue("255"), 255);
    EXPECT_EQ(parseIntValue("-2"), -2);
    EXPECT_EQ(parseIntValue("12.500000"), 12);
    EXPECT_EQ(parseIntValue("0x"), 0);
    EXPECT_EQ(parseIntValue("0x1g"), 1);
    EXPECT_EQ(parseIntValue("0xFFFFFFFF"), -1);
    EXPECT_EQ(parseIntValue("abc"), 0);
    EXPECT_EQ(parseIntValue(""), 0);
}

TEST(ValueParsers, decimalsAreReadLikeAtofWithoutExtensions) {
    EXPECT_DOUBLE_EQ(parseDecimal("  -1.25e2xyz"), -125.0);
    EXPECT_DOUBLE_EQ(parseDecimal("12.5%"), 12.5);
    EXPECT_DOUBLE_EQ(parseDecimal("3e"), 3.0);
    EXPECT_DOUBLE_EQ(parseDecimal(".5"), 0.5);
    EXPECT_DOUBLE_EQ(parseDecimal("0x20"), 0.0);
    EXPECT_DOUBLE_EQ(parseDecimal("nan"), 0.0);
    EXPECT_DOUBLE_EQ(parseDecimal("inf"), 0.0);
    EXPECT_DOUBLE_EQ(parseDecimal(std::string(300, '9').c_str()) > 1e100, true);
}

TEST(ValueParsers, scalars) {
    configValues.prefxres = 640;
    configValues.prefyres = 400;
    EXPECT_FLOAT_EQ(parseScalar("50%"), 0.5f);
    EXPECT_FLOAT_EQ(parseScalar("320x"), 0.5f);
    EXPECT_FLOAT_EQ(parseScalar("100y"), 0.25f);
    EXPECT_FLOAT_EQ(parseScalar("1.5"), 1.5f);
    EXPECT_FLOAT_EQ(parseScalar("0x10"), 0.0f); // 'x' anywhere; the decimal reading is 0
    EXPECT_FLOAT_EQ(parseScalar("10%x"), 0.1f); // '%' is tested first
    configValues.prefxres = -1;                 // not set: 640 x 480
    configValues.prefyres = -1;
    EXPECT_FLOAT_EQ(parseScalar("320x"), 0.5f);
    EXPECT_FLOAT_EQ(parseScalar("240y"), 0.5f);
}

TEST(MusicControl, propertiesBecomeMusicVariables) {
    ASSERT_TRUE(createEffect("tmx", "tmxcontrol"));
    logSetFile("tmxc.txt");
    setEffectProperty("tmx", "vol", "0.25");
    setEffectProperty("tmx", "reverb", "0x20");
    setEffectProperty("tmx", "somethingelse", "7");
    setEffectProperty("tmx", "rvb", "12");
    setEffectProperty("tmx", "volume", "50%");
    setEffectProperty("tmx", "panning", "-0.5");
    setEffectProperty("tmx", "balance", "1");
    setEffectProperty("tmx", "srnd", "3");
    setEffectProperty("tmx", "chr", "2");
    setEffectProperty("tmx", "amplification", "12.500000");
    closeLog();
    EXPECT_EQ(tmxGetVariable("__tmxcrvb"), 12);
    EXPECT_EQ(tmxGetVariable("somethingelse"), 7);
    EXPECT_EQ(tmxGetVariable("__tmxcvol"), 50);
    EXPECT_EQ(tmxGetVariable("__tmxcpan"), -50);
    EXPECT_EQ(tmxGetVariable("__tmxcbal"), 100);
    EXPECT_EQ(tmxGetVariable("__tmxcsrd"), 3);
    EXPECT_EQ(tmxGetVariable("__tmxcchr"), 2);
    EXPECT_EQ(tmxGetVariable("__tmxcamp"), 12);
    EXPECT_EQ(readTextFile("tmxc.txt"), "TMXC: set vol to 25\n"
                                        "TMXC: set reverb to 0\n"
                                        "TMXC: set somethingelse to 700\n"
                                        "TMXC: set rvb to 1200\n"
                                        "TMXC: set volume to 50\n"
                                        "TMXC: set panning to -50\n"
                                        "TMXC: set balance to 100\n"
                                        "TMXC: set srnd to 300\n"
                                        "TMXC: set chr to 200\n"
                                        "TMXC: set amplification to 1250\n");
    destroyEffects();
}

TEST(MusicControl, volumeOfAQuarterReachesTheVariable) {
    ASSERT_TRUE(createEffect("tmx", "tmxcontrol"));
    setEffectProperty("tmx", "vol", "0.25");
    EXPECT_EQ(tmxGetVariable("__tmxcvol"), 25);
    setEffectProperty("tmx", "reverb", "0x20");
    EXPECT_EQ(tmxGetVariable("__tmxcrvb"), 32);
    destroyEffects();
}

} // namespace
