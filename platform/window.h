// The demo window and its events, over SDL2.
//
// Start-up opens the video subsystem, creates the demo window (windowed: a resizable window
// whose client area is the chosen size, centred; full screen: exclusive mode on the first
// display) and later hands `demoWindowHandle()` to the graphics device. The shell's message
// pump drains the events with `nextWindowEvent`; keys arrive as DirectInput scan codes
// (Escape 1, Space 57, right Alt 184 ...) so that the input tables keep the codes scripts and
// effects use.
#pragma once

#include <cstdint>

struct WindowEvent {
    enum Type {
        None,
        Activate,
        Deactivate,
        Close,
        Paint,
        KeyDown,
        KeyUp,
        MouseMotion,
        MouseButton
    };
    Type type = None;
    int key = 0; // DirectInput scan code for KeyDown/KeyUp (0 for keys without one)
    int dx = 0;  // mouse motion
    int dy = 0;
    int dz = 0;      // wheel
    int button = 0;  // 0 left, 1 right, 2 middle
    int pressed = 0; // MouseButton: 1 down, 0 up
};

bool initVideo(); // false when no video driver can start
void closeVideo();

// hidden: for offline rendering; the window exists (the device needs one) but is not shown.
bool createDemoWindow(const char* title, int width, int height, bool windowed, bool hidden);
void destroyDemoWindow();
// The display (0 = the first) the next demo window opens on; out of range means the first.
void setDemoWindowDisplay(int display);
bool hasDemoWindow();
void* demoWindowHandle(); // the SDL_Window*, for the graphics device
void setDemoWindowTitle(const char* title);

// Takes the next waiting event; false when none is waiting.
bool nextWindowEvent(WindowEvent* event);
// Queues a close request, as the system's close button does.
void postWindowClose();

// Screen saver control (start-up switches it off and restores it at exit).
void setScreenSaverEnabled(bool enabled);

// Maps an SDL scancode to the DirectInput scan code of the same key (0 when there is none).
int directInputKeyCode(int sdlScancode);

// Mouse capture: relative mouse mode on the demo window (pointer hidden, motion unbounded).
// False when the video driver cannot grab the mouse; the motion still arrives.
bool setMouseGrab(bool grab);
// The keys held right now, by DirectInput scan code (1 = held), as the system reports them.
void readKeyboardState(int down[256]);
