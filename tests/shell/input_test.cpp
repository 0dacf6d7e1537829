#include "shell/input.h"

#include <gtest/gtest.h>

namespace {

WindowEvent key(WindowEvent::Type type, int code) {
    WindowEvent event;
    event.type = type;
    event.key = code;
    return event;
}

TEST(Input, heldKeyIsReportedAndQueuedOnceUntilReadAndPressedAgain) {
    initInput();
    feedInputEvent(key(WindowEvent::KeyDown, kKeySpace));
    feedInputEvent(key(WindowEvent::KeyDown, kKeySpace)); // still held in a later read
    EXPECT_EQ(isKeyDown(kKeySpace), 1);
    EXPECT_EQ(wasKeyPressed(kKeySpace), 1);
    EXPECT_EQ(wasKeyPressed(kKeySpace), 0);
    EXPECT_EQ(nextKeyPress(), kKeySpace);
    EXPECT_EQ(nextKeyPress(), 0);
    feedInputEvent(key(WindowEvent::KeyUp, kKeySpace));
    EXPECT_EQ(isKeyDown(kKeySpace), 0);
    feedInputEvent(key(WindowEvent::KeyDown, kKeySpace));
    EXPECT_EQ(wasKeyPressed(kKeySpace), 1);
}

TEST(Input, queueKeepsOrderAndDropsKeysWhenFull) {
    initInput();
    for (int code = 1; code <= 255; ++code)
        feedInputEvent(key(WindowEvent::KeyDown, code));
    // 255 entries fill the ring of 256: the next key is not queued, but its flags are set.
    feedInputEvent(key(WindowEvent::KeyDown, 0));
    EXPECT_EQ(isKeyDown(0), 1);
    for (int code = 1; code <= 255; ++code)
        EXPECT_EQ(nextKeyPress(), code);
    EXPECT_FALSE(hasKeyPress());
    EXPECT_EQ(nextKeyPress(), 0);
    EXPECT_EQ(wasKeyPressed(0), 1);
}

TEST(Input, mouseMotionAccumulatesUntilCaptureWhichZeroesIt) {
    initInput();
    WindowEvent motion;
    motion.type = WindowEvent::MouseMotion;
    motion.dx = 3;
    motion.dy = -2;
    feedInputEvent(motion);
    int dx = 9, dy = 9, dz = 9;
    readMouseMotion(dx, dy, dz);
    EXPECT_EQ(dx, 0);
    EXPECT_EQ(dy, 0);
    captureMouse();
    feedInputEvent(motion);
    feedInputEvent(motion);
    readMouseMotion(dx, dy, dz);
    EXPECT_EQ(dx, 6);
    EXPECT_EQ(dy, -4);
    readMouseMotion(dx, dy, dz);
    EXPECT_EQ(dx, 0);
    releaseMouse();
}

TEST(Input, sdlScancodesMapToDirectInputCodes) {
    EXPECT_EQ(directInputKeyCode(41 /* SDL escape */), kKeyEscape);
    EXPECT_EQ(directInputKeyCode(44 /* SDL space */), kKeySpace);
    EXPECT_EQ(directInputKeyCode(230 /* SDL right alt */), kKeyRightAlt);
    EXPECT_EQ(directInputKeyCode(82 /* SDL up */), kKeyUp);
}

} // namespace
