// The player's own keys beside the skip keys: F1 shows or hides the info overlay, F2 pauses
// and resumes the music and with it the timeline, F12 saves the frame just shown as a PNG file
// beside the log ("screenshot-NNN.png", the first free number; a "MAIN: " line names it).
//
// The overlay (time in seconds, order/row/tick, fps, frame time, draw calls and state changes
// of the last frame) is drawn with the embedded small font through the device context, over
// the production, right before the frame is presented. Its figures count the overlay's own
// text too.
//
// Order: `prepareOverlay` while the loading fonts are still held (it takes its own reference
// on the small one, so playback loads nothing); every frame `drawOverlay` before the present
// and `handlePlayerKeys` after it; `closeOverlay` at shutdown, before the font pool closes.
#pragma once

#include <cstddef>
#include <cstdint>

void prepareOverlay();
void drawOverlay(uint32_t time, uint32_t position);
void handlePlayerKeys();
void closeOverlay();

bool overlayVisible();
// The file name of screenshot number n beside the log: "<log folder>/screenshot-NNN.png".
void screenshotPath(char* out, size_t capacity, int32_t number);
