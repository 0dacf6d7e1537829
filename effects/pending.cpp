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

const EffectClass gledEffectClass = pendingClass("gled");
const EffectClass gled2EffectClass = pendingClass("gled2");
