// Stream base operations, typed little-endian values, and the four concrete streams.
//
// Sections: Stream defaults and typed values; FileStream (with the case-insensitive path
// fallback); MemoryStream; WindowStream; PagedMemoryStream.
#include "data/stream.h"

#include "platform/resources.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <strings.h>
#include <sys/stat.h>

// ---- Stream defaults -------------------------------------------------------------------

Stream::~Stream() = default;

int32_t Stream::seekRelative(int32_t delta) {
    return seek(tell() + delta);
}
int32_t Stream::seekFromEnd(int32_t delta) {
    return seek(size() + delta);
}
int32_t Stream::flush() {
    return 1;
}

Stream* Stream::seekTo(int32_t position) {
    seek(position);
    return this;
}

int32_t Stream::atEnd() {
    return tell() == size() ? 1 : 0;
}

int32_t Stream::readExact(void* buffer, int32_t count) {
    return read(buffer, count) == count ? 1 : 0;
}

int32_t Stream::writeExact(const void* buffer, int32_t count) {
    return write(buffer, count) == count ? 1 : 0;
}

int32_t Stream::copyFrom(Stream* source, int32_t count) {
    constexpr int32_t kPiece = 65536;
    if (!source) return 0;
    uint8_t* piece = static_cast<uint8_t*>(malloc(kPiece));
    if (!piece) return 0;
    const bool limited = count > 0;
    int32_t written = 0;
    while (!limited || written < count) {
        int32_t want = limited ? std::min(kPiece, count - written) : kPiece;
        int32_t got = source->read(piece, want);
        if (got <= 0) break;
        int32_t put = write(piece, got);
        if (put > 0) written += put;
        if (put != got) break;
    }
    free(piece);
    return written;
}

namespace {

// Values are assembled byte by byte so that the layout is little-endian on every host.
template <typename T> T readLittle(Stream& stream) {
    uint8_t bytes[sizeof(T)] = {};
    stream.read(bytes, int32_t(sizeof(T)));
    uint64_t value = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        value |= uint64_t(bytes[i]) << (8 * i);
    T result;
    if constexpr (sizeof(T) == 8) {
        memcpy(&result, &value, 8);
    } else {
        auto narrow =
            static_cast<std::conditional_t<sizeof(T) == 4, uint32_t,
                                           std::conditional_t<sizeof(T) == 2, uint16_t, uint8_t>>>(
                value);
        memcpy(&result, &narrow, sizeof(T));
    }
    return result;
}

template <typename T> int32_t writeLittle(Stream& stream, T value) {
    uint64_t bits = 0;
    memcpy(&bits, &value, sizeof(T));
    uint8_t bytes[sizeof(T)];
    for (size_t i = 0; i < sizeof(T); ++i)
        bytes[i] = uint8_t(bits >> (8 * i));
    return stream.write(bytes, int32_t(sizeof(T)));
}

} // namespace

int32_t Stream::readInt() {
    return readLittle<int32_t>(*this);
}
int32_t Stream::writeInt(int32_t value) {
    return writeLittle(*this, value);
}
uint32_t Stream::readDword() {
    return readLittle<uint32_t>(*this);
}
int32_t Stream::writeDword(uint32_t value) {
    return writeLittle(*this, value);
}
char Stream::readChar() {
    return readLittle<char>(*this);
}
int32_t Stream::writeChar(char value) {
    return writeLittle(*this, value);
}
uint8_t Stream::readByte() {
    return readLittle<uint8_t>(*this);
}
int32_t Stream::writeByte(uint8_t value) {
    return writeLittle(*this, value);
}
int16_t Stream::readShort() {
    return readLittle<int16_t>(*this);
}
int32_t Stream::writeShort(int16_t value) {
    return writeLittle(*this, value);
}
int32_t Stream::readLong() {
    return readLittle<int32_t>(*this);
}
int32_t Stream::writeLong(int32_t value) {
    return writeLittle(*this, value);
}
int64_t Stream::readLongLong() {
    return readLittle<int64_t>(*this);
}
int32_t Stream::writeLongLong(int64_t value) {
    return writeLittle(*this, value);
}
uint8_t Stream::readU8() {
    return readLittle<uint8_t>(*this);
}
int32_t Stream::writeU8(uint8_t value) {
    return writeLittle(*this, value);
}
uint16_t Stream::readU16() {
    return readLittle<uint16_t>(*this);
}
int32_t Stream::writeU16(uint16_t value) {
    return writeLittle(*this, value);
}
uint32_t Stream::readU32() {
    return readLittle<uint32_t>(*this);
}
int32_t Stream::writeU32(uint32_t value) {
    return writeLittle(*this, value);
}
uint64_t Stream::readU64() {
    return readLittle<uint64_t>(*this);
}
int32_t Stream::writeU64(uint64_t value) {
    return writeLittle(*this, value);
}
float Stream::readFloat() {
    return readLittle<float>(*this);
}
int32_t Stream::writeFloat(float value) {
    return writeLittle(*this, value);
}
double Stream::readDouble() {
    return readLittle<double>(*this);
}
int32_t Stream::writeDouble(double value) {
    return writeLittle(*this, value);
}

// A line longer than the buffer keeps its first capacity - 1 bytes; the rest of that line,
// up to and with its terminator, is skipped so that the next call starts on the next line.
int32_t Stream::readLine(char* buffer, int32_t capacity, char terminator) {
    if (!buffer || capacity <= 0) return 0;
    int32_t stored = 0;
    char c = 0;
    while (read(&c, 1) == 1 && c != terminator) {
        if (stored < capacity - 1) buffer[stored++] = c;
    }
    buffer[stored] = 0;
    return stored;
}

int32_t Stream::writeString(const char* text) {
    if (!text) return 0;
    return write(text, int32_t(strlen(text)));
}

// ---- FileStream ------------------------------------------------------------------------

namespace {

// One path component matched without regard to case inside folder (empty = current one).
bool matchComponent(const std::string& folder, const std::string& component, std::string& found) {
    std::error_code error;
    std::filesystem::directory_iterator it(folder.empty() ? "." : folder, error);
    if (error) return false;
    for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error) return false;
        std::string entry = it->path().filename().string();
        if (strcasecmp(entry.c_str(), component.c_str()) == 0) {
            found = entry;
            return true;
        }
    }
    return false;
}

} // namespace

bool findFileIgnoringCase(const char* name, char* out, int32_t capacity) {
    if (!name || !*name || !out || capacity <= 0) return false;
    std::string path(name);
    std::replace(path.begin(), path.end(), '\\', '/');
    std::string result = path[0] == '/' ? "/" : "";
    size_t start = path[0] == '/' ? 1 : 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string component = path.substr(start, end - start);
        start = end + 1;
        if (component.empty()) continue;
        std::string prefix = result;
        if (component == "." || component == "..") {
            result += component;
        } else {
            std::string found;
            if (!matchComponent(prefix, component, found)) return false;
            result += found;
        }
        if (end < path.size()) result += '/';
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(result, error)) return false;
    if (int32_t(result.size()) >= capacity) return false;
    memcpy(out, result.c_str(), result.size() + 1);
    return true;
}

FileStream::~FileStream() {
    close();
}

int32_t FileStream::open(const char* name, int32_t mode) {
    close();
    if (!name || !*name) return 0;
    const int32_t access = mode & 3;
    const int32_t disposition = mode & 12;
    const char* existing = access == kFileRead ? "rb" : "r+b";
    const char* create = access == kFileRead ? "w+b" : (access == kFileWrite ? "wb" : "w+b");

    if (disposition == kFileCreateAlways) {
        file = fopen(name, create);
    } else {
        file = fopen(name, existing);
        if (!file) {
            char found[4096];
            if (findFileIgnoringCase(name, found, sizeof found)) file = fopen(found, existing);
        }
        if (!file && disposition == kFileOpenAlways) file = fopen(name, create);
    }
    // A folder can be opened for reading, but it is not a file.
    struct stat info;
    if (file && (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode))) close();
    lastAccess = LastAccess::none;
    return file ? 1 : 0;
}

void FileStream::close() {
    if (file) fclose(file);
    file = nullptr;
}

int32_t FileStream::read(void* buffer, int32_t count) {
    if (!file || !buffer || count <= 0) return 0;
    if (lastAccess == LastAccess::write) fseek(file, 0, SEEK_CUR);
    lastAccess = LastAccess::read;
    return int32_t(fread(buffer, 1, size_t(count), file));
}

int32_t FileStream::write(const void* buffer, int32_t count) {
    if (!file || !buffer || count <= 0) return 0;
    if (lastAccess == LastAccess::read) fseek(file, 0, SEEK_CUR);
    lastAccess = LastAccess::write;
    return int32_t(fwrite(buffer, 1, size_t(count), file));
}

int32_t FileStream::seek(int32_t position) {
    if (!file) return 0;
    fseek(file, position, SEEK_SET);
    lastAccess = LastAccess::none;
    return tell();
}

int32_t FileStream::seekRelative(int32_t delta) {
    if (!file) return 0;
    fseek(file, delta, SEEK_CUR);
    lastAccess = LastAccess::none;
    return tell();
}

int32_t FileStream::seekFromEnd(int32_t delta) {
    if (!file) return 0;
    fseek(file, delta, SEEK_END);
    lastAccess = LastAccess::none;
    return tell();
}

int32_t FileStream::flush() {
    return file && fflush(file) == 0 ? 1 : 0;
}

int32_t FileStream::tell() {
    if (!file) return 0;
    long position = ftell(file);
    return position < 0 ? 0 : int32_t(std::min<long>(position, INT32_MAX));
}

int32_t FileStream::size() {
    if (!file) return 0;
    long position = ftell(file);
    fseek(file, 0, SEEK_END);
    long end = ftell(file);
    fseek(file, position, SEEK_SET);
    lastAccess = LastAccess::none;
    return end < 0 ? 0 : int32_t(std::min<long>(end, INT32_MAX));
}

// ---- MemoryStream ----------------------------------------------------------------------

MemoryStream::~MemoryStream() {
    close();
}

int32_t MemoryStream::open(Stream* source, int32_t count) {
    close();
    if (!source) return 0;
    int32_t remaining = std::max(0, source->size() - source->tell());
    int32_t want = count < 0 ? remaining : std::min(count, remaining);
    if (!reserve(want)) return 0;
    length = want > 0 ? source->read(buffer, want) : 0;
    return 1;
}

int32_t MemoryStream::loadResource(int32_t number) {
    close();
    const void* bytes = nullptr;
    int32_t bytesSize = 0;
    if (!findResource(number & 0xffff, &bytes, &bytesSize)) return 0;
    attachReadOnly(bytes, bytesSize);
    return 1;
}

void MemoryStream::attach(void* newBuffer, int32_t newSize, bool owns) {
    close();
    buffer = static_cast<uint8_t*>(newBuffer);
    length = newBuffer ? std::max(0, newSize) : 0;
    ownsBuffer = owns;
}

void MemoryStream::attachReadOnly(const void* newBuffer, int32_t newSize) {
    attach(const_cast<void*>(newBuffer), newSize, false);
    readOnly = true;
}

int32_t MemoryStream::reserve(int32_t newSize) {
    close();
    if (newSize < 0) return 0;
    // One spare byte keeps malloc(0) from being mistaken for a failure.
    uint8_t* bytes = static_cast<uint8_t*>(malloc(size_t(newSize) + 1));
    if (!bytes) return 0;
    attach(bytes, newSize, true);
    return 1;
}

void* MemoryStream::detach() {
    if (!ownsBuffer) return nullptr;
    void* result = buffer;
    buffer = nullptr;
    ownsBuffer = false;
    close();
    return result;
}

void MemoryStream::close() {
    if (ownsBuffer) free(buffer);
    buffer = nullptr;
    position = 0;
    length = 0;
    ownsBuffer = false;
    readOnly = false;
}

int32_t MemoryStream::read(void* out, int32_t count) {
    if (!out || count <= 0 || !buffer) return 0;
    int32_t n = std::min(count, length - position);
    if (n <= 0) return 0;
    memcpy(out, buffer + position, size_t(n));
    position += n;
    return n;
}

int32_t MemoryStream::write(const void* in, int32_t count) {
    if (readOnly || !in || count <= 0 || !buffer) return 0;
    int32_t n = std::min(count, length - position);
    if (n <= 0) return 0;
    memcpy(buffer + position, in, size_t(n));
    position += n;
    return n;
}

int32_t MemoryStream::seek(int32_t newPosition) {
    position = std::clamp(newPosition, 0, length);
    return position;
}

int32_t MemoryStream::tell() {
    return position;
}
int32_t MemoryStream::size() {
    return length;
}

// ---- WindowStream ----------------------------------------------------------------------

WindowStream::~WindowStream() {
    close();
}

int32_t WindowStream::open(Stream* newParent, int32_t offset, int32_t newLength, bool owns) {
    close();
    if (!newParent) return 0;
    parent = newParent;
    ownsParent = owns;
    int32_t parentSize = parent->size();
    start = std::clamp(offset, 0, parentSize);
    length = std::clamp(newLength, 0, parentSize - start);
    position = 0;
    parent->seek(start);
    return length != 0 ? 1 : 0;
}

void WindowStream::close() {
    if (parent && ownsParent) delete parent;
    parent = nullptr;
    ownsParent = false;
    start = length = position = 0;
}

// Every transfer first puts the parent at this window's position: several windows share
// one archive stream, and each must read its own bytes whatever the others did meanwhile.
int32_t WindowStream::read(void* buffer, int32_t count) {
    if (!parent || count <= 0) return 0;
    int32_t n = std::min(count, length - position);
    if (n <= 0) return 0;
    if (parent->seek(start + position) != start + position) return 0;
    int32_t got = parent->read(buffer, n);
    if (got > 0) position += got;
    return std::max(got, 0);
}

int32_t WindowStream::write(const void* buffer, int32_t count) {
    if (!parent || count <= 0) return 0;
    int32_t n = std::min(count, length - position);
    if (n <= 0) return 0;
    if (parent->seek(start + position) != start + position) return 0;
    int32_t put = parent->write(buffer, n);
    if (put > 0) position += put;
    return std::max(put, 0);
}

int32_t WindowStream::seek(int32_t newPosition) {
    position = std::clamp(newPosition, 0, length);
    if (parent) parent->seek(start + position);
    return position;
}

int32_t WindowStream::seekRelative(int32_t delta) {
    int64_t target = int64_t(position) + delta;
    return seek(int32_t(std::clamp<int64_t>(target, 0, length)));
}

int32_t WindowStream::tell() {
    return position;
}
int32_t WindowStream::size() {
    return length;
}

// ---- PagedMemoryStream -----------------------------------------------------------------

PagedMemoryStream::~PagedMemoryStream() {
    close();
}

int32_t PagedMemoryStream::open() {
    close();
    first = new (std::nothrow) Page;
    if (!first) return 0;
    current = first;
    return 1;
}

void PagedMemoryStream::close() {
    while (first) {
        Page* next = first->next;
        delete first;
        first = next;
    }
    current = nullptr;
    offsetInPage = position = length = 0;
}

int32_t PagedMemoryStream::read(void* buffer, int32_t count) {
    if (!current || !buffer || count <= 0) return 0;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    int32_t n = std::min(count, length - position);
    int32_t done = 0;
    while (done < n) {
        if (offsetInPage == kPageSize) {
            if (!current->next) break;
            current = current->next;
            offsetInPage = 0;
        }
        int32_t piece = std::min(n - done, kPageSize - offsetInPage);
        memcpy(out + done, current->bytes + offsetInPage, size_t(piece));
        offsetInPage += piece;
        done += piece;
    }
    position += done;
    return done;
}

int32_t PagedMemoryStream::write(const void* buffer, int32_t count) {
    if (!current || !buffer || count <= 0) return 0;
    const uint8_t* in = static_cast<const uint8_t*>(buffer);
    int32_t n = int32_t(std::min<int64_t>(count, int64_t(INT32_MAX) - position));
    int32_t done = 0;
    while (done < n) {
        if (offsetInPage == kPageSize) {
            if (!current->next) {
                current->next = new (std::nothrow) Page;
                if (!current->next) break;
            }
            current = current->next;
            offsetInPage = 0;
        }
        int32_t piece = std::min(n - done, kPageSize - offsetInPage);
        memcpy(current->bytes + offsetInPage, in + done, size_t(piece));
        offsetInPage += piece;
        done += piece;
    }
    position += done;
    length = std::max(length, position);
    return done;
}

int32_t PagedMemoryStream::seek(int32_t newPosition) {
    if (!first) return 0;
    position = std::clamp(newPosition, 0, length);
    current = first;
    offsetInPage = position;
    // A position at a page end stays at the end of that page, so no page is needed past it.
    while (offsetInPage > kPageSize) {
        current = current->next;
        offsetInPage -= kPageSize;
    }
    return position;
}

int32_t PagedMemoryStream::tell() {
    return position;
}
int32_t PagedMemoryStream::size() {
    return length;
}
