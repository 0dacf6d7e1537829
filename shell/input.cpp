// Keyboard and mouse state fed from the window's events.
//
// Sections: the shared table; init and close; events and focus; key queries; mouse.
#include "shell/input.h"

#include "platform/log.h"

#include <cstring>
#include <mutex>

namespace {

// ------------------------------------------------------------------------------------------
// The shared table

struct InputState {
    int down[256] = {};
    int pressed[256] = {};
    uint8_t queue[256] = {};
    uint8_t readPosition = 0;
    uint8_t writeCount = 0;
    int dx = 0, dy = 0, dz = 0;
    int buttons = 0;
    bool captured = false;
    bool keyboardLost = false;
    bool mouseLost = false;
};

std::mutex inputLock;
InputState state;

void keyWentDown(int code) {
    state.down[code] = 1;
    if (!state.pressed[code]) {
        // The ring is full when one more entry would reach the read position.
        if (uint8_t(state.writeCount + 1) != state.readPosition)
            state.queue[state.writeCount++] = uint8_t(code);
    }
    state.pressed[code] = 1;
}

void zeroMouse() {
    state.dx = state.dy = state.dz = 0;
    state.buttons = 0;
}

// The window lost the focus: its keys and mouse go to another window until it is back.
void devicesLost() {
    if (!state.keyboardLost) {
        logf("INPT: keyboard lost, trying reacquire\n");
        memset(state.down, 0, sizeof state.down);
        state.keyboardLost = true;
    }
    if (!state.mouseLost) {
        logf("INPT: mouse lost, trying reacquire\n");
        if (state.captured) setMouseGrab(false);
        state.buttons = 0;
        state.mouseLost = true;
    }
}

// The window has the focus again: read the held keys afresh, start the mouse from zero.
void reacquireDevices() {
    if (state.keyboardLost) {
        readKeyboardState(state.down);
        state.keyboardLost = false;
        logf("INPT: keyboard reacquired\n");
    }
    if (state.mouseLost) {
        if (state.captured) setMouseGrab(true);
        zeroMouse();
        state.mouseLost = false;
        logf("INPT: mouse reacquired\n");
    }
}

} // namespace

// ------------------------------------------------------------------------------------------
// Init and close

bool initInput() {
    std::lock_guard<std::mutex> guard(inputLock);
    state = InputState{};
    logf("INPT: init\n");
    return true;
}

void closeInput() {
    releaseMouse();
    logf("INPT: close\n");
}

void wakeInput() {
    std::lock_guard<std::mutex> guard(inputLock);
    reacquireDevices();
}

// ------------------------------------------------------------------------------------------
// Events and focus

void feedInputEvent(const WindowEvent& event) {
    std::lock_guard<std::mutex> guard(inputLock);
    switch (event.type) {
    case WindowEvent::KeyDown:
        if (!state.keyboardLost) keyWentDown(event.key & 0xff);
        break;
    case WindowEvent::KeyUp:
        state.down[event.key & 0xff] = 0;
        break;
    case WindowEvent::MouseMotion:
        if (state.mouseLost) break;
        state.dx += event.dx;
        state.dy += event.dy;
        state.dz += event.dz;
        break;
    case WindowEvent::MouseButton:
        if (state.mouseLost || event.button < 0 || event.button > 2) break;
        if (event.pressed)
            state.buttons |= 1 << event.button;
        else
            state.buttons &= ~(1 << event.button);
        break;
    case WindowEvent::Deactivate:
        devicesLost();
        break;
    case WindowEvent::Activate:
        reacquireDevices();
        break;
    default:
        break;
    }
}

// ------------------------------------------------------------------------------------------
// Key queries

int isKeyDown(int code) {
    std::lock_guard<std::mutex> guard(inputLock);
    return state.down[code & 0xff];
}

int wasKeyPressed(int code) {
    std::lock_guard<std::mutex> guard(inputLock);
    int pressed = state.pressed[code & 0xff];
    state.pressed[code & 0xff] = 0;
    return pressed;
}

void clearKeyPresses() {
    std::lock_guard<std::mutex> guard(inputLock);
    memset(state.pressed, 0, sizeof state.pressed);
}

int nextKeyPress() {
    std::lock_guard<std::mutex> guard(inputLock);
    if (state.readPosition == state.writeCount) return 0;
    int code = state.queue[state.readPosition++];
    state.pressed[code] = 0;
    return code;
}

bool hasKeyPress() {
    std::lock_guard<std::mutex> guard(inputLock);
    return state.readPosition != state.writeCount;
}

// ------------------------------------------------------------------------------------------
// Mouse

void captureMouse() {
    std::lock_guard<std::mutex> guard(inputLock);
    if (state.captured) return;
    state.dx = state.dy = state.dz = 0;
    state.captured = true;
    if (!state.mouseLost) setMouseGrab(true);
}

void releaseMouse() {
    std::lock_guard<std::mutex> guard(inputLock);
    if (!state.captured) return;
    state.captured = false;
    setMouseGrab(false);
}

void readMouseMotion(int& dx, int& dy, int& dz) {
    std::lock_guard<std::mutex> guard(inputLock);
    if (!state.captured) {
        dx = dy = dz = 0;
        return;
    }
    dx = state.dx;
    dy = state.dy;
    dz = state.dz;
    state.dx = state.dy = state.dz = 0;
}

int mouseButtons() {
    std::lock_guard<std::mutex> guard(inputLock);
    return state.buttons;
}

SceneInput inputTableSceneHooks() {
    SceneInput hooks;
    hooks.isKeyDown = isKeyDown;
    hooks.wasKeyPressed = wasKeyPressed;
    hooks.mouseButtons = mouseButtons;
    hooks.readMouseMotion = readMouseMotion;
    hooks.captureMouse = captureMouse;
    hooks.releaseMouse = releaseMouse;
    return hooks;
}
