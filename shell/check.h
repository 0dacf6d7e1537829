// `lux32 --check`: validates a production without opening a window.
//
// Runs the file lookup start-up, preprocesses the script and parses it in its dry run,
// applies the global settings through the given handler (start-up's configuration keys),
// loads the tune into the music player without a sound device, parses the script again to
// build the timeline, and prints that timeline to standard output in a stable text form:
// the counts, the demo end, the global settings, targets, viewports, effects, bindings and
// macros, then every event, fade and action in its sorted order, and last the textures and
// fonts of the "first" settings with what the lookup finds for each. Times are printed in
// seconds with three decimals and as order/row/tick.
//
// Called by main after it has changed to the production folder. Returns 0; every error
// (missing script or tune, tune the player refuses, script errors) ends the process through
// fatal, which prints the message to standard error and exits with status 1.
#pragma once

#include <cstdio>

class Script;

int runCheck(void (*applyConfigKey)(const char* key, const char* value));

// Writes the timeline of a built script in the form runCheck prints.
void printTimeline(Script& script, FILE* out);
// Then one line per texture or font that the "first" settings name: its request and what the
// lookup finds ("found", "NOT FOUND", "generated", "render target", the face a font renders
// from).
void printResources(Script& script, FILE* out);
