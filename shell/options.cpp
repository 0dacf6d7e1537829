#include "shell/options.h"

#include "shell/export.h"
#include "shell/seek.h"

#include <CLI/CLI.hpp>

#include <cstdio>

LaunchOptions launchOptions;

namespace {

constexpr double kLongestOfflineSeconds = 65535.0;

} // namespace

bool parseSize(const std::string& text, int* width, int* height) {
    int w = 0, h = 0;
    char rest = 0;
    if (sscanf(text.c_str(), "%dx%d%c", &w, &h, &rest) != 2) return false;
    if (w < 64 || h < 48 || w > 16384 || h > 16384) return false;
    *width = w;
    *height = h;
    return true;
}

int parseLaunchOptions(int argc, char** argv, LaunchOptions* options) {
    CLI::App app{"lux32 - plays a demo production in sync with its music"};
    std::string windowed;
    app.add_option("-C", options->folder, "Production folder (default: current directory)");
    app.add_flag("--no-dialog", options->noDialog, "Start without the launch dialog");
    app.add_option("--windowed", windowed, "Play in a window of this client size, e.g. 1280x720");
    app.add_flag("--fullscreen", options->fullscreen, "Play full screen");
    app.add_flag("--loop", options->loop, "Start over when the production ends");
    app.add_option("--gamma", options->gamma, "Display gamma, 0.2 to 4.0")
        ->check(CLI::Range(0.2f, 4.0f));
    app.add_option("--flavor", options->flavor, "Prefer the data archive with this id");
    auto* render = app.add_option("--render", options->renderDir,
                                  "Render offline into this folder (PNG frames + audio.wav)");
    auto* video = app.add_option("--video", options->videoFile,
                                 "Render offline into this video file through ffmpeg (the same "
                                 "frames and sound as --render; odd sizes are rounded up to even)")
                      ->excludes(render);
    app.add_flag("--benchmark", options->benchmark,
                 "Play offline as fast as possible, write nothing, print fps, CPU time, draw "
                 "calls and state changes per frame and the loading time")
        ->excludes(render)
        ->excludes(video);
    std::string size;
    app.add_option("--size", size, "Frame size of --render, --video or --benchmark, e.g. 1280x720");
    app.add_option("--fps", options->fps,
                   "Frames per second of an offline run (--video and --benchmark: 60 if not given)")
        ->check(CLI::Range(1, 1000));
    // Offline times become 32-bit counts of 1/65536 s, which end before 65536 s.
    app.add_option("--from", options->from, "Offline run starts at this second")
        ->check(CLI::Range(0.0, kLongestOfflineSeconds));
    app.add_option("--to", options->to, "Offline run ends at this second")
        ->check(CLI::Range(0.0, kLongestOfflineSeconds));
    app.add_option("--start-at", options->startAt,
                   "Start at this moment: seconds (12.5), order:row[:tick] (4:32) or a packed "
                   "song position (0x042000); also with --render and --from");
    app.add_flag("--watch", options->watch,
                 "Re-read the script when it or a file it includes changes, and play on at the "
                 "same moment");
    app.add_flag("--check", options->check,
                 "Check the production's script and print its timeline, without a window");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        int status = app.exit(error);
        return status == 0 ? -1 : 2;
    }
    if (!windowed.empty() && !parseSize(windowed, &options->windowWidth, &options->windowHeight)) {
        fprintf(stderr, "lux32: --windowed wants WIDTHxHEIGHT (64x48 to 16384x16384), not '%s'\n",
                windowed.c_str());
        return 2;
    }
    if (options->fullscreen && options->windowWidth) {
        fprintf(stderr, "lux32: --windowed and --fullscreen exclude each other\n");
        return 2;
    }
    if (finishExportOptions(size, options) != 0) return 2;
    if (options->offline() && options->fps == 0) {
        fprintf(stderr, "lux32: --render needs --fps N\n");
        return 2;
    }
    if (options->offline() && options->to >= 0 && options->to <= options->from) {
        fprintf(stderr, "lux32: --to must lie after --from\n");
        return 2;
    }
    StartPosition start;
    if (!options->startAt.empty() && !parseStartPosition(options->startAt, &start)) {
        fprintf(stderr, "lux32: --start-at wants seconds, order:row[:tick] or 0xOORRTT, not '%s'\n",
                options->startAt.c_str());
        return 2;
    }
    if (options->offline()) options->noDialog = true;
    return 0;
}
