// Seeking: a timeline brought to the state of a play from the start at a later time.
//
// A play's ticks write properties in a fixed order: per tick the running fades in start
// order, then the events that fell due. The state after the last tick before the target is
// therefore the result of every event fired in that order and, for each fade, its last write
// (an earlier write of a fade is always overwritten by its own last one). Those writes are
// collected with the frame time of the tick that made them and applied in tick order.
#include "effects/effect.h"
#include "script/parser.h"
#include "script/timeline.h"
#include "script/timeline_local.h"

#include <algorithm>
#include <vector>

namespace {

// One property write of the play: at the tick of frame time `tick`, fades before events.
struct Write {
    uint32_t tick = 0;
    int32_t phase = 0; // 0: fade, 1: event
    size_t index = 0;  // into fades or events
    uint32_t u = 0;    // fades: the time the value is taken at
};

bool writesBefore(const Write& a, const Write& b) {
    if (a.tick != b.tick) return a.tick < b.tick;
    if (a.phase != b.phase) return a.phase < b.phase;
    return a.index < b.index;
}

struct Frames {
    const TickTimes& ticks;
    uint32_t atOrAfter(uint32_t time) const {
        return ticks.firstAtOrAfter ? ticks.firstAtOrAfter(time) : time;
    }
    uint32_t before(uint32_t time) const {
        return ticks.lastBefore ? ticks.lastBefore(time) : time - 1;
    }
};

// The part of a play being caught up with: the ticks after `played` (none yet when `fresh`)
// up to and including `last`.
struct Span {
    bool fresh = true;
    uint32_t played = 0;
    uint32_t last = 0;
    bool after(uint32_t tick) const { return fresh || tick > played; }
};

void collectEvents(const Timeline& timeline, const Frames& frames, const Span& span,
                   std::vector<Write>& writes) {
    const std::vector<Event>& events = timeline.script->events();
    for (size_t i = timeline.eventCursor; i < events.size(); ++i) {
        const Event& event = events[i];
        if (event.time < 0) continue;
        if (uint32_t(event.time) > span.last) break;
        writes.push_back(Write{frames.atOrAfter(uint32_t(event.time)), 1, i, 0});
    }
}

// A fade's last write up to the span's last tick, and its running flag after that tick.
void collectFades(Timeline& timeline, const Frames& frames, const Span& span,
                  std::vector<Write>& writes) {
    const std::vector<Fade>& fades = timeline.script->fades();
    for (size_t i = 0; i < fades.size() && i < timeline.fadeRunning.size(); ++i) {
        const Fade& fade = fades[i];
        if (fade.start >= span.last) break; // not begun by that tick (fades sort by start)
        uint32_t tick = span.last, u = span.last;
        timeline.fadeRunning[i] = span.last < fade.end ? 1 : 0;
        if (!timeline.fadeRunning[i]) {
            // Applied once more, at its end value, by the first tick at or after its end
            // (and after its start: a fade without length waits for the next frame).
            tick = frames.atOrAfter(std::max(fade.end, fade.start + 1));
            u = fade.end;
        }
        if (span.after(tick)) writes.push_back(Write{tick, 0, i, u});
    }
}

void applyWrites(Timeline& timeline, std::vector<Write>& writes) {
    std::sort(writes.begin(), writes.end(), writesBefore);
    const Script& script = *timeline.script;
    for (const Write& write : writes) {
        if (write.phase == 0)
            scrp::applyFade(timeline, script.fades()[write.index], write.u);
        else
            scrp::fireEvent(timeline, script.events()[write.index]);
    }
}

void moveEventCursor(Timeline& timeline, const Span& span) {
    const std::vector<Event>& events = timeline.script->events();
    while (timeline.eventCursor < events.size() &&
           (events[timeline.eventCursor].time < 0 ||
            uint32_t(events[timeline.eventCursor].time) <= span.last))
        ++timeline.eventCursor;
}

// The first frame at which the play rendered an action of each declared effect, within the
// span; UINT64_MAX for an effect it rendered none of.
std::vector<uint64_t> firstRenderedFrames(const Timeline& timeline, const Frames& frames,
                                          const Span& span) {
    std::vector<uint64_t> first(timeline.instances.size(), UINT64_MAX);
    for (const Action& action : timeline.script->actions()) {
        if (size_t(action.effect) >= first.size()) continue;
        uint32_t from = span.fresh ? action.start : std::max(action.start, span.played + 1);
        uint32_t frame = frames.atOrAfter(from);
        if (frame >= action.end || frame > span.last) continue;
        uint64_t& earliest = first[size_t(action.effect)];
        earliest = std::min(earliest, uint64_t(frame));
    }
    return first;
}

void resetInstanceClocks(const Timeline& timeline) {
    for (EffectInstance* instance : timeline.instances) {
        if (!instance) continue;
        instance->running = 0;
        instance->startOffset = instance->lastTime = instance->accumulated = 0;
    }
}

// An instance's clock starts at its first rendered frame and, since the timeline never stops
// an instance, runs on from there.
void setInstanceClocks(const Timeline& timeline, const Frames& frames, const Span& span) {
    std::vector<uint64_t> first = firstRenderedFrames(timeline, frames, span);
    for (size_t k = 0; k < timeline.instances.size(); ++k) {
        EffectInstance* instance = timeline.instances[k];
        if (!instance || instance->running || first[k] == UINT64_MAX) continue;
        instance->running = 1;
        instance->startOffset = uint32_t(first[k]);
        instance->lastTime = span.last;
    }
}

void catchUp(Timeline& timeline, uint32_t time, const TickTimes& ticks, bool fresh) {
    if (!timeline.script) return;
    Frames frames{ticks};
    Span span;
    span.fresh = fresh;
    span.played = previousTickTime();
    if (fresh) {
        // Entries keep their clocks when their effects are made anew; the play starts them.
        resetInstanceClocks(timeline);
        timeline.fadeRunning.assign(timeline.script->fades().size(), 0);
        // The first tick of a play is at 0: before it there is nothing to catch up with.
        if (time == 0) {
            scrp::setPreviousTickTime(0);
            return;
        }
    } else if (time == 0 || frames.before(time) <= span.played) {
        return;
    }
    span.last = frames.before(time);
    std::vector<Write> writes;
    collectEvents(timeline, frames, span, writes);
    collectFades(timeline, frames, span, writes);
    moveEventCursor(timeline, span);
    applyWrites(timeline, writes);
    setInstanceClocks(timeline, frames, span);
    scrp::setPreviousTickTime(span.last);
}

} // namespace

void rebuildTimeline(Timeline& timeline, uint32_t time, const TickTimes& ticks) {
    catchUp(timeline, time, ticks, true);
}

void advanceTimeline(Timeline& timeline, uint32_t time, const TickTimes& ticks) {
    catchUp(timeline, time, ticks, false);
}
