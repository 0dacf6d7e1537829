// "designlines": a figure of thick line segments that grows along its path as "length" runs
// from 0 to 1.
//
// The figure: 16 axis-aligned segments turning left or right by 90 degrees in turn, like a
// circuit trace, starting near the left edge at a height and with lengths drawn from a small
// random generator seeded by the "reset" value, and kept inside the middle 90% of the screen
// (a step that would leave it turns the other way). "length" is the fraction of the whole path
// drawn; each drawn segment is a band of the line thickness extended by half of it at both
// ends, so the joints are square. "reset" builds the figure of its value and starts it again
// at length 0.
#include "effects/effect.h"

#include "effects/classes_local.h"
#include "effects/flat2d_local.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int32_t kSegments = 16;

struct Point {
    float x = 0, y = 0; // fractions of the screen
};

class DesignlinesEffect : public Effect {
  public:
    DesignlinesEffect() { build(0); }
    void render(uint32_t, uint32_t) override {
        if (!(fade >= 0.001f) || !(thick > 0) || !(length > 0)) return;
        resetDeviceState();
        flat2d::textureBlendStates(D3DBLEND_INVSRCALPHA);
        setTexture(0, nullptr);
        float w = float(screenWidth()), h = float(screenHeight());
        float remaining = std::min(length, 1.0f) * totalLength(w, h);
        if (!std::isfinite(thick)) return;
        uint32_t colour = flat2d::alphaByte(fade) << 24 | tint;
        for (int32_t i = 0; i < kSegments && remaining > 0; ++i) {
            float x0 = points[i].x * w, y0 = points[i].y * h;
            float x1 = points[i + 1].x * w, y1 = points[i + 1].y * h;
            float span = std::abs(x1 - x0) + std::abs(y1 - y0);
            float part = std::min(1.0f, remaining / span);
            segment(x0, y0, x0 + (x1 - x0) * part, y0 + (y1 - y0) * part, thick * h / 2, colour);
            remaining -= span;
        }
        quads.finish();
    }
    void set(const char* name, const char* value) override {
        if (strcmp(name, "reset") == 0)
            build(uint32_t(truncToInt(parseScalar(value))));
        else if (strcmp(name, "length") == 0)
            length = parseScalar(value);
        else if (strcmp(name, "thick") == 0)
            thick = parseScalar(value);
        else if (strcmp(name, "fade") == 0)
            fade = parseScalar(value);
        else if (strcmp(name, "color") == 0)
            tint = uint32_t(parseIntValue(value)) & 0xFFFFFF;
    }

  private:
    float unit() {
        seed = seed * 214013u + 2531011u;
        return float(seed >> 16 & 0x7FFF) / 32767.0f;
    }
    void build(uint32_t value) {
        seed = value * 2654435761u + 1;
        length = 0;
        Point at{0.05f + unit() * 0.1f, 0.2f + unit() * 0.6f};
        points[0] = at;
        int32_t direction = 0; // 0 right, 1 down, 2 left, 3 up
        for (int32_t i = 1; i <= kSegments; ++i) {
            float step = 0.08f + unit() * 0.22f;
            Point next = advance(at, direction, step);
            if (!inside(next)) {
                direction = (direction + 2) % 4;
                next = advance(at, direction, step);
            }
            next.x = std::clamp(next.x, 0.05f, 0.95f);
            next.y = std::clamp(next.y, 0.05f, 0.95f);
            points[i] = at = next;
            direction = (direction + ((unit() < 0.5f) ? 1 : 3)) % 4;
        }
    }
    static Point advance(Point at, int32_t direction, float step) {
        const float dx[4] = {1, 0, -1, 0}, dy[4] = {0, 1, 0, -1};
        return Point{at.x + dx[direction] * step, at.y + dy[direction] * step};
    }
    static bool inside(Point p) {
        return p.x >= 0.05f && p.x <= 0.95f && p.y >= 0.05f && p.y <= 0.95f;
    }
    float totalLength(float w, float h) const {
        float total = 0;
        for (int32_t i = 0; i < kSegments; ++i)
            total += std::abs(points[i + 1].x - points[i].x) * w +
                     std::abs(points[i + 1].y - points[i].y) * h;
        return total;
    }
    void segment(float x0, float y0, float x1, float y1, float t, uint32_t colour) {
        float l = std::min(x0, x1) - t - 0.5f, r = std::max(x0, x1) + t - 0.5f;
        float top = std::min(y0, y1) - t - 0.5f, bottom = std::max(y0, y1) + t - 0.5f;
        const flat2d::ScreenVertex quad[4] = {
            flat2d::screenVertex(l, top, colour), flat2d::screenVertex(r, top, colour),
            flat2d::screenVertex(r, bottom, colour), flat2d::screenVertex(l, bottom, colour)};
        quads.add(quad);
    }

    flat2d::QuadBatch quads{kSegments};
    Point points[kSegments + 1];
    float length = 0;         // 0 ... 1 of the path
    float thick = 2.0f / 480; // fraction of the screen height
    float fade = 1;
    uint32_t tint = 0xFFFFFF;
    uint32_t seed = 1;
};

} // namespace

const EffectClass designlinesEffectClass = {"designlines", nullptr, nullptr,
                                            createEffectOf<DesignlinesEffect>,
                                            recreateEffectOf<DesignlinesEffect>};
