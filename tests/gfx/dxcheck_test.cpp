#include "gfx/device.h"
#include "gfx/dxcheck.h"
#include "gfx_fixture.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const char* kNotMuchText = "Sorry, your graphics card has run out of memory, and there's not much "
                           "that can be done about it. \t\t\t\tMaybe changing your card "
                           "configuration will help something, maybe not.\n";

TEST(OutOfMemoryAdvice, SmallShallowModeAtTheLimitsGetsNothingToTry) {
    EXPECT_STREQ(outOfMemoryAdvice(640, 480, 640, 480, 16), kNotMuchText);
}

TEST(OutOfMemoryAdvice, LargeDeepModeGetsBothLines) {
    EXPECT_STREQ(outOfMemoryAdvice(640, 480, 1024, 768, 32),
                 "Sorry, your graphics card has run out of memory. You could try the following "
                 "things:\n- decrease the screen resolution\n- use less bits per pixel (eg. 16)\n"
                 "This should help running this demo. Have thanks.\n");
}

TEST(OutOfMemoryAdvice, EachConditionAddsOnlyItsOwnLine) {
    EXPECT_STREQ(outOfMemoryAdvice(640, 480, 640, 480, 32),
                 "Sorry, your graphics card has run out of memory. You could try the following "
                 "things:\n- use less bits per pixel (eg. 16)\n"
                 "This should help running this demo. Have thanks.\n");
    EXPECT_STREQ(outOfMemoryAdvice(640, 480, 640, 600, 16),
                 "Sorry, your graphics card has run out of memory. You could try the following "
                 "things:\n- decrease the screen resolution\n"
                 "This should help running this demo. Have thanks.\n");
}

TEST(CheckDx, SuccessReturnsZeroAndLogsNothing) {
    logSetFile("log.txt");
    EXPECT_EQ(checkDx(D3D_OK, "fine", true), 0);
    EXPECT_EQ(readText("log.txt"), "");
}

TEST(CheckDx, FailureWithoutFatalOnlyLogsAndReturnsMinusOne) {
    logSetFile("log.txt");
    EXPECT_EQ(checkDx(D3DERR_INVALIDCALL, "SetIndices FAILED", false), -1);
    EXPECT_EQ(readText("log.txt"),
              "TOOL: dx error: SetIndices FAILED (#0x8876086c, D3DERR_INVALIDCALL)\n");
}

TEST(CheckDxDeathTest, FatalFailureEndsWithTheMessageAndCode) {
    EXPECT_EXIT(
        {
            logSetFile("log.txt");
            setErrorDialogEnabled(false);
            checkDx(E_FAIL, "CreateDevice FAILED", true);
        },
        ::testing::ExitedWithCode(1), "CreateDevice FAILED \\(#0x80004005, ");
}

TEST(CheckDxDeathTest, OutOfVideoMemoryIsFatalEvenWithoutTheFlagAndGivesAdvice) {
    EXPECT_EXIT(
        {
            logSetFile("log.txt");
            setErrorDialogEnabled(false);
            configValues.minxres = 640;
            configValues.minyres = 480;
            configValues.xres = 1024;
            configValues.yres = 768;
            screenFormat.bitsPerPixel = 32;
            checkDx(D3DERR_OUTOFVIDEOMEMORY, "CreateTexture FAILED", false);
        },
        ::testing::ExitedWithCode(1),
        "decrease the screen resolution\n- use less bits per pixel \\(eg. 16\\)");
}

TEST(CheckDxDeathTest, SystemOutOfMemoryGivesTheSameAdvice) {
    EXPECT_EXIT(
        {
            logSetFile("log.txt");
            setErrorDialogEnabled(false);
            configValues.minxres = 640;
            configValues.minyres = 480;
            configValues.xres = 640;
            configValues.yres = 480;
            screenFormat.bitsPerPixel = 16;
            checkDx(E_OUTOFMEMORY, "CreateVertexBuffer FAILED", false);
        },
        ::testing::ExitedWithCode(1), "there's not much that can be done about it");
}

TEST(Helpers, PerspectiveFollowsTheLeftHandedProjection) {
    D3DMATRIX m;
    setPerspective(&m, 2.0f, 3.0f, 1.0f, 101.0f);
    EXPECT_FLOAT_EQ(m.m[0][0], 2.0f);
    EXPECT_FLOAT_EQ(m.m[1][1], 3.0f);
    EXPECT_FLOAT_EQ(m.m[2][2], 1.01f);
    EXPECT_FLOAT_EQ(m.m[2][3], 1.0f);
    EXPECT_FLOAT_EQ(m.m[3][2], -1.01f);
    EXPECT_FLOAT_EQ(m.m[3][3], 0.0f); // identity's 1 is overwritten
    EXPECT_FLOAT_EQ(m.m[0][1] + m.m[1][0] + m.m[3][0] + m.m[3][1], 0.0f);
}

TEST(Helpers, ScratchBufferGrowsOnlyWhenTooSmallAndIsFreedAtShutdown) {
    ScratchBuffer buffer;
    uint8_t* first = scratchBuffer(buffer, 100);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(scratchBuffer(buffer, 50), first);
    EXPECT_EQ(buffer.size, 100u);
    scratchBuffer(buffer, 1000);
    EXPECT_EQ(buffer.size, 1000u);
    freeScratchBuffers();
    EXPECT_EQ(buffer.data, nullptr);
    EXPECT_EQ(buffer.size, 0u);
}

TEST(Helpers, FormatTempReusesOneBuffer) {
    const char* a = formatTemp("%08x%08x", 256u, 128u);
    EXPECT_STREQ(a, "0000010000000080");
    const char* b = formatTemp("%d", 7);
    EXPECT_EQ(a, b);
    EXPECT_STREQ(b, "7");
}

TEST(Helpers, SinCos) {
    float s = 0, c = 0;
    sinCos(3.14159265f / 6, &s, &c);
    EXPECT_NEAR(s, 0.5f, 1e-6);
    EXPECT_NEAR(c, 0.8660254f, 1e-6);
}

} // namespace
