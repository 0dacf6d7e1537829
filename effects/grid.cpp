// "grid": a 3D field of random line segments in 32 layers flying towards the viewer; a layer
// that has passed the viewer goes back to the far end. The field turns about three axes.
#include "effects/effect.h"

#include "effects/classes_local.h"
#include "effects/screenfx_local.h"

#include <vector>

namespace {

using namespace screenfx;

constexpr int32_t kLayers = 32, kSegments = 75;
constexpr int32_t kPoints = kLayers * kSegments * 2; // 4800
constexpr float kPassed = -2000.0f, kDepth = 4096.0f, kDistance = 2048.0f, kNearest = 128.0f;

struct Point {
    float x, y, z;
};
struct ColourVertex {
    float x, y, z, rhw;
    uint32_t diffuse;
};
constexpr uint32_t kColourFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;

class GridEffect : public Effect {
  public:
    GridEffect() : points(kPoints) { scatter(); }
    ~GridEffect() override { lines.release(); }
    void render(uint32_t time, uint32_t) override;
    void set(const char* name, const char* value) override {
        auto real = [&](float old) {
            return finiteOr(float(parseDecimal(value)), old, "grid", name);
        };
        if (strcmp(name, "speed") == 0)
            speed = parseIntValue(value);
        else if (strcmp(name, "rotx") == 0)
            speedX = real(speedX);
        else if (strcmp(name, "roty") == 0)
            speedY = real(speedY);
        else if (strcmp(name, "rotz") == 0)
            speedZ = real(speedZ);
        else if (strcmp(name, "fov") == 0)
            fov = real(fov);
    }

  private:
    uint32_t next() { return state = state * 1103515245u + 12345u, state >> 8; }
    void scatter();
    void fly(double dt);

    std::vector<Point> points; // layer after layer, segment ends in pairs
    int32_t speed = 2400;      // units per second
    float speedX = 0.001f, speedY = 0.003f, speedZ = 0.002f;
    float fov = 256;
    double angleX = 0, angleY = 0, angleZ = 0;
    uint32_t previous = 0;
    bool started = false;
    uint32_t state = 0x47524944u;
    LazySlice lines;
};

void GridEffect::scatter() {
    Point* p = points.data();
    for (int32_t layer = 0; layer < kLayers; ++layer) {
        for (int32_t s = 0; s < kSegments; ++s, p += 2) {
            p[0].x = float(int32_t(next() % 65) - 32) * 64.0f;
            p[0].y = float(int32_t(next() % 65) - 32) * 64.0f;
            p[0].z = float(layer * 128 + 128);
            p[1] = p[0];
            uint32_t axis = next() % 3;
            float length = float(int32_t(next() % 23) - 11) * 64.0f;
            if (axis == 0)
                p[1].x += length;
            else if (axis == 1)
                p[1].y += length;
            else
                p[1].z += 256.0f;
        }
    }
}

// A layer past the viewer goes back by whole depths of the field (one, unless a huge step
// carried it further), the others come nearer.
void GridEffect::fly(double dt) {
    float step = float(dt * double(speed) / 65536.0);
    for (int32_t layer = 0; layer < kLayers; ++layer) {
        Point* p = &points[size_t(layer) * kSegments * 2];
        float move = -step;
        if (p[0].z < kPassed) move = kDepth * ceilf((kPassed - p[0].z) / kDepth);
        if (!std::isfinite(move)) move = 0;
        for (int32_t i = 0; i < kSegments * 2; ++i)
            p[i].z += move;
    }
    angleX += dt * double(speedX) / 256.0;
    angleY += dt * double(speedY) / 256.0;
    angleZ += dt * double(speedZ) / 256.0;
}

void GridEffect::render(uint32_t time, uint32_t) {
    clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f);
    double dt = started && time > previous ? double(time - previous) : 0.0;
    previous = time;
    started = true;
    fly(dt);
    const Viewport& view = currentViewport();
    float scaleX = float(screenWidth()) * fov / 640.0f,
          scaleY = float(screenHeight()) * fov / 480.0f;
    float cx = float(view.left) + float(view.width) * 0.5f;
    float cy = float(view.top) + float(view.height) * 0.5f;
    float sx = float(sin(angleX)), cxr = float(cos(angleX)), sy = float(sin(angleY)),
          cyr = float(cos(angleY)), sz = float(sin(angleZ)), czr = float(cos(angleZ));
    auto* v = static_cast<ColourVertex*>(lines.lock(kColourFvf, kPoints));
    if (!v) return;
    uint32_t kept = 0;
    for (int32_t i = 0; i < kPoints; i += 2) {
        ColourVertex ends[2];
        bool visible = true;
        for (int e = 0; e < 2; ++e) {
            const Point& p = points[size_t(i + e)];
            float y1 = p.y * cxr - p.z * sx, z1 = p.y * sx + p.z * cxr;
            float x2 = p.x * cyr + z1 * sy, z2 = -p.x * sy + z1 * cyr;
            float x3 = x2 * czr - y1 * sz, y3 = x2 * sz + y1 * czr;
            float z = z2 + kDistance;
            if (!(z > kNearest)) visible = false;
            ends[e] = {x3 * scaleX / z + cx, y3 * scaleY / z + cy, 0.5f, 1.0f / z, 0xFF3FAF3Fu};
        }
        if (!visible) continue;
        v[kept++] = ends[0];
        v[kept++] = ends[1];
    }
    lines.slice.unlock();
    blendStates(D3DBLEND_SRCCOLOR, D3DBLEND_ONE);
    setTexture(0, nullptr);
    setVertexShader(kColourFvf);
    drawPrimitive(D3DPT_LINELIST, lines.slice.use(), kept / 2);
}

} // namespace

const EffectClass gridEffectClass = {"grid", nullptr, nullptr, createEffectOf<GridEffect>,
                                     recreateEffectOf<GridEffect>};
