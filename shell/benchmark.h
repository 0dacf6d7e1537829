// What loading and playback cost: the load report and the benchmark's per-frame figures.
//
// Start-up marks the end of each loading stage (`markLoadStage`); when the loading screen
// goes, `logLoadReport` writes one "MAIN: load report: ..." line with the seconds of every
// stage and what loading made (textures, fonts, scenes, shaders compiled), and remembers the
// device counters so that `logPlaybackCreations` can show what playback made on top (nothing,
// once the warm-up has done its work). The frame loop calls `countPlaybackFrame` after every
// present; `--benchmark` prints the figures with `printBenchmarkReport` when it ends.
#pragma once

#include <cstdint>
#include <cstdio>

// Ends the loading stage running now under this name (the first one runs from process start).
void markLoadStage(const char* stage);
void logLoadReport();
const char* loadReportText(); // the report without its prefix ("" before logLoadReport)

// After each present of playback: the frame's draw calls and state changes, and the clocks.
void countPlaybackFrame();
// "MAIN: playback made ..." with the programs, textures, depth surfaces and buffers created
// since the load report.
void logPlaybackCreations();
// The benchmark's lines: frame size and rate, frames, fps, wall and CPU time per frame, draw
// calls and state changes per frame, and the load report.
void printBenchmarkReport(FILE* out, int32_t width, int32_t height, int32_t fps);

// Seconds from the first to the latest counted frame, and the frames counted.
double playbackSeconds();
uint64_t playbackFrames();
