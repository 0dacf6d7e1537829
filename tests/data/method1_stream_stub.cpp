// Test-only stand-in for the Stream and MemoryStream operations the method-1 tests use, built
// only while the data library has no stream implementation of its own. Operations the tests
// never reach answer with 0.
#include "data/stream.h"

#include <cstdlib>
#include <cstring>

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
int32_t Stream::readExact(void* b, int32_t c) {
    return read(b, c) == c ? 1 : 0;
}
int32_t Stream::writeExact(const void* b, int32_t c) {
    return write(b, c) == c ? 1 : 0;
}
int32_t Stream::copyFrom(Stream*, int32_t) {
    return 0;
}
int32_t Stream::readInt() {
    return 0;
}
int32_t Stream::writeInt(int32_t) {
    return 0;
}
uint32_t Stream::readDword() {
    return 0;
}
int32_t Stream::writeDword(uint32_t) {
    return 0;
}
char Stream::readChar() {
    return 0;
}
int32_t Stream::writeChar(char) {
    return 0;
}
uint8_t Stream::readByte() {
    return 0;
}
int32_t Stream::writeByte(uint8_t) {
    return 0;
}
int16_t Stream::readShort() {
    return 0;
}
int32_t Stream::writeShort(int16_t) {
    return 0;
}
int32_t Stream::readLong() {
    return 0;
}
int32_t Stream::writeLong(int32_t) {
    return 0;
}
int64_t Stream::readLongLong() {
    return 0;
}
int32_t Stream::writeLongLong(int64_t) {
    return 0;
}
uint8_t Stream::readU8() {
    return 0;
}
int32_t Stream::writeU8(uint8_t) {
    return 0;
}
uint16_t Stream::readU16() {
    return 0;
}
int32_t Stream::writeU16(uint16_t) {
    return 0;
}
uint32_t Stream::readU32() {
    return 0;
}
int32_t Stream::writeU32(uint32_t) {
    return 0;
}
uint64_t Stream::readU64() {
    return 0;
}
int32_t Stream::writeU64(uint64_t) {
    return 0;
}
float Stream::readFloat() {
    return 0;
}
int32_t Stream::writeFloat(float) {
    return 0;
}
double Stream::readDouble() {
    return 0;
}
int32_t Stream::writeDouble(double) {
    return 0;
}
int32_t Stream::readLine(char*, int32_t, char) {
    return 0;
}
int32_t Stream::writeString(const char*) {
    return 0;
}

MemoryStream::~MemoryStream() {
    close();
}
int32_t MemoryStream::open(Stream*, int32_t) {
    return 0;
}
int32_t MemoryStream::loadResource(int32_t) {
    return 0;
}
void MemoryStream::attach(void* b, int32_t s, bool owns) {
    close();
    buffer = static_cast<uint8_t*>(b);
    length = s;
    ownsBuffer = owns;
}
void MemoryStream::attachReadOnly(const void* b, int32_t s) {
    attach(const_cast<void*>(b), s, false);
    readOnly = true;
}
int32_t MemoryStream::reserve(int32_t s) {
    close();
    buffer = static_cast<uint8_t*>(std::malloc(size_t(s > 0 ? s : 1)));
    length = s;
    ownsBuffer = true;
    return buffer ? 1 : 0;
}
void* MemoryStream::detach() {
    return nullptr;
}
void MemoryStream::close() {
    if (ownsBuffer) std::free(buffer);
    buffer = nullptr;
    position = length = 0;
    ownsBuffer = readOnly = false;
}
int32_t MemoryStream::read(void* b, int32_t c) {
    int32_t n = c < length - position ? c : length - position;
    if (n <= 0) return 0;
    std::memcpy(b, buffer + position, size_t(n));
    position += n;
    return n;
}
int32_t MemoryStream::write(const void*, int32_t) {
    return 0;
}
int32_t MemoryStream::seek(int32_t p) {
    position = p < 0 ? 0 : (p > length ? length : p);
    return position;
}
int32_t MemoryStream::tell() {
    return position;
}
int32_t MemoryStream::size() {
    return length;
}
