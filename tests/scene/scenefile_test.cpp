// Both scene file readers without a device: round trips of files from the test writer,
// versions, the list errors, and damaged or hostile files.
#include "scene/scenefile.h"

#include "data/filesystem.h"
#include "platform/log.h"
#include "scene_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

namespace {

std::string readLog() {
    std::ifstream in("log.txt");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct SceneFiles : ::testing::Test {
    void SetUp() override {
        logSetFile("log.txt");
        closeClassRegistry();
        initClassRegistry();
        registerSceneClasses();
    }
    void TearDown() override { closeClassRegistry(); }

    gledScene* read(const SceneBytes& b, std::string* error = nullptr) {
        std::unique_ptr<MemoryStream> s(b.stream());
        std::string local;
        return readObjectScene(s.get(), error ? error : &local);
    }
    FlatScene* readFlat(const SceneBytes& b, std::string* error = nullptr) {
        std::unique_ptr<MemoryStream> s(b.stream());
        std::string local;
        return readFlatScene(s.get(), error ? error : &local);
    }
};

D3DMATRIX translation(float x, float y, float z) {
    D3DMATRIX m;
    m.m[3][0] = x;
    m.m[3][1] = y;
    m.m[3][2] = z;
    return m;
}

StageRecord stage(uint32_t textureId) {
    StageRecord s;
    for (uint32_t i = 0; i < 13; ++i)
        s.words[i] = 100 + i;
    s.words[0] = textureId;
    return s;
}

// The full scene: two materials, a version-0 and a version-1 mesh, a morph mesh, an object
// with parent and mesh, a light, cameras of both versions, one extra object.
SceneBytes fullScene() {
    SceneBytes b;
    b.id({0x20000, 2, 0}).append(texturePoolBytes({"a.jpg", "b.png"}));
    b.u32(2).append(materialBytes("red", {stage(0), stage(2), stage(9)}, 1));
    b.append(materialBytes("plain", {}));
    b.u32(3);
    // mesh 0: a version-0 sub-mesh (mode 0) with a version-0 primitive
    b.id({0x20000, 3, 0}).name8("old").u32(1);
    b.append(
        subMeshBytes(0, 0, 1, {0, 0, 0, 1, 0, 0, 0, 1, 0}, {primitiveBytes(0, 0, 4, {0, 1, 2})}));
    // mesh 1: version-1 sub-mesh in mode 1 with a mode-1 strip; material index past the list
    b.id({0x20000, 3, 0}).name8("new").u32(1);
    b.append(subMeshBytes(1, 1, 7, {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0},
                          {primitiveBytes(1, 1, 5, {0, 1, 2, 3}), primitiveBytes(1, 2, 9, {})}));
    // mesh 2: morph mesh with one target moving vertex 2
    b.id({0x20000, 11, 0}).name8("morph").u32(1);
    b.append(
        subMeshBytes(1, 1, 0, {0, 0, 0, 1, 0, 0, 0, 1, 0}, {primitiveBytes(1, 1, 4, {0, 1, 2})}));
    b.u32(1).name8("lift").u32(5).i32(2).floats({0, 0, 1}).i32(-1);
    b.u32(5);
    b.append(itemHead({0x20000, 4, 0}, -1, translation(1, 2, 3), "root")).u8(1).u32(2);
    b.append(itemHead({0x20000, 4, 0}, 0, translation(4, 5, 6), "child")).u8(0);
    b.append(itemHead({0x20000, 5, 0}, 7, translation(0, 9, 0), "lamp"));
    b.u32(2).floats({1, 0.5f, 0.25f}).floats({0.1f, 0.2f, 0.3f});
    b.floats({100, 1, 1, 0.5f, 0.25f, 0.3f, 0.6f});
    b.append(itemHead({0x20000, 6, 0}, 1, D3DMATRIX{}, "old cam"));
    b.append(itemHead({0x20000, 6, 1}, -1, D3DMATRIX{}, "new cam")).floats({0.7f, 0.9f});
    b.u32(1).append(texturePoolBytes({}));
    return b;
}

SceneBytes emptyScene() {
    SceneBytes b;
    b.id({0x20000, 2, 0}).null().u32(0).u32(0).u32(0).u32(0);
    return b;
}

} // namespace

TEST_F(SceneFiles, fullSceneReadsBackFieldForField) {
    std::string error;
    gledScene* scene = read(fullScene(), &error);
    ASSERT_NE(scene, nullptr) << error;
    ASSERT_NE(scene->texturePool, nullptr);
    ASSERT_EQ(scene->texturePool->entries.size(), 2u);
    EXPECT_STREQ(scene->texturePool->entries[1].name, "b.png");
    EXPECT_EQ(scene->texturePool->entries[1].id, 2);

    ASSERT_EQ(scene->materials.size(), 2u);
    gledMaterial* red = scene->materials[0];
    EXPECT_STREQ(red->name, "red");
    EXPECT_EQ(red->diffuse[1], 0.5f);
    EXPECT_EQ(red->reserved, 0xabcdu);
    EXPECT_EQ(red->specular[2], 0.3f);
    EXPECT_EQ(red->power, 12.0f);
    EXPECT_EQ(red->flags, 2u);
    ASSERT_EQ(red->stageCount, 3u);
    EXPECT_EQ(red->stages[1].textureId, 2);
    EXPECT_EQ(red->stages[1].colorOp, 101u);
    EXPECT_EQ(red->stages[1].alphaArg2, 106u);
    EXPECT_EQ(red->stages[1].filter, 110u);
    EXPECT_EQ(red->stages[1].unused, 112u);
    EXPECT_EQ(red->blend, 1u);
    EXPECT_EQ(red->sourceBlend, 5u);
    EXPECT_EQ(red->destinationBlend, 6u);
    EXPECT_EQ(red->scene, scene);
    EXPECT_FALSE(scene->texturePool->hasId(0));
    EXPECT_FALSE(scene->texturePool->hasId(9));

    ASSERT_EQ(scene->meshes.size(), 3u);
    auto* old = static_cast<gledD3DMesh*>(scene->meshes[0]);
    EXPECT_STREQ(old->name, "old");
    ASSERT_EQ(old->subMeshes.size(), 1u);
    gledSubMesh* s0 = old->subMeshes[0];
    EXPECT_EQ(s0->storageMode, 0u); // version 0: mode 0
    EXPECT_EQ(s0->material, scene->materials[1]);
    EXPECT_EQ(s0->vertexCount, 3u);
    EXPECT_EQ(s0->vertexData.size(), 36u); // no device: kept in memory
    EXPECT_EQ(s0->primitives[0]->storageMode, 0u);
    EXPECT_EQ(s0->primitives[0]->primitiveCount, 1u);

    gledSubMesh* s1 = static_cast<gledD3DMesh*>(scene->meshes[1])->subMeshes[0];
    EXPECT_EQ(s1->storageMode, 1u);
    EXPECT_EQ(s1->material, nullptr);
    ASSERT_EQ(s1->primitives.size(), 2u);
    EXPECT_EQ(s1->primitives[0]->type, 5u);
    EXPECT_EQ(s1->primitives[0]->primitiveCount, 2u);
    EXPECT_EQ(s1->primitives[0]->indices, (std::vector<uint16_t>{0, 1, 2, 3}));
    EXPECT_EQ(s1->primitives[1]->primitiveCount, 0u); // unknown type

    auto* morph = static_cast<gledMorphMesh*>(scene->findMesh("morph"));
    ASSERT_NE(morph, nullptr);
    ASSERT_EQ(morph->targets.size(), 1u);
    EXPECT_STREQ(morph->targets[0].name, "lift");
    EXPECT_EQ(morph->targets[0].weight, 0.0f);
    morph->setWeight("lift", 1.0f);
    morph->blend();
    EXPECT_EQ(reinterpret_cast<const float*>(morph->parts[0].work.data())[8], 1.0f);

    ASSERT_EQ(scene->items.size(), 5u);
    ASSERT_EQ(scene->objects.size(), 2u);
    EXPECT_EQ(scene->objects[0]->mesh, morph);
    EXPECT_EQ(scene->objects[0]->transform.m[3][2], 3.0f);
    EXPECT_EQ(scene->objects[1]->parent, scene->objects[0]);
    EXPECT_EQ(scene->objects[1]->mesh, nullptr);
    EXPECT_EQ(scene->findObject("child"), scene->objects[1]);
    ASSERT_EQ(scene->lights.size(), 1u);
    gledLight* lamp = scene->lights[0];
    EXPECT_EQ(lamp->parent, nullptr); // index 7 past the two items before it
    EXPECT_EQ(lamp->type, 2u);
    EXPECT_EQ(lamp->specular[1], 0.2f);
    EXPECT_EQ(lamp->range, 100.0f);
    EXPECT_EQ(lamp->attenuation[2], 0.25f);
    EXPECT_EQ(lamp->outerCone, 0.6f);
    EXPECT_EQ(lamp->deviceLight().Position.y, 9.0f);
    ASSERT_EQ(scene->cameras.size(), 2u);
    EXPECT_EQ(scene->cameras[0]->zoomX, 1.0f);
    EXPECT_EQ(scene->cameras[0]->zoomY, 1.5f);
    EXPECT_EQ(scene->cameras[0]->parent, scene->objects[1]);
    EXPECT_EQ(scene->cameras[1]->zoomX, 0.7f);
    EXPECT_EQ(scene->cameras[1]->zoomY, 0.9f);
    ASSERT_EQ(scene->extra.size(), 1u);
    EXPECT_EQ(isObjectOfClass(scene->extra[0], kTexturePoolId), 0);
    EXPECT_EQ(sceneBeingLoaded(), nullptr);
    delete scene;
}

TEST_F(SceneFiles, emptySceneLoads) {
    gledScene* scene = read(emptyScene());
    ASSERT_NE(scene, nullptr);
    EXPECT_TRUE(scene->materials.empty() && scene->meshes.empty() && scene->items.empty());
    EXPECT_EQ(scene->texturePool, nullptr);
    delete scene;
}

TEST_F(SceneFiles, listFailuresNameTheirList) {
    struct Case {
        SceneBytes bytes;
        const char* message;
    };
    SceneBytes unknownMaterial;
    unknownMaterial.id({0x20000, 2, 0}).null().u32(1).id({0x20000, 0x7777, 0});
    SceneBytes wrongClassMesh;
    wrongClassMesh.id({0x20000, 2, 0}).null().u32(0).u32(1).append(materialBytes("m", {}));
    SceneBytes cutItems;
    cutItems.id({0x20000, 2, 0}).null().u32(0).u32(0).u32(2);
    cutItems.append(itemHead({0x20000, 4, 0}, -1, D3DMATRIX{}, "a")).u8(0);
    SceneBytes noMeshCount;
    noMeshCount.id({0x20000, 2, 0}).null().u32(0).u8(1);
    Case cases[] = {{unknownMaterial, "mat load error"},
                    {wrongClassMesh, "mesh load error"},
                    {cutItems, "scene item load error"},
                    {noMeshCount, "mesh load error"}};
    for (Case& c : cases) {
        std::string error;
        EXPECT_EQ(read(c.bytes, &error), nullptr) << c.message;
        EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
    }
    EXPECT_NE(readLog().find("NKOB: failed object is 00020000/00007777.00\n"), std::string::npos);
}

TEST_F(SceneFiles, extraListFailureEndsItSilently) {
    SceneBytes b = emptyScene();
    b.bytes.resize(b.bytes.size() - 4);
    b.u32(2).append(texturePoolBytes({})).id({0x20000, 0x7777, 0});
    gledScene* scene = read(b);
    ASSERT_NE(scene, nullptr);
    EXPECT_EQ(scene->extra.size(), 1u);
    delete scene;
}

TEST_F(SceneFiles, hostileCountsAndSizesAreRefused) {
    SceneBytes hugeMaterials;
    hugeMaterials.id({0x20000, 2, 0}).null().u32(0x80000000u);
    SceneBytes hugeStages;
    hugeStages.id({0x20000, 2, 0}).null().u32(1).id({0x20000, 8, 0}).name8("");
    hugeStages.floats({1, 1, 1}).u32(0).floats({0, 0, 0, 0}).u32(0).u32(0x80000000u);
    SceneBytes sizeMismatch;
    sizeMismatch.id({0x20000, 2, 0}).null().u32(0).u32(1).id({0x20000, 3, 0}).name8("m").u32(1);
    sizeMismatch.id({0x20000, 9, 1}).u32(1).u32(0).u32(4).u32(D3DFVF_XYZ).u32(40);
    SceneBytes indexPast;
    indexPast.id({0x20000, 2, 0}).null().u32(0).u32(1).id({0x20000, 3, 0}).name8("m").u32(1);
    indexPast.append(subMeshBytes(1, 1, 0, {0, 0, 0}, {primitiveBytes(1, 1, 1, {1})}));
    SceneBytes badDelta;
    badDelta.id({0x20000, 2, 0}).null().u32(0).u32(1).id({0x20000, 11, 0}).name8("m").u32(1);
    badDelta.append(subMeshBytes(1, 1, 0, {0, 0, 0}, {}));
    badDelta.u32(1).name8("t").u32(5).i32(1).floats({0, 0, 0}).i32(-1);
    SceneBytes mode0Morph;
    mode0Morph.id({0x20000, 2, 0}).null().u32(0).u32(1).id({0x20000, 11, 0}).name8("m").u32(1);
    mode0Morph.append(subMeshBytes(1, 0, 0, {0, 0, 0}, {})).u32(0);
    for (const SceneBytes* b :
         {&hugeMaterials, &hugeStages, &sizeMismatch, &indexPast, &badDelta, &mode0Morph}) {
        std::string error;
        EXPECT_EQ(read(*b, &error), nullptr);
        EXPECT_FALSE(error.empty());
    }
}

TEST_F(SceneFiles, everyTruncationOfAGoodFileIsRefusedWithoutHarm) {
    SceneBytes whole = fullScene();
    for (size_t length = 0; length < whole.bytes.size(); ++length) {
        SceneBytes part;
        part.raw(whole.bytes.data(), length);
        gledScene* scene = read(part);
        // Only a cut inside the (silent) extra list may still load.
        if (scene) {
            EXPECT_GT(length, whole.bytes.size() - 20);
        }
        delete scene;
    }
}

TEST_F(SceneFiles, deeplyNestedScenesStopAtTheNestingLimit) {
    SceneBytes b;
    const int depth = 1000000;
    b.bytes.reserve(size_t(depth) * 30);
    for (int i = 0; i < depth; ++i)
        b.id({0x20000, 2, 0}).null().u32(0).u32(0).u32(0).u32(1);
    b.u32(0);
    gledScene* scene = read(b);
    ASSERT_NE(scene, nullptr);
    int levels = 0;
    for (gledScene* at = scene; at && !at->extra.empty(); ++levels)
        at = static_cast<gledScene*>(at->extra[0]);
    EXPECT_LT(levels, 100);
    delete scene;
}

// ---- Flat scene files ----

namespace {

// Two textures (names differing in case), one mesh of one triangle, three objects
// (no mesh, parent chain), one light on object 1 with glow, two cameras (none, object 2).
SceneBytes flatScene() {
    SceneBytes b;
    b.u32(2).name16("Lake.dds").name16("lake.DDS");
    b.u32(1).u32(1); // one mesh of one part
    b.u32(3).u32(D3DFVF_XYZ).u32(36).floats({0, 0, 0, 1, 0, 0, 0, 1, 0});
    b.u32(0x00ff8040).u32(1).u32(2).u32(1).u32(0x21).u32(1).u32(4).u32(3).u16(0).u16(1).u16(2);
    b.floats({-1, -2, -3, 1, 2, 3});
    b.u32(3);
    b.i32(0).i32(-1).append(constantTrack({1, 2, 3, 0, 0, 0, 1, 1, 1})).floats({0, 0, 0});
    b.cstring("root");
    b.i32(-1).i32(0).append(constantTrack({0, 0, 0, 0, 0, 0, 1, 1, 1})).floats({1, 1, 1});
    b.cstring("");
    b.i32(-1).i32(1).append(constantTrack({0, 0, 0, 0, 0, 0, 1, 1, 1})).floats({0, 0, 0});
    b.cstring("leaf");
    b.u32(1).i32(1).append(constantTrack({0, 1, 0})).append(constantTrack({0.8f}));
    b.u32(1).append(constantTrack({255, 128, 64, 2}));
    b.floats({0, 0.1f, 0.01f, 1, 0.5f, 0.25f, 10});
    b.u32(2);
    b.append(constantTrack({0, 0, -10, 0, 0, 0, 1, 1, 1})).append(constantTrack({1})).i32(0);
    b.append(constantTrack({0, 0, -10, 0, 0, 0, 1, 1, 1})).append(constantTrack({2})).i32(3);
    b.f32(25).u32(0x102030);
    return b;
}

} // namespace

TEST_F(SceneFiles, flatSceneReadsEveryTableAndResolvesIndices) {
    std::string error;
    FlatScene* scene = readFlat(flatScene(), &error);
    ASSERT_NE(scene, nullptr) << error;
    EXPECT_EQ(scene->textureNames, (std::vector<std::string>{"Lake.dds", "lake.DDS"}));
    ASSERT_EQ(scene->meshes.size(), 1u);
    const FlatPart& part = scene->meshes[0].parts[0];
    EXPECT_EQ(part.colour, 0x00ff8040u);
    EXPECT_EQ(part.texture2, 2u);
    EXPECT_EQ(part.filter, 0x21u);
    EXPECT_EQ(part.primitives[0].primitiveCount, 1u);
    EXPECT_EQ(scene->meshes[0].box[5], 3.0f);
    ASSERT_EQ(scene->objects.size(), 3u);
    EXPECT_EQ(scene->objects[0].mesh, &scene->meshes[0]);
    EXPECT_EQ(scene->objects[1].mesh, nullptr);
    EXPECT_EQ(scene->objects[1].parent, &scene->objects[0]);
    EXPECT_EQ(scene->objects[2].parent, &scene->objects[1]);
    EXPECT_STREQ(scene->objects[2].name, "leaf");
    EXPECT_EQ(scene->objects[1].pivot[2], 1.0f);
    EXPECT_EQ(scene->objects[0].track.keyValues(0)[2], 3.0f);
    ASSERT_EQ(scene->lights.size(), 1u);
    EXPECT_EQ(scene->lights[0].object, &scene->objects[1]);
    EXPECT_TRUE(scene->lights[0].hasGlow);
    EXPECT_EQ(scene->lights[0].glow.valueCount, 4);
    EXPECT_EQ(scene->lights[0].values[6], 10.0f);
    ASSERT_EQ(scene->cameras.size(), 2u);
    EXPECT_EQ(scene->cameras[0].object, nullptr);
    EXPECT_EQ(scene->cameras[1].object, &scene->objects[2]);
    EXPECT_EQ(scene->animationRate, 25.0f);
    EXPECT_EQ(scene->ambientColour, 0x102030u);
    EXPECT_EQ(scene->ambientLevel, 1.0f);
    EXPECT_EQ(scene->lightWork[0].size(), 20u);
    EXPECT_EQ(scene->lightWork[1].size(), 72u);
    EXPECT_NE(readLog().find("GLED: scene has 2 textures, 1 physobjects, 3 objects\n"),
              std::string::npos);
    freeFlatScene(scene);
}

TEST_F(SceneFiles, flatSceneDamageIsRefusedNamingTheTable) {
    auto patched = [](size_t at, uint32_t value) {
        SceneBytes b = flatScene();
        for (int i = 0; i < 4; ++i)
            b.bytes[at + size_t(i)] = uint8_t(value >> (8 * i));
        return b;
    };
    SceneBytes good = flatScene();
    // Offsets into flatScene(): texture count 0; part vertex size 32; texture 1 at 84;
    // first object's mesh index right after the mesh table.
    const size_t meshTable = 4 + 10 + 10;
    const size_t partStart = meshTable + 8;
    const size_t objects = partStart + 12 + 36 + 20 + 4 + 8 + 6 + 24;
    struct Case {
        SceneBytes bytes;
        const char* table;
    } cases[] = {
        {patched(0, 0x80000000u), "textures"},
        {patched(meshTable, 0x80000000u), "physobjects"},
        {patched(partStart + 8, 40), "physobjects"},          // size disagrees with the format
        {patched(partStart + 12 + 36 + 4, 3), "physobjects"}, // texture past the table
        {patched(objects + 4, 0x80000000u), "objects"},
        {patched(objects + 8, 1), "objects"},  // mesh index past the table
        {patched(objects + 12, 2), "objects"}, // root's parent: the leaf, a cycle
    };
    for (Case& c : cases) {
        std::string error;
        EXPECT_EQ(readFlat(c.bytes, &error), nullptr) << c.table;
        EXPECT_NE(error.find(std::string("table '") + c.table + "'"), std::string::npos) << error;
    }
    for (size_t length = 0; length < good.bytes.size(); ++length) {
        SceneBytes part;
        part.raw(good.bytes.data(), length);
        EXPECT_EQ(readFlat(part), nullptr) << length;
    }
}

TEST_F(SceneFiles, flatTrackKeysOutOfOrderAreRefused) {
    SceneBytes b;
    b.u32(0).u32(0).u32(1).i32(-1).i32(-1);
    b.append(trackBytes(9, {{std::vector<float>(9, 0.0f), 0}, {std::vector<float>(9, 1.0f), 0}}));
    b.floats({0, 0, 0}).cstring("o").u32(0).u32(0).f32(1).u32(0);
    std::string error;
    EXPECT_EQ(readFlat(b, &error), nullptr);
    EXPECT_NE(error.find("ascending"), std::string::npos) << error;
}

TEST(SceneFilesDeathTest, refusedFlatFileIsFatalNamingFileAndTable) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    SceneBytes b;
    b.u32(0x7fffffff);
    FILE* f = fopen("broken.scene", "wb");
    fwrite(b.bytes.data(), 1, b.bytes.size(), f);
    fclose(f);
    EXPECT_EXIT(
        {
            logSetFile("fatal.txt");
            setErrorDialogEnabled(false);
            initFileSystem();
            loadFlatScene("broken.scene");
        },
        testing::ExitedWithCode(1), "flat scene file 'broken.scene' refused: table 'textures'");
}

TEST(SceneFilesDeathTest, refusedObjectFileIsFatalWithTheListsMessageAndTheFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    SceneBytes b;
    b.id({0x20000, 2, 0}).null().u32(1).id({0x20000, 0x7777, 0});
    FILE* f = fopen("broken.gled", "wb");
    fwrite(b.bytes.data(), 1, b.bytes.size(), f);
    fclose(f);
    EXPECT_EXIT(
        {
            logSetFile("fatal.txt");
            setErrorDialogEnabled(false);
            initFileSystem();
            initClassRegistry();
            registerSceneClasses();
            loadObjectScene("broken.gled");
        },
        testing::ExitedWithCode(1), "mat load error: an unknown class.*broken.gled");
}
