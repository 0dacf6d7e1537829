// Seeking in the production: --start-at and the Page Up / Page Down keys.
//
// A seek moves the music and brings the timeline to the state a play from the start would
// have there (script/timeline.h: rebuildTimeline, advanceTimeline): the events and fades up
// to that moment applied, every running effect's clock where that play would have it. Going
// forward continues from the state being played; going back makes every effect anew, runs
// the initial settings again and rebuilds from the start.
//
// --start-at: the options check the form (`parseStartPosition`); the frame loop calls
// `offlineStartFrame` before the music starts (an offline render begins at the first frame
// at or after the start) and `seekToStartPosition` right after `tmxPlay`. A position the tune
// lacks, or one at or past the end of the production or of its tune, ends the program with a
// message. Page Down goes to row 0 of the next order, Page Up to row 0 of the previous one
// (row 0 of order 0 from there); Space and right Alt keep their own meaning.
//
// Main thread only. Log lines carry the prefix "MAIN: ".
#pragma once

#include <cstdint>
#include <string>

struct TickTimes;

enum : int { kKeyPageUp = 201, kKeyPageDown = 209 }; // DirectInput scan codes

// A --start-at position: seconds ("12.5"), order:row[:tick] ("4:32", also "4/32/0"), or a
// packed song position as scripts write it after "at pos" ("0x042000").
struct StartPosition {
    bool song = false;  // order, row and tick; else seconds
    double seconds = 0; // >= 0
    int32_t order = 0, row = 0, tick = 0;
};

// False for a text of none of the forms (or numbers out of range: orders, rows and ticks
// are 0 ... 255).
bool parseStartPosition(const std::string& text, StartPosition* position);

// Offline frame clock: frame n shows the production at n / fps.
uint32_t offlineFrameTime(uint64_t frame);
uint64_t offlineFrameAtOrAfter(uint32_t time);
// The frame times of an offline render, for rebuilding the timeline on them.
const TickTimes& offlineTickTimes();

// The frame an offline render starts with (0 without --start-at); the music's frame clock is
// moved there silently. Ends the program for positions the production lacks.
uint64_t offlineStartFrame();
// --start-at, right after tmxPlay: the music and the timeline go to the start position.
void seekToStartPosition(bool offline);

// Page Up / Page Down, latched presses, at song position pos.
void handleSeekKeys(uint32_t pos);

// Moves the music to `time` and waits (briefly) until it is heard there.
void seekMusicTo(uint32_t time);
