// "multitext": a list of lines revealed one by one over the viewport as a progress value
// runs from 0 to 1, each new line fading in while the ones before it stay opaque.
#include "effects/effect.h"

#include "effects/classes_local.h"
#include "effects/flat2d_local.h"
#include "platform/log.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

namespace {

// More lines than a viewport can show legibly; larger counts are cut to this.
constexpr int32_t kMaxLines = 1024;
constexpr size_t kMaxLineLength = 1023;

enum class Align { left, center, right };

class MultitextEffect : public Effect {
  public:
    void render(uint32_t, uint32_t) override {
        int32_t n = int32_t(lines.size());
        if (!(progress > 0) || n == 0) return;
        if (!font.font) {
            flat2d::logOnce(&missingLogged, "EFCT: multitext has no font, draws nothing\n");
            return;
        }
        setTextStates();
        const Viewport& view = currentViewport();
        float h = float(view.height) * 0.9f / (float(n) * 72.0f);
        float m = h * scale;
        if (!std::isfinite(m)) return;
        int32_t saved = font.font->alignment;
        font.font->alignment = 0;
        if (progress >= 1) {
            for (int32_t i = 0; i < n; ++i)
                drawLine(i, view, h, m, 255);
        } else {
            double reached = double(n) * double(progress);
            int32_t k = int32_t(reached);
            for (int32_t i = 0; i < k; ++i)
                drawLine(i, view, h, m, 255);
            drawLine(k, view, h, m, uint32_t(truncToInt((reached - k) * 255.0)));
        }
        font.font->alignment = saved;
    }
    void set(const char* name, const char* value) override {
        if (strncasecmp(name, "msg", 3) == 0)
            setLine(parseIntValue(name + 3), value);
        else if (strcmp(name, "count") == 0)
            setCount(parseIntValue(value));
        else if (strcmp(name, "font") == 0)
            font.set(value);
        else if (strcmp(name, "align") == 0)
            setAlign(value);
        else if (strcmp(name, "scale") == 0)
            scale = parseScalar(value);
        else if (strcmp(name, "time") == 0)
            progress = float(parseDecimal(value));
    }

  private:
    void setCount(int32_t count) {
        lines.assign(size_t(std::clamp(count, 0, kMaxLines)), std::string());
    }
    void setLine(int32_t number, const char* text) {
        if (number < 1 || number > int32_t(lines.size())) return;
        lines[size_t(number - 1)].assign(text, strnlen(text, kMaxLineLength));
    }
    void setAlign(const char* word) {
        if (strcmp(word, "left") == 0)
            align = Align::left;
        else if (strcmp(word, "center") == 0)
            align = Align::center;
        else if (strcmp(word, "right") == 0)
            align = Align::right;
        else
            fatal("'%s'? what alignment do you mean?", word);
    }
    void drawLine(int32_t i, const Viewport& view, float h, float m, uint32_t alpha) {
        if (i >= int32_t(lines.size())) return;
        const char* text = lines[size_t(i)].c_str();
        float width = measureText(font.font, text, m, 0);
        float x = float(view.left);
        if (align == Align::center)
            x = (float(view.left + view.right) - width) / 2;
        else if (align == Align::right)
            x = float(view.right) - 1 - width;
        float y = float(view.top) + float(view.height) * 0.05f + float(i) * h * 72.0f;
        drawText(font.font, x, y, text, m, alpha << 24 | 0xFFFFFFu, 0);
    }
    static void setTextStates() {
        resetDeviceState();
        flat2d::textureBlendStates(D3DBLEND_ONE);
        setStageState(0, D3DTSS_MIPFILTER, D3DTEXF_POINT);
        setStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    }

    std::vector<std::string> lines;
    flat2d::FontRef font;
    Align align = Align::center;
    float scale = 1;
    float progress = 0; // 0 ... 1 through the lines
    bool missingLogged = false;
};

} // namespace

const EffectClass multitextEffectClass = {"multitext", nullptr, nullptr,
                                          createEffectOf<MultitextEffect>,
                                          recreateEffectOf<MultitextEffect>};
