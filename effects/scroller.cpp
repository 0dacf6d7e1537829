// "scroller": one line of text moved from the right screen edge to the left by a progress
// value; "scale" fixes the travel distance, so it comes after "msg" and "font".
#include "effects/effect.h"

#include "effects/classes_local.h"
#include "effects/flat2d_local.h"

#include <cmath>
#include <cstring>
#include <string>

namespace {

constexpr size_t kMaxText = 4095;

class ScrollerEffect : public Effect {
  public:
    void render(uint32_t, uint32_t) override {
        if (!font.font || text.empty()) return;
        float s = sizeFactor();
        if (!std::isfinite(s) || !std::isfinite(progress * travel * y)) return;
        float fontHeight = textHeight(font.font, "A", 1.0f);
        flat2d::textStates();
        int32_t saved = font.font->alignment;
        font.font->alignment = 0;
        drawText(font.font, float(screenWidth()) - progress * travel,
                 float(screenHeight()) * y - fontHeight * s / 2, text.c_str(), s, 0xFFFFFFFFu, 0);
        font.font->alignment = saved;
    }
    void set(const char* name, const char* value) override {
        if (strcmp(name, "msg") == 0)
            text.assign(value, strnlen(value, kMaxText));
        else if (strcmp(name, "font") == 0)
            font.set(value);
        else if (strcmp(name, "y") == 0)
            y = parseScalar(value);
        else if (strcmp(name, "scale") == 0)
            setScale(parseScalar(value));
        else if (strcmp(name, "time") == 0)
            progress = parseScalar(value);
    }

  private:
    float sizeFactor() const { return float(screenHeight()) * scale / 480.0f; }
    void setScale(float value) {
        scale = value;
        float width = font.font ? measureText(font.font, text.c_str(), sizeFactor(), 0) : 0;
        travel = width + float(screenWidth());
    }

    flat2d::FontRef font;
    std::string text;
    float y = 0.5f;
    float scale = 1;
    float progress = 0;
    float travel = 0; // pixels: text width at the scale + screen width
};

} // namespace

const EffectClass scrollerEffectClass = {
    "scroller", nullptr, nullptr, createEffectOf<ScrollerEffect>, recreateEffectOf<ScrollerEffect>};
