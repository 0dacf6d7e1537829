// The object-scene effects "pilztum" (a field of mushrooms that grows on "spawn") and "max"
// (a talking head whose mouth follows the sound input), shared between their two files and
// the tests that look inside them.
//
// Both own their scene and draw it through the object-scene renderer of scene/render.h. A
// scene file that is not found, or a head without one of its named pieces, is logged as a
// warning and the effect draws what it has. Device objects (the ground grid) are made on the
// first frame, so instances also exist where no device does.
#pragma once

#include "audio/capture.h"
#include "effects/effect.h"
#include "gfx/resources.h"
#include "scene/render.h"

#include <cstdint>

struct Texture;

namespace effects {

// MT19937 with the classic seeding (multiplier 69069); a generator whose state runs out
// before it was ever seeded seeds itself with 4357.
class MersenneTwister {
  public:
    void seed(uint32_t value);
    uint32_t next();
    bool operator==(const MersenneTwister&) const = default;

  private:
    uint32_t state[624] = {};
    int32_t index = 625; // 625: never seeded
};

// The cosine-interpolated hash noise of the mushroom field, in [0, 1].
float pilzNoise(float s);

struct Mushroom {
    float size = 1;
    float x = 0, y = 0, z = 0;
    float tilt[3] = {};
    float pop = 1;   // 1 when it appears, decays to 0 as it grows to full size
    float phase = 0; // offsets its wobble
    bool operator==(const Mushroom&) const = default;
};

struct Spore {
    float startX = 0, startY = 0, startZ = 0; // the mushroom it flies from
    float x = 0, z = 0;                       // where it lands
    float size = 0;
    float startTime = -1e9f; // effect seconds
    bool operator==(const Spore&) const = default;
};

class PilztumEffect : public Effect {
  public:
    static constexpr int32_t kMaxMushrooms = 128;
    static constexpr int32_t kSpores = 64;
    static constexpr int32_t kGrid = 36;

    PilztumEffect();
    ~PilztumEffect() override;
    void render(uint32_t time, uint32_t songPosition) override;
    void set(const char* name, const char* value) override;
    void spawn();

    gledViewSettings view;
    gledScene* scene = nullptr; // its first mesh is the mushroom
    Texture* grass = nullptr;
    Texture* glow = nullptr;
    MersenneTwister random;
    Mushroom mushrooms[kMaxMushrooms];
    int32_t mushroomCount = 0;
    Spore spores[kSpores];
    uint32_t lastTime = 0;
    bool rendered = false;

  private:
    void makeGround();
    void drawMushrooms(float t, float dt);
    void drawGround();
    void drawSpores(float seconds, const D3DMATRIX& view, const D3DMATRIX& projection);
    float signedUnit(); // (-1, 1)

    GeometrySlice groundVertices;
    IndexSlice groundIndices;
    bool groundReady = false;
};

// The four moving pieces of the head, in the order of the pose table.
enum HeadPiece { kUpperTeeth, kLowerTeeth, kLeftEye, kRightEye, kHeadPieces };

class MaxEffect : public Effect {
  public:
    static constexpr int32_t kPoseValues = kHeadPieces * 9; // 36

    MaxEffect();
    ~MaxEffect() override;
    void render(uint32_t time, uint32_t songPosition) override;
    void set(const char* name, const char* value) override;

    gledViewSettings view;
    gledScene* scene = nullptr;
    gledControllableCamera* camera = nullptr;
    gledMorphMesh* head = nullptr;
    gledObject* pieces[kHeadPieces] = {};
    D3DMATRIX rest[kHeadPieces]; // the pieces' placements as read
    VowelAnalyser capture;
    float mouth[5] = {};   // the morph weights of the last frame: u, o, a, e, i
    int32_t heard[5] = {}; // frames in which each vowel was the closest, logged at the end
    float pose[kPoseValues] = {};

  private:
    void loadScene(const char* name);
    void moveMouth();
    void placePieces();
};

// The smoothed vowel weights and loudness of every "max" (they are process-wide); tests put
// them back to 0.
void resetMaxSmoothing();

// Stage 0 modulates a texture (none: white) with the diffuse colour, the stages after it are
// off: what an untextured scene material expects to find.
void resetSceneStages();

} // namespace effects
