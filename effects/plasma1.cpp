// "plasma1": a sine plasma surface, a 41 x 31 grid whose heights come from four sine waves,
// seen in perspective and textured with an image whose coordinates rotate over time.
#include "effects/effect.h"

#include "effects/classes_local.h"
#include "effects/screenfx_local.h"

namespace {

using namespace screenfx;

constexpr int32_t kColumns = 41, kRows = 31;
constexpr int32_t kVertices = kColumns * kRows;                            // 1271
constexpr int32_t kIndices = (kRows - 1) * kColumns * 2 + (kRows - 2) * 2; // 2518
constexpr int32_t kTriangles = kIndices - 2;                               // 2516
static_assert(kTriangles == 2516);

struct PlasmaVertex {
    float x, y, z;
    float nx, ny, nz;
    uint32_t diffuse;
    float u, v;
};
constexpr uint32_t kPlasmaFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// Height of grid point (column j, row i) at plasma time t.
float plasmaHeight(int32_t j, int32_t i, double t) {
    double sum = sin(0.1 * j + t) + sin(0.34 * j - 2.1 * t) + sin(0.27 * i + 1.63 * t) +
                 sin(-0.41 * i - 0.57 * t);
    return float((sum + 4.0) / 20.0);
}

class Plasma1Effect : public Effect {
  public:
    ~Plasma1Effect() override {
        grid.release();
        if (indicesReady) strip.release();
        releaseTexture(image);
    }
    void render(uint32_t time, uint32_t) override {
        if (!image) return;
        double t = double(time) / 165536.0;
        if (!fillGrid(t)) return;
        setStates(t);
        uint32_t first = grid.slice.use();
        uint32_t firstIndex = strip.use(first);
        drawIndexed(D3DPT_TRIANGLESTRIP, 0, kVertices, firstIndex, kTriangles);
    }
    void set(const char* name, const char* value) override {
        if (strcmp(name, "image") != 0) return;
        releaseTexture(image);
        image = acquireTexture(value, kTextureMipMaps | kTextureWrap);
    }

  private:
    bool fillGrid(double t) {
        if (!indicesReady) makeStrip();
        const Viewport& view = currentViewport();
        float aspect = view.height > 0 ? float(view.width) / float(view.height) : 1.0f;
        auto* v = static_cast<PlasmaVertex*>(grid.lock(kPlasmaFvf, kVertices));
        if (!v) return false;
        for (int32_t i = 0; i < kRows; ++i) {
            for (int32_t j = 0; j < kColumns; ++j) {
                float h = plasmaHeight(j, i, t);
                uint32_t grey = uint32_t(truncToInt(double(h) * 512.0)) & 255;
                *v++ = {float(j) / 40.0f,
                        float(i) / 30.0f,
                        0.5f - h,
                        0,
                        0,
                        0,
                        0xFF000000u | grey * 0x010101u,
                        float(j) * aspect / 40.0f,
                        float(i) / 30.0f};
            }
        }
        grid.slice.unlock();
        return true;
    }
    // Rows of column pairs joined by repeating the last index of a row and the first of the
    // next, which adds degenerate triangles only.
    void makeStrip() {
        strip.create(kIndices, false);
        indicesReady = true;
        uint16_t* index = strip.lock();
        if (!index) return;
        for (int32_t i = 0; i < kRows - 1; ++i) {
            if (i > 0) {
                *index++ = uint16_t(i * kColumns + kColumns - 1);
                *index++ = uint16_t(i * kColumns);
            }
            for (int32_t j = 0; j < kColumns; ++j) {
                *index++ = uint16_t(i * kColumns + j);
                *index++ = uint16_t((i + 1) * kColumns + j);
            }
        }
        strip.unlock();
    }
    void setStates(double t) {
        resetDeviceState();
        D3DMATRIX view, projection, rotation;
        view.m[3][0] = -0.5f;
        view.m[3][1] = -0.5f;
        const float nearZ = 0.001f, farZ = 1.0f;
        projection.m[1][1] = -1.0f;
        projection.m[2][2] = farZ / (farZ - nearZ);
        projection.m[2][3] = 1.0f;
        projection.m[3][2] = -nearZ * farZ / (farZ - nearZ);
        projection.m[3][3] = 0.0f;
        float c = float(cos(t)), s = float(sin(t));
        rotation.m[0][0] = c, rotation.m[0][1] = s;
        rotation.m[1][0] = -s, rotation.m[1][1] = c;
        setTransform(D3DTS_VIEW, view);
        setTransform(D3DTS_PROJECTION, projection);
        setTransform(D3DTS_TEXTURE0, rotation);
        setRenderState(D3DRS_ALPHABLENDENABLE, 0);
        setRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
        setRenderState(D3DRS_ZWRITEENABLE, 0);
        setRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        setStageState(0, D3DTSS_MIPFILTER, D3DTEXF_POINT);
        setStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
        bindTexture(0, image);
        setVertexShader(kPlasmaFvf);
    }

    Texture* image = nullptr;
    LazySlice grid;
    IndexSlice strip;
    bool indicesReady = false;
};

} // namespace

const EffectClass plasma1EffectClass = {"plasma1", nullptr, nullptr, createEffectOf<Plasma1Effect>,
                                        recreateEffectOf<Plasma1Effect>};
