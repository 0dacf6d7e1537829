// Effect classes whose drawing is not built yet. They register under their names so that
// scripts declaring them parse and run; their instances draw nothing and ignore every
// property until each class gets its own file.
#include "effects/effect.h"

#include "effects/classes_local.h"

namespace {

class PendingEffect : public Effect {};

constexpr EffectClass pendingClass(const char* name) {
    return EffectClass{name, nullptr, nullptr, createEffectOf<PendingEffect>,
                       recreateEffectOf<PendingEffect>};
}

} // namespace

const EffectClass multitextEffectClass = pendingClass("multitext");
const EffectClass gledEffectClass = pendingClass("gled");
const EffectClass designboxEffectClass = pendingClass("designbox");
const EffectClass designlinesEffectClass = pendingClass("designlines");
const EffectClass yodawriterEffectClass = pendingClass("yodawriter");
const EffectClass gled2EffectClass = pendingClass("gled2");
const EffectClass letterwriterEffectClass = pendingClass("letterwriter");
const EffectClass scrollerEffectClass = pendingClass("scroller");
const EffectClass pilztumEffectClass = pendingClass("pilztum");
const EffectClass imagescrollerEffectClass = pendingClass("imagescroller");
const EffectClass maxEffectClass = pendingClass("max");
const EffectClass imageEffectClass = pendingClass("image");
const EffectClass vexwriterEffectClass = pendingClass("vexwriter");
const EffectClass matrixEffectClass = pendingClass("matrix");
