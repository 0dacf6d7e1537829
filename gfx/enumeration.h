// Adapter and mode enumeration.
//
// Start-up calls `enumerateAdapters` before the launch dialog, with the resolution bounds of
// configValues set (an unset minimum, -1, compares as the largest unsigned number and keeps no
// mode). The dialog offers `adapterInfo(i)->modes`; the device context takes the chosen
// adapter's record. Shutdown calls `freeAdapters`.
#pragma once

#include "platform/gpu/d3d8types.h"

#include <cstdint>
#include <vector>

class GpuSystem;

struct DeviceTypeInfo {
    uint32_t type = 0;     // 1 hardware, 2 reference; set when a mode is usable
    D3DCAPS8 caps{};
    std::vector<D3DDISPLAYMODE> modes; // modes of the adapter list this type can use
    int32_t usable = 0;
    int32_t windowedOk = 0;   // the last usable mode passed the windowed check
    int32_t fullscreenOk = 0; // the last usable mode passed the full-screen check
};

struct AdapterInfo {
    D3DADAPTER_IDENTIFIER8 identifier{};
    D3DDISPLAYMODE desktopMode{};
    void* monitor = nullptr;
    std::vector<D3DDISPLAYMODE> modes; // kept modes, in the adapter's order
    DeviceTypeInfo deviceTypes[2];     // [0] hardware, [1] reference
};

// reportProgress: called with each adapter's number (from 1) before it is examined; may be null.
void enumerateAdapters(GpuSystem* direct3d, void (*reportProgress)(int32_t adapterNumber));
void freeAdapters();
int32_t adapterCount();
AdapterInfo* adapterInfo(int32_t index); // null out of range
