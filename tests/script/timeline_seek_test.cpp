// Seeking the timeline: the state rebuilt at a frame equals the state a play from the start
// reaches there, frame by frame, as the ticks themselves make it (the play is the reference).
#include "script/timeline.h"

#include "effects/effect.h"
#include "headless_device.h"
#include "script/parser.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// Keeps what a play leaves in an effect: the last value of every property, every "word" in
// the order it came (a property whose history matters), and the local time of this frame.
class StateProbe : public Effect {
  public:
    void render(uint32_t time, uint32_t) override { renderedAt = time; }
    void set(const char* name, const char* value) override {
        properties[name] = value;
        if (std::string(name) == "word") words.push_back(value);
    }
    std::map<std::string, std::string> properties;
    std::vector<std::string> words;
    int64_t renderedAt = -1;
};

const EffectClass stateProbeClass = {"stateprobe", nullptr, nullptr, createEffectOf<StateProbe>,
                                     recreateEffectOf<StateProbe>};

constexpr uint64_t kFps = 10;

uint32_t frameTime(uint64_t frame) {
    return uint32_t(frame * 65536u / kFps);
}
uint64_t frameAtOrAfter(uint32_t time) {
    return (uint64_t(time) * kFps + 65535u) / 65536u;
}
uint32_t firstFrameAtOrAfter(uint32_t time) {
    return frameTime(frameAtOrAfter(time));
}
uint32_t lastFrameBefore(uint32_t time) {
    return frameTime(frameAtOrAfter(time) - 1);
}
const TickTimes kFrames = {firstFrameAtOrAfter, lastFrameBefore};

// Every kind of write that can meet another on one property: an event inside a running
// fade, a fade that starts exactly on a frame and ends before the next one, a fade between
// two frames followed by an event, two overlapping fades (the later start wins), a fade
// without length beside an event at its time, an effect run twice (its clock runs on), and
// actions that begin between frames.
const char* kProduction = R"(effect a is stateprobe
effect b is stateprobe
effect c is stateprobe
demo
  first set a.word to init
  at second 0 start a
  and fade a.level from 0 to 1 for 3 seconds
  at second 0.55 set a.level to 9
  and set a.word to one
  at second 1 fade a.glow from 0 to 1 curve 20 for 0.02 seconds
  at second 1.23 start b for 1 seconds
  and fade b.level from 5 to 1 for 0.01 seconds
  at second 2 set b.level to 7
  at second 2.5 fade a.level from 1 to 0 for 1 seconds
  and set a.word to two
  at second 3.33 start b for 1 seconds
  at second 3.5 start c
  and fade c.level from 0 to 1
  and set c.level to 3
  at second 4 set a.word to three
enddemo
)";

constexpr uint64_t kLastFrame = 50;

class TimelineSeekTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        static bool registered = false;
        if (!registered) registerEffectClass(stateProbeClass);
        registered = true;
        ASSERT_TRUE(startHeadlessDevice(64, 48));
    }
    static void TearDownTestSuite() { stopHeadlessDevice(); }
    void TearDown() override { destroyEffects(); }

    // A new play of the production: fresh instances, initial settings applied.
    Timeline& start() {
        destroyEffects();
        script = std::make_unique<Script>(kProduction, int32_t(strlen(kProduction)), nullptr);
        EXPECT_TRUE(script->parse(false));
        timeline = Timeline{};
        createTargets(timeline, *script);
        startTimeline(timeline, nullptr);
        return timeline;
    }
    // One frame: every probe's state after it.
    std::string tickFrame(uint64_t frame) {
        for (const char* name : {"a", "b", "c"})
            probe(name)->renderedAt = -1;
        tick(timeline, frameTime(frame), 0);
        std::string state;
        for (const char* name : {"a", "b", "c"}) {
            StateProbe* p = probe(name);
            state += std::string(name) + ": drawn at " + std::to_string(p->renderedAt);
            for (const auto& [property, value] : p->properties)
                state += " " + property + "=" + value;
            state += " words";
            for (const std::string& word : p->words)
                state += " " + word;
            state += "\n";
        }
        return state;
    }
    static StateProbe* probe(const char* name) {
        return static_cast<StateProbe*>(findEffectInstance(name)->effect);
    }
    // The reference: the states of a play from the start, frame by frame.
    std::vector<std::string> playFromStart() {
        start();
        std::vector<std::string> states;
        for (uint64_t frame = 0; frame <= kLastFrame; ++frame)
            states.push_back(tickFrame(frame));
        return states;
    }

    std::unique_ptr<Script> script;
    Timeline timeline;
};

TEST_F(TimelineSeekTest, aRebuildAtAnyFramePlaysOnAsThePlayFromTheStart) {
    std::vector<std::string> reference = playFromStart();
    for (uint64_t target = 0; target + 5 <= kLastFrame; ++target) {
        rebuildTimeline(start(), frameTime(target), kFrames);
        for (uint64_t frame = target; frame < target + 5; ++frame)
            ASSERT_EQ(tickFrame(frame), reference[frame])
                << "rebuilt at frame " << target << ", frame " << frame;
    }
}

TEST_F(TimelineSeekTest, anAdvanceFromAnyPlayedFrameMatchesThePlayFromTheStart) {
    std::vector<std::string> reference = playFromStart();
    for (uint64_t played : {0u, 5u, 10u, 12u, 23u, 34u}) {
        for (uint64_t target : {played + 1, played + 9, uint64_t(40)}) {
            start();
            for (uint64_t frame = 0; frame <= played; ++frame)
                tickFrame(frame);
            advanceTimeline(timeline, frameTime(target), kFrames);
            for (uint64_t frame = target; frame < target + 5; ++frame)
                ASSERT_EQ(tickFrame(frame), reference[frame])
                    << "played to " << played << ", advanced to " << target;
        }
    }
}

// A seek back needs fresh effects: rebuilding a played timeline from a new start gives the
// earlier state again, with the instance clocks set back.
TEST_F(TimelineSeekTest, aRebuildAfterRecreatingTheEffectsGoesBack) {
    std::vector<std::string> reference = playFromStart();
    recreateEffects();
    startTimeline(timeline, nullptr);
    rebuildTimeline(timeline, frameTime(14), kFrames);
    EXPECT_EQ(tickFrame(14), reference[14]);
    EXPECT_EQ(tickFrame(15), reference[15]);
}

// Ticks themselves: a fade that starts exactly at a frame and ends before the next frame is
// applied once, at its end value, on that next frame.
TEST_F(TimelineSeekTest, aFadeStartingOnAFrameAndEndingBeforeTheNextIsAppliedOnce) {
    start();
    for (uint64_t frame = 0; frame <= 10; ++frame)
        tickFrame(frame);
    EXPECT_EQ(probe("a")->properties.count("glow"), 0u);
    tickFrame(11);
    EXPECT_EQ(probe("a")->properties["glow"], "1.000000");
    probe("a")->properties.erase("glow");
    tickFrame(12);
    EXPECT_EQ(probe("a")->properties.count("glow"), 0u);
}

} // namespace
