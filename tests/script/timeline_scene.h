// The production of the timeline's golden-image test and benchmark: a texture target and the
// screen, viewports on both, clears and fades in several z layers, fades of properties over
// time. Its frames at the times of kSceneFrames are the reviewed pictures under tests/golden.
#pragma once

#include <cstdint>

constexpr const char* kTimelineScene = R"(
rendertarget half 0.5 0.5
viewport left 0 0 0.5 1
viewport right 0.5 0 0.5 1
viewport inset 0.25 0.25 0.5 0.5
viewport band 0 0.4 1 0.2
viewport whole 0 0 1 1 target half
viewport corner 0.5 0.5 0.5 0.5 target half
effect bg is clear
effect red is clear
effect blue is clear
effect flash is fade
effect shade is fade
effect stripe is fade
effect tbg is clear
effect tcorner is fade
demo runs for 4 seconds
first set bg.color to 0x202020 and set red.color to 0xc02020 and set blue.color to 0x2040c0
and set flash.color to 0xffff00 and set shade.color to 0 and set stripe.color to 0x00ff80
and set stripe.fade to 0.5 and set tbg.color to 0x00a000 and set tcorner.color to 0xff00ff
at second 0 start tbg z -1 vp whole and start tcorner vp corner for 2 seconds
and fade tcorner.fade from 1 to 0 for 2 seconds
at second 0 start bg z 0 and start red z 1 vp left for 3 seconds
at second 1 start blue vp right
at second 0 start flash z 3 vp inset and fade flash.fade from 0 to 1 for 2 seconds
at second 1 start stripe z 2 vp band for 2 seconds
at second 2 start shade z 4 and fade shade.fade from 0 to 0.8 curve 20 for 2 seconds
enddemo
)";

// Seconds at which the golden frames are taken.
constexpr double kSceneFrames[] = {0.5, 1.5, 2.5, 3.5};
