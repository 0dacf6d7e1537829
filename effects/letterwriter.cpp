// "letterwriter": one text (usually a single letter) centred on a point of the screen,
// scaled with the screen height and faded.
#include "effects/effect.h"

#include "effects/classes_local.h"
#include "effects/flat2d_local.h"

#include <cmath>
#include <cstring>
#include <string>

namespace {

constexpr size_t kMaxText = 255;

class LetterwriterEffect : public Effect {
  public:
    void render(uint32_t, uint32_t) override {
        if (!font.font || text.empty()) return;
        float s = float(screenHeight()) * scale / 480.0f;
        if (!std::isfinite(s) || !std::isfinite(x * y)) return;
        float width = measureText(font.font, text.c_str(), s, 0);
        float fontHeight = textHeight(font.font, "A", 1.0f);
        flat2d::textStates();
        int32_t saved = font.font->alignment;
        font.font->alignment = 0;
        drawText(font.font, x * float(screenWidth()) - width / 2,
                 y * float(screenHeight()) - fontHeight * s / 2, text.c_str(), s,
                 flat2d::alphaByte(fade) << 24 | 0xFFFFFFu, 0);
        font.font->alignment = saved;
    }
    void set(const char* name, const char* value) override {
        if (strcmp(name, "font") == 0)
            font.set(value);
        else if (strcmp(name, "c") == 0)
            text.assign(value, strnlen(value, kMaxText));
        else if (strcmp(name, "x") == 0)
            x = parseScalar(value);
        else if (strcmp(name, "y") == 0)
            y = parseScalar(value);
        else if (strcmp(name, "scale") == 0)
            scale = parseScalar(value);
        else if (strcmp(name, "fade") == 0)
            fade = parseScalar(value);
    }

  private:
    flat2d::FontRef font;
    std::string text;
    float x = 0.5f, y = 0.5f; // centre, fractions of the screen
    float scale = 1, fade = 1;
};

} // namespace

const EffectClass letterwriterEffectClass = {"letterwriter", nullptr, nullptr,
                                             createEffectOf<LetterwriterEffect>,
                                             recreateEffectOf<LetterwriterEffect>};
