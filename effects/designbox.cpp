// "designbox": the outline of a rectangle of four thick lines centred on a point. Each side is
// a band of the line thickness centred on the rectangle's edge and widened by the thickness,
// so the corners are filled squarely; the four bands are one indexed draw, untextured,
// blended by the fade over what is there.
#include "effects/effect.h"

#include "effects/classes_local.h"
#include "effects/flat2d_local.h"

#include <cmath>
#include <cstring>

namespace {

class DesignboxEffect : public Effect {
  public:
    void render(uint32_t, uint32_t) override {
        if (!(fade >= 0.001f) || !(thick > 0)) return;
        resetDeviceState();
        flat2d::textureBlendStates(D3DBLEND_INVSRCALPHA);
        setTexture(0, nullptr);
        float w = float(screenWidth()), h = float(screenHeight());
        float cx = x * w - 0.5f, cy = y * h - 0.5f;
        if (!std::isfinite(cx + cy + width + height + thick)) return;
        float halfW = width * w / 2, halfH = height * h / 2, t = thick * h / 2;
        float left = cx - halfW, right = cx + halfW, top = cy - halfH, bottom = cy + halfH;
        uint32_t colour = flat2d::alphaByte(fade) << 24 | tint;
        band(left - t, top - t, right + t, top + t, colour);
        band(left - t, bottom - t, right + t, bottom + t, colour);
        band(left - t, top + t, left + t, bottom - t, colour);
        band(right - t, top + t, right + t, bottom - t, colour);
        quads.finish();
    }
    void set(const char* name, const char* value) override {
        if (strcmp(name, "x") == 0)
            x = parseScalar(value);
        else if (strcmp(name, "y") == 0)
            y = parseScalar(value);
        else if (strcmp(name, "xsize") == 0 || strcmp(name, "w") == 0)
            width = parseScalar(value);
        else if (strcmp(name, "ysize") == 0 || strcmp(name, "h") == 0)
            height = parseScalar(value);
        else if (strcmp(name, "thick") == 0)
            thick = parseScalar(value);
        else if (strcmp(name, "fade") == 0)
            fade = parseScalar(value);
        else if (strcmp(name, "color") == 0)
            tint = uint32_t(parseIntValue(value)) & 0xFFFFFF;
    }

  private:
    void band(float l, float t, float r, float b, uint32_t colour) {
        const flat2d::ScreenVertex quad[4] = {
            flat2d::screenVertex(l, t, colour), flat2d::screenVertex(r, t, colour),
            flat2d::screenVertex(r, b, colour), flat2d::screenVertex(l, b, colour)};
        quads.add(quad);
    }

    flat2d::QuadBatch quads{4};
    float x = 0.5f, y = 0.5f; // centre, fractions of the screen
    // Full size as fractions of the screen: 200 x 200 pixels of the screen at creation.
    float width = 200.0f / float(screenWidth() > 0 ? screenWidth() : 640);
    float height = 200.0f / float(screenHeight() > 0 ? screenHeight() : 480);
    float thick = 2.0f / 480; // fraction of the screen height
    float fade = 1;
    uint32_t tint = 0xFFFFFF;
};

} // namespace

const EffectClass designboxEffectClass = {"designbox", nullptr, nullptr,
                                          createEffectOf<DesignboxEffect>,
                                          recreateEffectOf<DesignboxEffect>};
