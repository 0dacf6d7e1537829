// "gled2": an object scene file drawn by the object-scene renderer with the view settings of
// its properties (a camera from the file, or the fixed view moved and scaled). Before a scene
// is loaded (or when its file is missing) the effect only clears.
#include "effects/effect.h"

#include "effects/classes_local.h"

#include "gfx/device.h"
#include "gfx/texture.h"
#include "platform/log.h"
#include "scene/render.h"
#include "scene/scenefile.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kSceneFileNameSize = 64;

class Gled2Effect : public Effect {
  public:
    ~Gled2Effect() override { delete scene; }
    void render(uint32_t, uint32_t) override;
    void set(const char* name, const char* value) override;

  private:
    void loadScene(const char* name);

    char sceneName[kSceneFileNameSize] = {};
    gledViewSettings view;
    gledScene* scene = nullptr; // owned
};

void Gled2Effect::render(uint32_t, uint32_t) {
    renderScene(view, scene);
}

void Gled2Effect::loadScene(const char* name) {
    if (strlen(name) >= kSceneFileNameSize) {
        logf("GLED: warning: scene file name '%.63s...' has %zu characters (at most %zu), "
             "refused\n",
             name, strlen(name), kSceneFileNameSize - 1);
        return;
    }
    snprintf(sceneName, sizeof sceneName, "%s", name);
    delete scene;
    scene = nullptr;
    if (!hasDevice()) return; // a dry parse: the scene's buffers need a device
    scene = loadObjectScene(sceneName);
    if (!scene) logf("GLED: warning: scene file '%s' not found, nothing drawn\n", sceneName);
}

void Gled2Effect::set(const char* name, const char* value) {
    struct Real {
        const char* name;
        float gledViewSettings::*field;
    };
    static const Real reals[] = {
        {"xscale", &gledViewSettings::xScale},      {"yscale", &gledViewSettings::yScale},
        {"zscale", &gledViewSettings::zScale},      {"camxofs", &gledViewSettings::camXOffset},
        {"camyofs", &gledViewSettings::camYOffset}, {"camzofs", &gledViewSettings::camZOffset},
    };
    if (strcmp(name, "scene") == 0) {
        loadScene(value);
    } else if (strcmp(name, "clear") == 0) {
        view.clear = uint32_t(parseIntValue(value));
    } else if (strcmp(name, "clearz") == 0) {
        view.clearZ = uint32_t(parseIntValue(value));
    } else {
        for (const Real& real : reals)
            if (strcmp(name, real.name) == 0) view.*real.field = parseScalar(value);
    }
}

} // namespace

const EffectClass gled2EffectClass = {"gled2", nullptr, nullptr, createEffectOf<Gled2Effect>,
                                      recreateEffectOf<Gled2Effect>};
