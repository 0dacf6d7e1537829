// The dialog window over SDL2 + OpenGL 3.3 with Dear ImGui.
//
// Sections: window and frame; drawing helpers; launch dialog; gamma selector; sound settings.
// Control rectangles are given in dialog units, as a resource editor would lay them out;
// one unit is kUnit pixels.
#include "platform/dialogs.h"

#include "platform/log.h"

#include <SDL.h>
#include <backends/imgui_impl_opengl3.h>
#include <backends/imgui_impl_sdl.h>
#include <epoxy/gl.h>
#include <fontconfig/fontconfig.h>
#include <imgui.h>

#include <cfloat>
#include <cstring>
#include <string>

namespace {

// ------------------------------------------------------------------------------------------
// Window and frame

constexpr float kUnit = 2.0f; // pixels per dialog unit

enum class Shown { None, Launch, Gamma, Sound, Progress };

struct DialogWindow {
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    ImFont* bodyFont = nullptr;
    ImFont* titleFont = nullptr;
    Shown shown = Shown::None;
    bool firstFrame = false; // the first frame since the shown dialog changed
    bool closeRequested = false;
    GLuint pictureTexture = 0;
    uint32_t pictureVersion = 0;
    bool pictureUploaded = false;
};

DialogWindow dialog;

// The file of a font face through fontconfig ("Arial:bold" finds a metric-compatible face).
std::string fontFile(const char* pattern) {
    std::string file;
    FcConfig* config = FcInitLoadConfigAndFonts();
    if (!config) return file;
    FcPattern* wanted = FcNameParse(reinterpret_cast<const FcChar8*>(pattern));
    FcConfigSubstitute(config, wanted, FcMatchPattern);
    FcDefaultSubstitute(wanted);
    FcResult result = FcResultNoMatch;
    FcPattern* found = FcFontMatch(config, wanted, &result);
    FcChar8* path = nullptr;
    if (found && FcPatternGetString(found, FC_FILE, 0, &path) == FcResultMatch)
        file = reinterpret_cast<const char*>(path);
    if (found) FcPatternDestroy(found);
    FcPatternDestroy(wanted);
    FcConfigDestroy(config);
    return file;
}

ImFont* addFont(const char* pattern, float pixels) {
    std::string file = fontFile(pattern);
    ImFont* font =
        file.empty() ? nullptr : ImGui::GetIO().Fonts->AddFontFromFileTTF(file.c_str(), pixels);
    if (!font) logf("CNFG: warning: no font for '%s', using the built-in one\n", pattern);
    return font;
}

void loadFonts() {
    dialog.bodyFont = addFont("Courier New", 14.0f);
    dialog.titleFont = addFont("Arial:bold", 22.0f);
    if (!dialog.bodyFont) dialog.bodyFont = ImGui::GetIO().Fonts->AddFontDefault();
    if (!dialog.titleFont) dialog.titleFont = dialog.bodyFont;
    ImGui::GetIO().Fonts->Build(); // so that texts can be measured before the first frame
}

void styleDialogs() {
    ImGui::StyleColorsLight();
    ImGuiStyle& style = ImGui::GetStyle();
    style.WindowRounding = 0.0f;
    style.FrameRounding = 2.0f;
    style.FrameBorderSize = 1.0f;
    style.WindowPadding = ImVec2(0, 0);
    style.FramePadding = ImVec2(4, 2);
    style.Colors[ImGuiCol_WindowBg] = ImVec4(0.83f, 0.82f, 0.78f, 1.0f);
}

void showPixels(Shown wanted, const char* title, int width, int height) {
    dialog.firstFrame = dialog.shown != wanted;
    int w = 0, h = 0;
    SDL_GetWindowSize(dialog.window, &w, &h);
    if (dialog.shown == wanted && w == width && h == height) return;
    dialog.shown = wanted;
    SDL_SetWindowTitle(dialog.window, title);
    SDL_SetWindowBordered(dialog.window, wanted == Shown::Progress ? SDL_FALSE : SDL_TRUE);
    SDL_SetWindowSize(dialog.window, width, height);
    SDL_SetWindowPosition(dialog.window, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
    SDL_ShowWindow(dialog.window);
}

void show(Shown wanted, const char* title, float widthUnits, float heightUnits) {
    showPixels(wanted, title, int(widthUnits * kUnit), int(heightUnits * kUnit));
}

void beginFrame(const char* id) {
    SDL_WaitEventTimeout(nullptr, 30); // idle between inputs instead of spinning
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        ImGui_ImplSDL2_ProcessEvent(&event);
        if (event.type == SDL_QUIT ||
            (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE))
            dialog.closeRequested = true;
    }
    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplSDL2_NewFrame();
    ImGui::NewFrame();
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImGui::GetIO().DisplaySize);
    ImGui::Begin(id, nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus);
    ImGui::PushFont(dialog.bodyFont);
}

void endFrame() {
    ImGui::PopFont();
    ImGui::End();
    ImGui::Render();
    int width = 0, height = 0;
    SDL_GL_GetDrawableSize(dialog.window, &width, &height);
    glViewport(0, 0, width, height);
    glClearColor(0.83f, 0.82f, 0.78f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    SDL_GL_SwapWindow(dialog.window);
}

// Takes a close request of the window (its close button), once.
bool takeCloseRequest() {
    bool requested = dialog.closeRequested;
    dialog.closeRequested = false;
    return requested;
}

// ------------------------------------------------------------------------------------------
// Drawing helpers

ImVec2 pixels(float x, float y) {
    return ImVec2(x * kUnit, y * kUnit);
}

void place(float x, float y) {
    ImGui::SetCursorPos(pixels(x, y));
}

void label(float x, float y, const char* text, bool enabled = true) {
    place(x, y);
    if (!enabled) ImGui::BeginDisabled();
    ImGui::TextUnformatted(text);
    if (!enabled) ImGui::EndDisabled();
}

void groupBox(float x, float y, float w, float h, const char* text) {
    ImDrawList* draw = ImGui::GetWindowDrawList();
    ImVec2 origin = ImGui::GetWindowPos();
    ImVec2 a(origin.x + x * kUnit, origin.y + (y + 4) * kUnit);
    ImVec2 b(origin.x + (x + w) * kUnit, origin.y + (y + h) * kUnit);
    draw->AddRect(a, b, IM_COL32(128, 128, 128, 255));
    if (!*text) return;
    ImVec2 size = ImGui::CalcTextSize(text);
    ImVec2 at(a.x + 6, a.y - size.y / 2);
    draw->AddRectFilled(ImVec2(at.x - 2, at.y), ImVec2(at.x + size.x + 2, at.y + size.y),
                        ImGui::GetColorU32(ImGuiCol_WindowBg));
    draw->AddText(at, ImGui::GetColorU32(ImGuiCol_Text), text);
}

void etchedLine(float x, float y, float w) {
    ImDrawList* draw = ImGui::GetWindowDrawList();
    ImVec2 origin = ImGui::GetWindowPos();
    float py = origin.y + y * kUnit;
    draw->AddLine(ImVec2(origin.x + x * kUnit, py), ImVec2(origin.x + (x + w) * kUnit, py),
                  IM_COL32(128, 128, 128, 255));
    draw->AddLine(ImVec2(origin.x + x * kUnit, py + 1), ImVec2(origin.x + (x + w) * kUnit, py + 1),
                  IM_COL32(255, 255, 255, 255));
}

// A push button whose text underlines its access letter (the one after "&" in the text).
bool button(float x, float y, float w, float h, const char* text, bool isDefault = false) {
    char shown[64];
    int underline = -1, n = 0;
    for (const char* p = text; *p && n + 1 < int(sizeof shown); ++p) {
        if (*p == '&' && p[1]) {
            underline = n;
            continue;
        }
        shown[n++] = *p;
    }
    shown[n] = 0;
    place(x, y);
    if (isDefault) ImGui::PushStyleVar(ImGuiStyleVar_FrameBorderSize, 2.0f);
    ImGui::PushID(text);
    bool pressed = ImGui::Button(shown, pixels(w, h));
    ImGui::PopID();
    if (isDefault) ImGui::PopStyleVar();
    if (underline >= 0) {
        ImVec2 min = ImGui::GetItemRectMin(), max = ImGui::GetItemRectMax();
        ImVec2 size = ImGui::CalcTextSize(shown);
        float left =
            min.x + (max.x - min.x - size.x) / 2 + ImGui::CalcTextSize(shown, shown + underline).x;
        float right = left + ImGui::CalcTextSize(shown + underline, shown + underline + 1).x;
        float base = min.y + (max.y - min.y + size.y) / 2;
        ImGui::GetWindowDrawList()->AddLine(ImVec2(left, base), ImVec2(right, base),
                                            ImGui::GetColorU32(ImGuiCol_Text));
        char letter = char(tolower(shown[underline]));
        if (ImGui::GetIO().KeyAlt && letter >= 'a' && letter <= 'z' &&
            ImGui::IsKeyPressed(SDL_SCANCODE_A + (letter - 'a'), false))
            pressed = true;
    }
    return pressed;
}

bool listGetter(void* data, int index, const char** text) {
    const auto* items = static_cast<const std::vector<std::string>*>(data);
    if (index < 0 || size_t(index) >= items->size()) return false;
    *text = (*items)[size_t(index)].c_str();
    return true;
}

// A drop-down list; true when the viewer completed a new selection.
bool dropDown(float x, float y, float w, const char* id, int32_t* selected,
              const std::vector<std::string>& items, bool enabled) {
    place(x, y);
    ImGui::SetNextItemWidth(w * kUnit);
    if (!enabled) ImGui::BeginDisabled();
    int index = *selected;
    bool changed = ImGui::Combo(id, &index, listGetter,
                                const_cast<std::vector<std::string>*>(&items), int(items.size()));
    if (!enabled) ImGui::EndDisabled();
    *selected = index;
    return changed;
}

bool keyPressed(ImGuiKey key) {
    return ImGui::IsKeyPressed(ImGui::GetKeyIndex(key), false);
}

// Enter and Escape act as the default and cancel buttons unless a drop-down list is open.
bool popupOpen() {
    return ImGui::IsPopupOpen("", ImGuiPopupFlags_AnyPopupId);
}

// The program's icon, at a rectangle in pixels of the window.
void drawIcon(float x, float y, float w, float h) {
    ImDrawList* draw = ImGui::GetWindowDrawList();
    ImVec2 origin = ImGui::GetWindowPos();
    ImVec2 a(origin.x + x, origin.y + y);
    ImVec2 b(origin.x + x + w, origin.y + y + h);
    draw->AddRectFilledMultiColor(a, b, IM_COL32(16, 51, 240, 255), IM_COL32(4, 12, 60, 255),
                                  IM_COL32(4, 12, 60, 255), IM_COL32(16, 51, 240, 255));
    ImVec2 size = ImGui::CalcTextSize("32");
    draw->AddText(ImVec2((a.x + b.x - size.x) / 2, (a.y + b.y - size.y) / 2),
                  IM_COL32(255, 255, 255, 255), "32");
}

} // namespace

// ------------------------------------------------------------------------------------------
// Window

bool hasDisplay() {
    if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0)
        return false;
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || strcmp(driver, "offscreen") == 0 || strcmp(driver, "dummy") == 0) return false;
    return SDL_GetNumVideoDisplays() > 0;
}

const char* videoDriverName() {
    const char* driver = SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GetCurrentVideoDriver() : nullptr;
    return driver ? driver : "none";
}

std::vector<std::string> displayNames() {
    std::vector<std::string> names;
    int count = SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GetNumVideoDisplays() : 0;
    for (int i = 0; i < count; ++i) {
        const char* name = SDL_GetDisplayName(i);
        SDL_Rect bounds{};
        SDL_GetDisplayBounds(i, &bounds);
        char text[160];
        snprintf(text, sizeof text, "%d: %s (%dx%d)", i + 1, name ? name : "display", bounds.w,
                 bounds.h);
        names.push_back(text);
    }
    return names;
}

bool openDialogWindow(const char* title) {
    if (dialog.window) return true;
    if (!hasDisplay()) return false;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    dialog.window = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, 64, 64,
                                     SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (dialog.window) dialog.context = SDL_GL_CreateContext(dialog.window);
    if (!dialog.window || !dialog.context) {
        logf("CNFG: warning: no dialog window (%s), starting with the defaults\n", SDL_GetError());
        closeDialogWindow();
        return false;
    }
    SDL_GL_MakeCurrent(dialog.window, dialog.context);
    SDL_GL_SetSwapInterval(1);
    IMGUI_CHECKVERSION();
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
    styleDialogs();
    loadFonts();
    ImGui_ImplSDL2_InitForOpenGL(dialog.window, dialog.context);
    ImGui_ImplOpenGL3_Init("#version 330 core");
    dialog.shown = Shown::None;
    dialog.closeRequested = false;
    return true;
}

void closeDialogWindow() {
    if (dialog.context) {
        SDL_GL_MakeCurrent(dialog.window, dialog.context);
        if (dialog.pictureTexture) glDeleteTextures(1, &dialog.pictureTexture);
        ImGui_ImplOpenGL3_Shutdown();
        ImGui_ImplSDL2_Shutdown();
        ImGui::DestroyContext();
        SDL_GL_MakeCurrent(dialog.window, nullptr);
        SDL_GL_DeleteContext(dialog.context);
    }
    if (dialog.window) SDL_DestroyWindow(dialog.window);
    dialog = DialogWindow{};
}

bool dialogWindowOpen() {
    return dialog.window != nullptr;
}

// ------------------------------------------------------------------------------------------
// Launch dialog

namespace {

void drawVideoGroup(LaunchDialogView& v, LaunchAction* action) {
    groupBox(5, 24, 223, 85, "Video");
    int mode = v.screenMode;
    place(11, 34);
    if (ImGui::RadioButton("windowed", &mode, 0)) *action = LaunchAction::ScreenModeChanged;
    place(11, 53);
    if (ImGui::RadioButton("full screen", &mode, 1)) *action = LaunchAction::ScreenModeChanged;
    place(11, 68);
    if (ImGui::RadioButton("fake full screen", &mode, 2)) *action = LaunchAction::ScreenModeChanged;
    v.screenMode = mode;

    label(86, 35, "Display size:", v.sizeEditsEnabled);
    if (!v.sizeEditsEnabled) ImGui::BeginDisabled();
    place(140, 33);
    ImGui::SetNextItemWidth(21 * kUnit);
    ImGui::InputText("##width", v.widthText, sizeof v.widthText, ImGuiInputTextFlags_CharsDecimal);
    place(176, 33);
    ImGui::SetNextItemWidth(21 * kUnit);
    ImGui::InputText("##height", v.heightText, sizeof v.heightText,
                     ImGuiInputTextFlags_CharsDecimal);
    if (!v.sizeEditsEnabled) ImGui::EndDisabled();
    label(165, 35, "by", v.sizeEditsEnabled);
    label(200, 35, "Pixels", v.sizeEditsEnabled);
    etchedLine(8, 47, 218);

    label(90, 54, "Resolution:", v.modeListEnabled);
    dropDown(140, 52, 85, "##mode", &v.mode, v.modes, v.modeListEnabled && !v.modes.empty());
    label(91, 68, "Device:", v.deviceListEnabled);
    if (dropDown(125, 67, 100, "##device", &v.device, v.devices, v.deviceListEnabled))
        *action = LaunchAction::DeviceChanged;
    etchedLine(8, 83, 218);

    label(11, 87, "Options:");
    place(48, 86);
    ImGui::Checkbox("no trilinear filtering", &v.noTrilinear);
    place(157, 86);
    ImGui::Checkbox("16bit textures", &v.lowTextures);
    place(48, 97);
    ImGui::Checkbox("loop demo", &v.loop);
    place(157, 97);
    ImGui::Checkbox("vsync", &v.vsync);
}

void drawPosingGroup(LaunchDialogView& v) {
    groupBox(5, 110, 223, 25, "Posing");
    label(10, 121, "Flavor:", v.flavorEnabled);
    dropDown(45, 119, 180, "##flavor", &v.flavor, v.flavors, v.flavorEnabled);
}

void drawPlaybackRow(LaunchDialogView& v) {
    label(5, 157, "Monitor:", v.monitors.size() > 1 && v.screenMode != 0);
    dropDown(40, 155, 80, "##monitor", &v.monitor, v.monitors,
             v.monitors.size() > 1 && v.screenMode != 0);
    label(126, 157, "Audio delay:");
    place(178, 155);
    ImGui::SetNextItemWidth(50 * kUnit);
    ImGui::SliderInt("##latency", &v.latencyMs, -500, 500, "%d ms");
}

} // namespace

LaunchAction runLaunchFrame(LaunchDialogView& v) {
    if (!dialog.window) return LaunchAction::Quit;
    show(Shown::Launch, "lux32 configuration", 233, 182);
    beginFrame("##launch");
    LaunchAction action = LaunchAction::None;

    place(8, 5);
    ImGui::PushFont(dialog.titleFont);
    ImGui::TextUnformatted("nordkessel consumer consulting");
    ImGui::PopFont();
    label(141, 19, "demo system");
    drawIcon(209 * kUnit, 7 * kUnit, 20 * kUnit, 20 * kUnit);

    drawVideoGroup(v, &action);
    drawPosingGroup(v);
    if (button(5, 138, 42, 13, "&Gamma...")) action = LaunchAction::Gamma;
    if (button(50, 138, 42, 13, "&Audio...")) action = LaunchAction::Audio;
    if (button(135, 138, 45, 13, "&Launch", true)) action = LaunchAction::Launch;
    if (dialog.firstFrame) ImGui::SetItemDefaultFocus(); // the keyboard starts on Launch
    if (button(183, 138, 45, 13, "&quit")) action = LaunchAction::Quit;
    drawPlaybackRow(v);
    if (!v.message.empty()) {
        place(5, 168);
        ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(0.7f, 0.0f, 0.0f, 1.0f));
        ImGui::PushTextWrapPos(228 * kUnit);
        ImGui::TextUnformatted(v.message.c_str());
        ImGui::PopTextWrapPos();
        ImGui::PopStyleColor();
    }
    if (!popupOpen()) {
        if (keyPressed(ImGuiKey_Enter) || keyPressed(ImGuiKey_KeyPadEnter))
            action = LaunchAction::Launch;
        if (keyPressed(ImGuiKey_Escape)) action = LaunchAction::Quit;
    }
    endFrame();
    if (takeCloseRequest()) action = LaunchAction::Quit;
    return action;
}

// ------------------------------------------------------------------------------------------
// Gamma selector

namespace {

void uploadPicture(const GammaDialogView& v) {
    if (!v.picture) return;
    if (dialog.pictureUploaded && dialog.pictureVersion == v.pictureVersion) return;
    if (!dialog.pictureTexture) glGenTextures(1, &dialog.pictureTexture);
    glBindTexture(GL_TEXTURE_2D, dialog.pictureTexture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, 256, 192, 0, GL_RGB, GL_UNSIGNED_BYTE, v.picture);
    dialog.pictureVersion = v.pictureVersion;
    dialog.pictureUploaded = true;
}

} // namespace

GammaAction runGammaFrame(GammaDialogView& v) {
    if (!dialog.window) return GammaAction::Cancel;
    show(Shown::Gamma, "lux32 Gamma Selector", 160, 158);
    uploadPicture(v);
    beginFrame("##gamma");
    GammaAction action = GammaAction::None;
    // The picture sits centred in its control, at its own size.
    ImVec2 area = pixels(149, 112);
    ImGui::SetCursorPos(ImVec2(5 * kUnit + (area.x - 256) / 2, 5 * kUnit + (area.y - 192) / 2));
    if (v.picture)
        ImGui::Image(reinterpret_cast<ImTextureID>(uintptr_t(dialog.pictureTexture)),
                     ImVec2(256, 192));
    else
        ImGui::Dummy(ImVec2(256, 192));
    place(6, 120);
    ImGui::SetNextItemWidth(128 * kUnit);
    int position = v.position;
    if (ImGui::SliderInt("##gamma", &position, 10, 400, "")) action = GammaAction::Moved;
    if (dialog.firstFrame) ImGui::SetItemDefaultFocus();
    if (ImGui::IsItemFocused() || ImGui::IsItemHovered()) {
        if (ImGui::IsKeyPressed(SDL_SCANCODE_RIGHT)) ++position, action = GammaAction::Moved;
        if (ImGui::IsKeyPressed(SDL_SCANCODE_LEFT)) --position, action = GammaAction::Moved;
    }
    v.position = position;
    label(136, 122, v.label);
    if (button(58, 138, 45, 14, "&OK", true)) action = GammaAction::Ok;
    if (button(108, 138, 45, 14, "Cancel")) action = GammaAction::Cancel;
    if (keyPressed(ImGuiKey_Enter) || keyPressed(ImGuiKey_KeyPadEnter)) action = GammaAction::Ok;
    if (keyPressed(ImGuiKey_Escape)) action = GammaAction::Cancel;
    endFrame();
    if (takeCloseRequest()) action = GammaAction::Cancel;
    return action;
}

// ------------------------------------------------------------------------------------------
// Sound settings

SoundAction runSoundFrame(SoundDialogView& v) {
    if (!dialog.window) return SoundAction::Cancel;
    show(Shown::Sound, "lux32 sound settings", 200, 100);
    beginFrame("##sound");
    SoundAction action = SoundAction::None;
    static const std::vector<std::string> kRates = {"22050 Hz", "44100 Hz", "48000 Hz", "96000 Hz"};
    static const std::vector<std::string> kFilters = {"none (nearest)", "linear", "cubic",
                                                      "windowed sinc (8 taps)"};
    label(6, 8, "Output device:");
    dropDown(72, 6, 122, "##device", &v.device, v.devices, v.devices.size() > 1);
    label(6, 24, "Sample rate:");
    dropDown(72, 22, 122, "##rate", &v.rateIndex, kRates, true);
    label(6, 40, "Interpolation:");
    dropDown(72, 38, 122, "##filter", &v.interpolationIndex, kFilters, true);
    label(6, 56, "Stereo width:");
    place(72, 54);
    ImGui::SetNextItemWidth(122 * kUnit);
    int separation = v.separation;
    ImGui::SliderInt("##separation", &separation, 0, 200, "%d %%");
    v.separation = separation;
    if (button(98, 80, 45, 14, "&OK", true)) action = SoundAction::Ok;
    if (button(149, 80, 45, 14, "Cancel")) action = SoundAction::Cancel;
    if (!popupOpen()) {
        if (keyPressed(ImGuiKey_Enter) || keyPressed(ImGuiKey_KeyPadEnter))
            action = SoundAction::Ok;
        if (keyPressed(ImGuiKey_Escape)) action = SoundAction::Cancel;
    }
    endFrame();
    if (takeCloseRequest()) action = SoundAction::Cancel;
    return action;
}

// ------------------------------------------------------------------------------------------
// Progress window

int32_t progressTextWidth(const char* text) {
    if (!dialog.window) return 0;
    ImFont* font = dialog.bodyFont;
    float width = font->CalcTextSizeA(font->FontSize, FLT_MAX, 0.0f, text).x;
    return int32_t(width + 0.5f);
}

void runProgressFrame(const ProgressView& v) {
    if (!dialog.window) return;
    showPixels(Shown::Progress, v.text, v.width, v.height);
    beginFrame("##progress");
    if (v.iconId) drawIcon(3, 3, 32, 32);
    ImVec2 size = ImGui::CalcTextSize(v.text);
    // With a bar the text stands right-aligned above it; without one it is centred vertically.
    float y = v.withBar ? 1.0f : (float(v.height) - size.y) / 2;
    ImGui::SetCursorPos(ImVec2(float(v.width) - size.x - 2, y));
    ImGui::TextUnformatted(v.text);
    if (v.withBar) {
        ImDrawList* draw = ImGui::GetWindowDrawList();
        ImVec2 a(40, 18), b(float(v.width - 51 + 40), 32);
        draw->AddRect(a, b, IM_COL32(128, 128, 128, 255));
        int32_t span = v.high - v.low;
        float done = span > 0 ? float(v.position - v.low) / float(span) : 0.0f;
        draw->AddRectFilled(ImVec2(a.x + 1, a.y + 1),
                            ImVec2(a.x + 1 + (b.x - a.x - 2) * done, b.y - 1),
                            IM_COL32(16, 51, 240, 255));
    }
    endFrame();
}
