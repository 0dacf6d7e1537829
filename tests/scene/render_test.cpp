// Object scenes drawn headless on the real graphics layer: the glTF cube converted by the
// scene tool, its silhouette checked against the projection of its own corners, a golden
// picture, morph meshes through their dynamic drawing copies, and the light cut.
// LUX_UPDATE_GOLDEN=1 writes the picture instead of comparing.
#include "scene/render.h"

#include "data/filesystem.h"
#include "gfx/device.h"
#include "gfx/texture.h"
#include "gfx/texturepool.h"
#include "platform/gpu/gpu.h"
#include "platform/log.h"
#include "tests/scene/scene_writer.h"
#include "tests/script/headless_device.h"

#include <gtest/gtest.h>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int32_t kWidth = 96, kHeight = 72;
const std::string kTool = std::string(LUX_BINARY_DIR) + "/tools/scenetool/scenetool";
const std::string kData = std::string(LUX_SOURCE_DIR) + "/tests/scene/data/";

struct Pixels {
    std::vector<uint32_t> argb;
    uint32_t at(int x, int y) const { return argb[size_t(y) * kWidth + size_t(x)] & 0xffffff; }
};

Pixels readPrimary() {
    Pixels p;
    GpuSurface* surface = renderTargetSurface(findRenderTarget("primary"));
    EXPECT_EQ(dxDevice()->ReadSurface(surface, &p.argb), D3D_OK);
    surface->Release();
    return p;
}

struct Render : ::testing::Test {
    void SetUp() override {
        logSetFile("log.txt");
        ASSERT_TRUE(startHeadlessDevice(kWidth, kHeight));
        closeClassRegistry();
        initClassRegistry();
        registerSceneClasses();
        selectRenderTarget("primary");
    }
    void TearDown() override {
        closeClassRegistry();
        stopHeadlessDevice();
    }
    gledScene* convert(const std::string& gltf) {
        std::string command = kTool + " object " + kData + gltf + " model.gled";
        EXPECT_EQ(system(command.c_str()), 0);
        FileStream file;
        EXPECT_TRUE(file.open("model.gled", kFileRead));
        std::string error;
        gledScene* scene = readObjectScene(&file, &error);
        EXPECT_NE(scene, nullptr) << error;
        return scene;
    }
};

// Pixel of a world point: the view (no camera: scaled, then moved by -offset), the
// projection x' = 0.64 x / z, y' = 0.96 y / z, and the viewport mapping.
void project(const float* p, const gledViewSettings& view, float* px, float* py) {
    float x = p[0] - view.camXOffset, y = p[1] - view.camYOffset, z = p[2] - view.camZOffset;
    *px = (0.64f * x / z + 1) * 0.5f * kWidth;
    *py = (1 - 0.96f * y / z) * 0.5f * kHeight;
}

} // namespace

TEST_F(Render, cubeSilhouetteLandsWhereItsCornersProject) {
    gledScene* scene = convert("Box.gltf");
    ASSERT_NE(scene, nullptr);
    gledLight* light = scene->addLight(nullptr, "head lamp");
    light->diffuse[0] = light->diffuse[1] = light->diffuse[2] = 1;
    light->range = 100;
    light->attenuation[0] = 1;
    light->transform.m[3][2] = -3;
    gledViewSettings view;
    view.camXOffset = -0.7f; // off centre, so that two side faces show too
    view.camYOffset = 0.5f;
    view.camZOffset = -3;
    light->transform.m[3][0] = view.camXOffset;
    light->transform.m[3][1] = view.camYOffset;
    renderScene(view, scene);
    flushState();
    Pixels pixels = readPrimary();

    // Corners of the unit cube placed by its object's (baked) world matrix.
    const gledObject* box = scene->objects[1];
    float minX = 1e9f, maxX = -1e9f, minY = 1e9f, maxY = -1e9f;
    for (int corner = 0; corner < 8; ++corner) {
        float local[3] = {corner & 1 ? 0.5f : -0.5f, corner & 2 ? 0.5f : -0.5f,
                          corner & 4 ? 0.5f : -0.5f};
        float world[3];
        for (int c = 0; c < 3; ++c)
            world[c] = local[0] * box->transform.m[0][c] + local[1] * box->transform.m[1][c] +
                       local[2] * box->transform.m[2][c] + box->transform.m[3][c];
        float x, y;
        project(world, view, &x, &y);
        minX = std::min(minX, x), maxX = std::max(maxX, x);
        minY = std::min(minY, y), maxY = std::max(maxY, y);
    }
    int litMinX = kWidth, litMaxX = -1, litMinY = kHeight, litMaxY = -1;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            if (pixels.at(x, y) != 0) {
                litMinX = std::min(litMinX, x), litMaxX = std::max(litMaxX, x);
                litMinY = std::min(litMinY, y), litMaxY = std::max(litMaxY, y);
            }
    // Pixel centres inside the projected outline are drawn: the lit box spans the projected
    // corners to within one pixel.
    EXPECT_NEAR(litMinX, minX, 1.0);
    EXPECT_NEAR(litMaxX + 1, maxX, 1.0);
    EXPECT_NEAR(litMinY, minY, 1.0);
    EXPECT_NEAR(litMaxY + 1, maxY, 1.0);
    // The material is red (0.8, 0, 0): lit pixels carry red only.
    uint32_t centre = pixels.at(int(minX + maxX) / 2, int(minY + maxY) / 2);
    EXPECT_GT(centre >> 16, 0x40u);
    EXPECT_EQ(centre & 0xffff, 0u);

    std::string golden = std::string(LUX_SOURCE_DIR) + "/tests/golden/scene/box.png";
    std::vector<uint8_t> rgb;
    for (uint32_t p : pixels.argb)
        rgb.insert(rgb.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
    const char* update = getenv("LUX_UPDATE_GOLDEN");
    if (update && !strcmp(update, "1")) {
        ASSERT_NE(stbi_write_png(golden.c_str(), kWidth, kHeight, 3, rgb.data(), kWidth * 3), 0);
    } else {
        int w = 0, h = 0, n = 0;
        uint8_t* expected = stbi_load(golden.c_str(), &w, &h, &n, 3);
        ASSERT_NE(expected, nullptr) << golden;
        ASSERT_EQ(w * h, kWidth * kHeight);
        size_t off = 0;
        for (size_t i = 0; i < rgb.size(); ++i)
            off += abs(int(rgb[i]) - int(expected[i])) > 3;
        stbi_image_free(expected);
        EXPECT_EQ(off, 0u);
    }
    delete scene;
}

TEST_F(Render, moreThanEightLightsUseTheFirstEightAndTheRestStayOff) {
    gledScene scene;
    for (int i = 0; i < 10; ++i)
        scene.addLight(nullptr, "l")->diffuse[0] = float(i);
    gledViewSettings view;
    renderScene(view, &scene);
    for (uint32_t i = 0; i < 8; ++i) {
        bool on = false;
        dxDevice()->GetLightEnable(i, &on);
        EXPECT_TRUE(on) << i;
    }
    gledScene few;
    few.addLight(nullptr, "one");
    renderScene(view, &few);
    bool on = true;
    dxDevice()->GetLightEnable(1, &on);
    EXPECT_FALSE(on);
    dxDevice()->GetLightEnable(7, &on);
    EXPECT_FALSE(on);
}

TEST_F(Render, viewWithoutCameraScalesThenMovesAndWithCameraMovesThenScales) {
    gledScene scene;
    gledViewSettings view;
    view.xScale = 2;
    view.camXOffset = 1;
    D3DMATRIX fixed = sceneView(view, scene);
    EXPECT_EQ(3 * fixed.m[0][0] + fixed.m[3][0], 2 * 3 - 1.0f); // scaled, then moved
    gledCamera* camera = scene.addControllableCamera(nullptr, "c");
    camera->transform.m[3][0] = 4; // camera at x = 4
    D3DMATRIX moved = sceneView(view, scene);
    EXPECT_EQ(3 * moved.m[0][0] + moved.m[3][0], 2 * (3 - 4 - 1.0f)); // moved, then scaled
}

TEST_F(Render, morphMeshDrawsThroughItsDynamicCopyAndGledDoneCounts) {
    initGeometryCaches();
    gledScene* scene = convert("SimpleMorph.gltf");
    ASSERT_NE(scene, nullptr);
    auto* morph = static_cast<gledMorphMesh*>(scene->meshes[0]);
    ASSERT_NE(morph->parts[0].drawing, nullptr);
    EXPECT_TRUE(morph->parts[0].drawing->vertexBuffer.dynamic);
    morph->setWeight(morph->targets[0].name, 1.0f);
    gledViewSettings view;
    view.camZOffset = -3;
    renderScene(view, scene);
    EXPECT_FALSE(morph->dirty);
    delete scene;

    gledAcquireDrawingBuffers();
    gledAcquireDrawingBuffers();
    EXPECT_NE(gledGlowVertices(), nullptr);
    gledDone();
    EXPECT_EQ(gledDrawingBufferUsers(), 1);
    gledDone();
    EXPECT_EQ(gledGlowVertices(), nullptr);
    gledDone();
    FILE* f = fopen("log.txt", "r");
    char buffer[65536] = {};
    fread(buffer, 1, sizeof buffer - 1, f);
    fclose(f);
    EXPECT_NE(strstr(buffer, "gledDone() called too often\n"), nullptr);
}

TEST_F(Render, sceneTexturesComeFromThePoolSharedByNameWithoutRegardToCase) {
    std::filesystem::copy_file(std::string(LUX_TEST_DATA) + "/lake24.dds", "lake.dds",
                               std::filesystem::copy_options::overwrite_existing);
    initFileSystem();
    initTextures();
    initTexturePool();
    {
        // Flat scene: two names that differ in case name one texture.
        SceneBytes flat;
        flat.u32(2).name16("Lake.DDS").name16("lake.dds").u32(0).u32(0).u32(0).u32(0);
        flat.f32(25).u32(0);
        std::unique_ptr<MemoryStream> s(flat.stream());
        std::string error;
        FlatScene* scene = readFlatScene(s.get(), &error);
        ASSERT_NE(scene, nullptr) << error;
        ASSERT_NE(scene->textures[0], nullptr);
        EXPECT_EQ(scene->textures[0], scene->textures[1]);
        freeFlatScene(scene);

        // Object scene: stage texture ids 0 and past the pool give no texture, id 1 the file.
        StageRecord none, first, past;
        first.words[0] = 1;
        past.words[0] = 2;
        SceneBytes object;
        object.id({0x20000, 2, 0}).append(texturePoolBytes({"LAKE.dds"}));
        object.u32(1).append(materialBytes("m", {none, first, past})).u32(0).u32(0).u32(0);
        std::unique_ptr<MemoryStream> o(object.stream());
        gledScene* loaded = readObjectScene(o.get(), &error);
        ASSERT_NE(loaded, nullptr) << error;
        const gledMaterial* m = loaded->materials[0];
        EXPECT_EQ(m->stages[0].texture, nullptr);
        ASSERT_NE(m->stages[1].texture, nullptr);
        EXPECT_EQ(m->stages[1].texture->width, 64);
        EXPECT_EQ(m->stages[2].texture, nullptr);
        delete loaded;
    }
    closeTexturePool();
    closeTextures();
    closeFileSystem();
}
