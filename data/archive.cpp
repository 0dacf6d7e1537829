// Archive reader, patch resolution and name lookup of the ArchiveSet.
//
// Sections: record helpers; the non-fatal depackers; addArchive; patches and the choice
// list; lookup (disk, then archives); the Stream over the file opened last.
#include "data/archive.h"

#include "data/depacker.h"
#include "platform/log.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <string>
#include <strings.h>
#include <unordered_map>
#include <unordered_set>

namespace {

// ---- record helpers --------------------------------------------------------------------

void freeArchive(ArchiveRecord* archive) {
    if (!archive) return;
    if (archive->ownsStream) delete archive->stream;
    delete[] archive->id;
    delete[] archive->patchTarget;
    delete[] archive->description;
    delete archive;
}

void freeFile(FileRecord* file) {
    if (!file) return;
    delete[] file->name;
    delete file;
}

std::string lowerCase(const char* text) {
    std::string result(text ? text : "");
    for (char& c : result)
        c = char(tolower(static_cast<unsigned char>(c)));
    return result;
}

bool endsWithIgnoringCase(const char* name, const char* suffix, size_t suffixLength) {
    size_t nameLength = strlen(name);
    if (nameLength < suffixLength) return false;
    return strncasecmp(name + nameLength - suffixLength, suffix, suffixLength) == 0;
}

uint32_t readU32At(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

int32_t clampToInt32(uint64_t value) {
    return int32_t(std::min<uint64_t>(value, INT32_MAX));
}

// Reads a string of the stated length (its zero byte included) and terminates it: a length
// larger than what the header block still holds is refused before anything is allocated.
char* readString(Stream& header, uint32_t length) {
    uint32_t remaining = uint32_t(std::max(0, header.size() - header.tell()));
    if (length > remaining) return nullptr;
    char* text = new char[size_t(length) + 1];
    if (!header.readExact(text, int32_t(length))) {
        delete[] text;
        return nullptr;
    }
    text[length] = 0;
    return text;
}

// ---- the non-fatal depackers -----------------------------------------------------------

class NonFatalMethod1 : public Depacker {
  public:
    MemoryStream* unpack(Stream* source, int32_t unpackedSize) override {
        if (unpackedSize < 0 ||
            unpackedSize > method1MostUnpacked(int64_t(source->size()) - source->tell())) {
            logf("NZIP: depacker error: %s\n", "Data error");
            return nullptr;
        }
        MemoryStream* result = new MemoryStream;
        if (!result->reserve(unpackedSize)) {
            logf("NZIP: depacker error: %s\n", "Decompression mem allocation failed");
            delete result;
            return nullptr;
        }
        if (const char* error = decodeMethod1(source, result->data(), unpackedSize)) {
            logf("NZIP: depacker error: %s\n", error);
            delete result;
            return nullptr;
        }
        result->seek(0);
        return result;
    }
};

} // namespace

Depacker* nonFatalDepackerFor(uint32_t method) {
    static NonFatalMethod1 method1;
    if (method == 1) return &method1;
    return depackerFor(method); // method 2 reports corrupt data without ending the program
}

// ---- addArchive ------------------------------------------------------------------------

namespace {

struct HeaderFields {
    uint32_t version = 0;
    uint32_t method = 0;
    uint32_t packedSize = 0;
    uint32_t unpackedSize = 0;
};

// Steps 5 and 6: the header block as a MemoryStream, or nullptr with the reason logged.
MemoryStream* unpackHeaderBlock(Stream& archive, const HeaderFields& fields, int64_t expectedEnd,
                                Depacker* (*depackers)(uint32_t)) {
    MemoryStream* header = nullptr;
    if (fields.method != 0) {
        Depacker* depacker = fields.method <= 2 ? depackers(fields.method) : nullptr;
        if (!depacker) {
            logf("NCCF: header integrity check failed\n");
            return nullptr;
        }
        if (fields.unpackedSize <= uint32_t(INT32_MAX))
            header = depacker->unpack(&archive, int32_t(fields.unpackedSize));
    } else if (fields.packedSize <= uint32_t(INT32_MAX)) {
        header = new MemoryStream;
        if (!header->open(&archive, int32_t(fields.packedSize))) {
            delete header;
            header = nullptr;
        }
    }
    if (!header || archive.tell() != expectedEnd ||
        uint32_t(header->size()) != fields.unpackedSize) {
        logf("NCCF: error while decompressing archive header\n");
        delete header;
        return nullptr;
    }
    return header;
}

// Step 7: the four counts and the three strings.
bool readHeaderStrings(Stream& header, ArchiveRecord& archive) {
    uint8_t counts[16];
    if (!header.readExact(counts, 16)) return false;
    archive.idLength = readU32At(counts);
    archive.patchTargetLength = readU32At(counts + 4);
    archive.descriptionLength = readU32At(counts + 8);
    archive.entryCount = readU32At(counts + 12);
    archive.id = readString(header, archive.idLength);
    if (!archive.id) return false;
    archive.patchTarget = readString(header, archive.patchTargetLength);
    if (!archive.patchTarget) return false;
    archive.description = readString(header, archive.descriptionLength);
    return archive.description != nullptr;
}

// Step 10: the directory. Entries that cannot be read leave the list released.
bool readDirectory(Stream& header, uint32_t entryCount, std::vector<FileRecord*>& entries) {
    for (uint32_t i = 0; i < entryCount; ++i) {
        uint8_t fixed[16];
        if (!header.readExact(fixed, 16)) {
            logf("NCCF: could not read dir entry\n");
            return false;
        }
        FileRecord* file = new FileRecord;
        file->nameLength = readU32At(fixed);
        file->storedSize = readU32At(fixed + 4);
        file->unpackedSize = readU32At(fixed + 8);
        file->method = readU32At(fixed + 12);
        entries.push_back(file);
        file->name = readString(header, file->nameLength);
        if (!file->name) {
            logf("NCCF: could not read dir entry name\n");
            return false;
        }
    }
    return true;
}

} // namespace

ArchiveRecord* ArchiveSet::findArchive(const char* id) const {
    if (!id) return nullptr;
    for (ArchiveRecord* archive : archiveList)
        if (strcasecmp(archive->id, id) == 0) return archive;
    return nullptr;
}

int32_t ArchiveSet::addArchive(Stream* archiveStream, bool ownsStream) {
    if (!archiveStream) return 0;
    ArchiveRecord* archive = new ArchiveRecord;
    archive->stream = archiveStream;
    archive->ownsStream = ownsStream;
    MemoryStream* header = nullptr;
    std::vector<FileRecord*> entries;
    auto reject = [&]() {
        for (FileRecord* file : entries)
            freeFile(file);
        delete header;
        freeArchive(archive);
        return 0;
    };

    Stream& stream = *archiveStream;
    const int32_t archiveSize = stream.size();
    stream.seek(0);
    if (stream.tell() != 0 || archiveSize <= 63) {
        logf("NCCF: archive file too small / corrupt\n");
        return reject();
    }
    uint8_t fixed[kArchiveFixedHeaderSize];
    if (!stream.readExact(fixed, kArchiveFixedHeaderSize) ||
        memcmp(fixed, kArchiveSignature, kArchiveSignatureSize) != 0) {
        logf("NCCF: archive has no valid signature\n");
        return reject();
    }
    HeaderFields fields;
    fields.version = uint32_t(fixed[31]) | uint32_t(fixed[32]) << 8;
    fields.method = readU32At(fixed + 33);
    fields.packedSize = readU32At(fixed + 37);
    fields.unpackedSize = readU32At(fixed + 41);
    if (fields.version > 1) {
        logf("NCCF: archive has too high version number\n");
        return reject();
    }
    const int64_t expectedEnd = int64_t(stream.tell()) + fields.packedSize;
    header = unpackHeaderBlock(stream, fields, expectedEnd, depackers ? depackers : depackerFor);
    if (!header) return reject();
    if (!readHeaderStrings(*header, *archive)) {
        logf("NCCF: archive header strings corrupt\n");
        return reject();
    }
    if (findArchive(archive->id)) {
        logf("NCCF: archive with id '%s' already exists, skipping\n", archive->id);
        return reject();
    }
    logf("NCCF: opening archive, ID: %s\n", archive->id);
    if (!readDirectory(*header, archive->entryCount, entries)) return reject();
    delete header;
    header = nullptr;

    archiveList.push_back(archive);
    int64_t offset = expectedEnd;
    for (FileRecord* file : entries) {
        file->archive = archive;
        file->offset = offset;
        fileList.push_back(file);
        offset += file->storedSize;
    }
    if (offset != archiveSize)
        logf("NCCF: warning: archive '%s' has different total size (%d) than expected (%d)\n",
             archive->id, archiveSize, int32_t(offset));
    return 1;
}

// ---- patches and the choice list -------------------------------------------------------

void ArchiveSet::resolvePatch(ArchiveRecord* archive) {
    if (archive->handled || !archive->patchTarget[0]) return;
    archive->handled = true;
    ArchiveRecord* target = findArchive(archive->patchTarget);
    if (!target) {
        logf("NCCF: warning - archive %s is a patch for unknown archive %s!\n", archive->id,
             archive->patchTarget);
        return;
    }
    if (target == archive) {
        logf("NCCF: archive '%s' patches itself? weird.\n", archive->id);
        return;
    }
    resolvePatch(target);
    logf("NCCF: archive '%s' is a patch for archive '%s'\n", archive->id, target->id);
    preferredArchive = archive;

    std::unordered_set<std::string> replaced;
    for (const FileRecord* file : fileList)
        if (file->archive == archive) replaced.insert(lowerCase(file->name));
    auto isReplaced = [&](FileRecord* file) {
        if (file->archive != target || !replaced.count(lowerCase(file->name))) return false;
        freeFile(file);
        return true;
    };
    fileList.erase(std::remove_if(fileList.begin(), fileList.end(), isReplaced), fileList.end());
}

void ArchiveSet::appendChoice(ArchiveRecord* archive) {
    for (const ArchiveRecord* choice : choiceList)
        if (strcasecmp(choice->id, archive->id) == 0) return;
    choiceList.push_back(archive);
}

void ArchiveSet::resolvePatches() {
    choiceList.clear();
    if (archiveList.empty()) {
        preferredArchive = nullptr;
        return;
    }
    preferredArchive = archiveList.front();
    for (ArchiveRecord* archive : archiveList)
        resolvePatch(archive);
    choiceList.push_back(preferredArchive);

    // Every archive that shares a file name with another one, in the order of the pairs.
    std::unordered_map<std::string, std::vector<size_t>> sameName;
    for (size_t i = 0; i < fileList.size(); ++i)
        sameName[lowerCase(fileList[i]->name)].push_back(i);
    for (size_t i = 0; i < fileList.size(); ++i) {
        for (size_t j : sameName[lowerCase(fileList[i]->name)]) {
            if (j <= i) continue;
            appendChoice(fileList[i]->archive);
            appendChoice(fileList[j]->archive);
        }
    }
}

// ---- lookup ----------------------------------------------------------------------------

namespace {

// A directory opened as a file would "succeed" and then read nothing.
bool openRegularFile(FileStream& file, const char* path) {
    return file.open(path, kFileRead | kFileOpenExisting) != 0;
}

} // namespace

void ArchiveSet::setCurrent(Stream* stream, int32_t unpackedSize, int32_t storedSize,
                            uint32_t method) {
    delete current;
    current = stream;
    currentUnpackedSize = unpackedSize;
    currentStoredSize = storedSize;
    currentMethod = method;
}

bool ArchiveSet::openFromDisk(const char* path, const char* baseName) {
    FileStream* file = new FileStream;
    std::string tried;
    if (openRegularFile(*file, path)) {
        logf("NCCF: opening file '%s' from disk\n", path);
    } else if (tried = std::string("DATA/") + baseName; openRegularFile(*file, tried.c_str())) {
        logf("NCCF: opening file '%s' from disk (as '%s')\n", tried.c_str(), path);
    } else if (openRegularFile(*file, baseName)) {
        logf("NCCF: opening file '%s' from disk (as '%s')\n", baseName, path);
    } else {
        delete file;
        return false;
    }
    int32_t fileSize = file->size();
    file->seek(0);
    setCurrent(file, fileSize, fileSize, 0);
    return true;
}

Stream* ArchiveSet::openMember(const FileRecord& file) {
    // A stored file is its own unpacked bytes: two different sizes mean a damaged entry, and
    // whoever sizes a buffer by the reported (unpacked) size would read past or short of it.
    if (file.method == 0 && file.storedSize != file.unpackedSize) {
        logf("NCCF: error: stored file '%s' has %u bytes but an unpacked size of %u!\n", file.name,
             unsigned(file.storedSize), unsigned(file.unpackedSize));
        return nullptr;
    }
    WindowStream* window = new WindowStream;
    window->open(file.archive->stream, clampToInt32(uint64_t(file.offset)),
                 clampToInt32(file.storedSize), false);
    if (file.method == 0) return window;

    Depacker* depacker =
        file.method <= 2 ? (depackers ? depackers : depackerFor)(file.method) : nullptr;
    if (!depacker) {
        logf("NCCF: error: Unknown compression method #%d!\n", int32_t(file.method));
        delete window;
        return nullptr;
    }
    MemoryStream* unpacked = nullptr;
    std::string subject =
        std::string("file '") + file.name + "' of archive '" + file.archive->id + "'";
    setDepackerSubject(subject.c_str());
    if (file.unpackedSize <= uint32_t(INT32_MAX))
        unpacked = depacker->unpack(window, int32_t(file.unpackedSize));
    setDepackerSubject(nullptr);
    delete window;
    if (!unpacked) {
        logf("NCCF: error while decompressing file!\n");
        return nullptr;
    }
    unpacked->seek(0);
    return unpacked;
}

// Suffix refinement: the base name first, then one more path component at a time.
int32_t ArchiveSet::openFromArchives(const char* path) {
    std::vector<size_t> suffixStarts;
    for (size_t i = strlen(path); i > 0; --i)
        if (path[i - 1] == '/') suffixStarts.push_back(i);
    suffixStarts.push_back(0);

    std::vector<FileRecord*> candidates, previous;
    for (size_t k = 0; k < suffixStarts.size(); ++k) {
        const char* suffix = path + suffixStarts[k];
        size_t suffixLength = strlen(suffix);
        candidates.clear();
        for (FileRecord* file : fileList)
            if (endsWithIgnoringCase(file->name, suffix, suffixLength)) candidates.push_back(file);
        if (candidates.empty()) {
            if (!previous.empty()) {
                logf("NCCF: file '%s' not found in any archive, though the following files "
                     "exist:\n",
                     path);
                for (const FileRecord* file : previous)
                    logf("NCCF:  file '%s' (in archive '%s')\n", file->name, file->archive->id);
                logf("NCCF: (wrong path?)\n");
            }
            break;
        }
        if (candidates.size() == 1) break;
        if (k + 1 == suffixStarts.size()) {
            auto inPreferred = [&](FileRecord* file) { return file->archive == preferredArchive; };
            if (std::any_of(candidates.begin(), candidates.end(), inPreferred))
                std::erase_if(candidates, [&](FileRecord* file) { return !inPreferred(file); });
            break;
        }
        previous = candidates;
    }

    if (candidates.size() > 1) {
        logf("NCCF: found ambiguous files while searching for '%s':\n", path);
        for (const FileRecord* file : candidates)
            logf("NCCF:  file '%s' (in archive '%s')\n", file->name, file->archive->id);
        return -1;
    }
    if (candidates.empty()) return -1;

    const FileRecord& file = *candidates.front();
    logf("NCCF: opening file '%s' from archive '%s' (as '%s')\n", file.name, file.archive->id,
         path);
    Stream* stream = openMember(file);
    if (!stream) return 0; // the method failure has been logged
    setCurrent(stream, stream->size(), clampToInt32(file.storedSize), file.method);
    return 1;
}

int32_t ArchiveSet::openFile(const char* name) {
    setCurrent(nullptr, 0, 0, 0);
    if (!name || !*name) return 0;
    std::string path(name);
    std::replace(path.begin(), path.end(), '\\', '/');
    const char* baseName = path.c_str() + path.size();
    while (baseName > path.c_str() && baseName[-1] != '/')
        --baseName;

    if (openFromDisk(path.c_str(), baseName)) return 1;
    int32_t result = *baseName ? openFromArchives(path.c_str()) : -1;
    if (result > 0) return 1;
    if (result < 0) logf("NCCF: file '%s' not found.\n", path.c_str());
    return 0;
}

Stream* ArchiveSet::takeFile() {
    Stream* stream = current;
    current = nullptr;
    return stream;
}

// ---- the Stream over the file opened last ----------------------------------------------

ArchiveSet::~ArchiveSet() {
    close();
    for (FileRecord* file : fileList)
        freeFile(file);
    for (ArchiveRecord* archive : archiveList)
        freeArchive(archive);
}

void ArchiveSet::close() {
    setCurrent(nullptr, 0, 0, 0);
}
int32_t ArchiveSet::read(void* buffer, int32_t count) {
    return current ? current->read(buffer, count) : 0;
}
int32_t ArchiveSet::write(const void*, int32_t) {
    return 0;
}
int32_t ArchiveSet::seek(int32_t position) {
    return current ? current->seek(position) : 0;
}
int32_t ArchiveSet::seekRelative(int32_t delta) {
    return current ? current->seekRelative(delta) : 0;
}
int32_t ArchiveSet::seekFromEnd(int32_t delta) {
    return current ? current->seekFromEnd(delta) : 0;
}
int32_t ArchiveSet::flush() {
    return 1;
}
int32_t ArchiveSet::tell() {
    return current ? current->tell() : 0;
}
int32_t ArchiveSet::size() {
    return current ? current->size() : 0;
}
