// Launch dialog.
//
// Before the demo window opens, start-up calls `showLaunchDialog()`: the viewer picks the
// display device and resolution or a window size, the screen mode, the options, the flavor
// (which data archive to prefer), the sound settings and the gamma, then launches or quits.
// On launch the choices go into configValues and deviceSettings, the preferred archive goes to
// the file lookup, and one "CNFG: " line logs them. Without a display, and with --no-dialog,
// the command line and the script's preferred resolution choose instead (`chooseWithoutDialog`);
// with the dialog, the command line fills in its first choices (`prefillLaunchDialog`).
//
// `LaunchDialog` is the dialog's logic without drawing: the lists, their defaults, the mode
// score, the enable rules and the result. The window that shows it lives in platform/.
#pragma once

#include "platform/gpu/d3d8types.h"

#include <cstdint>
#include <string>
#include <vector>

struct LaunchOptions;
struct SoundSettings;

struct DialogAdapter {
    std::string name;
    std::vector<D3DDISPLAYMODE> modes; // the adapter's kept modes, in its order
};

// What the dialog is opened with: the enumeration, the archives and the configuration.
struct LaunchInputs {
    std::vector<DialogAdapter> adapters;
    std::vector<std::string> archives; // names of the data archives the file lookup found
    std::vector<std::string> monitors; // displays to play on, for full screen
    int32_t prefxres = -1, prefyres = -1, prefbpp = -1;
    int32_t minxres = -1, minyres = -1;
    int32_t desktopWidth = 0, desktopHeight = 0; // a window may not be larger (0: unknown)
    int32_t loop = 0;
    int32_t notrilin = 0;
    float gamma = 1.0f;
};

enum ScreenMode : int { kScreenWindowed = 0, kScreenFull = 1, kScreenFakeFull = 2 };

// The dialog's result, handed to start-up.
struct LaunchChoice {
    int32_t adapter = 0;
    int32_t mode = 0;
    int32_t xres = 0, yres = 0;
    int32_t windowed = 0;
    int32_t lowTextures = 0; // "16bit textures"
    int32_t loop = 0;
    int32_t notrilin = 0;
    int32_t flavor = 0; // index of the preferred archive
    int32_t monitor = 0;
    int32_t vsync = 1;
    int32_t latencyMs = 0; // audio latency offset
    float gamma = 1.0f;
};

// Window sizes the dialog accepts (smaller or larger ones are refused with a message).
constexpr int32_t kMinWindowWidth = 64, kMinWindowHeight = 48, kMaxWindowSize = 16384;

class LaunchDialog {
  public:
    explicit LaunchDialog(const LaunchInputs& inputs);

    // The device list reports a completed selection: the adapter's modes fill the resolution
    // list, and the mode that best fits the preferences is selected.
    void selectDevice(int32_t index);
    void setScreenMode(ScreenMode mode);

    // "&Launch": true when the choice can be played; false leaves a message for the dialog.
    bool launch();
    // The size typed into the two edits, as a decimal number each (empty reads as 0).
    void windowSizeFromEdits(int32_t* width, int32_t* height) const;

    // Lists and their selections.
    std::vector<std::string> devices;
    std::vector<std::string> modes; // "%dx%d, %d bpp"
    std::vector<std::string> flavors;
    int32_t device = 0;
    int32_t mode = 0;
    int32_t flavor = 0;
    int32_t monitor = 0;

    // Control states.
    ScreenMode screenMode = kScreenFull;
    std::string widthText, heightText;
    bool noTrilinear = false;
    bool lowTextures = false;
    bool loop = false;
    bool vsync = true;
    int32_t latencyMs = 0; // -500 ... 500
    float gamma = 1.0f;

    // Enable rules.
    bool deviceListEnabled = false;
    bool modeListEnabled = true;
    bool sizeEditsEnabled = false;
    bool flavorEnabled = false;

    std::string message; // why the last launch was refused
    LaunchChoice choice; // filled by a successful launch

    const LaunchInputs& inputs() const { return inputs_; }

  private:
    LaunchInputs inputs_;
};

// The bit depth shown for a mode: 16 or 32 by its format, else the previous mode's depth.
int32_t modeDepth(D3DFORMAT format, int32_t previousDepth);

// Runs the dialog (when a display exists and the options allow it), applies the result and
// logs it; "&Audio..." edits sound. False when the viewer quit.
bool showLaunchDialog(const LaunchOptions& options, SoundSettings* sound);

// The choices without a dialog: the command line, then the script's preferred resolution.
void chooseWithoutDialog(const LaunchOptions& options);

// --windowed, --fullscreen, --loop, --gamma and --flavor as the dialog's first choices.
void prefillLaunchDialog(const LaunchOptions& options, LaunchDialog* dialog);
