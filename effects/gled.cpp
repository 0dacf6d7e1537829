// "gled": plays a flat scene file along its animation tracks, or flies through it with the
// free camera of quake mode.
//
// The scene time runs in seconds at `rate` scene seconds per 1/65536 s of effect time. The
// "time" and "reset" properties set it and hold it for the next frame, so that frame does not
// add its elapsed time. Before a scene is loaded (or when its file is missing) the effect
// only clears.
#include "effects/effect.h"

#include "effects/classes_local.h"

#include "gfx/device.h"
#include "platform/log.h"
#include "scene/render.h"
#include "scene/scenefile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kSceneFileNameSize = 64;

class GledEffect : public Effect {
  public:
    GledEffect() { gledAcquireDrawingBuffers(); }
    ~GledEffect() override {
        freeFlatScene(scene);
        if (quakeMode) releaseQuakeMouse();
        gledDone();
    }
    void render(uint32_t now, uint32_t) override;
    void set(const char* name, const char* value) override;

  private:
    void loadScene(const char* name);
    void setObjectTime(const char* objectName, float seconds);
    static void releaseQuakeMouse() {
        if (sceneInput().releaseMouse) sceneInput().releaseMouse();
    }

    char sceneName[kSceneFileNameSize] = {};
    FlatScene* scene = nullptr; // owned
    int32_t quakeMode = 0;
    int32_t clearColour = 1, clearDepth = 1;
    bool hold = true; // the next render does not advance the scene time
    int32_t additive = 0;
    uint32_t lastRender = 0;   // effect time, 1/65536 s
    float sceneTime = 0;       // seconds
    float rate = 1.0f / 65536; // scene seconds per 1/65536 s
    int32_t camera = 0;        // index into the scene's cameras
    FlatQuakeCamera quake;
};

void GledEffect::render(uint32_t now, uint32_t) {
    if (clearColour || clearDepth)
        clear((clearColour ? 1u : 0u) | (clearDepth ? 2u : 0u), 0, 1.0f, 0);
    // The clock may have been restarted behind the last frame: no step backwards.
    uint32_t step = uint32_t(std::max(int32_t(now - lastRender), 0));
    if (!hold) sceneTime += rate * float(step);
    hold = false;
    setRenderState(D3DRS_CLIPPING, 1);
    setRenderState(D3DRS_ALPHABLENDENABLE, 0);
    setRenderState(D3DRS_ZWRITEENABLE, 1);
    setRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    if (scene) {
        D3DMATRIX projection, view, world;
        getTransform(D3DTS_PROJECTION, &projection);
        getTransform(D3DTS_VIEW, &view);
        getTransform(D3DTS_WORLD, &world);
        FlatFrame frame;
        frame.seconds = sceneTime;
        frame.camera = camera;
        frame.additive = additive != 0;
        frame.quake = quakeMode ? &quake : nullptr;
        frame.elapsed = float(step) / 65536;
        renderFlatScene(*scene, frame);
        setTransform(D3DTS_PROJECTION, projection);
        setTransform(D3DTS_VIEW, view);
        setTransform(D3DTS_WORLD, world);
    }
    lastRender = now;
}

void GledEffect::loadScene(const char* name) {
    if (strlen(name) >= kSceneFileNameSize) {
        logf("GLED: warning: scene file name '%.63s...' has %zu characters (at most %zu), "
             "refused\n",
             name, strlen(name), kSceneFileNameSize - 1);
        return;
    }
    snprintf(sceneName, sizeof sceneName, "%s", name);
    freeFlatScene(scene);
    scene = nullptr;
    camera = 0;
    quake = FlatQuakeCamera{};
    if (!hasDevice()) return; // a dry parse: the scene's buffers need a device
    scene = loadFlatScene(sceneName);
    if (!scene) logf("GLED: warning: scene file '%s' not found, nothing drawn\n", sceneName);
    camera = 0;
    quake = FlatQuakeCamera{};
}

void GledEffect::setObjectTime(const char* objectName, float seconds) {
    if (!scene) return;
    float frames = std::max(seconds * scene->animationRate, 0.0f);
    if (!std::isfinite(frames)) frames = 0;
    for (FlatObject& object : scene->objects)
        if (strcmp(object.name, objectName) == 0) object.timeOverride = frames;
}

void GledEffect::set(const char* name, const char* value) {
    if (strcmp(name, "scene") == 0) {
        loadScene(value);
    } else if (strcmp(name, "quakemode") == 0) {
        int32_t on = parseIntValue(value) != 0;
        if (quakeMode && !on) releaseQuakeMouse();
        if (on && !quakeMode) quake.placed = false; // starts where the animated camera is
        quakeMode = on;
    } else if (strcmp(name, "clear") == 0) {
        clearColour = parseIntValue(value);
    } else if (strcmp(name, "clearz") == 0) {
        clearDepth = parseIntValue(value);
    } else if (strcmp(name, "additive") == 0) {
        additive = parseIntValue(value);
    } else if (strcmp(name, "reset") == 0) {
        sceneTime = 0;
        hold = true;
    } else if (strcmp(name, "speed") == 0) {
        rate = parseScalar(value) / 65536;
    } else if (strcmp(name, "time") == 0) {
        sceneTime = parseScalar(value);
        hold = true;
    } else if (strcmp(name, "timewarp") == 0) {
        sceneTime += parseScalar(value);
    } else if (strcmp(name, "camera") == 0) {
        camera = parseIntValue(value);
    } else if (strncmp(name, "time_", 5) == 0) {
        setObjectTime(name + 5, parseScalar(value));
    } else if (scene && strcmp(name, "ambient") == 0) {
        scene->ambientLevel = parseScalar(value);
    } else if (scene && strcmp(name, "ambientred") == 0) {
        scene->ambientRed = parseScalar(value);
    } else if (scene && strcmp(name, "ambientgreen") == 0) {
        scene->ambientGreen = parseScalar(value);
    } else if (scene && strcmp(name, "ambientblue") == 0) {
        scene->ambientBlue = parseScalar(value);
    } else if (scene && strcmp(name, "ambientcolor") == 0) {
        scene->ambientColour = uint32_t(parseIntValue(value)) & 0xFFFFFF;
    }
}

} // namespace

const EffectClass gledEffectClass = {"gled", nullptr, nullptr, createEffectOf<GledEffect>,
                                     recreateEffectOf<GledEffect>};
