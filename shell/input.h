// Keyboard and mouse state.
//
// Keys are DirectInput scan codes (Escape 1, Space 57, Y 21, I 23, O 24, P 25, F1 59, F2 60,
// keypad minus 74, keypad plus 78, F12 88, right Alt 184, up 200, left 203, right 205, down 208).
// The message pump feeds every key and mouse event in with `feedInputEvent`; the main loop and the
// cameras ask at any moment whether a key is down, whether it was pressed since they last asked,
// and how far the mouse moved. One lock guards the tables, so a query never sees half an update.
//
// Start-up calls `initInput` once the demo window exists and shutdown `closeInput`. When the
// window loses the focus both devices count as lost (keys held then are released, the mouse
// grab is let go); `wakeInput`, called when the window is activated again, reacquires them:
// the held keys are read afresh and the mouse motion and buttons start from zero.
// `captureMouse` grabs the mouse in relative mode, so the motion is not bounded by the screen.
#pragma once

#include "platform/window.h"
#include "scene/scene.h"

enum KeyCode : int {
    kKeyEscape = 1,
    kKeyY = 21,
    kKeyI = 23,
    kKeyO = 24,
    kKeyP = 25,
    kKeySpace = 57,
    kKeyF1 = 59,
    kKeyF2 = 60,
    kKeyPadMinus = 74,
    kKeyPadPlus = 78,
    kKeyF12 = 88,
    kKeyRightAlt = 184,
    kKeyUp = 200,
    kKeyLeft = 203,
    kKeyRight = 205,
    kKeyDown = 208,
};

bool initInput();
void closeInput();
void wakeInput();

// Key, mouse and focus events of the demo window, from the message pump.
void feedInputEvent(const WindowEvent& event);

int isKeyDown(int code);
int wasKeyPressed(int code); // the latched press, cleared by reading it
void clearKeyPresses();
int nextKeyPress(); // 0 when no key press is queued
bool hasKeyPress();

void captureMouse();
void releaseMouse();
void readMouseMotion(int& dx, int& dy, int& dz);
int mouseButtons(); // bit 0 left, bit 1 right, bit 2 middle

// The scene engine's steered cameras read these tables through hooks (the scene library lies
// below the shell); the clock hook stays unset (the music clock).
SceneInput inputTableSceneHooks();
