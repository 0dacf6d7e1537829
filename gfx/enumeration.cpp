// Adapter and mode enumeration over the Direct3D object.
#include "gfx/enumeration.h"

#include "gfx/enumeration_local.h"
#include "platform/gpu/gpu.h"

std::vector<AdapterInfo>& adapterList() {
    static std::vector<AdapterInfo> list;
    return list;
}

void enumerateAdapters(GpuSystem* direct3d, void (*reportProgress)(int32_t adapterNumber)) {
    enumerateWith(*direct3d, reportProgress);
}

void freeAdapters() {
    logf("ENUM: freeing enumeration information\n");
    adapterList().clear();
    adapterList().shrink_to_fit();
}

int32_t adapterCount() {
    return int32_t(adapterList().size());
}

AdapterInfo* adapterInfo(int32_t index) {
    if (index < 0 || index >= adapterCount()) return nullptr;
    return &adapterList()[size_t(index)];
}
