// Timeline runtime: render targets, initial settings, per-frame fades, events and actions.
#include "script/timeline.h"

#include "effects/effect.h"
#include "gfx/device.h"
#include "platform/config.h"
#include "platform/log.h"
#include "script/parser.h"
#include "script/timeline_local.h"

#include <cmath>
#include <cstdio>
#include <cstring>

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
