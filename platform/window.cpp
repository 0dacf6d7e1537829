#include "platform/window.h"

#include "platform/log.h"

#include <SDL.h>

namespace {

SDL_Window* window = nullptr;
bool videoStarted = false;
int windowDisplay = 0;

struct KeyMapping {
    SDL_Scancode sdl;
    int code;
};

// DirectInput scan codes of the keys a production or camera may ask for.
constexpr KeyMapping kKeyMap[] = {
    {SDL_SCANCODE_ESCAPE, 1},
    {SDL_SCANCODE_1, 2},
    {SDL_SCANCODE_2, 3},
    {SDL_SCANCODE_3, 4},
    {SDL_SCANCODE_4, 5},
    {SDL_SCANCODE_5, 6},
    {SDL_SCANCODE_6, 7},
    {SDL_SCANCODE_7, 8},
    {SDL_SCANCODE_8, 9},
    {SDL_SCANCODE_9, 10},
    {SDL_SCANCODE_0, 11},
    {SDL_SCANCODE_MINUS, 12},
    {SDL_SCANCODE_EQUALS, 13},
    {SDL_SCANCODE_BACKSPACE, 14},
    {SDL_SCANCODE_TAB, 15},
    {SDL_SCANCODE_Q, 16},
    {SDL_SCANCODE_W, 17},
    {SDL_SCANCODE_E, 18},
    {SDL_SCANCODE_R, 19},
    {SDL_SCANCODE_T, 20},
    {SDL_SCANCODE_Y, 21},
    {SDL_SCANCODE_U, 22},
    {SDL_SCANCODE_I, 23},
    {SDL_SCANCODE_O, 24},
    {SDL_SCANCODE_P, 25},
    {SDL_SCANCODE_LEFTBRACKET, 26},
    {SDL_SCANCODE_RIGHTBRACKET, 27},
    {SDL_SCANCODE_RETURN, 28},
    {SDL_SCANCODE_LCTRL, 29},
    {SDL_SCANCODE_A, 30},
    {SDL_SCANCODE_S, 31},
    {SDL_SCANCODE_D, 32},
    {SDL_SCANCODE_F, 33},
    {SDL_SCANCODE_G, 34},
    {SDL_SCANCODE_H, 35},
    {SDL_SCANCODE_J, 36},
    {SDL_SCANCODE_K, 37},
    {SDL_SCANCODE_L, 38},
    {SDL_SCANCODE_SEMICOLON, 39},
    {SDL_SCANCODE_APOSTROPHE, 40},
    {SDL_SCANCODE_GRAVE, 41},
    {SDL_SCANCODE_LSHIFT, 42},
    {SDL_SCANCODE_BACKSLASH, 43},
    {SDL_SCANCODE_Z, 44},
    {SDL_SCANCODE_X, 45},
    {SDL_SCANCODE_C, 46},
    {SDL_SCANCODE_V, 47},
    {SDL_SCANCODE_B, 48},
    {SDL_SCANCODE_N, 49},
    {SDL_SCANCODE_M, 50},
    {SDL_SCANCODE_COMMA, 51},
    {SDL_SCANCODE_PERIOD, 52},
    {SDL_SCANCODE_SLASH, 53},
    {SDL_SCANCODE_RSHIFT, 54},
    {SDL_SCANCODE_KP_MULTIPLY, 55},
    {SDL_SCANCODE_LALT, 56},
    {SDL_SCANCODE_SPACE, 57},
    {SDL_SCANCODE_CAPSLOCK, 58},
    {SDL_SCANCODE_F1, 59},
    {SDL_SCANCODE_F2, 60},
    {SDL_SCANCODE_F3, 61},
    {SDL_SCANCODE_F4, 62},
    {SDL_SCANCODE_F5, 63},
    {SDL_SCANCODE_F6, 64},
    {SDL_SCANCODE_F7, 65},
    {SDL_SCANCODE_F8, 66},
    {SDL_SCANCODE_F9, 67},
    {SDL_SCANCODE_F10, 68},
    {SDL_SCANCODE_NUMLOCKCLEAR, 69},
    {SDL_SCANCODE_SCROLLLOCK, 70},
    {SDL_SCANCODE_KP_7, 71},
    {SDL_SCANCODE_KP_8, 72},
    {SDL_SCANCODE_KP_9, 73},
    {SDL_SCANCODE_KP_MINUS, 74},
    {SDL_SCANCODE_KP_4, 75},
    {SDL_SCANCODE_KP_5, 76},
    {SDL_SCANCODE_KP_6, 77},
    {SDL_SCANCODE_KP_PLUS, 78},
    {SDL_SCANCODE_KP_1, 79},
    {SDL_SCANCODE_KP_2, 80},
    {SDL_SCANCODE_KP_3, 81},
    {SDL_SCANCODE_KP_0, 82},
    {SDL_SCANCODE_KP_PERIOD, 83},
    {SDL_SCANCODE_NONUSBACKSLASH, 86},
    {SDL_SCANCODE_F11, 87},
    {SDL_SCANCODE_F12, 88},
    {SDL_SCANCODE_F13, 100},
    {SDL_SCANCODE_F14, 101},
    {SDL_SCANCODE_F15, 102},
    {SDL_SCANCODE_INTERNATIONAL2, 112}, // kana
    {SDL_SCANCODE_INTERNATIONAL1, 115}, // ABNT C1
    {SDL_SCANCODE_INTERNATIONAL4, 121}, // convert
    {SDL_SCANCODE_INTERNATIONAL5, 123}, // no convert
    {SDL_SCANCODE_INTERNATIONAL3, 125}, // yen
    {SDL_SCANCODE_KP_EQUALS, 141},
    {SDL_SCANCODE_AUDIOPREV, 144},
    {SDL_SCANCODE_AUDIONEXT, 153},
    {SDL_SCANCODE_KP_ENTER, 156},
    {SDL_SCANCODE_RCTRL, 157},
    {SDL_SCANCODE_MUTE, 160},
    {SDL_SCANCODE_CALCULATOR, 161},
    {SDL_SCANCODE_AUDIOPLAY, 162},
    {SDL_SCANCODE_AUDIOSTOP, 164},
    {SDL_SCANCODE_VOLUMEDOWN, 174},
    {SDL_SCANCODE_VOLUMEUP, 176},
    {SDL_SCANCODE_AC_HOME, 178},
    {SDL_SCANCODE_KP_COMMA, 179},
    {SDL_SCANCODE_KP_DIVIDE, 181},
    {SDL_SCANCODE_PRINTSCREEN, 183},
    {SDL_SCANCODE_SYSREQ, 183},
    {SDL_SCANCODE_RALT, 184},
    {SDL_SCANCODE_PAUSE, 197},
    {SDL_SCANCODE_HOME, 199},
    {SDL_SCANCODE_UP, 200},
    {SDL_SCANCODE_PAGEUP, 201},
    {SDL_SCANCODE_LEFT, 203},
    {SDL_SCANCODE_RIGHT, 205},
    {SDL_SCANCODE_END, 207},
    {SDL_SCANCODE_DOWN, 208},
    {SDL_SCANCODE_PAGEDOWN, 209},
    {SDL_SCANCODE_INSERT, 210},
    {SDL_SCANCODE_DELETE, 211},
    {SDL_SCANCODE_LGUI, 219},
    {SDL_SCANCODE_RGUI, 220},
    {SDL_SCANCODE_APPLICATION, 221},
    {SDL_SCANCODE_POWER, 222},
    {SDL_SCANCODE_SLEEP, 223},
    {SDL_SCANCODE_AC_SEARCH, 229},
    {SDL_SCANCODE_AC_BOOKMARKS, 230},
    {SDL_SCANCODE_AC_REFRESH, 231},
    {SDL_SCANCODE_AC_STOP, 232},
    {SDL_SCANCODE_AC_FORWARD, 233},
    {SDL_SCANCODE_AC_BACK, 234},
    {SDL_SCANCODE_COMPUTER, 235},
    {SDL_SCANCODE_MAIL, 236},
    {SDL_SCANCODE_MEDIASELECT, 237},
};

bool translate(const SDL_Event& sdl, WindowEvent* event) {
    *event = WindowEvent{};
    switch (sdl.type) {
    case SDL_QUIT:
        event->type = WindowEvent::Close;
        return true;
    case SDL_WINDOWEVENT:
        switch (sdl.window.event) {
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            event->type = WindowEvent::Activate;
            return true;
        case SDL_WINDOWEVENT_FOCUS_LOST:
            event->type = WindowEvent::Deactivate;
            return true;
        case SDL_WINDOWEVENT_CLOSE:
            event->type = WindowEvent::Close;
            return true;
        case SDL_WINDOWEVENT_EXPOSED:
            event->type = WindowEvent::Paint;
            return true;
        }
        return false;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        if (sdl.key.repeat) return false;
        event->type = sdl.type == SDL_KEYDOWN ? WindowEvent::KeyDown : WindowEvent::KeyUp;
        event->key = directInputKeyCode(sdl.key.keysym.scancode);
        return event->key != 0;
    case SDL_MOUSEMOTION:
        event->type = WindowEvent::MouseMotion;
        event->dx = sdl.motion.xrel;
        event->dy = sdl.motion.yrel;
        return true;
    case SDL_MOUSEWHEEL:
        event->type = WindowEvent::MouseMotion;
        event->dz = sdl.wheel.y * 120; // one notch, as the wheel axis counts it
        return true;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        static const int kButtons[] = {-1, 0, 2, 1}; // SDL: 1 left, 2 middle, 3 right
        if (sdl.button.button > 3) return false;
        event->type = WindowEvent::MouseButton;
        event->button = kButtons[sdl.button.button];
        event->pressed = sdl.type == SDL_MOUSEBUTTONDOWN;
        return true;
    }
    }
    return false;
}

} // namespace

int directInputKeyCode(int sdlScancode) {
    for (const KeyMapping& mapping : kKeyMap)
        if (mapping.sdl == sdlScancode) return mapping.code;
    return 0;
}

bool initVideo() {
    if (videoStarted) return true;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        logf("WNMN: warning: video could not start: %s\n", SDL_GetError());
        return false;
    }
    videoStarted = true;
    return true;
}

void closeVideo() {
    destroyDemoWindow();
    if (videoStarted) SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    videoStarted = false;
}

bool createDemoWindow(const char* title, int width, int height, bool windowed, bool hidden) {
    destroyDemoWindow();
    if (!initVideo()) return false;
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_ALLOW_HIGHDPI;
    if (hidden)
        flags |= SDL_WINDOW_HIDDEN;
    else if (windowed)
        flags |= SDL_WINDOW_RESIZABLE;
    else
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP; // the picture is scaled; no mode switch
    int display = windowDisplay < SDL_GetNumVideoDisplays() ? windowDisplay : 0;
    int position = int(SDL_WINDOWPOS_CENTERED_DISPLAY(display));
    window = SDL_CreateWindow(title, position, position, width, height, flags);
    if (!window) {
        logf("WNMN: window creation failed: %s\n", SDL_GetError());
        return false;
    }
    if (!hidden) {
        SDL_ShowWindow(window);
        SDL_RaiseWindow(window);
        // The viewer has just launched it: keys go to it even where no window manager hands
        // the focus over (the launch dialog's window was the focused one).
        SDL_SetWindowInputFocus(window);
    }
    return true;
}

void destroyDemoWindow() {
    if (window) SDL_DestroyWindow(window);
    window = nullptr;
}

void setDemoWindowDisplay(int display) {
    windowDisplay = display > 0 ? display : 0;
}

bool hasDemoWindow() {
    return window != nullptr;
}

void* demoWindowHandle() {
    return window;
}

void setDemoWindowTitle(const char* title) {
    if (window) SDL_SetWindowTitle(window, title);
}

bool nextWindowEvent(WindowEvent* event) {
    if (!videoStarted) return false;
    SDL_Event sdl;
    while (SDL_PollEvent(&sdl))
        if (translate(sdl, event)) return true;
    return false;
}

void postWindowClose() {
    if (!videoStarted) return;
    SDL_Event quit = {};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
}

void setScreenSaverEnabled(bool enabled) {
    if (!videoStarted) return;
    if (enabled)
        SDL_EnableScreenSaver();
    else
        SDL_DisableScreenSaver();
}

bool setMouseGrab(bool grab) {
    if (!videoStarted) return false;
    return SDL_SetRelativeMouseMode(grab ? SDL_TRUE : SDL_FALSE) == 0;
}

void readKeyboardState(int down[256]) {
    for (int i = 0; i < 256; ++i)
        down[i] = 0;
    if (!videoStarted) return;
    int count = 0;
    const Uint8* keys = SDL_GetKeyboardState(&count);
    for (const KeyMapping& mapping : kKeyMap)
        if (mapping.sdl < count && keys[mapping.sdl]) down[mapping.code] = 1;
}
