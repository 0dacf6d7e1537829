// "clear" and "fade" drawn on a headless device: what they cover and with which colour.
#include "effects/effect.h"
#include "tests/effects/builtin_classes.h"
#include "tests/script/headless_device.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr int32_t kWidth = 64, kHeight = 48;

class FlatEffectsTest : public testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(startHeadlessDevice(kWidth, kHeight)); }
    static void TearDownTestSuite() { stopHeadlessDevice(); }
    void SetUp() override {
        selectRenderTarget("primary");
        setViewport(0, 0, kWidth, kHeight);
        clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    }
    void TearDown() override {
        destroyEffects();
        present();
    }
    static uint32_t pixel(int x, int y) {
        std::vector<uint32_t> pixels;
        EXPECT_EQ(dxDevice()->ReadSurface(findRenderTarget("primary")->surface, &pixels), D3D_OK);
        return pixels[size_t(y) * kWidth + size_t(x)] & 0xFFFFFF;
    }
    static void render(const char* instance) { renderEffect(instance, 0, 0); }
};

TEST_F(FlatEffectsTest, fadeCoversExactlyTheViewport) {
    ASSERT_TRUE(createEffect("f", "fade"));
    setEffectProperty("f", "fade", "1");
    setViewport(16, 12, 32, 24);
    render("f");
    EXPECT_EQ(pixel(16, 12), 0xFFFFFFu); // white by default
    EXPECT_EQ(pixel(47, 35), 0xFFFFFFu);
    EXPECT_EQ(pixel(15, 12), 0u);
    EXPECT_EQ(pixel(16, 11), 0u);
    EXPECT_EQ(pixel(48, 35), 0u);
    EXPECT_EQ(pixel(47, 36), 0u);
}

TEST_F(FlatEffectsTest, fadeAmountIsTheAlphaOfTheColour) {
    ASSERT_TRUE(createEffect("f", "fade"));
    setEffectProperty("f", "color", "0x7f00ff00"); // only the low 24 bits are the colour
    setEffectProperty("f", "fade", "2.5");         // opaque beyond 1
    render("f");
    EXPECT_EQ(pixel(0, 0), 0x00FF00u);
    setEffectProperty("f", "color", "0xff0000");
    setEffectProperty("f", "fade", "0.5"); // alpha 127: red over green
    render("f");
    uint32_t mixed = pixel(10, 10);
    EXPECT_NEAR(int(mixed >> 16), 127, 1);
    EXPECT_NEAR(int(mixed >> 8 & 255), 128, 1);
    EXPECT_EQ(mixed & 255, 0u);
}

TEST_F(FlatEffectsTest, fadeBelowOneThousandthDrawsNothing) {
    ASSERT_TRUE(createEffect("f", "fade"));
    setEffectProperty("f", "fade", "0.0005");
    render("f");
    EXPECT_EQ(pixel(5, 5), 0u);
    setEffectProperty("f", "fade", "0.002"); // alpha byte 0, but drawn: no change either
    render("f");
    EXPECT_EQ(pixel(5, 5), 0u);
}

TEST_F(FlatEffectsTest, clearFillsTheViewportOfTheScreenOnly) {
    ASSERT_TRUE(createEffect("c", "clear"));
    setEffectProperty("c", "color", "0x3366cc");
    setViewport(8, 8, 16, 16);
    render("c");
    EXPECT_EQ(pixel(8, 8), 0x3366CCu);
    EXPECT_EQ(pixel(23, 23), 0x3366CCu);
    EXPECT_EQ(pixel(7, 8), 0u);
    EXPECT_EQ(pixel(24, 23), 0u);
    ASSERT_TRUE(createEffect("d", "clear")); // black by default
    render("d");
    EXPECT_EQ(pixel(8, 8), 0u);
}

} // namespace
