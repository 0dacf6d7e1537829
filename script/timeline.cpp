// Timeline runtime: render targets, initial settings, per-frame fades, events and actions.
#include "script/timeline.h"

#include "effects/effect.h"
#include "gfx/device.h"
#include "platform/config.h"
#include "platform/log.h"
#include "script/parser.h"

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

const char* instanceOf(const Script& script, int32_t effect) {
    return script.effects()[size_t(effect)].instanceName;
}

void fireEvent(const Script& script, const Event& event) {
    if (event.effect < 0) fatal("terminated by script: '%s'", event.value);
    setEffectProperty(instanceOf(script, event.effect), event.property, event.value);
}

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

void applyFade(const Script& script, const Fade& fade, uint32_t u) {
    double value = 0;
    if (!fadeValueAt(fade, u, &value)) return;
    char text[128];
    snprintf(text, sizeof text, "%f", value);
    setEffectProperty(instanceOf(script, fade.effect), fade.property, text);
}

void updateFades(Script& script, uint32_t now) {
    for (Fade& fade : script.fades()) {
        if (!before(fade.start, now)) break;
        if (before(now, fade.end) || before(lastTickTime, fade.start)) fade.active = 1;
        if (fade.active) applyFade(script, fade, before(fade.end, now) ? fade.end : now);
        if (!before(now, fade.end)) fade.active = 0;
    }
}

void fireDueEvents(Script& script, uint32_t now) {
    const std::vector<Event>& events = script.events();
    while (size_t(script.eventCursor) < events.size() &&
           events[size_t(script.eventCursor)].time <= int32_t(now)) {
        const Event& event = events[size_t(script.eventCursor)];
        ++script.eventCursor;
        // The initial settings belong to startTimeline.
        if (event.time >= 0) fireEvent(script, event);
    }
}

void renderActions(const Script& script, uint32_t now, uint32_t position) {
    for (const Action& action : script.actions()) {
        if (before(now, action.start) || !before(now, action.end)) continue;
        const ViewportDecl& viewport = script.viewports()[size_t(action.viewport)];
        selectRenderTarget(script.targets()[size_t(viewport.target)].name, false);
        setViewport(truncToInt(viewport.x), truncToInt(viewport.y), truncToInt(viewport.width),
                    truncToInt(viewport.height));
        renderEffect(instanceOf(script, action.effect), now, position);
    }
}

} // namespace

void createTargets(Script& script) {
    if (script.targetsCreated) return;
    script.targetsCreated = true;
    for (TargetDecl& target : script.targets()) {
        if (strcmp(target.name, "primary") == 0) continue;
        target.width = scaledSize(target.width, configValues.xres);
        target.height = scaledSize(target.height, configValues.yres);
        int32_t width = truncToInt(target.width);
        int32_t height = truncToInt(target.height);
        logf("SCRP: adding target '%s' (%dx%d)\n", target.name, int(width), int(height));
        createRenderTexture(width, height, target.name, true);
    }
    for (ViewportDecl& viewport : script.viewports()) {
        const TargetDecl& target = script.targets()[size_t(viewport.target)];
        viewport.x *= target.width;
        viewport.width *= target.width;
        viewport.y *= target.height;
        viewport.height *= target.height;
    }
}

void startTimeline(Script& script, TimelineProgress progress) {
    if (progress) progress(0, 1);
    const std::vector<Event>& events = script.events();
    int32_t total = 0;
    while (size_t(total) < events.size() && events[size_t(total)].time < 0)
        ++total;
    for (int32_t k = 0; k < total; ++k) {
        fireEvent(script, events[size_t(k)]);
        if (progress) progress(k + 1, total);
        pumpScriptMessages();
    }
    script.eventCursor = total;
}

bool tick(Script& script, uint32_t now, uint32_t position) {
    updateFades(script, now);
    fireDueEvents(script, now);
    renderActions(script, now, position);
    lastTickTime = now;
    return now < script.demoEnd();
}

uint32_t previousTickTime() {
    return lastTickTime;
}
