// The process-wide configuration values.
//
// Start-up owns them: the script's global settings ("tune", the resolution bounds,
// "prefbpp", "gamma") and the launch dialog fill them in; the device, the value parsers
// (numbers with an "x" or "y" suffix divide by the preferred resolution) and the main
// loop read them. They live at the bottom of the program so that every layer can read them.
// Run-time state is kept by its owners: the shell knows whether its window is active and
// whether the user quit, the device the size it really runs at (gfx/device.h).
#pragma once

#include <cstdint>

struct ConfigValues {
    int32_t minxres = -1; // resolution bounds of the launch dialog, -1 = not set
    int32_t minyres = -1;
    int32_t maxxres = -1;
    int32_t maxyres = -1;
    int32_t prefxres = -1; // preferred resolution, -1 = not set
    int32_t prefyres = -1;
    int32_t prefbpp = -1; // preferred colour depth, -1 = not set
    float gamma = 1.0f;   // 0.2 ... 4.0
    int32_t xres = 0;     // chosen screen or window size in pixels
    int32_t yres = 0;
    int32_t windowed = 0; // 1 = window, 0 = full screen
    int32_t loop = 0;     // 1 = start over at the end of the production
    int32_t lowtexq = 0;  // 1 = "16bit textures": textures in 16-bit formats
    char tune[256] = {};  // music file name, lower-cased
};

extern ConfigValues configValues;

// Copies text into a fixed-size field, always cut to fit and zero-terminated.
template <unsigned N> void copyName(char (&field)[N], const char* text) {
    unsigned i = 0;
    if (text)
        for (; i + 1 < N && text[i]; ++i)
            field[i] = text[i];
    field[i] = 0;
}
