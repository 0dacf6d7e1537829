// The scene tool on real glTF 2.0 models: converted files read back through the engine's
// readers and compared with the model's own data (read independently with tinygltf, in
// glTF's right-handed, column-vector world), and broken inputs refused with the file named.
#include "scene/scenefile.h"

#include "data/stream.h"
#include "platform/log.h"

#include <gtest/gtest.h>
#include <tiny_gltf.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

namespace {

const std::string kTool = std::string(LUX_BINARY_DIR) + "/tools/scenetool/scenetool";
const std::string kData = std::string(LUX_SOURCE_DIR) + "/tests/scene/data/";

int run(const std::string& arguments, std::string* output = nullptr) {
    std::string command = kTool + " " + arguments + " > tool.txt 2>&1";
    int status = system(command.c_str());
    if (output) {
        std::ifstream in("tool.txt");
        std::stringstream text;
        text << in.rdbuf();
        *output = text.str();
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

tinygltf::Model gltfModel(const std::string& name) {
    tinygltf::TinyGLTF loader;
    tinygltf::Model model;
    std::string error, warning;
    loader.SetImageLoader([](tinygltf::Image*, const int, std::string*, std::string*, int, int,
                             const unsigned char*, int, void*) { return true; },
                          nullptr);
    EXPECT_TRUE(loader.LoadASCIIFromFile(&model, &error, &warning, kData + name)) << error;
    return model;
}

std::vector<float> floatsOf(const tinygltf::Model& m, int accessor) {
    const tinygltf::Accessor& a = m.accessors[size_t(accessor)];
    const tinygltf::BufferView& v = m.bufferViews[size_t(a.bufferView)];
    int n = tinygltf::GetNumComponentsInType(uint32_t(a.type));
    size_t stride = v.byteStride ? v.byteStride : size_t(4 * n);
    std::vector<float> out;
    for (size_t i = 0; i < a.count; ++i)
        for (int c = 0; c < n; ++c) {
            float f;
            memcpy(&f,
                   &m.buffers[size_t(v.buffer)]
                        .data[v.byteOffset + a.byteOffset + i * stride + 4 * size_t(c)],
                   4);
            out.push_back(f);
        }
    return out;
}

struct Tool : ::testing::Test {
    void SetUp() override {
        logSetFile("log.txt");
        closeClassRegistry();
        initClassRegistry();
        registerSceneClasses();
    }
    void TearDown() override { closeClassRegistry(); }

    gledScene* object(const std::string& gltf) {
        EXPECT_EQ(run("object " + kData + gltf + " out.gled"), 0);
        FileStream file;
        EXPECT_TRUE(file.open("out.gled", kFileRead));
        std::string error;
        gledScene* scene = readObjectScene(&file, &error);
        EXPECT_NE(scene, nullptr) << error;
        return scene;
    }
    FlatScene* flat(const std::string& gltf) {
        EXPECT_EQ(run("flat " + kData + gltf + " out.scene"), 0);
        FileStream file;
        EXPECT_TRUE(file.open("out.scene", kFileRead));
        std::string error;
        FlatScene* scene = readFlatScene(&file, &error);
        EXPECT_NE(scene, nullptr) << error;
        return scene;
    }
};

const float* vertexAt(const gledSubMesh* s, uint32_t v) {
    return reinterpret_cast<const float*>(s->vertexData.data() +
                                          size_t(v) * fvfVertexSize(s->vertexFormat));
}

} // namespace

TEST_F(Tool, boxBecomesLeftHandedWithFacesStillFacingOut) {
    tinygltf::Model gltf = gltfModel("Box.gltf");
    const tinygltf::Primitive& prim = gltf.meshes[0].primitives[0];
    std::vector<float> positions = floatsOf(gltf, prim.attributes.at("POSITION"));
    std::vector<float> normals = floatsOf(gltf, prim.attributes.at("NORMAL"));
    gledScene* scene = object("Box.gltf");
    ASSERT_NE(scene, nullptr);
    ASSERT_EQ(scene->meshes.size(), 1u);
    const gledSubMesh* s = static_cast<gledD3DMesh*>(scene->meshes[0])->subMeshes[0];
    ASSERT_EQ(s->vertexCount * 3, positions.size());
    EXPECT_EQ(s->vertexFormat, uint32_t(D3DFVF_XYZ | D3DFVF_NORMAL));
    for (uint32_t v = 0; v < s->vertexCount; ++v) {
        const float* p = vertexAt(s, v);
        EXPECT_EQ(p[0], positions[3 * v]);
        EXPECT_EQ(p[1], positions[3 * v + 1]);
        EXPECT_EQ(p[2], -positions[3 * v + 2]);
        EXPECT_EQ(p[5], -normals[3 * v + 2]);
    }
    const std::vector<uint16_t>& indices = s->primitives[0]->indices;
    ASSERT_EQ(indices.size(), 36u);
    for (size_t t = 0; t < indices.size(); t += 3) {
        const float* a = vertexAt(s, indices[t]);
        const float* b = vertexAt(s, indices[t + 1]);
        const float* c = vertexAt(s, indices[t + 2]);
        float e1[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
        float e2[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
        float n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                      e1[0] * e2[1] - e1[1] * e2[0]};
        // Clockwise front faces of a left-handed world: the normal agrees with the vertex's.
        EXPECT_GT(n[0] * a[3] + n[1] * a[4] + n[2] * a[5], 0) << "triangle " << t / 3;
    }
    // World placement: the glTF node matrix (column vectors) moves a corner to M p; the
    // engine's baked matrix moves the mirrored corner to the mirrored M p.
    const std::vector<double>& m = gltf.nodes[0].matrix;
    ASSERT_EQ(scene->objects.size(), 2u);
    const gledObject* box = scene->objects[1];
    EXPECT_EQ(box->mesh, scene->meshes[0]);
    float p[3] = {0.5f, -0.5f, 0.25f};
    for (int r = 0; r < 3; ++r) {
        double gltfWorld = m[size_t(r)] * p[0] + m[size_t(4 + r)] * p[1] + m[size_t(8 + r)] * p[2] +
                           m[size_t(12 + r)];
        float engine = p[0] * box->transform.m[0][r] + p[1] * box->transform.m[1][r] -
                       p[2] * box->transform.m[2][r] + box->transform.m[3][r];
        EXPECT_NEAR(engine, (r == 2 ? -1 : 1) * gltfWorld, 1e-6) << r;
    }
    delete scene;
}

TEST_F(Tool, texturedBoxNamesItsImageAndModulatesStageZero) {
    gledScene* scene = object("BoxTextured.gltf");
    ASSERT_NE(scene, nullptr);
    ASSERT_EQ(scene->texturePool->entries.size(), 1u);
    EXPECT_STREQ(scene->texturePool->entries[0].name, "out_0.png");
    std::ifstream png("out_0.png", std::ios::binary);
    char magic[4] = {};
    png.read(magic, 4);
    EXPECT_EQ(std::string(magic + 1, 3), "PNG");
    const gledMaterial* m = scene->materials[0];
    ASSERT_EQ(m->stageCount, 1u);
    EXPECT_EQ(m->stages[0].textureId, 1);
    EXPECT_EQ(m->stages[0].colorOp, 4u);  // modulate
    EXPECT_EQ(m->stages[0].addressU, 1u); // REPEAT -> wrap
    EXPECT_EQ(m->stages[0].filter, 3u);   // LINEAR magnification, mip-mapped minification
    EXPECT_EQ(static_cast<gledD3DMesh*>(scene->meshes[0])->subMeshes[0]->vertexFormat,
              uint32_t(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1));
    delete scene;
}

TEST_F(Tool, morphTargetsBecomeNamedDeltas) {
    tinygltf::Model gltf = gltfModel("SimpleMorph.gltf");
    const tinygltf::Primitive& prim = gltf.meshes[0].primitives[0];
    std::vector<float> base = floatsOf(gltf, prim.attributes.at("POSITION"));
    std::vector<float> t1 = floatsOf(gltf, prim.targets[1].at("POSITION"));
    gledScene* scene = object("SimpleMorph.gltf");
    ASSERT_NE(scene, nullptr);
    ASSERT_EQ(supportsInterface(scene->meshes[0], kMorphMeshId), 0);
    auto* morph = static_cast<gledMorphMesh*>(scene->meshes[0]);
    ASSERT_EQ(morph->targets.size(), 2u);
    morph->setWeight(morph->targets[1].name, 0.5f);
    morph->blend();
    const float* v = reinterpret_cast<const float*>(morph->parts[0].work.data());
    for (size_t i = 0; i < base.size(); ++i) {
        float expected = base[i] + 0.5f * t1[i];
        EXPECT_FLOAT_EQ(v[i], i % 3 == 2 ? -expected : expected) << i;
    }
    delete scene;
}

TEST_F(Tool, animatedNodesBecomeTracksSampledAtTheFrameRate) {
    tinygltf::Model gltf = gltfModel("BoxAnimated.gltf");
    const tinygltf::AnimationSampler& move = gltf.animations[0].samplers[1];
    std::vector<float> times = floatsOf(gltf, move.input);
    std::vector<float> values = floatsOf(gltf, move.output);
    FlatScene* scene = flat("BoxAnimated.gltf");
    ASSERT_NE(scene, nullptr);
    const FlatObject* moved = nullptr;
    for (const FlatObject& o : scene->objects)
        if (!strcmp(o.name, "node0")) moved = &o;
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(scene->animationRate, 25.0f);
    EXPECT_EQ(int32_t(moved->track.keys.size()), int32_t(std::floor(times.back() * 25 + 1e-6)) + 1);
    for (size_t f = 0; f < moved->track.keys.size(); f += 7) {
        double t = double(f) / 25;
        size_t k = 0;
        while (k + 2 < times.size() && times[k + 1] <= t)
            ++k;
        double u = std::clamp((t - times[k]) / (times[k + 1] - times[k]), 0.0, 1.0);
        for (int c = 0; c < 3; ++c) {
            double expected = values[3 * k + size_t(c)] +
                              (values[3 * (k + 1) + size_t(c)] - values[3 * k + size_t(c)]) * u;
            EXPECT_NEAR(moved->track.keyValues(f)[c], (c == 2 ? -1 : 1) * expected, 1e-5) << f;
        }
    }
    EXPECT_EQ(moved->parent, nullptr);
    int children = 0;
    for (const FlatObject& o : scene->objects)
        children += o.parent == moved;
    EXPECT_EQ(children, 1);
    freeFlatScene(scene);
}

TEST_F(Tool, rotationAnglesRebuildTheNodeRotation) {
    tinygltf::Model gltf = gltfModel("BoxAnimated.gltf");
    const tinygltf::AnimationSampler& turn = gltf.animations[0].samplers[0];
    std::vector<float> q = floatsOf(gltf, turn.output);
    FlatScene* scene = flat("BoxAnimated.gltf");
    ASSERT_NE(scene, nullptr);
    const FlatObject* turned = nullptr;
    for (const FlatObject& o : scene->objects)
        if (!strcmp(o.name, "node2")) turned = &o;
    ASSERT_NE(turned, nullptr);
    const float* key = turned->track.keyValues(turned->track.keys.size() - 1);
    double x = q[4], y = q[5], z = q[6], w = q[7]; // the last rotation key
    // glTF rotation of the x axis (column vectors), mirrored; the object matrix's row 0 (the
    // image of x under the angles) must equal it.
    double rx[3] = {1 - 2 * (y * y + z * z), 2 * (x * y + z * w), -(2 * (x * z - y * w))};
    double sa = std::sin(key[3]), ca = std::cos(key[3]), sb = std::sin(key[4]),
           cb = std::cos(key[4]);
    double sc = std::sin(key[5]), cc = std::cos(key[5]);
    double row0[3] = {ca * cc + sc * sb * sa, -sc * cb, sc * sb * ca - cc * sa};
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(row0[i], rx[i], 1e-4) << i;
    freeFlatScene(scene);
}

TEST_F(Tool, infoListsWhatTheFileHolds) {
    ASSERT_EQ(run("object " + kData + "AnimatedTriangle.gltf tri.gled"), 0);
    std::string text;
    ASSERT_EQ(run("info tri.gled", &text), 0);
    EXPECT_NE(text.find("gledD3DMesh"), std::string::npos) << text;
    EXPECT_NE(text.find("3 vertices, format 0x2"), std::string::npos) << text;
    ASSERT_EQ(run("flat " + kData + "AnimatedTriangle.gltf tri.scene"), 0);
    ASSERT_EQ(run("info tri.scene", &text), 0);
    EXPECT_NE(text.find("physobjects 1"), std::string::npos) << text;
}

TEST_F(Tool, brokenGltfFilesAreRefusedNamingTheFile) {
    std::ifstream in(kData + "Box.gltf");
    std::stringstream whole;
    whole << in.rdbuf();
    std::string text = whole.str();
    {
        std::ofstream cut("cut.gltf");
        cut << text.substr(0, text.size() / 2);
    }
    std::string out;
    EXPECT_EQ(run("object cut.gltf x.gled", &out), 1);
    EXPECT_NE(out.find("cut.gltf"), std::string::npos) << out;
    // An accessor that claims more vertices than its buffer holds.
    size_t at = text.find("\"count\": 24");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 11, "\"count\": 2400000");
    {
        std::ofstream big("big.gltf");
        big << text;
    }
    EXPECT_EQ(run("flat big.gltf x.scene", &out), 1);
    EXPECT_NE(out.find("big.gltf"), std::string::npos) << out;
    EXPECT_EQ(run("object missing.gltf x.gled", &out), 1);
    // An animation whose last key time is not a number (found by fuzzing: the sampling read
    // past the keys).
    std::string nan = std::string(LUX_SOURCE_DIR) + "/tests/fuzz/corpus/gltf/nan-key-time";
    EXPECT_EQ(run("flat " + nan + " x.scene", &out), 1);
    EXPECT_NE(out.find("animation keys or values that are not finite numbers"), std::string::npos)
        << out;
    // Indices from a float accessor, one of them not a number (found by fuzzing: converted to
    // an integer as it stood).
    std::string nanIndex = std::string(LUX_SOURCE_DIR) + "/tests/fuzz/corpus/gltf/nan-index";
    EXPECT_EQ(run("object " + nanIndex + " x.gled", &out), 1);
    EXPECT_NE(out.find("an index that is not a whole number"), std::string::npos) << out;
}
