// Object and class system of the 3D scene engine.
//
// Scene objects are reference-counted `nkObject`s with a numeric class identity (`ClassId`).
// A process-wide registry creates an empty object of a class from its identity; objects
// answer `queryInterface` for their class info, their own identity and the persistent
// interface, and persistent ones read themselves from an `ObjectStream`. A scene file is one
// serialised object graph: each object is its 10-byte identity followed by what its class's
// `load` reads.
//
// Start-up calls `initClassRegistry` before anything creates objects and shutdown calls
// `closeClassRegistry`; the scene classes enter the registry through `registerSceneClasses`
// (scene/scene.h) the first time a scene view is made. Log lines begin with "NKOB: ".
#pragma once

#include "data/stream.h"

#include <cstdint>

struct ClassId {
    uint32_t group = 0;   // 0 object system, 0x20000 scene classes, 0x20002 controllable camera
    uint32_t number = 0;  // class within the group
    uint16_t version = 0; // format version
};
constexpr int32_t kClassIdBytes = 10; // in a stream: group, number, version, little-endian

inline bool sameClass(const ClassId& a, const ClassId& b) {
    return a.group == b.group && a.number == b.number;
}
inline bool sameIdentity(const ClassId& a, const ClassId& b) {
    return sameClass(a, b) && a.version == b.version;
}
inline bool isNullClassId(const ClassId& id) {
    return id.group == 0 && id.number == 0 && id.version == 0;
}

inline constexpr ClassId kClassInfoId{0, 1, 0};
inline constexpr ClassId kObjectId{0, 2, 0};
inline constexpr ClassId kPersistentId{0, 0x10000, 0};

// Result codes of the object system and the scene loaders.
enum ObjectResult : int32_t {
    kObjectOk = 0,
    kObjectNull = 1,          // null output or object, or a create function returned null
    kObjectNoInterface = 2,   // interface not supported
    kObjectNotRegistered = 4, // class not registered
    kObjectDuplicate = 5,     // same group and number with an equal or newer version registered
    kRegistryMissing = 6,     // registry not initialised
    kRegistryExists = 7,      // registry already initialised
    kObjectNotImplemented = 8,
    kStreamNoClassId = 0x10000,   // the stream could not deliver a class identity
    kStreamNoCount = 0x10001,     // the stream could not deliver an element count
    kStreamNoClassRoom = 0x10002, // the stream could not take a class identity
};

class nkObject {
  public:
    nkObject() { addRef(); }
    virtual ~nkObject() = default;
    virtual int32_t addRef() { return ++referenceCount; }
    virtual int32_t queryInterface(const ClassId& id, nkObject** out);
    virtual int32_t release();

    int32_t references() const { return referenceCount; }

    nkObject(const nkObject&) = delete;
    nkObject& operator=(const nkObject&) = delete;

  private:
    int32_t referenceCount = 0;
};

class nkClassInfo : public nkObject {
  public:
    nkClassInfo(const ClassId* id, const char* name) : classId(id), className(name) {}
    int32_t queryInterface(const ClassId& id, nkObject** out) override;
    // With the class-info identity: a new class info describing "nkClassInfo" itself.
    virtual int32_t describeSelf(const ClassId& id, nkObject** out);
    virtual const ClassId* getClassId() const { return classId; }
    virtual const char* getClassName() const { return className; }

  private:
    const ClassId* classId;
    const char* className;
};

class ObjectStream;

class nkPersistent : public nkObject {
  public:
    int32_t queryInterface(const ClassId& id, nkObject** out) override;
    // storedId: the identity exactly as read, so a class can read older versions.
    virtual int32_t load(ObjectStream* stream, const ClassId& storedId);
    virtual int32_t save(ObjectStream* stream);
};

// Answers the class-info query for a class: a new nkClassInfo in *out.
int32_t answerClassInfo(const ClassId* id, const char* name, nkObject** out);

struct ClassFactory {
    const ClassId* id = nullptr;     // its version is the newest the class reads
    nkObject* (*create)() = nullptr; // a new object (count 1), null when out of memory
};

int32_t initClassRegistry();
int32_t closeClassRegistry();
bool hasClassRegistry();
int32_t registerClass(const ClassFactory& factory);
int32_t createObject(const ClassId& wanted, nkObject** out);
int32_t isClassRegistered(const ClassId& id);
int32_t forEachClass(int32_t (*callback)(const ClassFactory& entry, void* userData),
                     void* userData);

// 0 when obj's class identity equals id in all three fields.
int32_t isObjectOfClass(nkObject* obj, const ClassId& id);
// The code of queryInterface (0: supported).
int32_t supportsInterface(nkObject* obj, const ClassId& id);

// A stream that reads and writes objects; everything else forwards to an inner stream.
class ObjectStream : public Stream {
  public:
    ObjectStream(Stream* inner, bool ownsInner) : inner(inner), ownsInner(ownsInner) {}
    ~ObjectStream() override;
    void close() override { inner->close(); }
    int32_t read(void* buffer, int32_t count) override { return inner->read(buffer, count); }
    int32_t write(const void* buffer, int32_t count) override {
        return inner->write(buffer, count);
    }
    int32_t seek(int32_t position) override { return inner->seek(position); }
    int32_t seekRelative(int32_t delta) override { return inner->seekRelative(delta); }
    int32_t seekFromEnd(int32_t delta) override { return inner->seekFromEnd(delta); }
    int32_t flush() override { return inner->flush(); }
    int32_t tell() override { return inner->tell(); }
    int32_t size() override { return inner->size(); }

    int32_t readObject(nkObject** out);
    int32_t writeObject(nkObject* obj);

    // Bytes between the position and the end (0 when the stream cannot tell).
    int64_t remaining();

  private:
    Stream* inner;
    bool ownsInner;
};
