#include "data/depacker.h"
#include "data/stream.h"
#include "tools/ncc/packers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes readTestFile(const char* name) {
    std::ifstream file(std::string(LUX_TEST_DATA) + "/" + name, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(file)), {});
}

Bytes bytesOf(const char* text) {
    return Bytes(text, text + std::strlen(text));
}

// Decodes into a block with guard bytes behind it, so that a write past the unpacked size
// shows even without a sanitizer. Returns false on a decode error; fails the test on overrun.
bool decodeGuarded(const Bytes& packed, int32_t outSize, Bytes* result = nullptr) {
    constexpr size_t kGuard = 64;
    Bytes input(packed); // exact size: a sanitizer build catches reads past it
    Bytes out(static_cast<size_t>(std::max(outSize, 0)) + kGuard, 0xA5);
    bool ok = decodeMethod2(input.data(), static_cast<int32_t>(input.size()), out.data(), outSize);
    for (size_t i = out.size() - kGuard; i < out.size(); ++i)
        EXPECT_EQ(out[i], 0xA5) << "write past the unpacked size at " << i;
    if (result && ok) result->assign(out.begin(), out.begin() + outSize);
    return ok;
}

// Writes streams by hand in the layout: data bytes in order, a tag byte reserved at the
// point its first bit is written, bits most significant first.
struct Assembler {
    Bytes out;
    size_t tagAt = 0;
    int bitsLeft = 0;

    void byte(uint8_t value) { out.push_back(value); }
    void bit(int value) {
        if (bitsLeft == 0) {
            tagAt = out.size();
            out.push_back(0);
            bitsLeft = 8;
        }
        --bitsLeft;
        if (value) out[tagAt] |= static_cast<uint8_t>(1 << bitsLeft);
    }
    void gamma(uint32_t value) {
        int top = 31;
        while (!(value >> top))
            --top;
        for (int i = top - 1; i >= 0; --i) {
            bit((value >> i) & 1);
            bit(i > 0);
        }
    }
    void literal(uint8_t value) {
        bit(0);
        byte(value);
    }
    void longMatch(uint32_t offset, uint32_t codedLength) {
        bit(1);
        bit(0);
        gamma((offset >> 8) + 3);
        byte(static_cast<uint8_t>(offset & 0xFF));
        gamma(codedLength);
    }
    void end() {
        bit(1);
        bit(1);
        bit(0);
        byte(0);
    }
};

// Streams written bit by bit on paper; expected outputs worked out by hand.

TEST(Method2Decode, oneLiteralAndEndMarkYieldsThatByte) {
    Bytes out;
    ASSERT_TRUE(decodeGuarded({'A', 0xC0, 0x00}, 1, &out));
    EXPECT_EQ(out, bytesOf("A"));
    EXPECT_FALSE(decodeGuarded({'A', 0xC0, 0x00}, 2));
    EXPECT_FALSE(decodeGuarded({'A', 0xC0, 0x00}, 0));
}

TEST(Method2Decode, literalsThenShortMatchOfLengthThree) {
    // 'a' | tag 0,0,1,1,0,1,1,0 | 'b' 'c' | (3 << 1) | 1 | 0 (end)
    Bytes out;
    ASSERT_TRUE(decodeGuarded({'a', 0x36, 'b', 'c', 0x07, 0x00}, 6, &out));
    EXPECT_EQ(out, bytesOf("abcabc"));
}

TEST(Method2Decode, overlappingCopyRepeatsTheLastBytes) {
    // 'a', then a gamma-coded match at offset 1 with coded length 8 (offsets below 128 add
    // 2): tag 1,0,1,0,0,1,0,1 | offset byte 1 | tag 0,0,1,1,0,... | end byte.
    Bytes out;
    ASSERT_TRUE(decodeGuarded({'a', 0xA5, 0x01, 0x30, 0x00}, 11, &out));
    EXPECT_EQ(out, Bytes(11, 'a'));
}

TEST(Method2Decode, previousOffsetAfterNibbleCopyUsesLastLongerMatch) {
    // "abcd", short match offset 4 length 2 ("ab"), 4-bit offset 1 ("b"), then gamma 2 with
    // length 2: the offset is still 4 ("da"), not 1 ("bb").
    // Tags: 0,0,0,1,1,0,1,1 | 1,0,0,0,1,1,0,0 | 0,0,0,1,1,0
    Bytes packed{'a', 0x1B, 'b', 'c', 'd', 0x08, 0x8C, 0x18, 0x00};
    Bytes out;
    ASSERT_TRUE(decodeGuarded(packed, 9, &out));
    EXPECT_EQ(out, bytesOf("abcdabbda"));
}

TEST(Method2Decode, nibbleOffsetZeroWritesZeroByte) {
    Assembler a;
    a.byte('x');
    for (int b : {1, 1, 1, 0, 0, 0, 0})
        a.bit(b);
    a.end();
    Bytes out;
    ASSERT_TRUE(decodeGuarded(a.out, 2, &out));
    EXPECT_EQ(out, (Bytes{'x', 0}));
}

TEST(Method2Decode, gammaMatchLengthGrowsWithOffsetRanges) {
    // Coded length 2 everywhere: offsets below 128 and from 32000 add 2, from 1280 add 1,
    // 128 to 1279 add nothing.
    const struct {
        uint32_t offset;
        uint32_t length;
    } cases[] = {{1, 4},    {127, 4},  {128, 2},   {255, 2},   {256, 2},
                 {1279, 2}, {1280, 3}, {31999, 3}, {32000, 4}, {40000, 4}};
    for (const auto& c : cases) {
        Assembler a;
        Bytes expected;
        uint32_t seed = 12345;
        for (uint32_t i = 0; i < c.offset; ++i) {
            seed = seed * 1103515245u + 12345u;
            uint8_t value = static_cast<uint8_t>(seed >> 16);
            expected.push_back(value);
            if (i == 0)
                a.byte(value);
            else
                a.literal(value);
        }
        a.longMatch(c.offset, 2);
        a.end();
        for (uint32_t i = 0; i < c.length; ++i)
            expected.push_back(expected[expected.size() - c.offset]);
        Bytes out;
        int32_t size = static_cast<int32_t>(expected.size());
        ASSERT_TRUE(decodeGuarded(a.out, size, &out)) << "offset " << c.offset;
        EXPECT_EQ(out, expected) << "offset " << c.offset;
        EXPECT_FALSE(decodeGuarded(a.out, size - 1)) << "offset " << c.offset;
        EXPECT_FALSE(decodeGuarded(a.out, size + 1)) << "offset " << c.offset;
    }
}

TEST(Method2Decode, copiesReachingBeforeTheStartAreCorrupt) {
    // Short match at offset 2 after one byte.
    EXPECT_FALSE(decodeGuarded({'a', 0xD8, 0x04, 0x00}, 3));
    // Previous-offset copy before any match: 1,0, gamma 2, gamma 2.
    Assembler rep;
    rep.byte('a');
    for (int b : {1, 0, 0, 0, 0, 0})
        rep.bit(b);
    rep.end();
    EXPECT_FALSE(decodeGuarded(rep.out, 3));
    // 4-bit offset 2 after one byte.
    Assembler nibble;
    nibble.byte('a');
    for (int b : {1, 1, 1, 0, 0, 1, 0})
        nibble.bit(b);
    nibble.end();
    EXPECT_FALSE(decodeGuarded(nibble.out, 2));
    // Gamma-coded offset 0 (high part 3, low byte 0).
    Assembler zero;
    zero.byte('a');
    zero.longMatch(0, 2);
    zero.end();
    EXPECT_FALSE(decodeGuarded(zero.out, 5));
}

TEST(Method2Decode, endlessGammaNumberIsCorrupt) {
    Bytes packed{'a', 0x80 | 0x3F};
    packed.resize(64, 0xFF); // 1,0 then continue bits forever
    EXPECT_FALSE(decodeGuarded(packed, 1000));
}

// Round trips through the packer.

void expectRoundTrip(const Bytes& data, int level) {
    Bytes packed = packMethod2(data.data(), data.size(), level);
    ASSERT_FALSE(packed.empty());
    Bytes out;
    ASSERT_TRUE(decodeGuarded(packed, static_cast<int32_t>(data.size()), &out))
        << "level " << level << ", " << data.size() << " bytes";
    EXPECT_TRUE(out == data) << "level " << level << ", " << data.size() << " bytes";
}

TEST(Method2Pack, emptyInputHasNoRepresentation) {
    uint8_t none = 0;
    EXPECT_TRUE(packMethod2(&none, 0, 9).empty());
}

TEST(Method2Pack, oneByteIsLiteralAndEndMark) {
    const uint8_t byte = 0x5A;
    EXPECT_EQ(packMethod2(&byte, 1, 9), (Bytes{0x5A, 0xC0, 0x00}));
}

TEST(Method2Pack, realFilesRoundTripAtEveryLevel) {
    for (const char* name : {"gpl-2.txt", "dali.xm", "scratch-lake.jpg"}) {
        Bytes data = readTestFile(name);
        ASSERT_FALSE(data.empty()) << name;
        for (int level : {1, 5, 9}) {
            SCOPED_TRACE(name);
            expectRoundTrip(data, level);
        }
    }
}

TEST(Method2Pack, textPacksNearDeflateAndPackedDataBarelyGrows) {
    Bytes text = readTestFile("gpl-2.txt");
    Bytes packed = packMethod2(text.data(), text.size(), 9);
    // The same text takes 6830 bytes in the deflate format at its highest level (gzip -9).
    EXPECT_LT(packed.size(), 7300u);
    Bytes jpeg = readTestFile("scratch-lake.jpg");
    // Already-compressed data grows by at most the tag bits (1 in 9).
    EXPECT_LE(packMethod2(jpeg.data(), jpeg.size(), 9).size(), jpeg.size() * 9 / 8 + 8);
}

TEST(Method2Pack, shortAndRepetitiveInputsRoundTrip) {
    expectRoundTrip(bytesOf("ab"), 9);
    expectRoundTrip(Bytes(1000, 0), 9);
    expectRoundTrip(Bytes(100000, 'x'), 1);
    expectRoundTrip(bytesOf("abcabcabcabcXabcabcYabcabcabcabcXabcabcY"), 9);
}

TEST(Method2Pack, overOneMegabyteRoundTrips) {
    // Real files one after another, several times over with small changes, so that matches
    // reach far back (offsets of 32000 and more) and the parser works in several blocks.
    Bytes pieces[] = {readTestFile("scratch-lake.jpg"), readTestFile("dali.xm"),
                      readTestFile("gpl-2.txt")};
    Bytes data;
    for (int round = 0; data.size() <= (1u << 20) + 100000; ++round) {
        for (const Bytes& piece : pieces) {
            data.insert(data.end(), piece.begin(), piece.end());
            data[data.size() - 1 - static_cast<size_t>(round) * 997 % piece.size()] ^= 0x55;
        }
    }
    expectRoundTrip(data, 1);
    expectRoundTrip(data, 9);
}

// Corruptions of real packed data: never a crash, an overrun or a hang.

TEST(Method2Corrupt, everyBitFlipDecodesSafely) {
    Bytes text = readTestFile("gpl-2.txt");
    text.resize(3000);
    Bytes xm = readTestFile("dali.xm");
    xm.resize(3000);
    for (const Bytes& data : {text, xm}) {
        Bytes packed = packMethod2(data.data(), data.size(), 9);
        int32_t size = static_cast<int32_t>(data.size());
        int rejected = 0;
        for (size_t i = 0; i < packed.size() * 8; ++i) {
            Bytes flipped = packed;
            flipped[i / 8] ^= static_cast<uint8_t>(0x80 >> (i % 8));
            rejected += !decodeGuarded(flipped, size);
        }
        // Flipped literal bytes still decode (there is no checksum); flipped control bits
        // mostly do not.
        EXPECT_GT(rejected, 0);
        // The end mark's byte: only its lowest bit (the length bit) leaves offset 0; any
        // other flip turns it into a copy beyond the unpacked size.
        for (int b = 1; b < 8; ++b) {
            Bytes flipped = packed;
            flipped.back() ^= static_cast<uint8_t>(1 << b);
            EXPECT_FALSE(decodeGuarded(flipped, size)) << "bit " << b;
        }
    }
}

TEST(Method2Corrupt, everyTruncationIsRejected) {
    Bytes data = readTestFile("dali.xm");
    data.resize(4000);
    Bytes packed = packMethod2(data.data(), data.size(), 9);
    for (size_t length = 0; length < packed.size(); ++length) {
        Bytes cut(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(decodeGuarded(cut, static_cast<int32_t>(data.size()))) << length;
    }
}

TEST(Method2Corrupt, wrongUnpackedSizesAreRejected) {
    Bytes data = readTestFile("gpl-2.txt");
    Bytes packed = packMethod2(data.data(), data.size(), 9);
    int32_t size = static_cast<int32_t>(data.size());
    for (int32_t wrong : {0, -1, 1, size - 1, size + 1, size * 2, 1 << 24})
        EXPECT_FALSE(decodeGuarded(packed, wrong)) << wrong;
    EXPECT_TRUE(decodeGuarded(packed, size));
}

// The depacker object: reads the source from its position to its end, hands back a stream
// of the unpacked bytes at position 0.

TEST(Method2Depacker, unpacksFromTheSourcePositionToItsEnd) {
    Bytes data = readTestFile("gpl-2.txt");
    Bytes packed = packMethod2(data.data(), data.size(), 9);
    Bytes archive(100 + packed.size(), 0xEE); // 100 bytes before the member
    std::memcpy(archive.data() + 100, packed.data(), packed.size());
    MemoryStream source;
    source.attachReadOnly(archive.data(), static_cast<int32_t>(archive.size()));
    source.seek(100);

    Depacker* depacker = depackerFor(2);
    ASSERT_EQ(depacker, method2Depacker());
    std::unique_ptr<MemoryStream> result(
        depacker->unpack(&source, static_cast<int32_t>(data.size())));
    ASSERT_TRUE(result);
    EXPECT_EQ(source.tell(), source.size());
    EXPECT_EQ(result->tell(), 0);
    ASSERT_EQ(result->size(), static_cast<int32_t>(data.size()));
    Bytes out(data.size());
    EXPECT_EQ(result->read(out.data(), static_cast<int32_t>(out.size())),
              static_cast<int32_t>(out.size()));
    EXPECT_TRUE(out == data);
}

TEST(Method2Depacker, corruptOrMissingInputGivesNoStream) {
    Bytes data = readTestFile("dali.xm");
    Bytes packed = packMethod2(data.data(), data.size(), 9);
    int32_t size = static_cast<int32_t>(data.size());
    Depacker* depacker = method2Depacker();

    auto unpack = [&](MemoryStream& source, int32_t unpackedSize) {
        return std::unique_ptr<MemoryStream>(depacker->unpack(&source, unpackedSize));
    };
    MemoryStream truncated;
    truncated.attachReadOnly(packed.data(), static_cast<int32_t>(packed.size()) - 1);
    EXPECT_FALSE(unpack(truncated, size));

    MemoryStream whole;
    whole.attachReadOnly(packed.data(), static_cast<int32_t>(packed.size()));
    EXPECT_FALSE(unpack(whole, size + 1));
    EXPECT_EQ(whole.tell(), whole.size()); // consumed even when it fails
    whole.seek(0);
    EXPECT_FALSE(unpack(whole, 0));
    // At the end of the source there is nothing to unpack.
    EXPECT_FALSE(unpack(whole, size));
    whole.seek(0);
    EXPECT_TRUE(unpack(whole, size));
}

} // namespace
