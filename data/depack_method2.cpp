// The method-2 depacker: a small LZ77 layout of literal bytes, offset bytes and control bits.
//
// Control bits come from tag bytes interleaved with the data bytes; a tag byte is fetched when
// its first bit is needed and is used most significant bit first. The decoder keeps the last
// match offset (`lastOffset`) for the "gamma 2" previous-offset form. Every read is checked
// against the end of the packed data and every write against the unpacked size, so corrupt
// input is reported instead of overrunning either block.
#include "data/depacker.h"

#include "data/stream.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

// Bits of the current tag byte sit at the top of `tag`, followed by a marker bit; when only
// the marker is left, the next shift leaves 0 and the next tag byte is fetched.
struct Method2Reader {
    const uint8_t* in;
    const uint8_t* inEnd;
    uint32_t tag = 0;
    bool failed = false;

    uint32_t byte() {
        if (in == inEnd) {
            failed = true;
            return 0;
        }
        return *in++;
    }

    uint32_t bit() {
        uint32_t value = tag >> 31;
        tag <<= 1;
        if (tag == 0) {
            tag = (byte() << 24) | 0x00800000u;
            value = tag >> 31;
            tag <<= 1;
        }
        return value;
    }

    // v = 1; repeat { v = 2v + bit } while the next bit is 1. Values beyond 2^30 cannot be
    // an offset or a length inside a 32-bit block and mark the data as corrupt.
    uint32_t gamma() {
        uint32_t value = 1;
        do {
            value = (value << 1) + bit();
            if (value >= (1u << 30)) {
                failed = true;
                return 2;
            }
        } while (bit());
        return value;
    }
};

// Byte-by-byte copy from `offset` back; an offset below the length repeats the last bytes.
// When the distance allows and there is room past the end, whole 8-byte pieces are moved:
// each piece only reads bytes already written.
inline void copyMatch(uint8_t* out, uint32_t pos, uint32_t offset, uint32_t length,
                      uint32_t outSize) {
    uint8_t* dst = out + pos;
    const uint8_t* src = dst - offset;
    if (offset >= 8 && outSize - pos >= length + 8) {
        uint8_t* end = dst + length;
        do {
            std::memcpy(dst, src, 8);
            dst += 8;
            src += 8;
        } while (dst < end);
        return;
    }
    for (uint32_t i = 0; i < length; ++i)
        dst[i] = src[i];
}

} // namespace

bool decodeMethod2(const uint8_t* in, int32_t inSize, uint8_t* out, int32_t outSize) {
    if (in == nullptr || out == nullptr || inSize < 1 || outSize < 1)
        return false; // the first byte is always a literal: nothing smaller exists
    Method2Reader reader{in, in + inSize};
    const uint32_t size = static_cast<uint32_t>(outSize);
    uint32_t pos = 0;
    uint32_t lastOffset = 0; // no match yet: a previous-offset copy now is corrupt
    out[pos++] = static_cast<uint8_t>(reader.byte());

    for (;;) {
        if (reader.bit() == 0) { // literal
            uint32_t value = reader.byte();
            if (reader.failed || pos == size) return false;
            out[pos++] = static_cast<uint8_t>(value);
            continue;
        }
        uint32_t offset = 0;
        uint32_t length = 0;
        if (reader.bit() == 0) { // gamma-coded match
            uint32_t high = reader.gamma();
            if (high == 2) {
                offset = lastOffset;
                length = reader.gamma();
            } else {
                offset = ((high - 3) << 8) + reader.byte();
                length = reader.gamma();
                if (offset >= 32000)
                    length += 2;
                else if (offset >= 1280)
                    length += 1;
                else if (offset < 128)
                    length += 2;
                lastOffset = offset;
            }
        } else if (reader.bit() == 0) { // 7-bit offset, length 2 or 3, or the end mark
            uint32_t value = reader.byte();
            offset = value >> 1;
            if (offset == 0) return !reader.failed && pos == size;
            length = 2 + (value & 1);
            lastOffset = offset;
        } else { // 4-bit offset: one byte, or a zero byte for offset 0
            offset = reader.bit() << 3;
            offset |= reader.bit() << 2;
            offset |= reader.bit() << 1;
            offset |= reader.bit();
            if (reader.failed || pos == size || offset > pos) return false;
            out[pos] = offset ? out[pos - offset] : 0;
            ++pos;
            continue;
        }
        if (reader.failed || offset == 0 || offset > pos || length > size - pos) return false;
        copyMatch(out, pos, offset, length, size);
        pos += length;
    }
}

namespace {

class Method2Depacker final : public Depacker {
  public:
    // Reads everything from the source's position to its end in one read, then decodes.
    MemoryStream* unpack(Stream* source, int32_t unpackedSize) override {
        if (source == nullptr || unpackedSize < 1) return nullptr;
        int32_t available = source->size() - source->tell();
        if (available < 1) return nullptr;
        std::unique_ptr<uint8_t[]> packed(new (std::nothrow) uint8_t[available]);
        if (!packed) return nullptr;
        int32_t packedSize = source->read(packed.get(), available);
        auto* result = new (std::nothrow) MemoryStream();
        if (result == nullptr) return nullptr;
        if (!result->reserve(unpackedSize) ||
            !decodeMethod2(packed.get(), packedSize, result->data(), unpackedSize)) {
            delete result;
            return nullptr;
        }
        result->seek(0);
        return result;
    }
};

} // namespace

Depacker* method2Depacker() {
    static Method2Depacker instance;
    return &instance;
}
