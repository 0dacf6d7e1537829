// The method-2 depacker: a small LZ77 layout of literal bytes, offset bytes and control bits.
//
// Control bits come from tag bytes interleaved with the data bytes; a tag byte is fetched when
// its first bit is needed and is used most significant bit first. The decoder keeps the last
// match offset (`lastOffset`) for the "gamma 2" previous-offset form. Every read is checked
// against the end of the packed data and every write against the unpacked size, so corrupt
// input is reported instead of overrunning either block.
#include "data/depacker.h"

#include "data/stream.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Decoder state. Bits of the current tag byte sit at the top of `tag`, followed by a marker
// bit; when only the marker is left, the next shift leaves 0 and the next tag byte is fetched.
struct Method2State {
    const uint8_t* in = nullptr;
    const uint8_t* inEnd = nullptr;
    uint8_t* out = nullptr;
    uint32_t size = 0;       // bytes the output must hold
    uint32_t pos = 0;        // bytes written
    uint32_t lastOffset = 0; // 0: no match yet, a previous-offset copy now is corrupt
    uint32_t tag = 0;
};

enum class Progress { NearInputEnd, Finished, Corrupt };

// One item reads at most 3 + 2 x 59 control bits (two gamma numbers cut off at 2^30), that
// is 16 tag bytes, and one data byte; a literal run reads 8 bytes. The unchecked loop stops
// while this much input is left.
constexpr ptrdiff_t kInputMargin = 32;

// Copies run from the lowest address up, so an offset below the length repeats the last
// `offset` bytes. When there is room past the end, whole 8-byte pieces are moved: a piece
// only reads bytes already written once the distance is 8 or more, and a shorter distance
// is first widened to a multiple of itself that is (the pattern repeats with that period).
inline void copyMatch(uint8_t* out, uint32_t pos, uint32_t offset, uint32_t length, uint32_t size) {
    uint8_t* dst = out + pos;
    const uint8_t* src = dst - offset;
    if (size - pos >= length + 16 && (offset >= 8 || length > 8)) {
        uint8_t* end = dst + length;
        if (offset < 8) {
            uint32_t period = offset;
            while (period < 8)
                period += offset;
            for (uint32_t i = 0; i < period; ++i)
                dst[i] = src[i];
            src = dst;
            dst += period;
        }
        while (dst < end) {
            std::memcpy(dst, src, 8);
            dst += 8;
            src += 8;
        }
        return;
    }
    for (uint32_t i = 0; i < length; ++i)
        dst[i] = src[i];
}

// Decodes items until the end mark, corrupt data, or (unchecked) the input margin. With
// kChecked every read tests the end of the packed data; without it the loop keeps
// kInputMargin bytes in hand. The state is worked on in locals: the output bytes may alias
// anything, and stores through them would otherwise force reloads of the state.
template <bool kChecked> Progress decodeItems(Method2State& state) {
    const uint8_t* in = state.in;
    const uint8_t* const inEnd = state.inEnd;
    const uint8_t* const fastEnd = inEnd - kInputMargin;
    uint8_t* const out = state.out;
    const uint32_t size = state.size;
    uint32_t pos = state.pos;
    uint32_t lastOffset = state.lastOffset;
    uint32_t tag = state.tag;
    bool failed = false;

    auto byte = [&]() -> uint32_t {
        if constexpr (kChecked) {
            if (in == inEnd) {
                failed = true;
                return 0;
            }
        }
        return *in++;
    };
    auto bit = [&]() -> uint32_t {
        uint32_t value = tag >> 31;
        tag <<= 1;
        if (tag == 0) [[unlikely]] {
            tag = (byte() << 24) | 0x00800000u;
            value = tag >> 31;
            tag <<= 1;
        }
        return value;
    };
    // Control bits still held in the current tag byte (they end right above the marker).
    auto tagBits = [&]() -> uint32_t {
        return tag ? 31 - static_cast<uint32_t>(__builtin_ctz(tag)) : 0;
    };
    // n <= 8 bits, most significant first; all at once when the tag byte holds them.
    auto bits = [&](uint32_t n) -> uint32_t {
        if (tagBits() >= n) {
            uint32_t value = tag >> (32 - n);
            tag <<= n;
            return value;
        }
        uint32_t value = 0;
        for (uint32_t i = 0; i < n; ++i)
            value = (value << 1) | bit();
        return value;
    };
    // v = 1; repeat { v = 2v + bit } while the next bit is 1. Values of 2^30 and more cannot
    // be an offset or a length inside a 32-bit block and mark the data as corrupt. The
    // common values 2 to 7 (data, continue, data, continue bits) are read at once when the
    // tag byte holds them.
    auto gamma = [&]() -> uint32_t {
        if (tagBits() >= 4) {
            uint32_t top = tag >> 28;
            if (!(top & 4)) {
                tag <<= 2;
                return 2 | (top >> 3);
            }
            if (!(top & 1)) {
                tag <<= 4;
                return 4 | ((top >> 2) & 2) | ((top >> 1) & 1);
            }
        }
        uint32_t value = 1;
        do {
            value = (value << 1) + bit();
            if (value >= (1u << 30)) [[unlikely]] {
                failed = true;
                return 2;
            }
        } while (bit());
        return value;
    };

    Progress progress = Progress::NearInputEnd;
    while (kChecked || in < fastEnd) {
        if constexpr (!kChecked) {
            // A run of 0 bits in the current tag byte is a run of literals: move them at once.
            // The data bits left in the tag end right above its marker bit.
            if (tag != 0 && size - pos >= 8) {
                uint32_t run = std::min(static_cast<uint32_t>(__builtin_clz(tag)), tagBits());
                if (run != 0) {
                    std::memcpy(out + pos, in, 8);
                    pos += run;
                    in += run;
                    tag <<= run;
                    continue;
                }
            }
        }
        if (bit() == 0) { // literal
            uint32_t value = byte();
            if (failed || pos == size) [[unlikely]] {
                progress = Progress::Corrupt;
                break;
            }
            out[pos++] = static_cast<uint8_t>(value);
            continue;
        }
        uint32_t offset = 0;
        uint32_t length = 0;
        if (bit() == 0) { // gamma-coded match
            uint32_t high = gamma();
            if (high == 2) {
                offset = lastOffset;
                length = gamma();
            } else {
                offset = ((high - 3) << 8) + byte();
                length = gamma();
                length += (offset >= 32000) + (offset >= 1280) + 2 * (offset < 128);
                lastOffset = offset;
            }
        } else if (bit() == 0) { // 7-bit offset, length 2 or 3, or the end mark
            uint32_t value = byte();
            offset = value >> 1;
            if (offset == 0) {
                progress = !failed && pos == size ? Progress::Finished : Progress::Corrupt;
                break;
            }
            length = 2 + (value & 1);
            lastOffset = offset;
        } else { // 4-bit offset: one byte, or a zero byte for offset 0
            offset = bits(4);
            if (failed || pos == size || offset > pos) [[unlikely]] {
                progress = Progress::Corrupt;
                break;
            }
            out[pos] = offset ? out[pos - offset] : 0;
            ++pos;
            continue;
        }
        if (failed || offset == 0 || offset > pos || length > size - pos) [[unlikely]] {
            progress = Progress::Corrupt;
            break;
        }
        copyMatch(out, pos, offset, length, size);
        pos += length;
    }
    state.in = in;
    state.pos = pos;
    state.lastOffset = lastOffset;
    state.tag = tag;
    return progress;
}

} // namespace

bool decodeMethod2(const uint8_t* in, int32_t inSize, uint8_t* out, int32_t outSize) {
    if (in == nullptr || out == nullptr || inSize < 1 || outSize < 1)
        return false; // the first byte is always a literal: nothing smaller exists
    Method2State s;
    s.in = in + 1;
    s.inEnd = in + inSize;
    s.out = out;
    s.size = static_cast<uint32_t>(outSize);
    out[0] = in[0];
    s.pos = 1;
    Progress progress = Progress::NearInputEnd;
    if (inSize > kInputMargin) progress = decodeItems<false>(s);
    if (progress == Progress::NearInputEnd) progress = decodeItems<true>(s);
    return progress == Progress::Finished;
}

namespace {

class Method2Depacker final : public Depacker {
  public:
    // Reads everything from the source's position to its end in one read (also when the
    // call then fails), then decodes.
    MemoryStream* unpack(Stream* source, int32_t unpackedSize) override {
        if (source == nullptr) return nullptr;
        int32_t available = source->size() - source->tell();
        if (available < 1) return nullptr;
        std::unique_ptr<uint8_t[]> packed(new (std::nothrow) uint8_t[available]);
        if (!packed) return nullptr;
        int32_t packedSize = source->read(packed.get(), available);
        if (unpackedSize < 1) return nullptr;
        std::unique_ptr<MemoryStream> result(new (std::nothrow) MemoryStream());
        if (!result || !result->reserve(unpackedSize) ||
            !decodeMethod2(packed.get(), packedSize, result->data(), unpackedSize))
            return nullptr;
        result->seek(0);
        return result.release();
    }
};

} // namespace

Depacker* method2Depacker() {
    static Method2Depacker instance;
    return &instance;
}
