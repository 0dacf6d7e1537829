#include "shell/input.h"

#include "platform/log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

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

// The message pump's events arrive while the main loop and the cameras ask: every bit of
// motion fed on one thread is read exactly once on the other (the ThreadSanitizer build runs
// this one too).
TEST(Input, eventsFedFromAnotherThreadAreReadWholeAndOnce) {
    initInput();
    captureMouse();
    constexpr int kRounds = 20000;
    std::atomic<bool> fed{false};
    std::thread feeder([&] {
        WindowEvent motion;
        motion.type = WindowEvent::MouseMotion;
        motion.dx = 1;
        motion.dy = -2;
        for (int i = 0; i < kRounds; ++i) {
            feedInputEvent(key(WindowEvent::KeyDown, kKeySpace));
            feedInputEvent(motion);
            feedInputEvent(key(WindowEvent::KeyUp, kKeySpace));
        }
        fed = true;
    });
    long sumX = 0, sumY = 0;
    int presses = 0;
    auto drain = [&] {
        int dx = 0, dy = 0, dz = 0;
        readMouseMotion(dx, dy, dz);
        sumX += dx;
        sumY += dy;
        // Whether a press shows here or only in the queue depends on the interleaving; the
        // queue holds every press that found the key released, the first one at least.
        wasKeyPressed(kKeySpace);
        while (int code = nextKeyPress())
            presses += code == kKeySpace;
    };
    while (!fed)
        drain();
    feeder.join();
    drain();
    EXPECT_EQ(sumX, long(kRounds));
    EXPECT_EQ(sumY, -2L * kRounds);
    EXPECT_GT(presses, 0);
    EXPECT_LE(presses, kRounds);
    EXPECT_EQ(isKeyDown(kKeySpace), 0);
    releaseMouse();
}

WindowEvent focus(WindowEvent::Type type) {
    WindowEvent event;
    event.type = type;
    return event;
}

std::string readLog() {
    std::ifstream in("input.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(Input, focusLossAndGainLogTheLostAndReacquiredDevicesAndStartAfresh) {
    logSetFile("input.log");
    initInput();
    feedInputEvent(key(WindowEvent::KeyDown, kKeyLeft));
    WindowEvent button;
    button.type = WindowEvent::MouseButton;
    button.button = 1;
    button.pressed = 1;
    feedInputEvent(button);
    EXPECT_EQ(mouseButtons(), 2);

    feedInputEvent(focus(WindowEvent::Deactivate));
    EXPECT_EQ(isKeyDown(kKeyLeft), 0);                 // its release goes to another window
    feedInputEvent(key(WindowEvent::KeyDown, kKeyUp)); // not ours while lost
    EXPECT_EQ(wasKeyPressed(kKeyUp), 0);
    feedInputEvent(focus(WindowEvent::Deactivate)); // already lost: no second line
    wakeInput();
    EXPECT_EQ(mouseButtons(), 0);
    feedInputEvent(key(WindowEvent::KeyDown, kKeyUp));
    EXPECT_EQ(wasKeyPressed(kKeyUp), 1);
    wakeInput(); // nothing lost: nothing logged

    std::string log = readLog();
    EXPECT_NE(log.find("INPT: init\n"
                       "INPT: keyboard lost, trying reacquire\n"
                       "INPT: mouse lost, trying reacquire\n"
                       "INPT: keyboard reacquired\n"
                       "INPT: mouse reacquired\n"),
              std::string::npos)
        << log;
    size_t reacquired = 0;
    for (size_t at = log.find("reacquired\n"); at != std::string::npos;
         at = log.find("reacquired\n", at + 1))
        ++reacquired;
    EXPECT_EQ(reacquired, 2u) << log;
    closeInput();
    EXPECT_NE(readLog().find("INPT: close\n"), std::string::npos);
}

TEST(Input, sdlScancodesMapToDirectInputCodes) {
    EXPECT_EQ(directInputKeyCode(41 /* SDL escape */), kKeyEscape);
    EXPECT_EQ(directInputKeyCode(44 /* SDL space */), kKeySpace);
    EXPECT_EQ(directInputKeyCode(230 /* SDL right alt */), kKeyRightAlt);
    EXPECT_EQ(directInputKeyCode(82 /* SDL up */), kKeyUp);
    EXPECT_EQ(directInputKeyCode(86 /* SDL keypad minus */), kKeyPadMinus);
    EXPECT_EQ(directInputKeyCode(87 /* SDL keypad plus */), kKeyPadPlus);
    EXPECT_EQ(directInputKeyCode(28 /* SDL Y */), kKeyY);
    EXPECT_EQ(directInputKeyCode(40 /* SDL return */), 28);
    EXPECT_EQ(directInputKeyCode(88 /* SDL keypad enter */), 156);
    EXPECT_EQ(directInputKeyCode(76 /* SDL delete */), 211);
    EXPECT_EQ(directInputKeyCode(100 /* SDL non-US backslash */), 86);
    // Every key of a PC keyboard has a code, and no two keys share one.
    int seen[256] = {};
    for (int sdl = 4; sdl <= 231; ++sdl) {
        int code = directInputKeyCode(sdl);
        if (code == 0 || sdl == 154 /* SDL sysreq shares print screen's code */) continue;
        EXPECT_EQ(seen[code], 0) << "scancode " << sdl << " repeats code " << code;
        seen[code] = sdl;
    }
    for (int sdl = 4; sdl <= 99; ++sdl) { // letters, digits, punctuation, F1-F12, keypad
        if (sdl == 50) continue;          // the ISO hash key, reported as backslash
        EXPECT_NE(directInputKeyCode(sdl), 0) << "scancode " << sdl;
    }
}

} // namespace
