// Archives (".ncc") and the set of all of them: the reader that checks an archive and enters
// its directory, patch resolution, the preferred archive, and the lookup of a file name on
// disk and in the archives.
//
// An archive is a 47-byte fixed header (signature, version, header method and sizes), a
// header block (stored or packed: id, patch target, description, directory) and the data
// area, where the members' stored bytes follow each other in directory order.
//
// Usage: add every archive with addArchive, then call resolvePatches once; openFile(name)
// looks a name up (disk first, then archives), and takeFile hands the opened stream to the
// caller. The ArchiveSet is itself a Stream over the file opened last. Lookups must never
// overlap: every archive has one shared stream. Nothing here ends the program, except the
// method-1 depacker of the player on corrupt data (see nonFatalDepackerFor).
#pragma once

#include "data/stream.h"

#include <cstdint>
#include <vector>

class Depacker;

constexpr char kArchiveSignature[] = "Nord-Kessel Compacted Content\x1a"; // 30 bytes
constexpr int32_t kArchiveSignatureSize = 30;
constexpr int32_t kArchiveFixedHeaderSize = 47;

struct ArchiveRecord {
    Stream* stream = nullptr;
    uint32_t idLength = 0; // string lengths as read, with their zero byte
    uint32_t patchTargetLength = 0;
    uint32_t descriptionLength = 0;
    uint32_t entryCount = 0;
    char* id = nullptr; // always zero-terminated, even when the archive's string is not
    char* patchTarget = nullptr;
    char* description = nullptr;
    bool ownsStream = false;
    bool handled = false; // patch resolution has visited it
};

struct FileRecord {
    uint32_t nameLength = 0;
    uint32_t storedSize = 0;
    uint32_t unpackedSize = 0;
    uint32_t method = 0;
    char* name = nullptr; // always zero-terminated
    ArchiveRecord* archive = nullptr;
    int64_t offset = 0; // absolute offset of the stored bytes in the archive file
};

// The depackers of the archive tool and the fuzz targets: method 1 reports a corrupt stream
// by logging "NZIP: depacker error: %s" and returning nothing instead of ending the program.
Depacker* nonFatalDepackerFor(uint32_t method);

class ArchiveSet : public Stream {
  public:
    ArchiveSet() = default;
    ArchiveSet(const ArchiveSet&) = delete;
    ArchiveSet& operator=(const ArchiveSet&) = delete;
    ~ArchiveSet() override; // closes the archives and the file opened last

    // Reads and checks an archive; 1 when accepted. On rejection the stream is closed and
    // deleted when ownsStream is set, and the set is unchanged.
    int32_t addArchive(Stream* archiveStream, bool ownsStream);
    // After the last addArchive: the first archive becomes preferred, patch archives replace
    // the files of the archives they patch, and the choice list is built.
    void resolvePatches();
    // Disk, then archives. 1 on success: the stream is this set's current file.
    int32_t openFile(const char* name);
    // Hands the stream opened last to the caller (nullptr when there is none).
    Stream* takeFile();
    // Unpacked size, stored size and method of the file opened last.
    int32_t fileSize() const { return currentUnpackedSize; }
    int32_t fileStoredSize() const { return currentStoredSize; }
    uint32_t fileMethod() const { return currentMethod; }
    // Opens one member directly (the archive tool walks every member this way).
    Stream* openMember(const FileRecord& file);

    const std::vector<ArchiveRecord*>& archives() const { return archiveList; }
    const std::vector<FileRecord*>& files() const { return fileList; }
    const std::vector<ArchiveRecord*>& choices() const { return choiceList; }
    ArchiveRecord* preferred() const { return preferredArchive; }
    void setPreferred(ArchiveRecord* archive) { preferredArchive = archive; }
    ArchiveRecord* findArchive(const char* id) const;

    // How a packing method is turned into a depacker: the player's depackers by default.
    Depacker* (*depackers)(uint32_t method) = nullptr;

    // Stream over the file opened last.
    void close() override;
    int32_t read(void* buffer, int32_t count) override;
    int32_t write(const void* buffer, int32_t count) override;
    int32_t seek(int32_t position) override;
    int32_t seekRelative(int32_t delta) override;
    int32_t seekFromEnd(int32_t delta) override;
    int32_t flush() override;
    int32_t tell() override;
    int32_t size() override;

  private:
    bool openFromDisk(const char* path, const char* baseName);
    int32_t openFromArchives(const char* path);
    void resolvePatch(ArchiveRecord* archive);
    void appendChoice(ArchiveRecord* archive);
    void setCurrent(Stream* stream, int32_t unpackedSize, int32_t storedSize, uint32_t method);

    std::vector<ArchiveRecord*> archiveList;
    std::vector<FileRecord*> fileList;
    std::vector<ArchiveRecord*> choiceList;
    ArchiveRecord* preferredArchive = nullptr;
    Stream* current = nullptr;
    int32_t currentUnpackedSize = 0;
    int32_t currentStoredSize = 0;
    uint32_t currentMethod = 0;
};
