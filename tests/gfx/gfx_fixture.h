// A device context on a hidden window (SDL's offscreen driver in the tests), started the way
// start-up does it: resource manager, enumeration, device.
#pragma once

#include "gfx/device.h"
#include "gfx/enumeration.h"
#include "gfx/resources.h"
#include "platform/config.h"
#include "platform/gpu/gpu.h"
#include "platform/log.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

inline std::string readText(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct DeviceFixture : ::testing::Test {
    static constexpr int32_t kWidth = 64, kHeight = 48;
    GpuDevice* device = nullptr;

    void SetUp() override {
        logSetFile("log.txt");
        setErrorDialogEnabled(false);
        gpuSetCapsProfile(GpuCapsProfile::Default);
        gpuInjectFault(GpuFault::None);
        configValues = ConfigValues{};
        configValues.xres = kWidth;
        configValues.yres = kHeight;
        configValues.windowed = 1;
        deviceSettings = DeviceSettings{};
        GpuSystem* system = gpuCreate();
        ASSERT_NE(system, nullptr);
        resourceInit();
        enumerateAdapters(system, nullptr);
        initDevice(system, nullptr);
        device = dxDevice();
        ASSERT_NE(device, nullptr);
    }
    void TearDown() override {
        closeDevice();
        freeAdapters();
    }
    std::string log() { return readText("log.txt"); }
};
