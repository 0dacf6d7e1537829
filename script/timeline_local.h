// What the timeline's tick and its seeking (script/timelineseek.cpp) share.
#pragma once

#include "script/timeline.h"

#include <cstdint>

struct Event;
struct Fade;

namespace scrp {

// An event as a tick fires it: a "die" event ends the program, any other sets its property.
void fireEvent(const Timeline& timeline, const Event& event);
// Sets a fade's property to its value at u (start <= u <= end), formatted with "%f".
void applyFade(const Timeline& timeline, const Fade& fade, uint32_t u);
void setPreviousTickTime(uint32_t time);

} // namespace scrp
