#include "shell/input.h"

#include "platform/log.h"

#include <cstring>
#include <mutex>

namespace {

struct InputState {
    int down[256] = {};
    int pressed[256] = {};
    uint8_t queue[256] = {};
    uint8_t readPosition = 0;
    uint8_t writeCount = 0;
    int dx = 0, dy = 0, dz = 0;
    int buttons = 0;
    bool captured = false;
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

} // namespace

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

void wakeInput() {}

void feedInputEvent(const WindowEvent& event) {
    std::lock_guard<std::mutex> guard(inputLock);
    switch (event.type) {
    case WindowEvent::KeyDown:
        keyWentDown(event.key & 0xff);
        break;
    case WindowEvent::KeyUp:
        state.down[event.key & 0xff] = 0;
        break;
    case WindowEvent::MouseMotion:
        state.dx += event.dx;
        state.dy += event.dy;
        state.dz += event.dz;
        break;
    case WindowEvent::MouseButton:
        if (event.pressed)
            state.buttons |= 1 << event.button;
        else
            state.buttons &= ~(1 << event.button);
        break;
    default:
        break;
    }
}

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

void captureMouse() {
    std::lock_guard<std::mutex> guard(inputLock);
    if (state.captured) return;
    state.dx = state.dy = state.dz = 0;
    state.captured = true;
}

void releaseMouse() {
    std::lock_guard<std::mutex> guard(inputLock);
    state.captured = false;
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
