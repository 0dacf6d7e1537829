// Scene rendering: the object-scene renderer and the flat-scene renderer with its pieces
// (track evaluation, object matrices, the camera, the light choice, the free-flying camera of
// quake mode, the shared glow buffers).
//
// An object-scene effect keeps one `gledViewSettings` and calls `renderScene` once per frame
// with the current render target and viewport selected; the flat-scene effect calls
// `renderFlatScene` the same way. Everything is set through the device context. A user of the
// shared drawing buffers calls `gledAcquireDrawingBuffers` once and `gledDone` when it goes;
// the last one frees them.
#pragma once

#include "platform/gpu/d3d8types.h"
#include "scene/scene.h"
#include "scene/scenefile.h"

#include <cstdint>

struct gledViewSettings {
    gledViewSettings() { registerSceneClasses(); }
    uint32_t clear = 1;  // clear the colour buffer first
    uint32_t clearZ = 1; // clear the depth buffer first
    float xScale = 1, yScale = 1, zScale = 1;
    float camXOffset = 0, camYOffset = 0, camZOffset = 0; // subtracted from the view position
};

// Projection of both renderers: zooms on the diagonal, Q and the near term -0.01 Q.
D3DMATRIX sceneProjection(float zoomX, float zoomY, float q);
float objectSceneQ(); // 1.0000006
float flatSceneQ();   // 1.0000012
// The view of an object scene: its first camera's, or the fixed one without a camera, with
// the settings' scales and offsets.
D3DMATRIX sceneView(const gledViewSettings& view, const gledScene& scene);
void renderScene(const gledViewSettings& view, gledScene* scene);

// A flat track's values at time t (frames) into out (valueCount floats).
void evaluateTrack(const FlatTrack& track, float t, float* out);
// The first `count` values of a track at time t (fewer when the track has fewer; the rest of
// out is left as it is), without a heap allocation for tracks of up to 16 values.
void evaluateTrackValues(const FlatTrack& track, float t, float* out, int32_t count);
// The local matrix of an object from position, three angles, three scales and its pivot.
D3DMATRIX flatObjectMatrix(const float* values, const float* pivot);

// Every object's world matrix at scene time `frames` (its "time_" override, else its
// parent's time, else the scene's), each computed once, parents first.
void computeFlatWorlds(FlatScene& scene, float frames);

// The view of flat-scene camera `number` at time `frames` (worlds already computed) and its
// zoom; a camera with an object turns to that object's world position.
D3DMATRIX flatCameraView(const FlatScene& scene, int32_t number, float frames, float* zoom);

// ---- Flat scenes, per frame ----

// A light chosen for the frame: camera-space position, colour x intensity, range and the two
// attenuations, and the sort key |p| / brightness.
struct FlatFrameLight {
    int32_t index = 0; // into the scene's lights
    float position[3] = {};
    float colour[3] = {};
    float range = 0, attenuation1 = 0, attenuation2 = 0;
    float intensity = 0, key = 0;
};
constexpr int32_t kFlatMaxLights = 8;

// The lights of the frame (worlds already computed, `view` the camera's view), in ascending
// key order, at most eight. Lights that cannot light anything (no brightness, a radius below
// 0.05, a range of 0.05 or less, an intensity of 0.005 or less) are passed over, so that a
// bright light near the camera never switches the others off.
int32_t chooseFlatLights(const FlatScene& scene, const D3DMATRIX& view, float frames,
                         FlatFrameLight* out);

// The free-flying camera of quake mode, steered through `sceneInput()`.
struct FlatQuakeCamera {
    bool placed = false;                 // set from the animated camera at frame 0 on first use
    float position[3] = {};              // world
    float orientation[4] = {0, 0, 0, 1}; // quaternion x, y, z, w: camera axes to world
    float strafe = 0, forward = 0;       // velocities, scene units per second
    float speed = 1;                     // scene units per second
    bool invertY = false;
};
// The rotation of a view (its upper 3 x 3 rows are the camera's axes in world space, as
// columns) as a quaternion, and the camera's position from the view's fourth row.
void placeQuakeCamera(FlatQuakeCamera& camera, const D3DMATRIX& view);
// Reads keys and mouse and moves the camera by `seconds` of elapsed time.
void updateQuakeCamera(FlatQuakeCamera& camera, float seconds);
D3DMATRIX quakeCameraView(const FlatQuakeCamera& camera);

// What one flat frame did, for tests and benchmarks.
struct FlatFrameStats {
    int32_t drawnObjects = 0, culledObjects = 0;
    int32_t drawCalls = 0; // indexed draws of parts and glow batches
    int32_t lights = 0, glows = 0;
};

struct FlatFrame {
    float seconds = 0;  // the effect's scene time
    int32_t camera = 0; // index into the scene's cameras
    bool additive = false;
    FlatQuakeCamera* quake = nullptr; // non-null: quake mode
    float elapsed = 0;                // seconds since the previous frame (quake mode)
    FlatFrameStats* stats = nullptr;
};

// True when the box (two opposite corners, object space) can be seen through `toCamera`
// (object to camera space) with the flat projection of `zoom`.
bool flatBoxVisible(const float* box, const D3DMATRIX& toCamera, float zoom);

// Draws a flat scene into the current target and viewport and clears the "time_" overrides.
void renderFlatScene(FlatScene& scene, const FlatFrame& frame);

// Shared glow buffers: 32 vertices of format 0x244 and 48 indices, counted by users, made
// on first use once a device exists (null without users or device).
void gledAcquireDrawingBuffers();
void gledDone();
int32_t gledDrawingBufferUsers();
GeometrySlice* gledGlowVertices();
IndexSlice* gledGlowIndices();
