// The class records of the program's effects, each defined beside its effect and registered
// by effects/effect.cpp. Only the effects' own files include this header.
#pragma once

#include "effects/effect.h"

// Effect class records of the program, in registration order. Each is defined beside its
// effect.
extern const EffectClass gridEffectClass;
extern const EffectClass motionblurEffectClass;
extern const EffectClass fadeEffectClass;
extern const EffectClass multitextEffectClass;
extern const EffectClass gledEffectClass;
extern const EffectClass designboxEffectClass;
extern const EffectClass designlinesEffectClass;
extern const EffectClass clearEffectClass;
extern const EffectClass yodawriterEffectClass;
extern const EffectClass gled2EffectClass;
extern const EffectClass letterwriterEffectClass;
extern const EffectClass scrollerEffectClass;
extern const EffectClass fadeblocksEffectClass;
extern const EffectClass pilztumEffectClass;
extern const EffectClass torusfaderEffectClass;
extern const EffectClass imagescrollerEffectClass;
extern const EffectClass maxEffectClass;
extern const EffectClass tmxcontrolEffectClass;
extern const EffectClass imageEffectClass;
extern const EffectClass crashzoomEffectClass;
extern const EffectClass rainEffectClass;
extern const EffectClass vexwriterEffectClass;
extern const EffectClass matrixEffectClass;
extern const EffectClass plasma1EffectClass;
extern const EffectClass lofiEffectClass;
