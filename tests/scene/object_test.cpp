// Object system: registry codes, the version rule, queries, reference counts, object streams.
#include "scene/object.h"
#include "scene/scene.h"

#include "platform/log.h"
#include "scene_writer.h"

#include <gtest/gtest.h>

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

struct Registry : ::testing::Test {
    void SetUp() override {
        logSetFile("log.txt");
        closeClassRegistry();
        ASSERT_EQ(initClassRegistry(), 0);
    }
    void TearDown() override { closeClassRegistry(); }
};

int32_t countEntries(const ClassFactory&, void* user) {
    ++*static_cast<int*>(user);
    return 0;
}

int deletions = 0;
struct Counted : nkPersistent {
    ~Counted() override { ++deletions; }
};
constexpr ClassId kCountedV1{0x30000, 1, 1};
constexpr ClassId kCountedV0{0x30000, 1, 0};
nkObject* createCounted() {
    return new Counted;
}

} // namespace

TEST(ObjectRegistry, initAndCloseReportTheirState) {
    closeClassRegistry();
    EXPECT_EQ(closeClassRegistry(), 6);
    EXPECT_EQ(registerClass({&kCountedV1, createCounted}), 6);
    nkObject* out = nullptr;
    EXPECT_EQ(createObject(kCountedV1, &out), 6);
    EXPECT_EQ(isClassRegistered(kCountedV1), 6);
    int n = 0;
    EXPECT_EQ(forEachClass(countEntries, &n), 6);
    EXPECT_EQ(initClassRegistry(), 0);
    EXPECT_EQ(initClassRegistry(), 7);
    EXPECT_EQ(closeClassRegistry(), 0);
}

TEST_F(Registry, secondRegistrationAndOlderVersionAreRefusedWithOneEntryKept) {
    EXPECT_EQ(registerClass({&kCountedV1, createCounted}), 0);
    EXPECT_EQ(registerClass({&kCountedV1, createCounted}), 5);
    EXPECT_EQ(registerClass({&kCountedV0, createCounted}), 5);
    int n = 0;
    EXPECT_EQ(forEachClass(countEntries, &n), 0);
    EXPECT_EQ(n, 1);
}

TEST_F(Registry, versionRuleTakesOlderRequestsAndRefusesNewerOnesWithTheLogLine) {
    registerSceneClasses();
    nkObject* camera = nullptr;
    ASSERT_EQ(createObject({0x20000, 6, 0}, &camera), 0);
    EXPECT_EQ(isObjectOfClass(camera, {0x20000, 6, 1}), 0);
    camera->release();
    nkObject* out = nullptr;
    EXPECT_EQ(createObject({0x20000, 6, 2}, &out), 4);
    EXPECT_EQ(createObject({0x20002, 0, 0}, &out), 4); // the controllable camera is no file class
    EXPECT_EQ(createObject({0x20000, 6, 0}, nullptr), 1);
    std::string log = readLog();
    EXPECT_NE(log.find("NKOB: failed object is 00020000/00000006.02\n"), std::string::npos) << log;
    EXPECT_NE(log.find("NKOB: failed object is 00020002/00000000.00\n"), std::string::npos);
    int n = 0;
    forEachClass(countEntries, &n);
    EXPECT_EQ(n, 10);
}

TEST_F(Registry, createdObjectHoldsOneReferenceAndOneReleaseDeletesIt) {
    registerClass({&kCountedV1, createCounted});
    nkObject* object = nullptr;
    ASSERT_EQ(createObject(kCountedV1, &object), 0);
    EXPECT_EQ(object->references(), 1);
    deletions = 0;
    EXPECT_EQ(object->addRef(), 2);
    EXPECT_EQ(object->release(), 1);
    EXPECT_EQ(deletions, 0);
    EXPECT_EQ(object->release(), 0);
    EXPECT_EQ(deletions, 1);
}

TEST_F(Registry, classInfoNamesTheMostDerivedClassWithANewObjectPerCall) {
    registerSceneClasses();
    struct Expect {
        ClassId id;
        const char* name;
    } expected[] = {
        {{0x20000, 1, 0}, "gledTexturePool"}, {{0x20000, 2, 0}, "gledScene"},
        {{0x20000, 3, 0}, "gledD3DMesh"},     {{0x20000, 4, 0}, "gledObject"},
        {{0x20000, 5, 0}, "gledLight"},       {{0x20000, 6, 1}, "gledCamera"},
        {{0x20000, 7, 1}, "gledPrimitive"},   {{0x20000, 8, 0}, "gledMaterial"},
        {{0x20000, 9, 1}, "gledSubMesh"},     {{0x20000, 11, 0}, "gledMorphMesh"},
    };
    for (const Expect& e : expected) {
        nkObject* object = nullptr;
        ASSERT_EQ(createObject(e.id, &object), 0) << e.name;
        nkObject* first = nullptr;
        nkObject* second = nullptr;
        ASSERT_EQ(object->queryInterface(kClassInfoId, &first), 0);
        ASSERT_EQ(object->queryInterface(kClassInfoId, &second), 0);
        EXPECT_NE(first, second);
        auto* info = static_cast<nkClassInfo*>(first);
        EXPECT_STREQ(info->getClassName(), e.name);
        EXPECT_TRUE(sameIdentity(*info->getClassId(), e.id)) << e.name;
        EXPECT_EQ(supportsInterface(object, kPersistentId), 0) << e.name;
        EXPECT_EQ(supportsInterface(object, e.id), 0) << e.name;
        nkObject* self = nullptr;
        EXPECT_EQ(info->describeSelf(kClassInfoId, &self), 0);
        EXPECT_STREQ(static_cast<nkClassInfo*>(self)->getClassName(), "nkClassInfo");
        self->release();
        EXPECT_EQ(info->describeSelf(kObjectId, &self), 2);
        first->release();
        second->release();
        EXPECT_EQ(object->references(), 1) << e.name;
        object->release();
    }
    // Meshes answer their abstract base too; an item answers no other item's identity.
    nkObject* mesh = nullptr;
    createObject({0x20000, 11, 0}, &mesh);
    EXPECT_EQ(supportsInterface(mesh, {0x20000, 10, 0}), 0);
    EXPECT_EQ(supportsInterface(mesh, {0x20000, 3, 0}), 2);
    mesh->release();
    EXPECT_EQ(supportsInterface(nullptr, kPersistentId), 1);
    EXPECT_EQ(isObjectOfClass(nullptr, kSceneId), 1);
}

TEST_F(Registry, controllableCameraAnswersItselfButNotTheCameraIdentity) {
    gledScene scene;
    gledControllableCamera* camera = scene.addControllableCamera(nullptr, "free");
    nkObject* info = nullptr;
    ASSERT_EQ(camera->queryInterface(kClassInfoId, &info), 0);
    EXPECT_STREQ(static_cast<nkClassInfo*>(info)->getClassName(), "gledControllableCamera");
    info->release();
    EXPECT_EQ(supportsInterface(camera, kCameraId), 2);
    EXPECT_EQ(supportsInterface(camera, kControllableCameraId), 0);
    EXPECT_EQ(supportsInterface(camera, kPersistentId), 0);
    EXPECT_EQ(isObjectOfClass(camera, kCameraId), 1);
}

TEST_F(Registry, readObjectGivesNullForZeroIdentityAndGoesOnAfterItsTenBytes) {
    registerSceneClasses();
    SceneBytes b;
    b.null().append(texturePoolBytes({})).u8(0xee);
    std::unique_ptr<MemoryStream> memory(b.stream());
    ObjectStream stream(memory.get(), false);
    nkObject* object = reinterpret_cast<nkObject*>(&b); // must be overwritten
    EXPECT_EQ(stream.readObject(&object), 0);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(stream.tell(), 10);
    ASSERT_EQ(stream.readObject(&object), 0);
    EXPECT_EQ(isObjectOfClass(object, kTexturePoolId), 0);
    EXPECT_EQ(stream.tell(), 24);
    object->release();
    EXPECT_EQ(stream.readObject(nullptr), 1);
    EXPECT_EQ(stream.readObject(&object), 0x10000); // one byte left
}

TEST_F(Registry, writeObjectWritesIdentityThenAsksSaveAndRefusesUnregisteredClasses) {
    registerSceneClasses();
    auto* memory = new MemoryStream;
    memory->reserve(64);
    ObjectStream stream(memory, false);
    EXPECT_EQ(stream.writeObject(nullptr), 0);
    gledMaterial material;
    EXPECT_EQ(stream.writeObject(&material), 8); // no class implements save
    uint8_t expected[20] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 8, 0, 0, 0, 0, 0};
    EXPECT_EQ(memcmp(memory->data(), expected, 20), 0);
    gledScene scene;
    EXPECT_EQ(stream.writeObject(scene.addControllableCamera(nullptr, "c")), 4);
    EXPECT_EQ(stream.tell(), 20);
    memory->seek(0);
    delete memory;
}
