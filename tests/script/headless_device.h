// Starts the graphics device the way start-up does, headless (a hidden window of the
// device's own), at a given screen size; used by the timeline tests and benchmark.
#pragma once

#include "gfx/device.h"
#include "gfx/enumeration.h"
#include "gfx/resources.h"
#include "platform/config.h"
#include "platform/gpu/gpu.h"

#include <cstdint>

// False when there is no video driver.
inline bool startHeadlessDevice(int32_t width, int32_t height) {
    configValues.xres = width;
    configValues.yres = height;
    configValues.windowed = 1;
    GpuSystem* direct3d = gpuCreate();
    if (!direct3d) return false;
    enumerateAdapters(direct3d, nullptr);
    resourceInit();
    initGeometryCaches();
    initDevice(direct3d, nullptr);
    resetDeviceState();
    return true;
}

// Effects must be destroyed before: they hold geometry slices.
inline void stopHeadlessDevice() {
    closeGeometryCaches();
    freeAdapters();
    closeDevice();
}
