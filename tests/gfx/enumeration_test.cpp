#include "gfx/enumeration.h"
#include "gfx/enumeration_local.h"
#include "gfx_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace {

// Adapter queries with mode lists and failures chosen by the test.
struct FakeSystem {
    struct TypeCheck {
        uint32_t type;
        D3DFORMAT display, back;
        bool windowed;
    };
    std::vector<std::vector<D3DDISPLAYMODE>> adapters;
    D3DDISPLAYMODE desktop{800, 600, 60, D3DFMT_X8R8G8B8};
    bool capsFail[3] = {};
    bool refFullscreen16Fails = false;
    bool refWindowedFails = false;
    uint32_t identifierFlags = 0;
    mutable std::vector<TypeCheck> checks;

    uint32_t GetAdapterCount() const { return uint32_t(adapters.size()); }
    HRESULT GetAdapterIdentifier(uint32_t a, uint32_t flags, D3DADAPTER_IDENTIFIER8* id) {
        identifierFlags = flags;
        snprintf(id->Description, sizeof id->Description, "Fake adapter %u", a + 1);
        return D3D_OK;
    }
    uint32_t GetAdapterModeCount(uint32_t a) const { return uint32_t(adapters[a].size()); }
    HRESULT EnumAdapterModes(uint32_t a, uint32_t m, D3DDISPLAYMODE* out) const {
        *out = adapters[a][m];
        return D3D_OK;
    }
    HRESULT GetAdapterDisplayMode(uint32_t, D3DDISPLAYMODE* out) const {
        *out = desktop;
        return D3D_OK;
    }
    void* GetAdapterMonitor(uint32_t a) const { return reinterpret_cast<void*>(uintptr_t(a + 1)); }
    HRESULT CheckDeviceType(uint32_t, uint32_t type, D3DFORMAT display, D3DFORMAT back,
                            bool windowed) const {
        checks.push_back({type, display, back, windowed});
        if (type == 2 && windowed && refWindowedFails) return D3DERR_NOTAVAILABLE;
        if (type == 2 && !windowed && refFullscreen16Fails && back == D3DFMT_R5G6B5)
            return D3DERR_NOTAVAILABLE;
        return D3D_OK;
    }
    HRESULT GetDeviceCaps(uint32_t, uint32_t type, D3DCAPS8* caps) const {
        if (capsFail[type]) return D3DERR_NOTAVAILABLE;
        caps->DeviceType = type;
        caps->MaxTextureBlendStages = 4;
        return D3D_OK;
    }
};

D3DDISPLAYMODE mode(uint32_t w, uint32_t h, uint32_t hz, D3DFORMAT f = D3DFMT_X8R8G8B8) {
    return D3DDISPLAYMODE{w, h, hz, f};
}

std::vector<int32_t> reported;
void recordProgress(int32_t adapter) {
    reported.push_back(adapter);
}

struct Enumeration : ::testing::Test {
    FakeSystem fake;
    void SetUp() override {
        logSetFile("log.txt");
        configValues = ConfigValues{};
        configValues.minxres = 320;
        configValues.minyres = 200;
        reported.clear();
    }
    void TearDown() override { freeAdapters(); }
};

TEST_F(Enumeration, OfSeveralRefreshRatesOnlyTheFirstListedIsKept) {
    fake.adapters = {{mode(800, 600, 60), mode(800, 600, 85), mode(800, 600, 75, D3DFMT_R5G6B5),
                      mode(800, 600, 60, D3DFMT_R5G6B5)}};
    enumerateWith(fake, nullptr);
    AdapterInfo* info = adapterInfo(0);
    ASSERT_NE(info, nullptr);
    ASSERT_EQ(info->modes.size(), 2u);
    EXPECT_EQ(info->modes[0].RefreshRate, 60u);
    EXPECT_EQ(info->modes[0].Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(info->modes[1].RefreshRate, 75u);
    EXPECT_EQ(info->modes[1].Format, D3DFMT_R5G6B5);
}

TEST_F(Enumeration, ModesOutsideTheLimitsAreNeverOffered) {
    configValues.minxres = 640;
    configValues.maxxres = 1024;
    configValues.minyres = 480;
    configValues.maxyres = 768;
    fake.adapters = {{mode(320, 240, 60), mode(640, 480, 60), mode(1280, 1024, 60),
                      mode(1024, 768, 60), mode(1024, 800, 60), mode(639, 480, 60)}};
    enumerateWith(fake, nullptr);
    AdapterInfo* info = adapterInfo(0);
    ASSERT_EQ(info->modes.size(), 2u);
    EXPECT_EQ(info->modes[0].Width, 640u);
    EXPECT_EQ(info->modes[1].Width, 1024u);
    EXPECT_EQ(info->modes[1].Height, 768u);
    EXPECT_EQ(info->deviceTypes[0].modes.size(), 2u);
}

TEST_F(Enumeration, UnsetMinimumKeepsNoModeAndUnsetMaximumKeepsAll) {
    fake.adapters = {{mode(640, 480, 60), mode(4096, 2160, 60)}};
    configValues.minxres = -1;
    enumerateWith(fake, nullptr);
    ASSERT_EQ(adapterCount(), 1);
    EXPECT_TRUE(adapterInfo(0)->modes.empty());
    EXPECT_FALSE(adapterInfo(0)->deviceTypes[0].usable);
    EXPECT_NE(readText("log.txt").find("ENUM:   1. Fake adapter 1 (0 modes)\n"), std::string::npos);

    configValues.minxres = 320;
    configValues.minyres = -1;
    enumerateWith(fake, nullptr);
    EXPECT_TRUE(adapterInfo(0)->modes.empty());

    configValues.minyres = 200; // maxima still unset (-1)
    enumerateWith(fake, nullptr);
    EXPECT_EQ(adapterInfo(0)->modes.size(), 2u);
}

TEST_F(Enumeration, DeviceTypeWithoutCapsOffersNoModes) {
    fake.adapters = {{mode(640, 480, 60), mode(800, 600, 60)}};
    fake.capsFail[2] = true;
    enumerateWith(fake, nullptr);
    AdapterInfo* info = adapterInfo(0);
    EXPECT_EQ(info->deviceTypes[0].modes.size(), 2u);
    EXPECT_EQ(info->deviceTypes[0].type, 1u);
    EXPECT_EQ(info->deviceTypes[0].caps.MaxTextureBlendStages, 4u);
    EXPECT_TRUE(info->deviceTypes[1].modes.empty());
    EXPECT_FALSE(info->deviceTypes[1].usable);
}

TEST_F(Enumeration, ChecksBothWaysAndKeepsTheLastUsableModesResults) {
    fake.adapters = {{mode(640, 480, 60), mode(800, 600, 60, D3DFMT_R5G6B5)}};
    fake.desktop = mode(1024, 768, 60);
    fake.refFullscreen16Fails = true;
    enumerateWith(fake, nullptr);
    EXPECT_EQ(fake.identifierFlags, D3DENUM_NO_WHQL_LEVEL);
    // Full screen: the mode's format for display and back buffer; window: the desktop's.
    ASSERT_GE(fake.checks.size(), 4u);
    EXPECT_EQ(fake.checks[2].display, D3DFMT_R5G6B5);
    EXPECT_EQ(fake.checks[2].back, D3DFMT_R5G6B5);
    EXPECT_FALSE(fake.checks[2].windowed);
    EXPECT_EQ(fake.checks[3].display, D3DFMT_X8R8G8B8);
    EXPECT_EQ(fake.checks[3].back, D3DFMT_R5G6B5);
    EXPECT_TRUE(fake.checks[3].windowed);

    DeviceTypeInfo& ref = adapterInfo(0)->deviceTypes[1];
    EXPECT_EQ(ref.modes.size(), 2u); // the window check alone makes a mode usable
    EXPECT_EQ(ref.type, 2u);
    EXPECT_EQ(ref.windowedOk, 1);
    EXPECT_EQ(ref.fullscreenOk, 0);

    fake.refWindowedFails = true;
    enumerateWith(fake, nullptr);
    DeviceTypeInfo& strict = adapterInfo(0)->deviceTypes[1];
    ASSERT_EQ(strict.modes.size(), 1u);
    EXPECT_EQ(strict.modes[0].Width, 640u);
    EXPECT_EQ(strict.fullscreenOk, 1);
    EXPECT_EQ(strict.windowedOk, 0);
}

TEST_F(Enumeration, ReportsEachAdapterBeforeExaminingItAndLogs) {
    fake.adapters = {{mode(640, 480, 60)}, {}};
    enumerateWith(fake, recordProgress);
    EXPECT_EQ(reported, (std::vector<int32_t>{1, 2}));
    ASSERT_EQ(adapterCount(), 2);
    EXPECT_EQ(adapterInfo(1)->monitor, reinterpret_cast<void*>(2));
    EXPECT_EQ(adapterInfo(2), nullptr);
    freeAdapters();
    EXPECT_EQ(adapterCount(), 0);
    EXPECT_EQ(readText("log.txt"), "ENUM: direct3d8 devices:\n"
                                   "ENUM:   1. Fake adapter 1 (1 modes)\n"
                                   "ENUM:   2. Fake adapter 2 (0 modes)\n"
                                   "ENUM: freeing enumeration information\n");
}

TEST_F(Enumeration, RealAdaptersOfferOnlyDistinctModesWithinLimits) {
    configValues.minxres = 640;
    configValues.maxxres = 1024;
    configValues.minyres = 480;
    configValues.maxyres = 768;
    GpuSystem* system = gpuCreate();
    ASSERT_NE(system, nullptr);
    enumerateAdapters(system, nullptr);
    system->Release();
    ASSERT_GE(adapterCount(), 1);
    AdapterInfo* info = adapterInfo(0);
    ASSERT_FALSE(info->modes.empty());
    for (size_t i = 0; i < info->modes.size(); ++i) {
        const D3DDISPLAYMODE& m = info->modes[i];
        EXPECT_TRUE(m.Width >= 640 && m.Width <= 1024 && m.Height >= 480 && m.Height <= 768);
        for (size_t j = 0; j < i; ++j)
            EXPECT_FALSE(sameSizeAndFormat(m, info->modes[j]));
    }
    EXPECT_EQ(info->deviceTypes[0].usable, 1);
}

} // namespace
