// Loading screen: the messages, the layout and the throttle.
#include "shell/loadingscreen.h"

#include "gfx/device.h"
#include "gfx/font.h"
#include "gfx/texture.h"

#include <chrono>
#include <cmath>
#include <cstdio>

const char* const kLoadingMessages[kLoadingMessageCount + 1] = {
    "destroying your monitor",
    "registering all installed shareware apps",
    "uninstalling service packs",
    "defrosting your fridge",
    "zipping your porn directory",
    "buying all items at ebay",
    "killing old women",
    "making tomato juice",
    "scanning your hd for valuable source code",
    "disabling cpu cooling fan",
    "building a driver information database",
    "winning random demo compo",
    "investing in .com startups",
    "recovering from headcrash",
    "uninstalling windows",
    "booze content",
    "generating funny loading messages",
    "counting to 100%",
    "increasing suspense",
    "how many of you just love this demo?",
    "repairing the internet",
    "patenting proprietary technologies",
    "encrypting your word documents with random passwords",
    "inventing new effects",
    "smoking a joint",
    "wasting precious time",
    "detecting new hardware",
    "starting flamewar at c.s.i.p.d",
    "coding a winner demo",
    "posting approx. 10,000 spam mails",
    "forget your fear and want no more",
    "reciprocal liberty transform failure recovery progress",
    "i'm not interested in your brochures",
    "teaching the tracker to swing",
    "polishing every single pixel",
    "untangling the scene graph",
    "asking the music for the time",
    "warming up the shaders",
    "counting the rows of order zero",
    "waiting for the bass drum",
    "folding the archives back up",
    "sorting the fonts by coolness",
    "lining up the layers in z order",
    nullptr,
};

void formatLoadingProgress(char* out, size_t capacity, const char* message, int32_t done,
                           int32_t total) {
    double percent = total != 0 ? 100.0 * double(done) / double(total) : 0.0;
    snprintf(out, capacity, "%s: %5.2f%%", message, percent);
}

namespace {

uint32_t monotonicMs() {
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

struct ScreenVertex {
    float x, y, z, rhw;
    D3DCOLOR colour;
    float u0, v0, u1, v1;
};
constexpr uint32_t kScreenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX2;
constexpr D3DCOLOR kWhite = 0xFFFFFFFF;
constexpr D3DCOLOR kBarBackground = 0xFF040C3C;
constexpr D3DCOLOR kBarFill = 0xFF1033F0;

void drawQuad(float left, float top, float right, float bottom, D3DCOLOR colour) {
    const ScreenVertex fan[4] = {
        {left, top, 0.5f, 0.5f, colour, 0, 0, 0, 0},
        {right, top, 0.5f, 0.5f, colour, 0, 0, 0, 0},
        {right, bottom, 0.5f, 0.5f, colour, 0, 0, 0, 0},
        {left, bottom, 0.5f, 0.5f, colour, 0, 0, 0, 0},
    };
    drawFanUP(fan, 4, kScreenFvf);
}

void barStates() {
    resetDeviceState();
    setRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    bindTexture(0, nullptr);
}

float fontHeight(const BitmapFont* font) {
    return font ? textHeight(font, "A", 1.0f) : 0.0f;
}

// Left-aligned text whose left edge is centred for its width at the given scale.
void drawCentred(BitmapFont* font, float y, const char* text, float scale, float screen) {
    if (!font) return;
    setFontAlignment(font, 0);
    float x = std::trunc((screen - measureText(font, text, scale, 0.0f)) / 2.0f);
    drawText(font, x, y, text, scale, kWhite, 0.0f);
}

} // namespace

void LoadingScreen::chooseMessage(int32_t index) {
    message_ = ((index % kLoadingMessageCount) + kLoadingMessageCount) % kLoadingMessageCount;
}

void LoadingScreen::drawStatus(const char* status) {
    drawFrame(status, -1.0f);
}

bool LoadingScreen::progress(int32_t done, int32_t total) {
    uint32_t now = clock ? clock() : monotonicMs();
    if (drewProgress_ && now - lastProgress_ < kProgressIntervalMs) return false;
    drewProgress_ = true;
    lastProgress_ = now;
    char text[256];
    formatLoadingProgress(text, sizeof text, message(), done, total);
    drawFrame(text, total != 0 ? float(done) / float(total) : 0.0f);
    return true;
}

void LoadingScreen::drawFrame(const char* centre, float done) {
    if (!hasDevice()) return;
    const float xres = float(screenWidth()), yres = float(screenHeight());
    selectRenderTarget("primary");
    clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);

    setTextOverlayStates();
    if (small_) {
        setFontAlignment(small_, 0);
        drawText(small_, 2, yres - fontHeight(small_) - 2, title_, 1.0f, kWhite, 0.0f);
    }
    float s = xres * 1.2f / 640.0f;
    drawCentred(large_, std::trunc(0.1f * yres), "nordkessel", s, xres);
    drawCentred(large_, std::trunc(0.2f * yres), "going for gold", s / 2, xres);

    barStates();
    drawQuad(0.1f * xres, 0.45f * yres, 0.9f * xres, 0.55f * yres, kBarBackground);
    if (done >= 0)
        drawQuad(0.1f * xres, 0.45f * yres, (0.1f + 0.8f * done) * xres, 0.55f * yres, kBarFill);

    setTextOverlayStates();
    drawCentred(small_, std::trunc((yres - fontHeight(small_)) / 2), centre, 1.0f, xres);
    present();
}

LoadingScreen& loadingScreen() {
    static LoadingScreen screen;
    return screen;
}

void loadingProgress(int32_t done, int32_t total) {
    loadingScreen().progress(done, total);
}
