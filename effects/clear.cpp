// "clear": fills the current viewport with one colour and resets its depth.
#include "effects/effect.h"

#include "effects/classes_local.h"

#include "gfx/device.h"

#include <cstring>

namespace {

class ClearEffect : public Effect {
  public:
    void render(uint32_t, uint32_t) override {
        clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, colour, 1.0f, 0);
    }
    void set(const char* name, const char* value) override {
        if (strcmp(name, "color") == 0) colour = uint32_t(parseIntValue(value));
    }

  private:
    uint32_t colour = 0; // 0xRRGGBB as written
};

} // namespace

const EffectClass clearEffectClass = {"clear", nullptr, nullptr, createEffectOf<ClearEffect>,
                                      recreateEffectOf<ClearEffect>};
