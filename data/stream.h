// Byte streams: the one way every file, memory block, executable resource, archive range and
// unpacked archive member is read and written.
//
// `Stream` is abstract; its virtual operations keep a fixed slot order. Typed little-endian
// reads and writes are written once here on top of `read` and `write`. No operation raises
// an error: failures show as short counts, 0 results or a 0 from `open`; callers decide what
// to log. Positions and sizes are signed 32-bit byte counts.
//
// Concrete streams: `FileStream` (a file on disk), `MemoryStream` (a fixed block; also over
// the embedded resources), `WindowStream` (a range of a parent stream) and
// `PagedMemoryStream` (grows in 64 KiB pages).
//
// Buffers that a MemoryStream owns come from malloc and are freed with free: a buffer handed
// over with attach(..., true) must be malloc'd, and one taken with detach is the caller's to free.
#pragma once

#include <cstdint>
#include <cstdio>

class Stream {
  public:
    virtual ~Stream();
    virtual void close() = 0;
    virtual int32_t read(void* buffer, int32_t count) = 0;        // count read, 0 at end
    virtual int32_t write(const void* buffer, int32_t count) = 0; // count written
    virtual int32_t seek(int32_t position) = 0;                   // new position
    virtual int32_t seekRelative(int32_t delta);
    virtual int32_t seekFromEnd(int32_t delta);
    virtual int32_t flush(); // 1 on success
    virtual int32_t tell() = 0;
    virtual int32_t size() = 0;
    virtual Stream* seekTo(int32_t position);
    virtual int32_t atEnd();
    virtual int32_t readExact(void* buffer, int32_t count);        // 1 when all were read
    virtual int32_t writeExact(const void* buffer, int32_t count); // 1 when all were written
    // Copies up to count bytes (all to the source's end when count <= 0) through a
    // 65536-byte buffer; returns the count written.
    virtual int32_t copyFrom(Stream* source, int32_t count);

    // Typed pairs, little-endian; a read that falls short returns an undefined value.
    virtual int32_t readInt();
    virtual int32_t writeInt(int32_t value);
    virtual uint32_t readDword();
    virtual int32_t writeDword(uint32_t value);
    virtual char readChar();
    virtual int32_t writeChar(char value);
    virtual uint8_t readByte();
    virtual int32_t writeByte(uint8_t value);
    virtual int16_t readShort();
    virtual int32_t writeShort(int16_t value);
    virtual int32_t readLong();
    virtual int32_t writeLong(int32_t value);
    virtual int64_t readLongLong();
    virtual int32_t writeLongLong(int64_t value);
    virtual uint8_t readU8();
    virtual int32_t writeU8(uint8_t value);
    virtual uint16_t readU16();
    virtual int32_t writeU16(uint16_t value);
    virtual uint32_t readU32();
    virtual int32_t writeU32(uint32_t value);
    virtual uint64_t readU64();
    virtual int32_t writeU64(uint64_t value);
    virtual float readFloat();
    virtual int32_t writeFloat(float value);
    virtual double readDouble();
    virtual int32_t writeDouble(double value);

    // Reads bytes up to the terminator (consumed, not stored); the buffer is always
    // zero-terminated and holds at most capacity - 1 bytes. Returns the count stored.
    virtual int32_t readLine(char* buffer, int32_t capacity, char terminator);
    // Writes a zero-terminated text without its zero; nothing for a null text.
    virtual int32_t writeString(const char* text);
};

// Open modes of FileStream: access in bits 0-1, disposition in bits 2-3.
enum FileMode : int32_t {
    kFileRead = 0,
    kFileWrite = 1,
    kFileReadWrite = 2,
    kFileOpenExisting = 0,
    kFileCreateAlways = 4,
    kFileOpenAlways = 8,
};

class FileStream : public Stream {
  public:
    FileStream() = default;
    ~FileStream() override;
    int32_t open(const char* name, int32_t mode); // 1 on success
    void close() override;
    int32_t read(void* buffer, int32_t count) override;
    int32_t write(const void* buffer, int32_t count) override;
    int32_t seek(int32_t position) override;
    int32_t seekRelative(int32_t delta) override;
    int32_t seekFromEnd(int32_t delta) override;
    int32_t flush() override;
    int32_t tell() override;
    int32_t size() override;
    bool isOpen() const { return file != nullptr; }

  private:
    // stdio needs a seek between a read and a write on the same file.
    enum class LastAccess { none, read, write };
    FILE* file = nullptr;
    LastAccess lastAccess = LastAccess::none;
};

// Finds an existing file whose path matches name without regard to case, component by
// component ("\\" counts as "/"). Writes the path found into out; false when there is none.
bool findFileIgnoringCase(const char* name, char* out, int32_t capacity);

class MemoryStream : public Stream {
  public:
    MemoryStream() = default;
    ~MemoryStream() override;
    // Reads min(count, what remains of the source) bytes (all when count < 0) into a new
    // owned buffer. Returns 1 on success.
    int32_t open(Stream* source, int32_t count);
    // Points at an embedded resource of the executable: read-only, not owned. 1 on success.
    int32_t loadResource(int32_t number);
    void attach(void* buffer, int32_t size, bool owns);
    void attachReadOnly(const void* buffer, int32_t size);
    int32_t reserve(int32_t size); // owned buffer, contents undefined; 1 on success
    void* detach();                // only an owned buffer; else nullptr

    void close() override;
    int32_t read(void* buffer, int32_t count) override;
    int32_t write(const void* buffer, int32_t count) override;
    int32_t seek(int32_t position) override;
    int32_t tell() override;
    int32_t size() override;

    uint8_t* data() { return buffer; }

  private:
    uint8_t* buffer = nullptr;
    int32_t position = 0;
    int32_t length = 0;
    bool ownsBuffer = false;
    bool readOnly = false;
};

class WindowStream : public Stream {
  public:
    WindowStream() = default;
    ~WindowStream() override;
    // Offset clamped to 0..parent size, length to what remains; 1 when the length is not 0.
    int32_t open(Stream* parent, int32_t offset, int32_t length, bool ownsParent);
    void close() override;
    int32_t read(void* buffer, int32_t count) override;
    int32_t write(const void* buffer, int32_t count) override;
    int32_t seek(int32_t position) override;
    int32_t seekRelative(int32_t delta) override;
    int32_t tell() override;
    int32_t size() override;

  private:
    Stream* parent = nullptr;
    int32_t start = 0;
    int32_t length = 0;
    int32_t position = 0;
    bool ownsParent = false;
};

class PagedMemoryStream : public Stream {
  public:
    static constexpr int32_t kPageSize = 65536;
    PagedMemoryStream() = default;
    ~PagedMemoryStream() override;
    int32_t open(); // starts one empty page; 1 on success
    void close() override;
    int32_t read(void* buffer, int32_t count) override;
    int32_t write(const void* buffer, int32_t count) override;
    int32_t seek(int32_t position) override;
    int32_t tell() override;
    int32_t size() override;

  private:
    struct Page {
        uint8_t bytes[kPageSize];
        Page* next = nullptr;
    };
    Page* first = nullptr;
    Page* current = nullptr;
    int32_t offsetInPage = 0;
    int32_t position = 0;
    int32_t length = 0;
};
