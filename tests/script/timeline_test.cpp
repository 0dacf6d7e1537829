#include "script/timeline.h"

#include "effects/effect.h"
#include "headless_device.h"
#include "platform/music/music.h"
#include "script/parser.h"
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

// What probe instances saw, in call order: "name=value" for sets, "render" for frames.
struct ProbeCall {
    const Effect* effect;
    std::string what;
    uint32_t time = 0;
    std::string target;
    Viewport viewport;
    uint32_t position = 0;
};
std::vector<ProbeCall> probeCalls;

class ProbeEffect : public Effect {
  public:
    void render(uint32_t time, uint32_t position) override {
        probeCalls.push_back(
            {this, "render", time, currentRenderTarget()->name, currentViewport(), position});
    }
    void set(const char* name, const char* value) override {
        probeCalls.push_back({this, std::string(name) + "=" + value, 0, "", {}});
    }
};

const EffectClass probeClass = {"probe", nullptr, nullptr, createEffectOf<ProbeEffect>,
                                recreateEffectOf<ProbeEffect>};

constexpr int32_t kWidth = 160, kHeight = 120;

class TimelineTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        static bool registered = false;
        if (!registered) registerEffectClass(probeClass);
        registered = true;
        ASSERT_TRUE(startHeadlessDevice(kWidth, kHeight));
    }
    static void TearDownTestSuite() { stopHeadlessDevice(); }
    void SetUp() override { probeCalls.clear(); }
    void TearDown() override {
        script.reset();
        destroyEffects();
    }

    Timeline& build(const std::string& text) {
        script = std::make_unique<Script>(text.data(), int32_t(text.size()), nullptr);
        EXPECT_TRUE(script->parse(false)) << text;
        createTargets(timeline, *script);
        startTimeline(timeline, nullptr);
        probeCalls.clear();
        return timeline;
    }
    static const Effect* effectOf(const char* instance) {
        EffectInstance* entry = findEffectInstance(instance);
        return entry ? entry->effect : nullptr;
    }
    // The calls one instance received, in order.
    static std::vector<std::string> callsOf(const char* instance) {
        std::vector<std::string> calls;
        for (const ProbeCall& call : probeCalls)
            if (call.effect == effectOf(instance)) calls.push_back(call.what);
        return calls;
    }
    static std::vector<std::string> allCalls() {
        std::vector<std::string> calls;
        for (const ProbeCall& call : probeCalls)
            calls.push_back(call.what);
        return calls;
    }

    std::unique_ptr<Script> script;
    Timeline timeline;
};

using Calls = std::vector<std::string>;

TEST_F(TimelineTest, fadeMiddleFollowsTheCurveExponent) {
    Timeline& s = build("effect p is probe demo "
                        "at second 0 fade p.linear from 0 to 1 for 2 seconds "
                        "and fade p.square from 0 to 1 curve 20 for 2 seconds "
                        "and fade p.down from 4 to 2 curve 5 for 2 seconds and start p enddemo");
    tick(s, sec(1), 0);
    // (1/2)^0.5 of the way from 4 down to 2.
    EXPECT_EQ(callsOf("p"),
              (Calls{"linear=0.500000", "square=0.250000", "down=2.585786", "render"}));
}

TEST_F(TimelineTest, fadeWaitsForTheFrameAfterItsStartAndStopsAfterItsEnd) {
    Timeline& s = build("effect p is probe demo at second 1 fade p.v from 0 to 1 for 2 seconds "
                        "at second 0 start p enddemo");
    tick(s, sec(1), 0);
    EXPECT_EQ(callsOf("p"), (Calls{"render"}));
    probeCalls.clear();
    tick(s, sec(2.5), 0);
    tick(s, sec(3.5), 0); // passed the end: applied once more, at the end value
    tick(s, sec(4), 0);   // ended before the previous frame: nothing
    EXPECT_EQ(callsOf("p"), (Calls{"v=0.750000", "render", "v=1.000000", "render", "render"}));
}

TEST_F(TimelineTest, fadeBetweenTwoFramesIsAppliedOnceAtItsEndValue) {
    Timeline& s = build("effect p is probe demo at second 1 fade p.v from 2 to 6 for 1 seconds "
                        "and fade p.jump from 0 to 7 at second 0 start p enddemo");
    tick(s, sec(0.5), 0);
    tick(s, sec(3), 0);
    tick(s, sec(4), 0);
    // A fade without length sets its "to" value.
    EXPECT_EQ(callsOf("p"), (Calls{"render", "v=6.000000", "jump=7.000000", "render", "render"}));
}

TEST_F(TimelineTest, actionEndingNowIsNotDrawnAndStartingNowIs) {
    Timeline& s = build("effect a is probe effect b is probe demo at second 1 start a "
                        "for 1 seconds at second 2 start b enddemo");
    tick(s, sec(0.5), 0);
    EXPECT_EQ(allCalls(), Calls{});
    tick(s, sec(1), 0);
    tick(s, sec(2), 0);
    ASSERT_EQ(probeCalls.size(), 2u);
    EXPECT_EQ(probeCalls[0].effect, effectOf("a"));
    EXPECT_EQ(probeCalls[1].effect, effectOf("b"));
    EXPECT_EQ(probeCalls[1].time, 0u); // the instance's own clock starts at its first frame
}

TEST_F(TimelineTest, eventsJumpedOverFireInTimeOrderOnce) {
    Timeline& s = build("effect p is probe demo at second 3 set p.c to 3 at second 1 set p.a to 1 "
                        "and set p.b to 2 at second 5 set p.d to 4 at second 0 start p enddemo");
    tick(s, sec(0.5), 0);
    tick(s, sec(4), 0); // a skip over three events
    tick(s, sec(2), 0); // a skip back fires nothing again
    tick(s, sec(5), 0);
    EXPECT_EQ(callsOf("p"),
              (Calls{"render", "a=1", "b=2", "c=3", "render", "render", "d=4", "render"}));
}

TEST_F(TimelineTest, eventAtTheTimeOfARunningFadeHasTheLastWord) {
    Timeline& s = build("effect p is probe demo at second 0 fade p.v from 0 to 1 for 4 seconds "
                        "at second 2 set p.v to 9 at second 0 start p enddemo");
    tick(s, sec(2), 0);
    EXPECT_EQ(callsOf("p"), (Calls{"v=0.500000", "v=9", "render"}));
}

// Playing never changes the parse result: a second runtime form of the same parse (a loop
// restart, a seek) plays exactly what the first did, viewports and fades included.
TEST_F(TimelineTest, aParseResultPlaysTheSameFromEveryRuntimeForm) {
    Timeline& first = build("rendertarget half 0.5 0.5 viewport v 0.25 0.5 0.5 0.25 target half "
                            "effect p is probe demo first set p.a to 1 "
                            "at second 0 start p vp v and fade p.f from 0 to 1 for 2 seconds "
                            "at second 1 set p.b to 2 enddemo");
    auto play = [&](Timeline& timeline) {
        std::vector<std::string> seen;
        for (double t : {0.5, 1.0, 2.5}) {
            probeCalls.clear();
            tick(timeline, sec(t), 0);
            for (const ProbeCall& call : probeCalls)
                seen.push_back(
                    call.what + " " + call.target + " " + std::to_string(call.viewport.left) + "," +
                    std::to_string(call.viewport.top) + " " + std::to_string(call.viewport.width) +
                    "x" + std::to_string(call.viewport.height));
        }
        return seen;
    };
    std::vector<std::string> once = play(first);
    Timeline second;
    createTargets(second, *script);
    startTimeline(second, nullptr);
    EXPECT_EQ(play(second), once);
    // 160 x 120 screen: the target is 80 x 60, the viewport a quarter of it at (20, 30).
    EXPECT_EQ(once.back(), "render half 20,30 40x15");
}

TEST_F(TimelineTest, actionsDrawInZOrderThenScriptOrder) {
    Timeline& s = build("effect a is probe effect b is probe effect c is probe effect d is probe "
                        "demo at second 0 start a z 5 and start b z -1 and start c and start d z 5 "
                        "enddemo");
    tick(s, sec(1), 0);
    ASSERT_EQ(probeCalls.size(), 4u);
    EXPECT_EQ(probeCalls[0].effect, effectOf("b"));
    EXPECT_EQ(probeCalls[1].effect, effectOf("c"));
    EXPECT_EQ(probeCalls[2].effect, effectOf("a"));
    EXPECT_EQ(probeCalls[3].effect, effectOf("d"));
}

TEST_F(TimelineTest, targetsAndViewportsBecomePixels) {
    logSetFile("targets.txt");
    Timeline& s = build("rendertarget small 0.5 0.25 rendertarget big 200 100 "
                        "viewport inner 0.25 0.5 0.5 0.5 target small "
                        "viewport wide 0.1 0.1 0.5 0.5 target big "
                        "viewport part 0.5 0 0.5 1 "
                        "effect a is probe effect b is probe effect c is probe effect d is probe "
                        "demo at second 0 start a vp inner and start b vp wide and start c vp part "
                        "and start d enddemo");
    createTargets(s, *script); // the parse is unchanged, so a second build gives the same
    tick(s, sec(1), 0);
    ASSERT_NE(findRenderTarget("small"), nullptr);
    EXPECT_EQ(findRenderTarget("small")->width, 80);
    EXPECT_EQ(findRenderTarget("small")->height, 30);
    EXPECT_EQ(findRenderTarget("big")->width, 200);
    std::string log = readTextFile("targets.txt");
    EXPECT_NE(log.find("SCRP: adding target 'small' (80x30)\n"), std::string::npos);
    EXPECT_NE(log.find("SCRP: adding target 'big' (200x100)\n"), std::string::npos);
    ASSERT_EQ(probeCalls.size(), 4u);
    struct Expected {
        const char* target;
        int32_t left, top, width, height;
    } expected[] = {{"small", 20, 15, 40, 15},
                    {"big", 20, 10, 100, 50},
                    {"primary", 80, 0, 80, 120},
                    {"primary", 0, 0, 160, 120}};
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(probeCalls[i].target, expected[i].target);
        EXPECT_EQ(probeCalls[i].viewport.left, expected[i].left);
        EXPECT_EQ(probeCalls[i].viewport.top, expected[i].top);
        EXPECT_EQ(probeCalls[i].viewport.width, expected[i].width);
        EXPECT_EQ(probeCalls[i].viewport.height, expected[i].height);
    }
    present();
}

TEST_F(TimelineTest, initialSettingsRunWithProgressBeforeTheFirstFrame) {
    static std::vector<std::pair<int32_t, int32_t>> reports;
    reports.clear();
    std::string text = "effect p is probe demo first set p.a to 1 and set p.b to 2 "
                       "at second 0 set p.c to 3 and start p enddemo";
    script = std::make_unique<Script>(text.data(), int32_t(text.size()), nullptr);
    ASSERT_TRUE(script->parse(false));
    createTargets(timeline, *script);
    startTimeline(timeline, [](int32_t done, int32_t total) { reports.push_back({done, total}); });
    EXPECT_EQ(callsOf("p"), (Calls{"a=1", "b=2"}));
    EXPECT_EQ(reports, (std::vector<std::pair<int32_t, int32_t>>{{0, 1}, {1, 2}, {2, 2}}));
    probeCalls.clear();
    tick(timeline, 0, 0);
    EXPECT_EQ(callsOf("p"), (Calls{"c=3", "render"}));
}

TEST_F(TimelineTest, endsOnTheFirstFrameAtOrPastStopdemo) {
    Timeline& s = build("effect p is probe demo at second 0 start p at second 3 stopdemo enddemo");
    EXPECT_TRUE(tick(s, sec(2.9), 0));
    EXPECT_FALSE(tick(s, sec(3), 0));
    EXPECT_EQ(previousTickTime(), sec(3));
    Timeline& forever = build("effect p is probe demo at second 0 start p enddemo");
    EXPECT_TRUE(tick(forever, sec(30000), 0));
}

TEST_F(TimelineTest, dieStopsTheProgramOnTheFirstFrameAtItsTime) {
    std::string text = "effect p is probe demo at second 0 start p at second 10 die \"so long\" "
                       "enddemo";
    auto playUntil = [&](uint32_t last) {
        Script parsed(text.data(), int32_t(text.size()), nullptr);
        parsed.parse(false);
        Timeline s;
        createTargets(s, parsed);
        startTimeline(s, nullptr);
        tick(s, sec(9.99), 0);
        tick(s, last, 0);
        fatal("still playing");
    };
    EXPECT_EQ(fatalMessageOf([&] { playUntil(sec(9.995)); }), "still playing");
    EXPECT_EQ(fatalMessageOf([&] { playUntil(sec(10)); }), "terminated by script: 'so long'");
}

} // namespace

namespace {

// The main loop's pattern on the offline music clock: the timeline follows the tune's time
// and hands its song position to the effects.
TEST_F(TimelineTest, followsTheMusicClockAndEndsAtTheSongPosition) {
    SoundSettings settings;
    tmxInit(&settings);
    ASSERT_TRUE(tmxOfflineOpen("music.wav", &settings));
    std::ifstream in(std::string(LUX_TEST_DATA) + "/dali.xm", std::ios::binary);
    std::vector<char> tune((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(tmxLoadMem(tune.data(), uint32_t(tune.size()), kTuneXm), 0);
    Timeline& s = build("effect p is probe demo runs until order 1 row 8 "
                        "at order 1 set p.reached to 1 at second 0 start p enddemo");
    const uint32_t orderOne = uint32_t(tmxPositionToTime(1, 0, 0));
    const uint32_t end = uint32_t(tmxPositionToTime(1, 8, 0));
    ASSERT_LT(orderOne, end);
    tmxPlay();
    uint32_t lastTime = 0, reachedAt = 0;
    for (int frame = 1; frame < 50 * 60; ++frame) {
        tmxOfflineAdvance(uint32_t(frame * 65536 / 50), false);
        int32_t heard = tmxGetTime();
        lastTime = heard < 0 ? 0 : uint32_t(heard);
        uint32_t position = tmxGetPosition();
        size_t before = probeCalls.size();
        bool running = tick(s, lastTime, position);
        for (size_t i = before; i < probeCalls.size(); ++i) {
            if (probeCalls[i].what == "reached=1") reachedAt = lastTime;
            if (probeCalls[i].what == "render") {
                EXPECT_EQ(probeCalls[i].position, position);
            }
        }
        if (!running) break;
        present();
    }
    tmxStop();
    EXPECT_TRUE(tmxOfflineClose());
    EXPECT_GE(reachedAt, orderOne);
    EXPECT_LT(reachedAt, orderOne + 65536 / 50 + 1);
    EXPECT_GE(lastTime, end);
    EXPECT_LT(lastTime, end + 65536 / 50 + 1);
    EXPECT_EQ(tmxTimeToPosition(reachedAt) >> 8, 0x100u); // order 1, row 0
}

} // namespace
