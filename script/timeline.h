// The timeline runtime: plays what a build parse (script/parser.h) read.
//
// The parse result (`Script`) is never changed by playing it. Everything playback needs is
// kept in a `Timeline`, the script's runtime form: the render target of every declared
// target, every viewport in pixels of its target, the effect instance of every declared
// effect, which fades are running, and the next event to fire. It is built from the parse
// result by `createTargets` and `startTimeline` and rebuilt the same way after a loop
// re-parse, so the state of the timeline at any time follows from the parse result and the
// times it was ticked at.
//
// Order of calls, from the main loop:
//   script.parse(false);
//   createTargets(timeline, script); // render targets in pixels, viewports scaled to pixels
//   startTimeline(timeline, progress); // the "first" settings, with progress(done, total)
//   while (tick(timeline, time, pos))  // fades, due events, running actions in z order
//       present();
//
// `tick` applies every running fade (value formatted with "%f"), fires the events that have
// fallen due (each exactly once, in time order, also when a skip jumped over several), then
// selects each running action's render target and viewport and renders its effect instance,
// lowest z first, so later layers draw over earlier ones. It returns false once the time has
// reached the demo end. A "die" event ends the program through `fatal` with
// "terminated by script: '%s'".
//
// Times are 1/65536 s, compared unsigned (an open end is 0xFFFFFFFE, "never"); event times
// are signed, the initial settings having time -1. Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class Script;
struct EffectInstance;
struct RenderTarget;

// Loading progress: called with (0, 1) first, then (k, total) after each initial setting.
using TimelineProgress = void (*)(int32_t done, int32_t total);

// A declared viewport in pixels of its target.
struct TimelineViewport {
    RenderTarget* target = nullptr;
    int32_t x = 0, y = 0, width = 0, height = 0;
};

struct Timeline {
    const Script* script = nullptr;          // the parse result being played
    std::vector<RenderTarget*> targets;      // by declared target
    std::vector<TimelineViewport> viewports; // by declared viewport
    std::vector<EffectInstance*> instances;  // by declared effect; null when not created
    std::vector<uint8_t> fadeRunning;        // by fade: applied on the last tick
    size_t eventCursor = 0;                  // first event not fired yet
};

// Makes the runtime form of a parse: creates the declared render targets (sizes of 8.0 or
// less are multiples of the screen size; a target that exists is reused) and turns every
// viewport into pixels of its target. Calling it again gives the same form.
void createTargets(Timeline& timeline, const Script& script);
// Finds the effect instances, applies the initial settings (progress may be null) and puts
// the event cursor on the first timed event.
void startTimeline(Timeline& timeline, TimelineProgress progress);
// One frame at time `now` with the packed song position; false once the production has ended.
bool tick(Timeline& timeline, uint32_t now, uint32_t position);

// Under the loading screen, after startTimeline: stand-ins of the effects play the whole
// timeline and draw each distinct set of property values once on every viewport it runs on,
// then each instance draws once at local time 0, and every target is cleared. Programs and
// device objects are then made before playback needs them; the instances are left as they
// were, but for what their own first drawing does. progress may be null.
void warmUpTimeline(Timeline& timeline, TimelineProgress progress);

// The time of the last tick (process-wide, kept across parses; 0 at start).
uint32_t previousTickTime();

// ---- Seeking ----
//
// A play ticks at frame times; what a tick does depends only on the script, the frame times
// and the effects' own history. `rebuildTimeline` and `advanceTimeline` bring a timeline to
// the state a play from the start would have reached by its last tick before `time`, without
// ticking through the frames in between: every due event fired in order (each once), every
// fade's last value applied where it would have been the last word, the fades' running
// flags and the previous tick time set, and every declared instance's clock put where that
// play would have it (local time 0 at its first rendered frame). The next `tick(time)` then
// draws what that play draws at `time`, as far as the effects' pictures follow from their
// properties and local times. Pictures built from frame history (a feedback target, a blur of
// earlier frames, effects that integrate their own per-frame steps) start from their fresh
// state instead.

// The frame times of the play being matched. Without functions every moment is a frame time
// (a real-time play, as near as it can be matched): the last tick before t is t - 1.
struct TickTimes {
    uint32_t (*firstAtOrAfter)(uint32_t time) = nullptr; // first frame time >= time
    uint32_t (*lastBefore)(uint32_t time) = nullptr;     // last frame time < time (time > 0)
};

// From a timeline that `startTimeline` has just started (nothing ticked; the effects as the
// initial settings left them).
void rebuildTimeline(Timeline& timeline, uint32_t time, const TickTimes& ticks);
// From a timeline that has played up to `previousTickTime()`, forward to `time`: only what
// falls after that tick is applied (nothing when time is not later).
void advanceTimeline(Timeline& timeline, uint32_t time, const TickTimes& ticks);
