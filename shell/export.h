// Offline output: PNG frames, a video file through ffmpeg, or a benchmark that writes nothing.
//
// All three play the production on the exact frame clock of an offline run (frame n shows
// time n / fps, the sound is rendered sample-exact beside it). `--render DIR` writes
// frameNNNNNN.png and audio.wav into DIR. `--video FILE` pipes the same frames as raw RGB into
// an ffmpeg process that encodes them into a temporary file beside FILE, writes the sound as a
// temporary WAV file beside it, and at the end lets ffmpeg put both into FILE; a run that does
// not get there removes what it left and says so. `--benchmark` renders the sound and drops
// it, reads no frame back, and prints the figures of shell/benchmark.h.
//
// Order: `finishExportOptions` while the command line is read (it refuses what cannot work:
// a missing ffmpeg, an unwritable file); `roundVideoSize` once the frame size is chosen;
// `openOfflineOutput` instead of the sound device; `deliverOfflineFrame` after every present
// from --from on; `finishOfflineRun` when the frame loop has ended.
#pragma once

#include "shell/options.h"

#include <cstdint>
#include <string>

struct SoundSettings;

// Checks and completes the export options (--size, --video, --benchmark, the frame rate
// defaults); 0 to go on, 2 with the message printed.
int finishExportOptions(const std::string& size, LaunchOptions* options);
// The full path of ffmpeg on the PATH, or "" when there is none.
std::string findFfmpeg();
// Video encoders want even sizes: the chosen frame size goes up to the next even one.
void roundVideoSize();
// The sound output of an offline run (the PNG folder and audio.wav, the video's temporary
// WAV and its encoder, or nothing for a benchmark); fatal when a file cannot be written.
bool openOfflineOutput(const SoundSettings* settings);
// The frame just presented, the index-th one written (PNG, video pipe, or counted only).
void deliverOfflineFrame(uint64_t index);
// After the frame loop: the video is finished into its file, the benchmark prints its report.
void finishOfflineRun();
