// Object model: root classes, the class registry and object streams.
#include "scene/object.h"

#include "platform/log.h"

#include <new>
#include <vector>

namespace {

std::vector<ClassFactory>* registry = nullptr;

bool matches(const ClassFactory& entry, const ClassId& wanted) {
    return sameClass(*entry.id, wanted) && entry.id->version >= wanted.version;
}

const ClassFactory* findEntry(const ClassId& wanted) {
    for (const ClassFactory& entry : *registry)
        if (matches(entry, wanted)) return &entry;
    return nullptr;
}

void putClassId(uint8_t* bytes, const ClassId& id) {
    for (int i = 0; i < 4; ++i)
        bytes[i] = uint8_t(id.group >> (8 * i));
    for (int i = 0; i < 4; ++i)
        bytes[4 + i] = uint8_t(id.number >> (8 * i));
    bytes[8] = uint8_t(id.version);
    bytes[9] = uint8_t(id.version >> 8);
}

ClassId takeClassId(const uint8_t* bytes) {
    ClassId id;
    for (int i = 0; i < 4; ++i)
        id.group |= uint32_t(bytes[i]) << (8 * i);
    for (int i = 0; i < 4; ++i)
        id.number |= uint32_t(bytes[4 + i]) << (8 * i);
    id.version = uint16_t(bytes[8] | bytes[9] << 8);
    return id;
}

} // namespace

// ---- Root classes ----

int32_t answerClassInfo(const ClassId* id, const char* name, nkObject** out) {
    if (!out) return kObjectNull;
    *out = new (std::nothrow) nkClassInfo(id, name);
    return *out ? kObjectOk : kObjectNull;
}

int32_t nkObject::queryInterface(const ClassId& id, nkObject** out) {
    if (!out) return kObjectNull;
    if (sameIdentity(id, kClassInfoId)) return answerClassInfo(&kObjectId, "nkObject", out);
    return kObjectNoInterface;
}

int32_t nkObject::release() {
    int32_t left = --referenceCount;
    if (left == 0) delete this;
    return left;
}

int32_t nkClassInfo::queryInterface(const ClassId& id, nkObject** out) {
    if (!out) return kObjectNull;
    if (sameIdentity(id, kClassInfoId)) return answerClassInfo(&kClassInfoId, "nkClassInfo", out);
    return nkObject::queryInterface(id, out);
}

int32_t nkClassInfo::describeSelf(const ClassId& id, nkObject** out) {
    if (!sameIdentity(id, kClassInfoId)) return kObjectNoInterface;
    return answerClassInfo(&kClassInfoId, "nkClassInfo", out);
}

int32_t nkPersistent::queryInterface(const ClassId& id, nkObject** out) {
    if (!out) return kObjectNull;
    if (sameIdentity(id, kPersistentId)) {
        *out = this;
        addRef();
        return kObjectOk;
    }
    return nkObject::queryInterface(id, out);
}

int32_t nkPersistent::load(ObjectStream*, const ClassId&) {
    return kObjectNotImplemented;
}

int32_t nkPersistent::save(ObjectStream*) {
    return kObjectNotImplemented;
}

// ---- Registry ----

int32_t initClassRegistry() {
    if (registry) return kRegistryExists;
    registry = new std::vector<ClassFactory>;
    return kObjectOk;
}

int32_t closeClassRegistry() {
    if (!registry) return kRegistryMissing;
    delete registry;
    registry = nullptr;
    return kObjectOk;
}

bool hasClassRegistry() {
    return registry != nullptr;
}

int32_t registerClass(const ClassFactory& factory) {
    if (!registry) return kRegistryMissing;
    if (!factory.id || !factory.create) return kObjectNull;
    for (const ClassFactory& entry : *registry)
        if (sameClass(*entry.id, *factory.id) && entry.id->version >= factory.id->version)
            return kObjectDuplicate;
    registry->push_back(factory);
    return kObjectOk;
}

int32_t createObject(const ClassId& wanted, nkObject** out) {
    if (!registry) return kRegistryMissing;
    if (!out) return kObjectNull;
    const ClassFactory* entry = findEntry(wanted);
    if (!entry) {
        logf("NKOB: failed object is %08x/%08x.%02x\n", wanted.group, wanted.number,
             unsigned(wanted.version));
        return kObjectNotRegistered;
    }
    *out = entry->create();
    return *out ? kObjectOk : kObjectNull;
}

int32_t isClassRegistered(const ClassId& id) {
    if (!registry) return kRegistryMissing;
    return findEntry(id) ? kObjectOk : kObjectNotRegistered;
}

int32_t forEachClass(int32_t (*callback)(const ClassFactory& entry, void* userData),
                     void* userData) {
    if (!registry) return kRegistryMissing;
    for (const ClassFactory& entry : *registry)
        if (int32_t result = callback(entry, userData)) return result;
    return kObjectOk;
}

// ---- Object operations ----

int32_t isObjectOfClass(nkObject* obj, const ClassId& id) {
    if (!obj) return kObjectNull;
    nkObject* info = nullptr;
    if (int32_t result = obj->queryInterface(kClassInfoId, &info)) return result;
    bool equal = sameIdentity(*static_cast<nkClassInfo*>(info)->getClassId(), id);
    info->release();
    return equal ? kObjectOk : kObjectNull;
}

int32_t supportsInterface(nkObject* obj, const ClassId& id) {
    if (!obj) return kObjectNull;
    nkObject* answer = nullptr;
    int32_t result = obj->queryInterface(id, &answer);
    if (result == kObjectOk && answer) answer->release();
    return result;
}

// ---- Object streams ----

ObjectStream::~ObjectStream() {
    if (ownsInner) inner->close();
}

int64_t ObjectStream::remaining() {
    int64_t left = int64_t(size()) - tell();
    return left > 0 ? left : 0;
}

int32_t ObjectStream::readObject(nkObject** out) {
    if (!out) return kObjectNull;
    uint8_t bytes[kClassIdBytes];
    if (inner->read(bytes, kClassIdBytes) != kClassIdBytes) return kStreamNoClassId;
    ClassId id = takeClassId(bytes);
    if (isNullClassId(id)) {
        *out = nullptr;
        return kObjectOk;
    }
    if (int32_t result = createObject(id, out)) return result;
    nkObject* persistent = nullptr;
    if ((*out)->queryInterface(kPersistentId, &persistent) != kObjectOk) return kObjectOk;
    persistent->release();
    return static_cast<nkPersistent*>(persistent)->load(this, id);
}

int32_t ObjectStream::writeObject(nkObject* obj) {
    uint8_t bytes[kClassIdBytes] = {};
    if (!obj) return inner->write(bytes, kClassIdBytes) == kClassIdBytes ? 0 : kStreamNoClassRoom;
    nkObject* info = nullptr;
    if (int32_t result = obj->queryInterface(kClassInfoId, &info)) return result;
    const ClassId id = *static_cast<nkClassInfo*>(info)->getClassId();
    info->release();
    if (isClassRegistered(id) != kObjectOk) return kObjectNotRegistered;
    putClassId(bytes, id);
    if (inner->write(bytes, kClassIdBytes) != kClassIdBytes) return kStreamNoClassRoom;
    nkObject* persistent = nullptr;
    if (obj->queryInterface(kPersistentId, &persistent) != kObjectOk) return kObjectOk;
    persistent->release();
    return static_cast<nkPersistent*>(persistent)->save(this);
}
