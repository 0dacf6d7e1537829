#include "shell/options.h"

#include <CLI/CLI.hpp>

#include <cstdio>

LaunchOptions launchOptions;

namespace {

constexpr double kLongestOfflineSeconds = 65535.0;

bool parseSize(const std::string& text, int* width, int* height) {
    int w = 0, h = 0;
    char rest = 0;
    if (sscanf(text.c_str(), "%dx%d%c", &w, &h, &rest) != 2) return false;
    if (w < 64 || h < 48 || w > 16384 || h > 16384) return false;
    *width = w;
    *height = h;
    return true;
}

} // namespace

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
    app.add_option("--fps", options->fps, "Frames per second of an offline render")
        ->check(CLI::Range(1, 1000))
        ->needs(render);
    // Offline times become 32-bit counts of 1/65536 s, which end before 65536 s.
    app.add_option("--from", options->from, "Offline render starts at this second")
        ->check(CLI::Range(0.0, kLongestOfflineSeconds))
        ->needs(render);
    app.add_option("--to", options->to, "Offline render ends at this second")
        ->check(CLI::Range(0.0, kLongestOfflineSeconds))
        ->needs(render);
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
    if (options->offline() && options->fps == 0) {
        fprintf(stderr, "lux32: --render needs --fps N\n");
        return 2;
    }
    if (options->offline() && options->to >= 0 && options->to <= options->from) {
        fprintf(stderr, "lux32: --to must lie after --from\n");
        return 2;
    }
    if (options->offline()) options->noDialog = true;
    return 0;
}
