// The enumeration walk over any object with the Direct3D object's adapter queries, so that
// tests can drive mode lists and failures the real adapters never show.
#pragma once

#include "gfx/dxcheck.h"
#include "gfx/enumeration.h"
#include "platform/config.h"
#include "platform/log.h"

std::vector<AdapterInfo>& adapterList();

// Inside the configured limits, compared as unsigned numbers: an unset minimum (-1) keeps
// nothing, an unset maximum keeps everything.
inline bool modeWithinLimits(const D3DDISPLAYMODE& mode) {
    return uint32_t(configValues.minxres) <= mode.Width &&
           mode.Width <= uint32_t(configValues.maxxres) &&
           uint32_t(configValues.minyres) <= mode.Height &&
           mode.Height <= uint32_t(configValues.maxyres);
}

inline bool sameSizeAndFormat(const D3DDISPLAYMODE& a, const D3DDISPLAYMODE& b) {
    return a.Width == b.Width && a.Height == b.Height && a.Format == b.Format;
}

template <class System> void collectModes(System& system, uint32_t adapter, AdapterInfo& info) {
    uint32_t count = system.GetAdapterModeCount(adapter);
    for (uint32_t m = 0; m < count; ++m) {
        D3DDISPLAYMODE mode;
        checkDx(system.EnumAdapterModes(adapter, m, &mode), "EnumAdapterModes FAILED", true);
        if (!modeWithinLimits(mode)) continue;
        bool known = false;
        for (const D3DDISPLAYMODE& kept : info.modes)
            known = known || sameSizeAndFormat(kept, mode);
        if (!known) info.modes.push_back(mode);
    }
}

template <class System>
void examineDeviceType(System& system, uint32_t adapter, uint32_t type, AdapterInfo& info,
                       DeviceTypeInfo& device) {
    for (const D3DDISPLAYMODE& mode : info.modes) {
        bool fullscreen =
            SUCCEEDED(system.CheckDeviceType(adapter, type, mode.Format, mode.Format, false));
        bool windowed = SUCCEEDED(
            system.CheckDeviceType(adapter, type, info.desktopMode.Format, mode.Format, true));
        if (!fullscreen && !windowed) continue;
        device.modes.push_back(mode);
        device.type = type;
        device.usable = 1;
        device.windowedOk = windowed;
        device.fullscreenOk = fullscreen;
    }
    if (FAILED(system.GetDeviceCaps(adapter, type, &device.caps))) {
        // Without caps the device type cannot be created: it offers nothing.
        device.modes.clear();
        device.usable = 0;
    }
}

template <class System>
void enumerateWith(System& system, void (*reportProgress)(int32_t adapterNumber)) {
    std::vector<AdapterInfo>& list = adapterList();
    list.clear();
    logf("ENUM: direct3d8 devices:\n");
    uint32_t count = system.GetAdapterCount();
    list.resize(count);
    for (uint32_t a = 0; a < count; ++a) {
        if (reportProgress) reportProgress(int32_t(a + 1));
        AdapterInfo& info = list[a];
        checkDx(system.GetAdapterIdentifier(a, D3DENUM_NO_WHQL_LEVEL, &info.identifier),
                "GetAdapterIdentifier FAILED", true);
        checkDx(system.GetAdapterDisplayMode(a, &info.desktopMode), "GetAdapterDisplayMode FAILED",
                true);
        info.monitor = system.GetAdapterMonitor(a);
        collectModes(system, a, info);
        for (uint32_t t = 0; t < 2; ++t)
            examineDeviceType(system, a, t + 1, info, info.deviceTypes[t]);
        logf("ENUM: %3d. %s (%d modes)\n", int(a + 1), info.identifier.Description,
             int(info.modes.size()));
    }
}
