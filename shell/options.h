// The player's command line.
//
// Without arguments the player starts as it always did: the launch dialog, then the
// production of the current directory. The options cover what a person or a test needs
// beyond that: another production folder, no dialog with a given window or full screen,
// looping, gamma and flavor (with the dialog they fill in its first choices), an offline render of
// PNG frames and a WAV file at a fixed frame rate, the same frames and sound as a video file
// (through ffmpeg) or played as fast as possible as a benchmark, and a check of the script that
// prints the timeline.
#pragma once

#include <string>

struct LaunchOptions {
    std::string folder;    // -C: production folder ("" = current directory)
    bool noDialog = false; // --no-dialog
    int windowWidth = 0;   // --windowed WxH (0 = not given)
    int windowHeight = 0;
    bool fullscreen = false; // --fullscreen
    bool loop = false;       // --loop
    float gamma = 0.0f;      // --gamma (0 = not given; else 0.2 ... 4.0)
    std::string flavor;      // --flavor: id of the preferred archive ("" = not given)
    std::string renderDir;   // --render: offline frames and audio go here
    int fps = 0;             // --fps (offline)
    double from = 0.0;       // --from, seconds (offline)
    double to = -1.0;        // --to, seconds (offline; < 0 = to the production's end)
    bool check = false;      // --check
    std::string startAt;     // --start-at: seconds, order:row or 0xOORRTT ("" = the start)
    bool watch = false;      // --watch: re-read the script when it changes
    std::string videoFile;   // --video: offline frames and audio piped into ffmpeg
    bool benchmark = false;  // --benchmark: offline as fast as possible, nothing written
    int sizeWidth = 0;       // --size WxH: the offline frame size (0 = not given)
    int sizeHeight = 0;

    // Every offline mode plays on the exact frame clock instead of the sound device.
    bool offline() const { return !renderDir.empty() || !videoFile.empty() || benchmark; }
};

// Fills options from the command line. Returns 0 to go on; otherwise the process's exit
// status (help printed: 0 given as -1, errors: 2), with the message already printed.
int parseLaunchOptions(int argc, char** argv, LaunchOptions* options);

// "WIDTHxHEIGHT" within 64x48 ... 16384x16384; false (nothing stored) otherwise.
bool parseSize(const std::string& text, int* width, int* height);

extern LaunchOptions launchOptions;
