// Method-1 decoder: edge cases of the stream layout, round trips through the packer, streams
// made by libbz2 (re-framed) as an outside reference, and a corruption sweep.
#include "data/depacker.h"
#include "data/stream.h"
#include "platform/log.h"
#include "tools/ncc/packers.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Decoded {
    const char* error = nullptr;
    Bytes output;
    int32_t endPosition = 0;
};

Decoded decode(const Bytes& packed, int32_t unpackedSize, int32_t startPosition = 0) {
    MemoryStream source;
    source.attachReadOnly(packed.data(), int32_t(packed.size()));
    source.seek(startPosition);
    Decoded result;
    result.output.assign(size_t(unpackedSize), 0);
    result.error = decodeMethod1(&source, result.output.data(), unpackedSize);
    result.endPosition = source.tell();
    return result;
}

std::string errorText(const char* error) {
    return error ? error : "(none)";
}

struct BitsOut {
    Bytes bytes;
    uint64_t bits = 0;
    int count = 0;
    void put(int n, uint64_t value) {
        for (int i = n - 1; i >= 0; i--) {
            bits = bits << 1 | ((value >> i) & 1);
            if (++count == 8) {
                bytes.push_back(uint8_t(bits));
                bits = 0;
                count = 0;
            }
        }
    }
    Bytes finish() {
        while (count != 0)
            put(1, 0);
        return bytes;
    }
};

struct BitsIn {
    const Bytes& bytes;
    size_t position = 0; // in bits
    uint64_t get(int n) {
        uint64_t value = 0;
        for (int i = 0; i < n; i++, position++)
            value = value << 1 | ((bytes[position / 8] >> (7 - position % 8)) & 1);
        return value;
    }
};

// CRC-32, polynomial 0x04C11DB7, most significant bit first, one bit at a time.
uint32_t bitwiseCrc(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; i++) {
        crc ^= uint32_t(data[i]) << 24;
        for (int bit = 0; bit < 8; bit++)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return ~crc;
}

uint32_t rotateLeft1(uint32_t value) {
    return value << 1 | value >> 31;
}

// ---- libbz2 streams in this system's framing ----------------------------------------------

constexpr uint64_t kBlockMagic = 0x314159265359ull;
constexpr uint64_t kEndMagic = 0x177245385090ull;

struct Reframed {
    Bytes stream;
    std::vector<uint32_t> blockCrcs;
    uint32_t combinedCrc = 0;
    size_t combinedCrcBit = 0; // bit position of the combined CRC in the stream
};

// Replaces the signature letters by the bare level, each 48-bit magic by a 3-bit tag, and
// drops the randomisation bit; the block contents are copied bit for bit.
Reframed reframeBzip2(const Bytes& bz) {
    Reframed result;
    BitsOut out;
    out.put(4, uint64_t(bz.at(3) - '0'));
    BitsIn in{bz, 32};
    const size_t totalBits = bz.size() * 8;
    for (;;) {
        uint64_t magic = in.get(48);
        if (magic == kEndMagic) {
            result.combinedCrc = uint32_t(in.get(32));
            out.put(3, 1);
            result.combinedCrcBit = out.bytes.size() * 8 + size_t(out.count);
            out.put(32, result.combinedCrc);
            break;
        }
        EXPECT_EQ(magic, kBlockMagic);
        if (magic != kBlockMagic) break;
        uint32_t crc = uint32_t(in.get(32));
        result.blockCrcs.push_back(crc);
        EXPECT_EQ(in.get(1), 0u); // not randomised
        out.put(3, 0);
        out.put(32, crc);
        // Copy up to the next magic number.
        BitsIn ahead{bz, in.position};
        uint64_t window = ahead.get(48);
        size_t end = in.position;
        while (window != kBlockMagic && window != kEndMagic && ahead.position < totalBits) {
            window = ((window << 1) | ahead.get(1)) & ((1ull << 48) - 1);
            end++;
        }
        while (in.position < end)
            out.put(1, in.get(1));
    }
    result.stream = out.finish();
    return result;
}

Bytes bzip2Compress(const Bytes& data, int level) {
    unsigned int size = unsigned(data.size() + data.size() / 100 + 600);
    Bytes out(size);
    int rc = BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &size,
                                      const_cast<char*>(reinterpret_cast<const char*>(data.data())),
                                      unsigned(data.size()), level, 0, 0);
    EXPECT_EQ(rc, BZ_OK);
    out.resize(size);
    return out;
}

// Wraps a one-block stream of this system in bzip2's framing: the block ends where the end
// tag and the combined CRC (equal to the block CRC for one block) stand before the padding.
Bytes wrapAsBzip2(const Bytes& stream) {
    BitsIn header{stream};
    uint64_t level = header.get(4);
    EXPECT_EQ(header.get(3), 0u);
    uint32_t crc = uint32_t(header.get(32));
    size_t blockEnd = 0;
    for (size_t pad = 0; pad < 8 && blockEnd == 0; pad++) {
        size_t end = stream.size() * 8 - pad;
        BitsIn tail{stream, end - 35};
        if (tail.get(3) == 1 && tail.get(32) == crc && tail.get(int(pad)) == 0) blockEnd = end - 35;
    }
    EXPECT_NE(blockEnd, 0u);
    BitsOut out;
    out.put(24, 0x425A68); // "BZh"
    out.put(8, '0' + level);
    out.put(48, kBlockMagic);
    out.put(32, crc);
    out.put(1, 0);
    BitsIn body{stream, 39};
    while (body.position < blockEnd)
        out.put(1, body.get(1));
    out.put(48, kEndMagic);
    out.put(32, crc);
    return out.finish();
}

// ---- Real files -----------------------------------------------------------------------------

Bytes textFile() {
    return readFile(std::string(LUX_SOURCE_DIR) + "/data/depack_method1.cpp");
}
Bytes moduleFile() {
    return readFile(std::string(LUX_TEST_DATA) + "/dali.xm");
}
Bytes photoFile() {
    return readFile(std::string(LUX_TEST_DATA) + "/scratch-lake.jpg");
}

// Over 1 MB of real bytes: the test files and the project's texts, one after the other until
// the size is reached.
Bytes largeMix() {
    std::vector<Bytes> parts = {
        moduleFile(), photoFile(), textFile(),
        readFile(std::string(LUX_SOURCE_DIR) + "/tools/ncc/pack_method1.cpp"),
        readFile(std::string(LUX_SOURCE_DIR) + "/data/stream.h")};
    Bytes mix;
    while (mix.size() < 1200000)
        for (const Bytes& part : parts)
            mix.insert(mix.end(), part.begin(), part.end());
    return mix;
}

// ---- Hand-made blocks -----------------------------------------------------------------------

// Level 1, one block over the bytes 'a' and 'b' (alphabet RUNA, RUNB, position 1, end) with
// 2-bit codes in both tables: a run of runLength 'a's, then `singles` symbols of position 1.
Bytes runBlock(int32_t runLength, int singles, int startLength = 2) {
    BitsOut out;
    out.put(4, 1);
    out.put(3, 0);
    out.put(32, 0); // block CRC
    out.put(24, 0); // origin pointer
    out.put(16, 0x8000u >> 6);
    out.put(16, (0x8000u >> 1) | (0x8000u >> 2));
    out.put(3, 2);  // tables
    out.put(15, 1); // selectors
    out.put(1, 0);
    for (int t = 0; t < 2; t++) {
        out.put(5, uint64_t(startLength));
        for (int length = startLength; length != 2; length += length < 2 ? 1 : -1)
            out.put(2, length < 2 ? 2 : 3);
        for (int s = 0; s < 4; s++)
            out.put(1, 0);
    }
    for (int32_t run = runLength; run > 0;) {
        if (run & 1) {
            out.put(2, 0);
            run = (run - 1) / 2;
        } else {
            out.put(2, 1);
            run = (run - 2) / 2;
        }
    }
    for (int i = 0; i < singles; i++)
        out.put(2, 2);
    out.put(2, 3);
    out.put(3, 1);
    out.put(32, 0);
    return out.finish();
}

// ---- Tests ----------------------------------------------------------------------------------

TEST(Method1Stream, levelsOutsideOneToNineAreWrongMagicNumber) {
    for (int level : {0, 10, 11, 12, 13, 14, 15}) {
        Bytes packed = {uint8_t(level << 4 | 0x2), 0, 0, 0, 0, 0};
        EXPECT_EQ(errorText(decode(packed, 0).error), "Data error (wrong magic number)") << level;
    }
}

TEST(Method1Stream, levelEndTagAndZeroCrcIsAnEmptyStreamEndingAtItsLastByte) {
    BitsOut out;
    out.put(4, 9);
    out.put(3, 1);
    out.put(32, 0);
    Bytes packed = out.finish();
    ASSERT_EQ(packed.size(), 5u);
    packed.insert(packed.end(), 20, 0xAB); // whatever follows stays unread
    Decoded d = decode(packed, 0);
    EXPECT_EQ(d.error, nullptr) << d.error;
    EXPECT_EQ(d.endPosition, 5);

    packed[4] ^= 0x02; // last bit of the combined CRC (bit 38)
    EXPECT_EQ(errorText(decode(packed, 0).error), "CRC error");
}

TEST(Method1Stream, unknownTagsAndBadTableCountsAreDataErrors) {
    for (int tag = 2; tag < 8; tag++) {
        BitsOut out;
        out.put(4, 1);
        out.put(3, uint64_t(tag));
        out.put(40, 0);
        EXPECT_EQ(errorText(decode(out.finish(), 0).error), "Data error") << tag;
    }
    Bytes good = runBlock(10, 0);
    // The table count sits after level, tag, CRC, origin and the two map fields.
    for (int tables : {0, 1, 7}) {
        Bytes bad = good;
        size_t bit = 4 + 3 + 32 + 24 + 16 + 16;
        for (int i = 0; i < 3; i++, bit++) {
            uint8_t mask = uint8_t(0x80 >> (bit % 8));
            bad[bit / 8] = uint8_t((bad[bit / 8] & ~mask) | (((tables >> (2 - i)) & 1) ? mask : 0));
        }
        EXPECT_EQ(errorText(decode(bad, 1000).error), "Data error") << tables;
    }
}

TEST(Method1Stream, codeLengthsOutsideOneToTwentyAreDataErrors) {
    EXPECT_EQ(errorText(decode(runBlock(10, 0, 0), 1000).error), "Data error");
    EXPECT_EQ(errorText(decode(runBlock(10, 0, 21), 1000).error), "Data error");
    // Start lengths 1 and 20 are in range; the block then fails only its CRC.
    EXPECT_EQ(errorText(decode(runBlock(10, 0, 1), 1000).error), "CRC error");
    EXPECT_EQ(errorText(decode(runBlock(10, 0, 20), 1000).error), "CRC error");
}

TEST(Method1Stream, blockLengthLimitForRunsAndSingleBytes) {
    const int32_t maxLength = 100000;
    const int32_t room = 6000000;
    // A run that would fill the block exactly is refused.
    EXPECT_EQ(errorText(decode(runBlock(maxLength, 0), room).error), "Data error");
    // One short of that is accepted, and one single byte may then fill the block...
    EXPECT_EQ(errorText(decode(runBlock(maxLength - 1, 0), room).error), "CRC error");
    EXPECT_EQ(errorText(decode(runBlock(maxLength - 1, 1), room).error), "CRC error");
    // ...but not one more.
    EXPECT_EQ(errorText(decode(runBlock(maxLength - 1, 2), room).error), "Data error");
}

TEST(Method1Stream, blockCrcAndCombinedCrcMatchTheReferenceStreams) {
    Bytes text = textFile();
    Bytes bz = bzip2Compress(text, 9);
    Reframed one = reframeBzip2(bz);
    ASSERT_EQ(one.blockCrcs.size(), 1u);
    EXPECT_EQ(one.blockCrcs[0], bitwiseCrc(text.data(), text.size()));
    EXPECT_EQ(one.combinedCrc, one.blockCrcs[0]);

    // Two blocks at level 1: combined = rotl1(rotl1(0) ^ crc1) ^ crc2.
    Bytes mix = largeMix();
    mix.resize(150000);
    Reframed two = reframeBzip2(bzip2Compress(mix, 1));
    ASSERT_EQ(two.blockCrcs.size(), 2u);
    uint32_t expected = rotateLeft1(rotateLeft1(0) ^ two.blockCrcs[0]) ^ two.blockCrcs[1];
    EXPECT_EQ(two.combinedCrc, expected);
    Decoded d = decode(two.stream, int32_t(mix.size()));
    ASSERT_EQ(d.error, nullptr) << d.error;
    EXPECT_EQ(d.output, mix);

    // The same stream with the two CRCs combined without the rotation fails.
    Bytes wrong = two.stream;
    uint32_t unrotated = two.blockCrcs[0] ^ two.blockCrcs[1];
    for (int i = 0; i < 32; i++) {
        size_t bit = two.combinedCrcBit + size_t(i);
        uint8_t mask = uint8_t(0x80 >> (bit % 8));
        wrong[bit / 8] =
            uint8_t((wrong[bit / 8] & ~mask) | (((unrotated >> (31 - i)) & 1) ? mask : 0));
    }
    EXPECT_EQ(errorText(decode(wrong, int32_t(mix.size())).error), "CRC error");
}

TEST(Method1Stream, reframedLibbz2StreamsOfRealFilesDecode) {
    for (const Bytes& file : {textFile(), moduleFile(), photoFile()}) {
        for (int level : {1, 9}) {
            Reframed r = reframeBzip2(bzip2Compress(file, level));
            Decoded d = decode(r.stream, int32_t(file.size()));
            ASSERT_EQ(d.error, nullptr) << d.error;
            EXPECT_EQ(d.output, file);
            EXPECT_EQ(size_t(d.endPosition), r.stream.size());
        }
    }
    Bytes mix = largeMix();
    Reframed r = reframeBzip2(bzip2Compress(mix, 1));
    EXPECT_GT(r.blockCrcs.size(), 10u);
    Decoded d = decode(r.stream, int32_t(mix.size()));
    ASSERT_EQ(d.error, nullptr) << d.error;
    EXPECT_EQ(d.output, mix);
}

TEST(Method1Stream, packerRoundTripsRealFilesAtSeveralLevels) {
    for (const Bytes& file : {textFile(), moduleFile(), photoFile(), Bytes{}, Bytes{'x'}}) {
        for (int level : {1, 5, 9}) {
            Bytes packed = packMethod1(file.data(), file.size(), level);
            Decoded d = decode(packed, int32_t(file.size()));
            ASSERT_EQ(d.error, nullptr) << d.error << " level " << level;
            EXPECT_EQ(d.output, file);
            EXPECT_EQ(size_t(d.endPosition), packed.size());
        }
    }
}

TEST(Method1Stream, packerBlocksDecodeWithLibbz2) {
    for (const Bytes& file : {textFile(), moduleFile(), photoFile()}) {
        Bytes bz = wrapAsBzip2(packMethod1(file.data(), file.size(), 9));
        Bytes out(file.size() + 1);
        unsigned int size = unsigned(out.size());
        int rc = BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out.data()), &size,
                                            reinterpret_cast<char*>(bz.data()), unsigned(bz.size()),
                                            0, 0);
        ASSERT_EQ(rc, BZ_OK);
        out.resize(size);
        EXPECT_EQ(out, file);
    }
}

TEST(Method1Stream, packerRoundTripsOverOneMegabyteInManyBlocks) {
    Bytes mix = largeMix();
    // Long runs cross the initial run-length step's 255-byte limit and block ends.
    mix.insert(mix.begin() + 99990, 70000, 'z');
    Bytes packed = packMethod1(mix.data(), mix.size(), 1);
    Decoded d = decode(packed, int32_t(mix.size()));
    ASSERT_EQ(d.error, nullptr) << d.error;
    EXPECT_TRUE(d.output == mix);
}

TEST(Method1Stream, sourceStandsRightAfterTheLastByteOfTheStream) {
    Bytes file = moduleFile();
    Bytes packed = packMethod1(file.data(), file.size(), 2);
    // 300 bytes before the stream, more than one input buffer's worth behind it
    Bytes withTail(300 + packed.size() + 40000, 0xC3);
    std::fill(withTail.begin(), withTail.begin() + 300, 0x55);
    std::copy(packed.begin(), packed.end(), withTail.begin() + 300);
    Decoded d = decode(withTail, int32_t(file.size()), 300);
    ASSERT_EQ(d.error, nullptr) << d.error;
    EXPECT_EQ(size_t(d.endPosition), 300 + packed.size());
}

TEST(Method1Stream, outputMustFillTheUnpackedSizeExactly) {
    Bytes file = textFile();
    Bytes packed = packMethod1(file.data(), file.size(), 1);
    EXPECT_EQ(errorText(decode(packed, int32_t(file.size()) - 1).error), "Data error");
    EXPECT_EQ(errorText(decode(packed, int32_t(file.size()) + 1).error), "Data error");
}

TEST(Method1Stream, bitFlipsAndTruncationsGiveErrorsNeverCrashes) {
    Bytes file = textFile();
    file.resize(6000);
    Bytes packed = packMethod1(file.data(), file.size(), 1);
    const std::vector<std::string> known = {"Data error (wrong magic number)",
                                            "Decompression mem allocation failed", "Data error",
                                            "CRC error"};
    auto check = [&](const Bytes& corrupt, const std::string& what) {
        Decoded d = decode(corrupt, int32_t(file.size()));
        if (d.error == nullptr)
            EXPECT_EQ(d.output, file) << what;
        else
            EXPECT_NE(std::find(known.begin(), known.end(), std::string(d.error)), known.end())
                << what;
    };
    for (size_t bit = 0; bit < packed.size() * 8; bit += bit < 2000 ? 1 : 7) {
        Bytes corrupt = packed;
        corrupt[bit / 8] ^= uint8_t(0x80 >> (bit % 8));
        check(corrupt, "flip " + std::to_string(bit));
    }
    for (size_t size = 0; size < packed.size(); size++) {
        Bytes cut(packed.begin(), packed.begin() + long(size));
        Decoded d = decode(cut, int32_t(file.size()));
        EXPECT_NE(d.error, nullptr) << "truncated to " << size;
    }
}

// The packer's densest output (one byte value, levels 1 and 9) stays within the size the
// depacker accepts for its length; a stream too short for one block holds nothing.
TEST(Method1Depacker, statedSizeIsCheckedAgainstWhatThePackedBytesCanHold) {
    Bytes zeros(20u << 20, 0);
    for (int level : {1, 9}) {
        Bytes packed = packMethod1(zeros.data(), zeros.size(), level);
        EXPECT_GE(method1MostUnpacked(int64_t(packed.size())), int64_t(zeros.size()));
        MemoryStream source;
        source.attachReadOnly(packed.data(), int32_t(packed.size()));
        MemoryStream* result = method1Depacker()->unpack(&source, int32_t(zeros.size()));
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(std::memcmp(result->data(), zeros.data(), zeros.size()), 0);
        delete result;
    }
    freeDepackerBuffers();
    EXPECT_EQ(method1MostUnpacked(5), 0); // level, end tag and CRC only
    EXPECT_EQ(method1MostUnpacked(0), 0);
}

TEST(Method1Depacker, unpackGivesARewoundStreamOfTheUnpackedBytes) {
    Bytes file = photoFile();
    Bytes packed = packMethod1(file.data(), file.size(), 9);
    MemoryStream source;
    source.attachReadOnly(packed.data(), int32_t(packed.size()));
    MemoryStream* result = method1Depacker()->unpack(&source, int32_t(file.size()));
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->tell(), 0);
    ASSERT_EQ(result->size(), int32_t(file.size()));
    EXPECT_EQ(std::memcmp(result->data(), file.data(), file.size()), 0);
    delete result;
    freeDepackerBuffers();
}

TEST(Method1DepackerDeathTest, corruptDataEndsInTheFatalPath) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Bytes packed = runBlock(10, 0, 0);
    EXPECT_EXIT(
        {
            setErrorDialogEnabled(false);
            MemoryStream source;
            source.attachReadOnly(packed.data(), int32_t(packed.size()));
            method1Depacker()->unpack(&source, 100);
        },
        testing::ExitedWithCode(1), "NZIP: depacker error: Data error");
}

} // namespace
