// --watch: the script re-read while the production plays.
//
// A problem is shown three ways: a log line, the window title, and two short lines drawn
// over the bottom of the picture with the embedded font, through the device context, until
// a good script is read.
//
// A few times a second the frame loop's `pollScriptWatch` compares the modification times and
// sizes of the script and of every file it includes (those found on disk; files inside
// archives do not change). When one changed, the script is preprocessed and parsed, dry and
// built, in a child process first: parse errors end a process, and this way they end only the
// child. Its error text goes to the log and into the window title, and the old script plays
// on. When the check passes, the child hands back the preprocessed text and the player parses
// exactly that text, so an edit in between cannot bring an error in; the new script replaces
// the old one and its timeline is rebuilt at the current moment, as --start-at would.
// A script file that is removed or cannot be read is reported and the old script plays on.
//
// Main thread only. Log lines carry the prefix "MAIN: ".
#pragma once

#include <cstdint>

// Once per drawn frame, after the frame at `time` was presented. Offline the timeline is
// rebuilt on the render's frame times.
void pollScriptWatch(uint32_t time, bool offline);
// Draws the problem over the frame (nothing when there is none); before the frame is presented.
void drawScriptWatchMessage();
// Releases the font of the message; shutdown, before the font pool closes.
void closeScriptWatch();
