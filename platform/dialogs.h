// The dialog window of the launch sequence: the launch dialog, the gamma selector and the
// sound settings, drawn with Dear ImGui over SDL2 + OpenGL in one small window of their own.
//
// The shell opens the window with `openDialogWindow` (false without a display), then calls
// one of the `run…Frame` functions per frame with the state of the dialog it shows; each
// pumps the window's events, draws, presents and returns what the viewer did in that frame.
// A sub-dialog (gamma, sound) takes the window over until it closes. `closeDialogWindow`
// destroys the window and its GL context before the demo window opens.
//
// Keys: Enter is the default button (Launch, OK), Escape leaves (quit, Cancel), Tab and the
// arrow keys move between controls, Space toggles or opens the focused one, and Alt with the
// underlined letter presses a button.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct LaunchDialogView {
    std::vector<std::string> devices, modes, flavors, monitors;
    int32_t device = 0, mode = 0, flavor = 0, monitor = 0;
    int32_t screenMode = 1; // 0 windowed, 1 full screen, 2 fake full screen
    char widthText[16] = {}, heightText[16] = {};
    bool noTrilinear = false, lowTextures = false, loop = false, vsync = true;
    int32_t latencyMs = 0; // -500 ... 500
    bool deviceListEnabled = false, modeListEnabled = true, sizeEditsEnabled = false;
    bool flavorEnabled = false;
    std::string message; // shown above the buttons when not empty
};

enum class LaunchAction { None, DeviceChanged, ScreenModeChanged, Gamma, Audio, Launch, Quit };

struct GammaDialogView {
    const uint8_t* picture = nullptr; // 256 x 192 RGB, top row first; null: no picture
    uint32_t pictureVersion = 0;      // changes whenever the picture's bytes change
    int32_t position = 100;           // 10 ... 400
    const char* label = "1.00";
};

enum class GammaAction { None, Moved, Ok, Cancel };

struct SoundDialogView {
    std::vector<std::string> devices; // output devices; entry 0 is the system's default
    int32_t device = 0;
    int32_t rateIndex = 0;          // into kSoundRates
    int32_t interpolationIndex = 0; // into kSoundInterpolations
    int32_t separation = 100;       // percent, 0 ... 200
};

constexpr int32_t kSoundRates[] = {22050, 44100, 48000, 96000};
constexpr int32_t kSoundInterpolations[] = {1, 2, 4, 8}; // filter taps

enum class SoundAction { None, Ok, Cancel };

// The progress window: an icon, a text and an optional bar, in a borderless window of the
// given client size, centred. Each call draws one frame.
struct ProgressView {
    const char* text = "";
    int32_t iconId = 116; // 0: no icon
    bool withBar = true;
    int32_t low = 0, high = 100, position = 0;
    int32_t width = 64, height = 64; // client size in pixels
};
void runProgressFrame(const ProgressView& view);
// The width in pixels of a text in the progress window's font (Courier New, 14 pixels high);
// 0 while no dialog window is open.
int32_t progressTextWidth(const char* text);

bool hasDisplay();             // a real display (not the offscreen or dummy video driver)
const char* videoDriverName(); // SDL's video driver in use, or "none"
bool openDialogWindow(const char* title);
void closeDialogWindow();
bool dialogWindowOpen();

LaunchAction runLaunchFrame(LaunchDialogView& view);
GammaAction runGammaFrame(GammaDialogView& view);
SoundAction runSoundFrame(SoundDialogView& view);

// The names of the displays, in SDL's order (for the monitor choice).
std::vector<std::string> displayNames();
