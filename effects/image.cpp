// "image": a part of a texture laid over the viewport as a rectangle that is placed, rotated
// and zoomed about a reference point, tinted and faded.
#include "effects/effect.h"

#include "effects/classes_local.h"
#include "effects/flat2d_local.h"

#include <cmath>
#include <cstring>

namespace {

constexpr float kVisibleFade = 0.001f;
constexpr double kPi = 3.14159265358979323846;

class ImageEffect : public Effect {
  public:
    void render(uint32_t, uint32_t) override {
        if (!image.texture || !(fade >= kVisibleFade)) return;
        resetDeviceState();
        flat2d::textureBlendStates(opaque ? D3DBLEND_INVSRCALPHA : D3DBLEND_ONE);
        flat2d::clampedPointMips();
        bindTexture(0, image.texture);
        flat2d::ScreenVertex fan[4];
        corners(currentViewport(), fan);
        for (const flat2d::ScreenVertex& corner : fan)
            if (!std::isfinite(corner.x) || !std::isfinite(corner.y)) return;
        quad.draw(fan);
    }
    void set(const char* name, const char* value) override {
        if (strcmp(name, "image") == 0)
            image.set(value);
        else if (strcmp(name, "x") == 0)
            x = parseScalar(value);
        else if (strcmp(name, "y") == 0)
            y = parseScalar(value);
        else if (strcmp(name, "width") == 0 || strcmp(name, "w") == 0)
            width = parseScalar(value);
        else if (strcmp(name, "height") == 0 || strcmp(name, "h") == 0)
            height = parseScalar(value);
        else if (strcmp(name, "xst") == 0)
            xst = parseScalar(value);
        else if (strcmp(name, "xen") == 0)
            xen = parseScalar(value);
        else if (strcmp(name, "yst") == 0)
            yst = parseScalar(value);
        else if (strcmp(name, "yen") == 0)
            yen = parseScalar(value);
        else if (strcmp(name, "refx") == 0)
            refx = parseScalar(value);
        else if (strcmp(name, "refy") == 0)
            refy = parseScalar(value);
        else if (strcmp(name, "angle") == 0)
            angle = parseScalar(value);
        else if (strcmp(name, "zoom") == 0)
            zoom = parseScalar(value);
        else if (strcmp(name, "fade") == 0)
            fade = parseScalar(value);
        else if (strcmp(name, "opaque") == 0)
            opaque = parseIntValue(value) != 0;
        else if (strcmp(name, "color") == 0)
            tint = uint32_t(parseIntValue(value)) & 0xFFFFFF;
        else if (strcmp(name, "colr") == 0)
            setByte(16, value);
        else if (strcmp(name, "colg") == 0)
            setByte(8, value);
        else if (strcmp(name, "colb") == 0)
            setByte(0, value);
    }

  private:
    void setByte(int shift, const char* value) {
        uint32_t byte = uint32_t(parseIntValue(value)) & 255;
        tint = (tint & ~(255u << shift)) | byte << shift;
    }
    // The shown part's corners (xst, yst), (xen, yst), (xen, yen), (xst, yen) on the screen.
    void corners(const Viewport& view, flat2d::ScreenVertex (&fan)[4]) const {
        const float cx[4] = {xst, xen, xen, xst}, cy[4] = {yst, yst, yen, yen};
        double a = double(angle) * kPi / 180.0, cosA = std::cos(a), sinA = std::sin(a);
        double w = view.width, h = view.height;
        uint32_t colour = flat2d::alphaByte(fade) << 24 | tint;
        for (int i = 0; i < 4; ++i) {
            double dx = double(cx[i] - refx) * width * w, dy = double(cy[i] - refy) * height * h;
            double sx = view.left + w * x + (dx * cosA - dy * sinA) * zoom - 0.5;
            double sy = view.top + h * y + (dx * sinA + dy * cosA) * zoom - 0.5;
            float u = 0, v = 0;
            image.texture->mapNormalized(cx[i], cy[i], &u, &v);
            fan[i] = flat2d::screenVertex(float(sx), float(sy), colour, u, v);
        }
    }

    flat2d::TextureRef image;
    flat2d::ScreenFan quad;
    float x = 0.5f, y = 0.5f, width = 1, height = 1;
    float xst = 0, xen = 1, yst = 0, yen = 1;
    float refx = 0.5f, refy = 0.5f;
    float angle = 0, zoom = 1, fade = 1;
    bool opaque = true;
    uint32_t tint = 0xFFFFFF;
};

} // namespace

const EffectClass imageEffectClass = {"image", nullptr, nullptr, createEffectOf<ImageEffect>,
                                      recreateEffectOf<ImageEffect>};
