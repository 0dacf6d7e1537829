// The timeline runtime: plays the lists that a build parse (script/parser.h) left in a
// `Script`.
//
// Order of calls, from the main loop:
//   script.parse(false);
//   createTargets(script);            // render targets in pixels, viewports scaled to pixels
//   startTimeline(script, progress);  // the "first" settings, with progress(done, total)
//   while (tick(script, time, pos))   // fades, due events, running actions in z order
//       present();
// After a loop re-parse the same three calls start the production again.
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

#include <cstdint>

class Script;

// Loading progress: called with (0, 1) first, then (k, total) after each initial setting.
using TimelineProgress = void (*)(int32_t done, int32_t total);

// Creates the declared render targets (sizes of 8.0 or less are multiples of the screen
// size) and turns every viewport into pixels of its target. A second call on the same parse
// does nothing.
void createTargets(Script& script);
// Applies the initial settings (progress may be null) and puts the event cursor on the first
// timed event.
void startTimeline(Script& script, TimelineProgress progress);
// One frame at time `now` with the packed song position; false once the production has ended.
bool tick(Script& script, uint32_t now, uint32_t position);

// The time of the last tick (process-wide, kept across parses; 0 at start).
uint32_t previousTickTime();
