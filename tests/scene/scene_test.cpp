// Scene classes without a device: defaults, lists, morph blending, the controllable camera's
// steering and the affine inverse.
#include "scene/scene.h"

#include "gfx/device.h"
#include "platform/log.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

struct FakeInput {
    bool keys[256] = {};
    bool presses[256] = {};
    int buttons = 0;
    int dx = 0, dy = 0;
    int32_t clock = 0;
    int captures = 0, releases = 0;
};
FakeInput fake;

void installFakeInput() {
    fake = FakeInput{};
    SceneInput hooks;
    hooks.isKeyDown = [](int code) { return fake.keys[code] ? 1 : 0; };
    hooks.wasKeyPressed = [](int code) {
        int was = fake.presses[code] ? 1 : 0;
        fake.presses[code] = false;
        return was;
    };
    hooks.mouseButtons = [] { return fake.buttons; };
    hooks.readMouseMotion = [](int& dx, int& dy, int& dz) {
        dx = fake.dx;
        dy = fake.dy;
        dz = 0;
        fake.dx = fake.dy = 0;
    };
    hooks.captureMouse = [] { ++fake.captures; };
    hooks.releaseMouse = [] { ++fake.releases; };
    hooks.clock = [] { return fake.clock; };
    setSceneInput(hooks);
}

struct Camera : ::testing::Test {
    gledScene scene;
    gledControllableCamera* camera = nullptr;
    void SetUp() override {
        logSetFile("log.txt");
        installFakeInput();
        camera = scene.addControllableCamera(nullptr, "steer");
        camera->update(); // first call: dt 0, transform from the default eye and target
    }
    void TearDown() override { setSceneInput(SceneInput{}); }
};

float bitsOf(uint32_t bits) {
    float f;
    memcpy(&f, &bits, 4);
    return f;
}

// A morph mesh of one part with `vertices` XYZ vertices (i, 2i, 3i).
gledMorphMesh* makeMorph(uint32_t vertices) {
    auto* mesh = new gledMorphMesh;
    auto* source = new gledSubMesh;
    source->storageMode = 1;
    source->vertexCount = vertices;
    source->vertexFormat = D3DFVF_XYZ;
    source->dataSize = vertices * 12;
    source->vertexData.resize(source->dataSize);
    float* v = reinterpret_cast<float*>(source->vertexData.data());
    for (uint32_t i = 0; i < vertices; ++i) {
        v[3 * i] = float(i);
        v[3 * i + 1] = float(2 * i);
        v[3 * i + 2] = float(3 * i);
    }
    gledMorphMesh::Part part;
    part.source = source;
    mesh->parts.push_back(part);
    return mesh;
}

void addTarget(gledMorphMesh* mesh, const char* name, uint32_t vertex, float dx, float dy,
               float dz) {
    gledMorphMesh::Target target;
    strcpy(target.name, name);
    float d[3] = {dx, dy, dz};
    target.deltas.push_back(vertex);
    for (float f : d) {
        uint32_t w;
        memcpy(&w, &f, 4);
        target.deltas.push_back(w);
    }
    target.deltas.push_back(uint32_t(-1));
    mesh->targets.push_back(target);
}

const float* workVertex(gledMorphMesh* mesh, uint32_t vertex) {
    return reinterpret_cast<const float*>(mesh->parts[0].work.data()) + 3 * vertex;
}

} // namespace

TEST(SceneClasses, constructorsSetTheDefaults) {
    gledMaterial material;
    EXPECT_EQ(material.diffuse[0], 1.0f);
    EXPECT_EQ(material.diffuse[2], 1.0f);
    EXPECT_EQ(material.sourceBlend, 2u);
    EXPECT_EQ(material.destinationBlend, 1u);
    EXPECT_EQ(material.power, 0.0f);
    gledScene scene;
    gledLight* light = scene.addLight(nullptr, "lamp");
    EXPECT_EQ(light->type, 1u);
    EXPECT_EQ(light->transform.m[3][3], 1.0f);
    EXPECT_EQ(light->transform.m[0][0], 1.0f);
    EXPECT_STREQ(light->name, "lamp");
    gledControllableCamera* camera = scene.addControllableCamera(light, "cam");
    EXPECT_EQ(camera->zoomX, 1.0f);
    EXPECT_EQ(camera->zoomY, bitsOf(0x3FAAA993));
    EXPECT_EQ(camera->eye[2], -10.0f);
    EXPECT_EQ(camera->parent, light);
    ASSERT_EQ(scene.items.size(), 2u);
    EXPECT_EQ(scene.lights.size(), 1u);
    EXPECT_EQ(scene.cameras.size(), 1u);
    EXPECT_TRUE(scene.objects.empty());
}

TEST(SceneClasses, findMeshAndFindObjectMatchExactNamesInListOrder) {
    gledScene scene;
    auto* a = new gledD3DMesh;
    strcpy(a->name, "pilz");
    auto* b = new gledD3DMesh;
    strcpy(b->name, "pilz");
    scene.meshes = {nullptr, a, b};
    EXPECT_EQ(scene.findMesh("pilz"), a);
    EXPECT_EQ(scene.findMesh("Pilz"), nullptr);
    auto* object = new gledObject;
    strcpy(object->name, "stem");
    scene.items.push_back(object);
    scene.objects.push_back(object);
    EXPECT_EQ(scene.findObject("stem"), object);
    EXPECT_EQ(scene.findObject("ste"), nullptr);
}

TEST(SceneClasses, sceneDestructorReleasesEveryListOnce) {
    static int gone = 0;
    struct Watched : nkObject {
        ~Watched() override { ++gone; }
    };
    gone = 0;
    {
        gledScene scene;
        auto* kept = new Watched;
        kept->addRef(); // someone else holds it too
        scene.extra = {new Watched, kept, nullptr};
        scene.addLight(nullptr, "l");
        EXPECT_EQ(gone, 0);
        kept->release(); // back to the scene's one reference
    }
    EXPECT_EQ(gone, 2);
}

TEST(MorphMesh, weightsBelowTheThresholdGiveTheSourceVertices) {
    gledMorphMesh* mesh = makeMorph(3);
    addTarget(mesh, "smile", 1, 10, 10, 10);
    addTarget(mesh, "frown", 2, 10, 10, 10);
    mesh->setWeight("smile", 0.00099f);
    mesh->setWeight("frown", -1.0f);
    mesh->blend();
    EXPECT_EQ(mesh->parts[0].work, mesh->parts[0].source->vertexData);
    mesh->release();
}

TEST(MorphMesh, twoHalfTargetsOnOneVertexAddUp) {
    gledMorphMesh* mesh = makeMorph(3);
    addTarget(mesh, "a", 1, 4, 0, -2);
    addTarget(mesh, "b", 1, 2, 6, 0);
    mesh->setWeight("a", 0.5f);
    mesh->setWeight("b", 0.5f);
    EXPECT_TRUE(mesh->dirty);
    mesh->blend();
    const float* v = workVertex(mesh, 1);
    EXPECT_FLOAT_EQ(v[0], 1 + 0.5f * 4 + 0.5f * 2);
    EXPECT_FLOAT_EQ(v[1], 2 + 0.5f * 6);
    EXPECT_FLOAT_EQ(v[2], 3 - 0.5f * 2);
    EXPECT_FLOAT_EQ(workVertex(mesh, 2)[0], 2.0f);
    mesh->release();
}

TEST(MorphMesh, unknownTargetNameChangesNothing) {
    gledMorphMesh* mesh = makeMorph(2);
    addTarget(mesh, "blink", 0, 1, 1, 1);
    mesh->setWeight("blinkx", 1.0f);
    EXPECT_FALSE(mesh->dirty);
    EXPECT_EQ(mesh->targets[0].weight, 0.0f);
    mesh->release();
}

TEST_F(Camera, restingCameraSitsAtItsEyeLookingAtTheTarget) {
    EXPECT_FLOAT_EQ(camera->transform.m[3][0], 0);
    EXPECT_FLOAT_EQ(camera->transform.m[3][2], -10);
    EXPECT_FLOAT_EQ(camera->transform.m[2][2], 1); // forward +z
    EXPECT_FLOAT_EQ(camera->transform.m[0][0], 1); // right +x
    EXPECT_FLOAT_EQ(camera->transform.m[1][1], 1); // up +y
}

TEST_F(Camera, orbitWithTheLeftButtonTurnsTheEyeAroundTheTarget) {
    fake.keys[24] = true; // O
    fake.presses[24] = true;
    fake.buttons = 1;
    fake.dx = 225; // yaw = -225 pi / 450 = -pi / 2
    camera->update();
    EXPECT_EQ(fake.captures, 1);
    // (0, 0, 10) turned by -90 degrees of yaw is (-10, 0, 0); eye = target - that.
    EXPECT_NEAR(camera->eye[0], 10, 1e-4);
    EXPECT_NEAR(camera->eye[2], 0, 1e-4);
    EXPECT_NEAR(camera->transform.m[2][0], -1, 1e-5); // now looking along -x
    // Middle button: yaw only, so vertical motion does nothing.
    fake.buttons = 4;
    fake.dy = 100;
    camera->update();
    EXPECT_NEAR(camera->eye[1], 0, 1e-4);
}

TEST_F(Camera, panMovesEyeAndTargetAlongRightAndUp) {
    fake.keys[21] = true; // Y
    fake.buttons = 1;
    fake.dx = 40;
    fake.dy = 80;
    camera->update();
    EXPECT_NEAR(camera->eye[0], -1, 1e-5);
    EXPECT_NEAR(camera->target[0], -1, 1e-5);
    EXPECT_NEAR(camera->eye[1], 2, 1e-5);
    EXPECT_NEAR(camera->target[1], 2, 1e-5);
    EXPECT_NEAR(camera->eye[2], -10, 1e-5);
}

TEST_F(Camera, zoomStaysWithinItsLimitsAndFollowsTheAspect) {
    fake.keys[21] = true;
    fake.buttons = 2;
    fake.clock = 100000; // dt x 0.000004 = 0.4
    camera->update();
    EXPECT_NEAR(camera->zoomX, 1.4f, 1e-5);
    EXPECT_FLOAT_EQ(camera->zoomY, camera->zoomX * aspectRatio());
    fake.clock += 10000000;
    camera->update();
    EXPECT_EQ(camera->zoomX, 4.0f);
    fake.buttons = 4;
    fake.clock += 100000000;
    camera->update();
    EXPECT_EQ(camera->zoomX, 0.01f);
}

TEST_F(Camera, dollyChangesTheDistanceBySpeedTimesMotion) {
    fake.keys[25] = true; // P
    fake.buttons = 1;     // speed 0.01
    fake.dx = 60;
    fake.dy = 40;
    camera->update();
    EXPECT_NEAR(camera->eye[2], -11, 1e-4);
    fake.buttons = 2; // speed 1
    fake.dx = -5;
    camera->update();
    EXPECT_NEAR(camera->eye[2], -6, 1e-4);
    fake.keys[25] = false;
    fake.buttons = 0;
    camera->update();
    EXPECT_GE(fake.releases, 1);
}

TEST(SceneMatrices, affineInverseUndoesRotationScaleAndTranslation) {
    D3DMATRIX m;
    float a = 0.7f, b = -1.2f;
    m.m[0][0] = 2 * std::cos(a);
    m.m[0][1] = 2 * std::sin(a);
    m.m[1][0] = -3 * std::sin(a) * std::cos(b);
    m.m[1][1] = 3 * std::cos(a) * std::cos(b);
    m.m[1][2] = 3 * std::sin(b);
    m.m[2][0] = 0.5f * std::sin(a) * std::sin(b);
    m.m[2][1] = -0.5f * std::cos(a) * std::sin(b);
    m.m[2][2] = 0.5f * std::cos(b);
    m.m[3][0] = 4;
    m.m[3][1] = -5;
    m.m[3][2] = 6;
    D3DMATRIX product = multiply(m, affineInverse(m));
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_NEAR(product.m[i][j], i == j ? 1 : 0, 1e-5);
    D3DMATRIX singular;
    singular.m[2][2] = 0;
    D3DMATRIX identity;
    D3DMATRIX result = affineInverse(singular);
    EXPECT_EQ(memcmp(&result, &identity, sizeof result), 0);
}
