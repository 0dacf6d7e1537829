// "vexwriter": a line of text whose letters fade in one after another, wait, and then zoom
// out about their own centres while fading, one after another.
#include "effects/effect.h"

#include "effects/classes_local.h"
#include "effects/flat2d_local.h"
#include "platform/config.h"
#include "platform/log.h"

#include <cmath>
#include <cstring>

namespace {

constexpr int32_t kMaxLetters = 256;

struct Letter {
    char text[2] = {};
    float offset = 0; // x offset from the text's left edge at scale 1
    float width = 0;  // width at scale 1
};

class VexwriterEffect : public Effect {
  public:
    void render(uint32_t time, uint32_t) override {
        advanceClock(time);
        if (!font.font || letterCount == 0) return;
        setTextStates();
        float g = float(screenWidth()) * scale / preferredWidth();
        if (!std::isfinite(g) || !std::isfinite(x) || !std::isfinite(y)) return;
        float fontHeight = textHeight(font.font, "A", 1.0f);
        int32_t saved = font.font->alignment;
        font.font->alignment = 0;
        for (int32_t i = 0; i < letterCount; ++i)
            drawLetter(i, g, fontHeight);
        font.font->alignment = saved;
    }
    void set(const char* name, const char* value) override {
        if (strcmp(name, "font") == 0)
            font.set(value);
        else if (strcmp(name, "x") == 0)
            x = parseScalar(value) * float(screenWidth());
        else if (strcmp(name, "y") == 0)
            y = parseScalar(value) * float(screenHeight());
        else if (strcmp(name, "scale") == 0)
            scale = parseScalar(value);
        else if (strcmp(name, "text") == 0)
            setText(value);
        else if (strcmp(name, "indelay") == 0)
            indelay = parseScalar(value);
        else if (strcmp(name, "intime") == 0)
            intime = parseScalar(value);
        else if (strcmp(name, "wait") == 0)
            wait = parseScalar(value);
        else if (strcmp(name, "outdelay") == 0)
            outdelay = parseScalar(value);
        else if (strcmp(name, "outtime") == 0)
            outtime = parseScalar(value);
        else if (strcmp(name, "maxzoom") == 0)
            maxzoom = parseScalar(value);
    }

  private:
    void setText(const char* text) {
        if (!font.font) fatal("VXWriter1 settext used without font!");
        letterCount = int32_t(strnlen(text, kMaxLetters));
        float offset = 0;
        for (int32_t i = 0; i < letterCount; ++i) {
            Letter& letter = letters[i];
            letter.text[0] = text[i];
            letter.offset = offset;
            letter.width = measureText(font.font, letter.text, 1.0f, 0.0f);
            offset += letter.width;
        }
        seconds = 0;
        firstFrame = true;
    }
    // Own seconds since "text": the first frame and a backward step add nothing.
    void advanceClock(uint32_t time) {
        if (!firstFrame && int32_t(time - previousTime) > 0)
            seconds += float(time - previousTime) / 65536.0f;
        firstFrame = false;
        previousTime = time;
    }
    void drawLetter(int32_t i, float g, float fontHeight) {
        const Letter& letter = letters[i];
        float e = seconds - float(i) * indelay;
        if (e < 0) return;
        float left = x + g * letter.offset;
        if (e < intime) {
            drawText(font.font, left, y, letter.text, g,
                     flat2d::alphaByte(e / intime) << 24 | kWhite, 0);
            return;
        }
        float d = seconds - wait - indelay * float(letterCount) - float(i) * outdelay;
        if (d < 0) {
            drawText(font.font, left, y, letter.text, g, 0xFF000000u | kWhite, 0);
        } else if (d < outtime) {
            float p = d / outtime;
            float m = g * ((maxzoom - 1) * p + 1);
            float s = g - m;
            uint32_t alpha = 255 - flat2d::alphaByte(p);
            drawText(font.font, left + s * letter.width / 2, y + s * fontHeight / 2, letter.text, m,
                     alpha << 24 | kWhite, 0);
        }
    }
    static void setTextStates() {
        resetDeviceState();
        flat2d::textureBlendStates(D3DBLEND_ONE);
        setStageState(0, D3DTSS_MIPFILTER, D3DTEXF_POINT);
        setStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    }

    static constexpr uint32_t kWhite = 0xFFFFFF;
    flat2d::FontRef font;
    float x = 10, y = 10; // pixels
    float scale = 1;
    float indelay = 0.1f, intime = 0.5f, wait = 2.0f, outdelay = 0.1f, outtime = 0.5f;
    float maxzoom = 2.0f;
    Letter letters[kMaxLetters];
    int32_t letterCount = 0;
    float seconds = 0; // since "text"
    uint32_t previousTime = 0;
    bool firstFrame = true;
};

} // namespace

const EffectClass vexwriterEffectClass = {"vexwriter", nullptr, nullptr,
                                          createEffectOf<VexwriterEffect>,
                                          recreateEffectOf<VexwriterEffect>};
