// Test programs that parse scripts or make effects register the program's effect classes
// before their cases run, as start-up does once the file lookup exists.
#pragma once

#include "effects/effect.h"

inline const bool builtinEffectClassesRegistered = [] {
    registerBuiltinEffectClasses();
    return true;
}();
