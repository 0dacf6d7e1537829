// Scene rendering: the object-scene renderer, and the pieces of the flat-scene renderer that
// stand on their own (track evaluation, object matrices, the shared glow buffers).
//
// An object-scene effect keeps one `gledViewSettings` and calls `renderScene` once per frame
// with the current render target and viewport selected; everything is set through the device
// context. A user of the shared drawing buffers calls `gledAcquireDrawingBuffers` once and
// `gledDone` when it goes; the last one frees them.
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
// The local matrix of an object from position, three angles, three scales and its pivot.
D3DMATRIX flatObjectMatrix(const float* values, const float* pivot);

// Every object's world matrix at scene time `frames` (its "time_" override, else its
// parent's time, else the scene's), each computed once, parents first.
void computeFlatWorlds(FlatScene& scene, float frames);

// The view of flat-scene camera `number` at time `frames` (worlds already computed) and its
// zoom; a camera with an object turns to that object's world position.
D3DMATRIX flatCameraView(const FlatScene& scene, int32_t number, float frames, float* zoom);

// Shared glow buffers: 32 vertices of format 0x244 and 48 indices, counted by users.
void gledAcquireDrawingBuffers();
void gledDone();
int32_t gledDrawingBufferUsers();
GeometrySlice* gledGlowVertices();
IndexSlice* gledGlowIndices();
