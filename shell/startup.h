// The program's spine: start-up in its fixed order, the demo window and what its events
// mean, demoInit (script and music), demoMain (the frame loop on the music clock, with the
// skip keys and looping), and the two ways out: demoExit (orderly, through every close in
// its order) and the early exit when the user quits the launch dialog.
//
// Every step logs a "WNMN: " (start-up, window, shutdown) or "MAIN: " (demo and loop) line.
#pragma once

#include "shell/options.h"

#include <cstdint>

// Runs the whole program with the given options; returns only for the check mode.
int luxMain(const LaunchOptions& options);

void demoInit();
void demoMain();
[[noreturn]] void demoExit();

// Drains the waiting window events; a close request ends the program through demoExit.
void pumpMessages();

// The skip keys of the frame loop at song position pos: Space goes to row 0 of the next
// order, right Alt back to row 0 of the previous one; neither acts at a row 0.
void handleSkipKeys(uint32_t pos);

// One global setting of the script: the configuration keys, ignoring other names.
void applyConfigKey(const char* name, const char* value);

// The tune type the music player is told, from the lower-cased tune name.
int tuneTypeOf(const char* tuneName);
