// Launch dialog: the logic (lists, defaults, scores, enable rules, result).
#include "shell/launchdialog.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr size_t kFlavorNameLength = 127;

// The number an edit holds: decimal, leading blanks skipped, empty reads as 0, and a number
// too large for 32 bits reads as the nearest limit (the size check refuses it either way).
int32_t editNumber(const std::string& text) {
    errno = 0;
    long value = strtol(text.c_str(), nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return int32_t(value);
}

std::string defaultSize(int32_t preferred, int32_t minimum, int32_t fallback) {
    int32_t value = preferred > 0 ? preferred : minimum > 0 ? minimum : fallback;
    return std::to_string(value);
}

} // namespace

int32_t modeDepth(D3DFORMAT format, int32_t previousDepth) {
    switch (format) {
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
        return 16;
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A8R8G8B8:
        return 32;
    default:
        return previousDepth;
    }
}

LaunchDialog::LaunchDialog(const LaunchInputs& given) : inputs_(given) {
    const LaunchInputs& in = inputs_;
    if (in.adapters.size() == 1) {
        devices.push_back(in.adapters[0].name);
    } else {
        for (const DialogAdapter& adapter : in.adapters)
            devices.push_back(adapter.name);
    }
    selectDevice(0);

    for (const std::string& name : in.archives)
        flavors.push_back(name.substr(0, kFlavorNameLength));
    if (flavors.empty()) flavors.push_back("completely unknown");
    flavorEnabled = in.archives.size() >= 2;

    // The full-screen state; the device list only when there is a choice.
    screenMode = kScreenFull;
    sizeEditsEnabled = false;
    deviceListEnabled = in.adapters.size() > 1;
    modeListEnabled = true;

    widthText = defaultSize(in.prefxres, in.minxres, 640);
    heightText = defaultSize(in.prefyres, in.minyres, 480);
    loop = in.loop != 0;
    noTrilinear = in.notrilin != 0;
    gamma = in.gamma;
}

void LaunchDialog::selectDevice(int32_t index) {
    device = index;
    modes.clear();
    mode = 0;
    if (index < 0 || size_t(index) >= inputs_.adapters.size()) return;
    int32_t depth = 0;
    int32_t bestScore = -1;
    const std::vector<D3DDISPLAYMODE>& list = inputs_.adapters[size_t(index)].modes;
    for (size_t i = 0; i < list.size(); ++i) {
        const D3DDISPLAYMODE& m = list[i];
        depth = modeDepth(m.Format, depth);
        char text[64];
        snprintf(text, sizeof text, "%dx%d, %d bpp", int(m.Width), int(m.Height), int(depth));
        modes.push_back(text);
        int32_t score = (int32_t(m.Width) == inputs_.prefxres) +
                        (int32_t(m.Height) == inputs_.prefyres) + (depth == inputs_.prefbpp);
        if (score > bestScore) {
            bestScore = score;
            mode = int32_t(i);
        }
    }
}

void LaunchDialog::setScreenMode(ScreenMode wanted) {
    screenMode = wanted;
    sizeEditsEnabled = wanted == kScreenWindowed;
    deviceListEnabled = wanted != kScreenWindowed;
    modeListEnabled = wanted != kScreenWindowed;
}

void LaunchDialog::windowSizeFromEdits(int32_t* width, int32_t* height) const {
    *width = editNumber(widthText);
    *height = editNumber(heightText);
}

bool LaunchDialog::launch() {
    LaunchChoice c;
    c.adapter = device;
    c.mode = mode;
    c.windowed = screenMode == kScreenWindowed;
    c.lowTextures = lowTextures;
    c.loop = loop;
    c.notrilin = noTrilinear;
    c.flavor = flavor;
    c.monitor = monitor;
    c.vsync = vsync;
    c.latencyMs = latencyMs;
    c.gamma = gamma;
    if (c.windowed) {
        windowSizeFromEdits(&c.xres, &c.yres);
        c.adapter = 0;
        int32_t maxWidth = inputs_.desktopWidth > 0 ? inputs_.desktopWidth : kMaxWindowSize;
        int32_t maxHeight = inputs_.desktopHeight > 0 ? inputs_.desktopHeight : kMaxWindowSize;
        maxWidth = std::clamp(maxWidth, kMinWindowWidth, kMaxWindowSize);
        maxHeight = std::clamp(maxHeight, kMinWindowHeight, kMaxWindowSize);
        if (c.xres < kMinWindowWidth || c.yres < kMinWindowHeight || c.xres > maxWidth ||
            c.yres > maxHeight) {
            char text[200];
            snprintf(text, sizeof text,
                     "A window of %d x %d pixels cannot be opened: the width must lie between "
                     "%d and %d, the height between %d and %d.",
                     int(c.xres), int(c.yres), int(kMinWindowWidth), int(maxWidth),
                     int(kMinWindowHeight), int(maxHeight));
            message = text;
            return false;
        }
    } else {
        if (modes.empty() || size_t(device) >= inputs_.adapters.size()) {
            message = "This display offers no full-screen modes within the production's limits; "
                      "choose \"windowed\".";
            return false;
        }
        const D3DDISPLAYMODE& m = inputs_.adapters[size_t(device)].modes[size_t(mode)];
        c.xres = int32_t(m.Width);
        c.yres = int32_t(m.Height);
    }
    message.clear();
    choice = c;
    return true;
}
