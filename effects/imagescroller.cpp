// "imagescroller": a row of numbered images ("%s%d.jpg"), each a column as high as the
// viewport, moved to the left by a progress value.
#include "effects/effect.h"

#include "effects/classes_local.h"
#include "effects/flat2d_local.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The images are acquired at once; more than this many is refused (cut to it).
constexpr int32_t kMaxImages = 512;
constexpr float kVisibleFade = 0.001f;

class ImagescrollerEffect : public Effect {
  public:
    ~ImagescrollerEffect() override { releaseImages(); }
    void render(uint32_t, uint32_t) override {
        if (images.empty() || !(fade >= kVisibleFade)) return;
        resetDeviceState();
        flat2d::textureBlendStates(D3DBLEND_INVSRCALPHA);
        setRenderState(D3DRS_ZENABLE, 0);
        setStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
        const Viewport& view = currentViewport();
        float scaleX = float(screenWidth()) / 640.0f;
        float columnWidth = 256.0f * scaleX;
        float shift = (length - 640.0f) * progress * scaleX;
        if (!std::isfinite(shift)) return;
        uint32_t colour = flat2d::alphaByte(fade) << 24 | 0xFFFFFF;
        for (size_t i = 0; i < images.size(); ++i) {
            float left = float(view.left) + float(i) * columnWidth - shift;
            if (!images[i] || left >= float(view.right) || left + columnWidth <= float(view.left))
                continue;
            drawColumn(images[i], left - 0.5f, columnWidth, view, colour);
        }
    }
    void set(const char* name, const char* value) override {
        if (strcmp(name, "path") == 0)
            snprintf(path, sizeof(path), "%s", value);
        else if (strcmp(name, "nimages") == 0)
            count = std::clamp(parseIntValue(value), 0, kMaxImages);
        else if (strcmp(name, "time") == 0)
            progress = parseScalar(value);
        else if (strcmp(name, "len") == 0)
            length = parseScalar(value);
        else if (strcmp(name, "fade") == 0)
            fade = parseScalar(value);
        else if (strcmp(name, "load") == 0)
            load();
    }

  private:
    void load() {
        releaseImages();
        for (int32_t i = 0; i < count; ++i) {
            char name[300];
            snprintf(name, sizeof(name), "%s%d.jpg", path, i);
            images.push_back(acquireTexture(name, kTextureMipMaps));
        }
    }
    void releaseImages() {
        for (Texture* image : images)
            if (image) releaseTexture(image);
        images.clear();
    }
    void drawColumn(Texture* image, float left, float width, const Viewport& view,
                    uint32_t colour) {
        float top = float(view.top) - 0.5f, bottom = float(view.bottom) - 0.5f;
        float u0, v0, u1, v1;
        image->mapNormalized(0, 0, &u0, &v0);
        image->mapNormalized(1, 1, &u1, &v1);
        const flat2d::ScreenVertex strip[4] = {
            flat2d::screenVertex(left, top, colour, u0, v0),
            flat2d::screenVertex(left + width, top, colour, u1, v0),
            flat2d::screenVertex(left, bottom, colour, u0, v1),
            flat2d::screenVertex(left + width, bottom, colour, u1, v1),
        };
        bindTexture(0, image);
        quad.draw(strip, D3DPT_TRIANGLESTRIP);
    }

    char path[256] = {};
    int32_t count = 0;
    float progress = 0, length = 0, fade = 1;
    std::vector<Texture*> images;
    flat2d::ScreenFan quad;
};

} // namespace

const EffectClass imagescrollerEffectClass = {"imagescroller", nullptr, nullptr,
                                              createEffectOf<ImagescrollerEffect>,
                                              recreateEffectOf<ImagescrollerEffect>};
