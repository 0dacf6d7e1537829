// Flat-scene tracks and object matrices against values worked out by hand.
#include "scene/render.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

FlatTrack track(std::initializer_list<std::pair<int32_t, float>> keys, bool linear,
                int32_t loopMode = 1) {
    FlatTrack t;
    t.valueCount = 1;
    t.loopMode = loopMode;
    for (auto [frame, value] : keys) {
        FlatKey k;
        k.frame = frame;
        k.linear = linear;
        k.tension = 1;
        t.keys.push_back(k);
        t.values.push_back(value);
    }
    t.length = t.keys.back().frame;
    return t;
}

float at(const FlatTrack& t, float time) {
    float v = -99;
    evaluateTrack(t, time, &v);
    return v;
}

} // namespace

TEST(FlatTracks, oneKeyHoldsEverywhere) {
    FlatTrack t = track({{0, 7}}, false, 2);
    for (float time : {0.0f, 0.5f, 3.0f, 1e9f})
        EXPECT_EQ(at(t, time), 7) << time;
}

TEST(FlatTracks, loopModesMapTimesPastTheLength) {
    FlatTrack t = track({{0, 0}, {10, 10}}, true, 2);
    EXPECT_FLOAT_EQ(at(t, 25), 5); // 2.5 L gives 0.5 L
    EXPECT_FLOAT_EQ(at(t, 20), 10);
    EXPECT_FLOAT_EQ(at(t, 3e9f), 10); // a whole multiple of L, reached without endless steps
    t.loopMode = 0;
    EXPECT_FLOAT_EQ(at(t, 12), 0);
    t.loopMode = 1;
    EXPECT_FLOAT_EQ(at(t, 12), 10);
    t.loopMode = 7; // unchanged time, held at the last key
    EXPECT_FLOAT_EQ(at(t, 12), 10);
    // Before the first key: its value, never a curve continued backwards.
    FlatTrack curve = track({{0, 0}, {10, 10}, {20, 0}}, false, 1);
    EXPECT_EQ(at(curve, -5), 0);
}

TEST(FlatTracks, keysOneFrameApartAreACut) {
    FlatTrack t = track({{0, 1}, {1, 2}, {5, 3}}, true);
    EXPECT_EQ(at(t, 0.5f), 1);
    EXPECT_EQ(at(t, 1.0f), 1);
    EXPECT_FLOAT_EQ(at(t, 1.5f), 2.125f); // 2 + (3 - 2) x 0.5 / 4
}

TEST(FlatTracks, kochanekBartelsMatchesHandWorkedValues) {
    // Keys 0, 10, 0 at frames 0, 10, 20, tension 1: h2(0.5) = 0.5, h3(0.5) = 0.125,
    // outgoing tangent of the first key 10, incoming tangent of the middle key 0 -> 6.25;
    // by symmetry 6.25 again at frame 15.
    FlatTrack t = track({{0, 0}, {10, 10}, {20, 0}}, false);
    EXPECT_FLOAT_EQ(at(t, 5), 6.25f);
    EXPECT_FLOAT_EQ(at(t, 15), 6.25f);
    EXPECT_FLOAT_EQ(at(t, 10), 10);
    // Bias 0.5 on the middle key: a = 1.5, e = 0.5, its outgoing tangent
    // (1.5 x 10 + 0.5 x -10) x 10 / 20 = 5, so 10 x 0.5 + 5 x 0.125 + (-10) x (-0.125) = 6.875.
    t.keys[1].bias = 0.5f;
    EXPECT_FLOAT_EQ(at(t, 15), 6.875f);
}

TEST(FlatObjects, matrixRotatesScalesAndMovesAboutThePivot) {
    // Angle c = 90 degrees, scale 2 on x: row 0 is (0, -2, 0); the pivot (1, 0, 0) maps to
    // the position itself.
    const float values[9] = {5, 6, 7, 0, 0, float(M_PI / 2), 2, 1, 1};
    const float pivot[3] = {1, 0, 0};
    D3DMATRIX m = flatObjectMatrix(values, pivot);
    EXPECT_NEAR(m.m[0][0], 0, 1e-6);
    EXPECT_NEAR(m.m[0][1], -2, 1e-6);
    EXPECT_NEAR(m.m[1][0], 1, 1e-6);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(pivot[0] * m.m[0][c] + m.m[3][c], values[c], 1e-5) << c;
}

TEST(FlatObjects, worldsComposeParentsAndTakeInheritedOrOverriddenTimes) {
    FlatScene scene;
    scene.objects.resize(3);
    for (FlatObject& o : scene.objects) {
        o.track.valueCount = 9;
        o.track.loopMode = 1;
        FlatKey a, b;
        a.frame = 0;
        b.frame = 10;
        b.linear = 1;
        o.track.keys = {a, b};
        o.track.length = 10;
        // x moves from 0 to 10 over ten frames; no rotation, unit scales.
        o.track.values = {0, 0, 0, 0, 0, 0, 1, 1, 1, 10, 0, 0, 0, 0, 0, 1, 1, 1};
    }
    // Child listed before its parent, so the parent must be computed first.
    scene.objects[0].parent = &scene.objects[1];
    scene.objects[1].parent = &scene.objects[2];
    scene.objects[1].timeOverride = 2;
    computeFlatWorlds(scene, 5);
    EXPECT_FLOAT_EQ(scene.objects[2].world.m[3][0], 5);     // scene time
    EXPECT_FLOAT_EQ(scene.objects[1].world.m[3][0], 2 + 5); // override, on its parent
    EXPECT_FLOAT_EQ(scene.objects[0].time, 2);              // the parent's time
    EXPECT_FLOAT_EQ(scene.objects[0].world.m[3][0], 2 + 2 + 5);
}

TEST(FlatObjects, cameraWithAnObjectTurnsToItsWorldPosition) {
    FlatScene scene;
    scene.objects.resize(1);
    scene.objects[0].world.m[3][0] = 3;
    scene.objects[0].world.m[3][1] = 4;
    scene.objects[0].world.m[3][2] = 2;
    FlatCamera camera;
    camera.placement.valueCount = 9;
    camera.placement.keys.resize(1);
    camera.placement.values = {0, 0, -10, 0.3f, -0.2f, 0, 1, 1, 1};
    camera.zoom.valueCount = 1;
    camera.zoom.keys.resize(1);
    camera.zoom.values = {1.5f};
    camera.object = &scene.objects[0];
    scene.cameras.push_back(camera);
    float zoom = 0;
    D3DMATRIX view = flatCameraView(scene, 0, 0, &zoom);
    EXPECT_EQ(zoom, 1.5f);
    // The object lies straight ahead, at its distance from the camera (3, 4, 12) -> 13.
    const float* p = scene.objects[0].world.m[3];
    float seen[3];
    for (int c = 0; c < 3; ++c)
        seen[c] = p[0] * view.m[0][c] + p[1] * view.m[1][c] + p[2] * view.m[2][c] + view.m[3][c];
    EXPECT_NEAR(seen[0], 0, 1e-4);
    EXPECT_NEAR(seen[1], 0, 1e-4);
    EXPECT_NEAR(seen[2], 13, 1e-4);
}
