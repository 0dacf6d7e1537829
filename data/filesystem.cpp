// NamedCache, the FileSystem with its request alternatives, archive discovery, and the
// preferred-archive functions.
#include "data/filesystem.h"

#include "data/depacker.h"
#include "platform/log.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <strings.h>
#include <vector>

// ---- NamedCache ------------------------------------------------------------------------

namespace {
constexpr size_t kNameLength = 255; // names compare and are kept in their first 255 characters
}

struct NamedCache::Entry {
    char name[kNameLength + 1] = {};
    int32_t references = 0;
    int32_t size = 0;
    void* object = nullptr;
    bool loaded = false; // made by load (an inserted object belongs to whoever inserted it)
};

struct NamedCache::Impl {
    std::mutex mutex;
    std::vector<Entry*> entries;
    bool keepUnused = false;

    Entry* find(const char* name) {
        for (Entry* entry : entries)
            if (strncasecmp(entry->name, name, kNameLength) == 0) return entry;
        return nullptr;
    }
    void append(const char* name, void* object, int32_t size) {
        Entry* entry = new Entry;
        strncpy(entry->name, name, kNameLength);
        entry->references = 1;
        entry->size = size;
        entry->object = object;
        entries.push_back(entry);
    }
};

NamedCache::NamedCache() : impl(new Impl) {}

// The derived class unloads its entries (releaseAll) before this runs; what is left is
// only forgotten, since unload can no longer be called.
NamedCache::~NamedCache() {
    for (Entry* entry : impl->entries)
        delete entry;
    delete impl;
}

int32_t NamedCache::acquire(const char* name, void** object, int32_t* size) {
    if (!name) return 0;
    std::lock_guard<std::mutex> lock(impl->mutex);
    if (Entry* entry = impl->find(name)) {
        ++entry->references;
        if (object) *object = entry->object;
        if (size) *size = entry->size;
        return 1;
    }
    void* loaded = nullptr;
    int32_t loadedSize = 0;
    if (!load(name, &loaded, &loadedSize)) return 0;
    impl->append(name, loaded, loadedSize);
    impl->entries.back()->loaded = true;
    if (object) *object = loaded;
    if (size) *size = loadedSize;
    return 1;
}

int32_t NamedCache::insert(const char* name, void* object, int32_t size) {
    if (!name) return 0;
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->append(name, object, size);
    return 1;
}

void NamedCache::release(void* object) {
    std::lock_guard<std::mutex> lock(impl->mutex);
    auto it = std::find_if(impl->entries.begin(), impl->entries.end(),
                           [&](Entry* entry) { return entry->object == object; });
    if (it == impl->entries.end()) return;
    Entry* entry = *it;
    if (--entry->references > 0 || (impl->keepUnused && entry->loaded)) return;
    unload(entry->object);
    impl->entries.erase(it);
    delete entry;
}

void NamedCache::releaseAll() {
    std::lock_guard<std::mutex> lock(impl->mutex);
    for (Entry* entry : impl->entries) {
        unload(entry->object);
        delete entry;
    }
    impl->entries.clear();
}

void NamedCache::keepUnused(bool keep) {
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->keepUnused = keep;
    if (keep) return;
    auto unused = std::stable_partition(impl->entries.begin(), impl->entries.end(),
                                        [](Entry* entry) { return entry->references > 0; });
    for (auto it = unused; it != impl->entries.end(); ++it) {
        unload((*it)->object);
        delete *it;
    }
    impl->entries.erase(unused, impl->entries.end());
}

int32_t NamedCache::count() {
    std::lock_guard<std::mutex> lock(impl->mutex);
    return int32_t(impl->entries.size());
}

// ---- FileSystem ------------------------------------------------------------------------

namespace {

FileSystem* theFileSystem = nullptr;

// "res:" and a number: hexadecimal after "0x", else decimal. false when it is not a number.
bool parseResourceNumber(const char* text, int32_t* number) {
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    if (!*text) return false;
    char* end = nullptr;
    unsigned long value = strtoul(text, &end, base);
    if (*end) return false;
    *number = int32_t(value & 0xffff);
    return true;
}

} // namespace

bool isProductionFileName(const char* name) {
    if (!name) return false;
    if (name[0] == '/' || name[0] == '\\') return false;
    if (((name[0] | 0x20) >= 'a' && (name[0] | 0x20) <= 'z') && name[1] == ':') return false;
    int depth = 0;
    for (const char* part = name; *part;) {
        size_t length = strcspn(part, "/\\");
        if (length == 2 && part[0] == '.' && part[1] == '.') {
            if (--depth < 0) return false;
        } else if (length > 0 && !(length == 1 && part[0] == '.')) {
            ++depth;
        }
        part += length;
        if (*part) ++part;
    }
    return true;
}

FileSystem::~FileSystem() {
    releaseAll();
}

int32_t FileSystem::load(const char* request, void** object, int32_t* size) {
    if (!request) return 0;
    const char* start = request;
    for (;;) {
        const char* end = strchr(start, '|');
        size_t length = end ? size_t(end - start) : strlen(start);
        std::string alternative(start, std::min(length, kNameLength));
        Stream* stream = nullptr;
        int32_t streamSize = 0;
        if (strncasecmp(alternative.c_str(), "res:", 4) == 0) {
            int32_t number = 0;
            MemoryStream* resource = new MemoryStream;
            if (parseResourceNumber(alternative.c_str() + 4, &number) &&
                resource->loadResource(number)) {
                stream = resource;
                streamSize = resource->size();
            } else {
                delete resource;
            }
        } else if (!isProductionFileName(alternative.c_str())) {
            logf("NCCF: file '%s' lies outside the production folder, not opened\n",
                 alternative.c_str());
        } else if (archives.openFile(alternative.c_str())) {
            streamSize = archives.fileSize();
            stream = archives.takeFile();
        }
        if (stream) {
            stream->seek(0);
            if (object) *object = stream;
            if (size) *size = streamSize;
            return 1;
        }
        if (!end) return 0;
        start = end + 1;
    }
}

void FileSystem::unload(void*& object) {
    delete static_cast<Stream*>(object);
    object = nullptr;
}

namespace {

// "*.ncc" of the current directory (any letter case, as the Windows pattern matches), in
// name order.
std::vector<std::string> archivesOfCurrentDirectory() {
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator it(".", error);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        std::string name = it->path().filename().string();
        if (name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".ncc") == 0 &&
            it->is_regular_file(error))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

void initFileSystem() {
    if (theFileSystem) return;
    theFileSystem = new FileSystem;
    for (const std::string& name : archivesOfCurrentDirectory()) {
        logf("FLPL: Adding NCC file '%s': ", name.c_str());
        // A file that does not open has size 0 and is rejected as too small.
        FileStream* stream = new FileStream;
        stream->open(name.c_str(), kFileRead | kFileOpenExisting);
        setDepackerSubject(("archive '" + name + "'").c_str());
        theFileSystem->archives.addArchive(stream, true);
        setDepackerSubject(nullptr);
    }
    theFileSystem->archives.resolvePatches();
}

void closeFileSystem() {
    delete theFileSystem; // unloads every cached entry, then closes the archives
    theFileSystem = nullptr;
}

FileSystem* fileSystem() {
    return theFileSystem;
}

Stream* openFile(const char* request, int32_t* size) {
    void* stream = nullptr;
    if (!theFileSystem || !theFileSystem->load(request, &stream, size)) return nullptr;
    return static_cast<Stream*>(stream);
}

void closeFile(Stream* stream) {
    void* object = stream;
    if (theFileSystem)
        theFileSystem->unload(object);
    else
        delete stream;
}

// ---- preferred archive -----------------------------------------------------------------

namespace {

const ArchiveRecord* choiceAt(int32_t index) {
    if (!theFileSystem) return nullptr;
    const std::vector<ArchiveRecord*>& choices = theFileSystem->archives.choices();
    if (index < 0 || size_t(index) >= choices.size()) return nullptr;
    return choices[size_t(index)];
}

int32_t copyInto(const char* text, char* buffer, int32_t length) {
    if (!buffer || length <= 0) return 0;
    size_t n = std::min(strlen(text), size_t(length - 1));
    memcpy(buffer, text, n);
    buffer[n] = 0;
    return 1;
}

} // namespace

int32_t archiveChoiceCount() {
    return theFileSystem ? int32_t(theFileSystem->archives.choices().size()) : 0;
}

int32_t archiveChoiceId(int32_t index, char* buffer, int32_t length) {
    const ArchiveRecord* choice = choiceAt(index);
    return choice ? copyInto(choice->id, buffer, length) : 0;
}

int32_t archiveChoiceDescription(int32_t index, char* buffer, int32_t length) {
    const ArchiveRecord* choice = choiceAt(index);
    return choice ? copyInto(choice->description, buffer, length) : 0;
}

int32_t archiveChoicePatchTarget(int32_t index, char* buffer, int32_t length) {
    const ArchiveRecord* choice = choiceAt(index);
    return choice ? copyInto(choice->patchTarget, buffer, length) : 0;
}

void choosePreferredArchive(int32_t index) {
    if (const ArchiveRecord* choice = choiceAt(index))
        theFileSystem->archives.setPreferred(const_cast<ArchiveRecord*>(choice));
}

void choosePreferredArchiveById(const char* id) {
    if (!theFileSystem) return;
    ArchiveRecord* archive = theFileSystem->archives.findArchive(id);
    if (!archive) return;
    logf("NCCF: setting pref archive '%s' (%s)\n", archive->id, archive->description);
    theFileSystem->archives.setPreferred(archive);
}

const char* preferredArchiveDescription() {
    if (!theFileSystem || theFileSystem->archives.choices().empty()) return "[unknown]";
    const ArchiveRecord* preferred = theFileSystem->archives.preferred();
    return preferred ? preferred->description : "[unknown]";
}
