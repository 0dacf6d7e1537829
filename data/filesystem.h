// File lookup: every request for data by name ends here.
//
// A request may list alternatives separated by "|"; each is "res:" and a number (an
// embedded resource of the executable) or a file name, looked for on disk (as given, then
// "DATA/" + base name, then the base name; "\" becomes "/", with a case-insensitive fallback)
// and then in the ".ncc" archives found at start-up. The answer is a stream of the unpacked
// bytes, positioned at 0, and its size.
//
// `NamedCache` is the mutex-guarded list of named, reference-counted objects that the file
// cache, the texture pool, the font caches and the shared depth buffers are built on.
//
// Start-up calls initFileSystem once (it adds every "*.ncc" of the current directory in name
// order and resolves patch archives); shutdown calls closeFileSystem. Lookups come from the
// main thread only.
#pragma once

#include "data/archive.h"

#include <cstdint>

class Stream;

class NamedCache {
  public:
    NamedCache();
    NamedCache(const NamedCache&) = delete;
    NamedCache& operator=(const NamedCache&) = delete;
    virtual int32_t load(const char* name, void** object, int32_t* size) = 0; // 1 on success
    virtual void unload(void*& object) = 0;
    virtual ~NamedCache();

    int32_t acquire(const char* name, void** object, int32_t* size); // 1 on success
    int32_t insert(const char* name, void* object, int32_t size);
    void release(void* object);
    void releaseAll(); // unloads every entry (shutdown)
    int32_t count();   // entries in the list
    // While kept, an entry that the cache loaded itself stays loaded when its last reference
    // goes, for the next acquire (inserted objects still go with their last reference);
    // ending the keep unloads every entry that is still unused.
    void keepUnused(bool keep);

  private:
    struct Entry;
    struct Impl;
    Impl* impl;
};

// The process-wide file cache: load opens a request (alternatives, resources, disk,
// archives), unload deletes the stream. Holds the set of all archives.
class FileSystem : public NamedCache {
  public:
    int32_t load(const char* name, void** object, int32_t* size) override;
    void unload(void*& object) override;
    ~FileSystem() override;

    ArchiveSet archives;
};

// Process-wide file system; both are idempotent.
void initFileSystem();
void closeFileSystem();
FileSystem* fileSystem(); // nullptr before initFileSystem

// False for a name that leaves the production folder: an absolute path ("/...", "C:..."),
// or one whose ".." components climb above where it starts. Such names are never opened.
bool isProductionFileName(const char* name);

// Opens a request through the FileSystem: the caller owns the stream and gives it back
// with closeFile. nullptr when no alternative could be opened (the lookup has logged why).
Stream* openFile(const char* request, int32_t* size = nullptr);
void closeFile(Stream* stream);

// Preferred archive (launch dialog, "Now playing: " title).
int32_t archiveChoiceCount();
int32_t archiveChoiceId(int32_t index, char* buffer, int32_t length);
int32_t archiveChoiceDescription(int32_t index, char* buffer, int32_t length);
int32_t archiveChoicePatchTarget(int32_t index, char* buffer, int32_t length);
void choosePreferredArchive(int32_t index);
void choosePreferredArchiveById(const char* id);
const char* preferredArchiveDescription(); // "[unknown]" when the choice list is empty
