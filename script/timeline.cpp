// Timeline runtime: render targets, initial settings, per-frame fades, events and actions.
#include "script/timeline.h"

#include "effects/effect.h"
#include "gfx/device.h"
#include "platform/config.h"
#include "platform/log.h"
#include "script/parser.h"
#include "script/timeline_local.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>

namespace {

uint32_t lastTickTime = 0;

// Starts and ends compare unsigned: an open end is 0xFFFFFFFE ("never"), which a signed
// comparison would put before every time, so that open-ended actions would never be drawn.
bool before(uint32_t a, uint32_t b) {
    return a < b;
}

// Declared sizes of 8.0 or less are multiples of the screen size; larger ones are pixels.
float scaledSize(float declared, int32_t screen) {
    return declared <= 8.0f ? declared * float(screen) : declared;
}

// Null until startTimeline has found the instances.
EffectInstance* instanceAt(const Timeline& timeline, int32_t effect) {
    return size_t(effect) < timeline.instances.size() ? timeline.instances[size_t(effect)]
                                                      : nullptr;
}

} // namespace

void scrp::fireEvent(const Timeline& timeline, const Event& event) {
    if (event.effect < 0) fatal("terminated by script: '%s'", event.value);
    setEffectProperty(instanceAt(timeline, event.effect), event.property, event.value);
}

namespace {

// The fade's value at time u (start <= u <= end), or false when it has none there.
bool fadeValueAt(const Fade& fade, uint32_t u, double* value) {
    if (before(u, fade.start) || before(fade.end, u)) return false;
    // A fade without length jumps straight to its end value.
    if (fade.end == fade.start) {
        *value = fade.to;
        return true;
    }
    double part = double(u - fade.start) / double(fade.end - fade.start);
    *value = double(fade.from) +
             (double(fade.to) - double(fade.from)) * std::pow(part, double(fade.exponent));
    // A steep negative curve overflows just after the start; such a value is not sent.
    return std::isfinite(*value);
}

} // namespace

void scrp::applyFade(const Timeline& timeline, const Fade& fade, uint32_t u) {
    double value = 0;
    if (!fadeValueAt(fade, u, &value)) return;
    char text[128];
    snprintf(text, sizeof text, "%f", value);
    setEffectProperty(instanceAt(timeline, fade.effect), fade.property, text);
}

namespace {
using scrp::applyFade;
using scrp::fireEvent;

void updateFades(Timeline& timeline, uint32_t now) {
    const std::vector<Fade>& fades = timeline.script->fades();
    for (size_t i = 0; i < fades.size(); ++i) {
        const Fade& fade = fades[i];
        if (!before(fade.start, now)) break;
        if (i >= timeline.fadeRunning.size()) break;
        uint8_t& running = timeline.fadeRunning[i];
        // A fade that began at the last tick's own time was not applied by it (starts wait
        // for a later frame), so it counts as begun after that tick.
        if (before(now, fade.end) || !before(fade.start, lastTickTime)) running = 1;
        if (running) applyFade(timeline, fade, before(fade.end, now) ? fade.end : now);
        if (!before(now, fade.end)) running = 0;
    }
}

void fireDueEvents(Timeline& timeline, uint32_t now) {
    const std::vector<Event>& events = timeline.script->events();
    while (timeline.eventCursor < events.size() &&
           events[timeline.eventCursor].time <= int32_t(now)) {
        const Event& event = events[timeline.eventCursor];
        ++timeline.eventCursor;
        // The initial settings belong to startTimeline.
        if (event.time >= 0) fireEvent(timeline, event);
    }
}

void renderActions(const Timeline& timeline, uint32_t now, uint32_t position) {
    for (const Action& action : timeline.script->actions()) {
        if (before(now, action.start) || !before(now, action.end)) continue;
        const TimelineViewport& viewport = timeline.viewports[size_t(action.viewport)];
        setRenderTarget(viewport.target, false);
        setViewport(viewport.x, viewport.y, viewport.width, viewport.height);
        renderEffect(instanceAt(timeline, action.effect), now, position);
    }
}

} // namespace

void createTargets(Timeline& timeline, const Script& script) {
    timeline.script = &script;
    timeline.targets.clear();
    timeline.viewports.clear();
    std::vector<float> widths, heights; // of each target in pixels
    for (const TargetDecl& target : script.targets()) {
        bool primary = strcmp(target.name, "primary") == 0;
        float width = primary ? float(screenWidth()) : scaledSize(target.width, screenWidth());
        float height = primary ? float(screenHeight()) : scaledSize(target.height, screenHeight());
        widths.push_back(width);
        heights.push_back(height);
        if (primary) {
            timeline.targets.push_back(findRenderTarget("primary"));
            continue;
        }
        int32_t w = truncToInt(width), h = truncToInt(height);
        logf("SCRP: adding target '%s' (%dx%d)\n", target.name, int(w), int(h));
        timeline.targets.push_back(createRenderTexture(w, h, target.name, true));
    }
    for (const ViewportDecl& viewport : script.viewports()) {
        size_t target = size_t(viewport.target);
        float w = widths[target], h = heights[target];
        timeline.viewports.push_back(TimelineViewport{
            timeline.targets[target], truncToInt(viewport.x * w), truncToInt(viewport.y * h),
            truncToInt(viewport.width * w), truncToInt(viewport.height * h)});
    }
}

void startTimeline(Timeline& timeline, TimelineProgress progress) {
    const Script& script = *timeline.script;
    timeline.instances.clear();
    for (const EffectDecl& effect : script.effects())
        timeline.instances.push_back(findEffectInstance(effect.instanceName));
    timeline.fadeRunning.assign(script.fades().size(), 0);
    if (progress) progress(0, 1);
    const std::vector<Event>& events = script.events();
    int32_t total = 0;
    while (size_t(total) < events.size() && events[size_t(total)].time < 0)
        ++total;
    for (int32_t k = 0; k < total; ++k) {
        fireEvent(timeline, events[size_t(k)]);
        if (progress) progress(k + 1, total);
        pumpScriptMessages();
    }
    timeline.eventCursor = size_t(total);
}

bool tick(Timeline& timeline, uint32_t now, uint32_t position) {
    updateFades(timeline, now);
    fireDueEvents(timeline, now);
    renderActions(timeline, now, position);
    lastTickTime = now;
    return now < timeline.script->demoEnd();
}

uint32_t previousTickTime() {
    return lastTickTime;
}

void scrp::setPreviousTickTime(uint32_t time) {
    lastTickTime = time;
}

// ------------------------------------------------------------------------------------------
// Warm-up

namespace {

constexpr uint32_t kRehearsalRenderLimit = 4096; // bounds the loading time of huge scripts
// The stand-ins draw into a corner of their viewport: programs and states are the same at
// any size, and filling whole targets hundreds of times would be most of the loading time.
constexpr int32_t kRehearsalSide = 8;

// The music control effect draws nothing and drives the player's variables: a stand-in of
// it would change the sound, so it takes no part.
bool drawsOnDevice(const EffectInstance* instance) {
    return instance && instance->effect && instance->effectClass &&
           strcmp(instance->effectClass->name, "tmxcontrol") != 0;
}

// The last moment an action is drawn (an open end stops at the production's end).
uint32_t actionLast(const Action& action, uint32_t demoEnd) {
    uint32_t end = before(action.end, demoEnd) ? action.end : demoEnd;
    return before(action.start, end) ? end - 1 : action.start;
}

uint32_t actionMiddle(const Action& action, uint32_t demoEnd) {
    return action.start + (actionLast(action, demoEnd) - action.start) / 2;
}

// Stand-ins of the production's effects play the whole timeline; every distinct set of
// property values of an effect is drawn once on each viewport it runs on.
struct Rehearsal {
    const Timeline& timeline;
    std::vector<Effect*> standIns;                            // by declared effect
    std::vector<std::map<std::string, std::string>> values;   // by declared effect
    std::set<std::tuple<int32_t, int32_t, std::string>> seen; // effect, viewport, values
    uint32_t renders = 0;

    explicit Rehearsal(const Timeline& played) : timeline(played) {
        for (EffectInstance* instance : timeline.instances)
            standIns.push_back(drawsOnDevice(instance) && instance->effectClass->create
                                   ? instance->effectClass->create()
                                   : nullptr);
        values.resize(standIns.size());
    }
    ~Rehearsal() {
        for (Effect* effect : standIns)
            delete effect;
    }

    void set(int32_t effect, const char* property, const char* value) {
        if (effect < 0 || size_t(effect) >= standIns.size() || !standIns[size_t(effect)]) return;
        standIns[size_t(effect)]->set(property, value);
        values[size_t(effect)][property] = value;
    }

    bool isSampleMoment(const Action& action, uint32_t now) const {
        uint32_t end = timeline.script->demoEnd();
        return now == action.start || now == actionMiddle(action, end) ||
               now == actionLast(action, end);
    }

    std::string signature(int32_t effect) const {
        std::string text;
        for (const auto& [property, value] : values[size_t(effect)])
            text += property + '=' + value + '\n';
        return text;
    }

    // Records the values the action would draw with; true when they were not drawn before.
    bool recordNewValues(const Action& action) {
        return seen.emplace(action.effect, action.viewport, signature(action.effect)).second;
    }

    // An action is drawn at its start, middle and last moment whatever its values: what an
    // effect draws also grows with its own time (particles, scrolling text). Whenever one is
    // drawn, every action running then is drawn in playback order, so that each finds the
    // device states the one before it leaves in playback.
    void drawRunning(uint32_t now) {
        std::vector<const Action*> running;
        bool wanted = false;
        for (const Action& action : timeline.script->actions()) {
            if (before(now, action.start) || !before(now, action.end)) continue;
            if (!standIns[size_t(action.effect)]) continue;
            running.push_back(&action);
            // Every running action's values are recorded, whether or not one is drawn yet.
            bool fresh = recordNewValues(action);
            wanted = fresh || isSampleMoment(action, now) || wanted;
        }
        if (!wanted) return;
        for (const Action* action : running) {
            if (renders >= kRehearsalRenderLimit) return;
            const TimelineViewport& viewport = timeline.viewports[size_t(action->viewport)];
            setRenderTarget(viewport.target, false);
            setViewport(viewport.x, viewport.y, std::min(viewport.width, kRehearsalSide),
                        std::min(viewport.height, kRehearsalSide));
            standIns[size_t(action->effect)]->render(now - action->start, 0);
            ++renders;
        }
    }
};

// Every moment at which what an effect shows may change its drawing: events, the start,
// middle and last moment of every action, and the start, middle and end of every fade.
std::vector<uint32_t> rehearsalMoments(const Script& script) {
    std::vector<uint32_t> moments;
    for (const Event& event : script.events())
        if (event.time >= 0) moments.push_back(uint32_t(event.time));
    for (const Action& action : script.actions()) {
        moments.push_back(action.start);
        moments.push_back(actionMiddle(action, script.demoEnd()));
        moments.push_back(actionLast(action, script.demoEnd()));
    }
    for (const Fade& fade : script.fades()) {
        moments.push_back(fade.start);
        moments.push_back(fade.start + (fade.end - fade.start) / 2);
        moments.push_back(fade.end);
    }
    std::sort(moments.begin(), moments.end());
    moments.erase(std::unique(moments.begin(), moments.end()), moments.end());
    while (!moments.empty() && !before(moments.back(), script.demoEnd()))
        moments.pop_back();
    return moments;
}

void rehearse(Rehearsal& rehearsal, const std::vector<uint32_t>& moments,
              TimelineProgress progress) {
    const Script& script = *rehearsal.timeline.script;
    const std::vector<Event>& events = script.events();
    size_t cursor = 0;
    for (size_t k = 0; k < moments.size(); ++k) {
        uint32_t now = moments[k];
        for (; cursor < events.size() && events[cursor].time <= int32_t(now); ++cursor)
            rehearsal.set(events[cursor].effect, events[cursor].property, events[cursor].value);
        for (const Fade& fade : script.fades()) {
            double value = 0;
            if (!fadeValueAt(fade, now, &value)) continue;
            char text[128];
            snprintf(text, sizeof text, "%f", value);
            rehearsal.set(fade.effect, fade.property, text);
        }
        rehearsal.drawRunning(now);
        if (progress) progress(int32_t(k + 1), int32_t(moments.size() + 1));
        pumpScriptMessages();
    }
}

} // namespace

void warmUpTimeline(Timeline& timeline, TimelineProgress progress) {
    {
        Rehearsal rehearsal(timeline);
        rehearse(rehearsal, rehearsalMoments(*timeline.script), progress);
        if (rehearsal.renders >= kRehearsalRenderLimit)
            logf("SCRP: warning: the warm-up stopped after %u drawings\n",
                 unsigned(rehearsal.renders));
    }
    // The instances themselves make what they make on their first drawing, at local time 0
    // as playback will; each shared setting they write is back at the start.
    std::set<std::pair<int32_t, int32_t>> drawn;
    for (const Action& action : timeline.script->actions()) {
        EffectInstance* instance = instanceAt(timeline, action.effect);
        if (!drawsOnDevice(instance) || !drawn.emplace(action.effect, action.viewport).second)
            continue;
        const TimelineViewport& viewport = timeline.viewports[size_t(action.viewport)];
        setRenderTarget(viewport.target, false);
        setViewport(viewport.x, viewport.y, viewport.width, viewport.height);
        instance->effect->render(0, 0);
    }
    // What was drawn is not part of the production.
    for (RenderTarget* target : timeline.targets) {
        if (!target) continue;
        setRenderTarget(target, false);
        bool primary = strcmp(target->name, "primary") == 0;
        setViewport(0, 0, primary ? screenWidth() : target->width,
                    primary ? screenHeight() : target->height);
        clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    }
    if (progress) progress(1, 1);
}
