// Launch dialog: the run in the dialog window, the command line's part, and how the choice
// reaches the configuration.
#include "data/filesystem.h"
#include "gfx/device.h"
#include "gfx/enumeration.h"
#include "platform/config.h"
#include "platform/dialogs.h"
#include "platform/log.h"
#include "platform/music/music.h"
#include "platform/window.h"
#include "shell/gammaselector.h"
#include "shell/launchdialog.h"
#include "shell/options.h"
#include "shell/subsystems.h"

#include <cstdio>

namespace {

LaunchInputs gatherInputs() {
    LaunchInputs in;
    for (int32_t i = 0; i < adapterCount(); ++i) {
        const AdapterInfo* adapter = adapterInfo(i);
        in.adapters.push_back({adapter->identifier.Description, adapter->modes});
    }
    char name[256];
    for (int32_t i = 0; i < archiveChoiceCount(); ++i) {
        archiveChoiceDescription(i, name, int32_t(sizeof name));
        in.archives.push_back(name);
    }
    in.monitors = displayNames();
    if (const AdapterInfo* first = adapterInfo(0)) {
        in.desktopWidth = int32_t(first->desktopMode.Width);
        in.desktopHeight = int32_t(first->desktopMode.Height);
    }
    const ConfigValues& c = configValues;
    in.prefxres = c.prefxres;
    in.prefyres = c.prefyres;
    in.prefbpp = c.prefbpp;
    in.minxres = c.minxres;
    in.minyres = c.minyres;
    in.loop = c.loop;
    in.notrilin = deviceSettings.notrilin;
    in.gamma = c.gamma;
    return in;
}

int32_t archiveIndexOf(const std::string& id) {
    char buffer[256];
    for (int32_t i = 0; i < archiveChoiceCount(); ++i) {
        archiveChoiceId(i, buffer, int32_t(sizeof buffer));
        if (id == buffer) return i;
    }
    return -1;
}

void logChoice() {
    const ConfigValues& c = configValues;
    logf("CNFG: xres=%d, yres=%d, windowed=%d, loop=%d, notrilin=%d, lowtexq=%d\n", c.xres, c.yres,
         c.windowed, c.loop, deviceSettings.notrilin, c.lowtexq);
}

void apply(const LaunchChoice& choice, SoundSettings* sound) {
    ConfigValues& c = configValues;
    c.xres = choice.xres;
    c.yres = choice.yres;
    c.windowed = choice.windowed;
    c.loop = choice.loop;
    c.lowtexq = choice.lowTextures;
    c.gamma = choice.gamma;
    deviceSettings.adapter = choice.adapter;
    deviceSettings.mode = choice.mode;
    deviceSettings.notrilin = choice.notrilin;
    deviceSettings.vsync = choice.vsync;
    if (sound) sound->latencyOffsetMs = choice.latencyMs;
    setDemoWindowDisplay(choice.monitor);
    if (archiveChoiceCount() > 0) choosePreferredArchive(choice.flavor);
}

void toView(const LaunchDialog& d, LaunchDialogView* v) {
    v->devices = d.devices;
    v->modes = d.modes;
    v->flavors = d.flavors;
    v->monitors = d.inputs().monitors;
    v->device = d.device;
    v->mode = d.mode;
    v->flavor = d.flavor;
    v->monitor = d.monitor;
    v->screenMode = d.screenMode;
    snprintf(v->widthText, sizeof v->widthText, "%s", d.widthText.c_str());
    snprintf(v->heightText, sizeof v->heightText, "%s", d.heightText.c_str());
    v->noTrilinear = d.noTrilinear;
    v->lowTextures = d.lowTextures;
    v->loop = d.loop;
    v->vsync = d.vsync;
    v->latencyMs = d.latencyMs;
    v->deviceListEnabled = d.deviceListEnabled;
    v->modeListEnabled = d.modeListEnabled;
    v->sizeEditsEnabled = d.sizeEditsEnabled;
    v->flavorEnabled = d.flavorEnabled;
    v->message = d.message;
}

void fromView(const LaunchDialogView& v, LaunchDialog* d) {
    d->mode = v.mode;
    d->flavor = v.flavor;
    d->monitor = v.monitor;
    d->widthText = v.widthText;
    d->heightText = v.heightText;
    d->noTrilinear = v.noTrilinear;
    d->lowTextures = v.lowTextures;
    d->loop = v.loop;
    d->vsync = v.vsync;
    d->latencyMs = v.latencyMs;
}

// The gamma selector over the dialog window; OK keeps the new gamma, Cancel the old one.
float runGammaSelector(float gamma) {
    GammaSelector selector(loadGammaPicture(), gamma);
    GammaDialogView view;
    uint32_t version = 1;
    for (;;) {
        view.picture = selector.picture.empty() ? nullptr : selector.picture.data();
        view.pictureVersion = version;
        view.position = selector.position;
        view.label = selector.label;
        GammaAction action = runGammaFrame(view);
        if (action == GammaAction::Moved && view.position != selector.position) {
            selector.setPosition(view.position);
            ++version;
        } else if (action == GammaAction::Ok) {
            selector.ok();
            return selector.gamma;
        } else if (action == GammaAction::Cancel) {
            selector.cancel();
            return selector.gamma;
        }
    }
}

// The dialog's frames until the viewer launches or quits.
bool runDialog(LaunchDialog& dialog, SoundSettings* sound) {
    LaunchDialogView view;
    for (;;) {
        toView(dialog, &view);
        LaunchAction action = runLaunchFrame(view);
        fromView(view, &dialog);
        switch (action) {
        case LaunchAction::DeviceChanged:
            dialog.selectDevice(view.device);
            break;
        case LaunchAction::ScreenModeChanged:
            dialog.setScreenMode(ScreenMode(view.screenMode));
            break;
        case LaunchAction::Gamma:
            dialog.gamma = runGammaSelector(dialog.gamma);
            break;
        case LaunchAction::Audio:
            tmxConfigDialog(nullptr, sound);
            break;
        case LaunchAction::Launch:
            if (dialog.launch()) return true;
            logf("CNFG: %s\n", dialog.message.c_str());
            break;
        case LaunchAction::Quit:
            return false;
        case LaunchAction::None:
            break;
        }
    }
}

} // namespace

void prefillLaunchDialog(const LaunchOptions& options, LaunchDialog* dialog) {
    if (options.windowWidth) {
        dialog->setScreenMode(kScreenWindowed);
        dialog->widthText = std::to_string(options.windowWidth);
        dialog->heightText = std::to_string(options.windowHeight);
    } else if (options.fullscreen) {
        dialog->setScreenMode(kScreenFull);
    }
    if (options.loop) dialog->loop = true;
    if (options.gamma > 0) dialog->gamma = options.gamma;
    if (!options.flavor.empty()) {
        int32_t index = archiveIndexOf(options.flavor);
        if (index >= 0 && size_t(index) < dialog->flavors.size()) dialog->flavor = index;
    }
}

void chooseWithoutDialog(const LaunchOptions& options) {
    ConfigValues& c = configValues;
    c.windowed = options.fullscreen ? 0 : 1;
    if (options.windowWidth) {
        c.xres = options.windowWidth;
        c.yres = options.windowHeight;
    } else if (c.prefxres > 0 && c.prefyres > 0) {
        c.xres = c.prefxres;
        c.yres = c.prefyres;
    } else {
        c.xres = 640;
        c.yres = 480;
    }
    c.loop = options.loop ? 1 : 0;
    if (options.gamma > 0) c.gamma = options.gamma;
    if (!options.flavor.empty()) {
        if (archiveIndexOf(options.flavor) >= 0)
            choosePreferredArchiveById(options.flavor.c_str());
        else
            logf("CNFG: warning: no archive with the id '%s', keeping the preferred one\n",
                 options.flavor.c_str());
    }
    if (!c.windowed && !chooseFullScreenMode(c.xres, c.yres)) c.windowed = 1;
}

bool showLaunchDialog(const LaunchOptions& options, SoundSettings* sound) {
    bool wanted = !options.noDialog && !options.offline();
    // Without a display the run goes on with the options alone; the log says why.
    if (wanted && !hasDisplay())
        logf("CNFG: no display (video driver '%s'): no launch dialog, the options choose\n",
             videoDriverName());
    if (!wanted || !hasDisplay() || !openDialogWindow("lux32 configuration")) {
        chooseWithoutDialog(options);
        logChoice();
        return true;
    }
    LaunchDialog dialog(gatherInputs());
    prefillLaunchDialog(options, &dialog);
    bool launched = runDialog(dialog, sound);
    closeDialogWindow();
    if (!launched) return false;
    apply(dialog.choice, sound);
    logChoice();
    return true;
}
