// Method-1 decoder: block-sorting with Huffman-coded move-to-front symbols and CRCs.
//
// Sections: CRC tables, bit input, Huffman tables, block header, symbol decoding, inverse
// transform with the final run-length step, stream loop, the depacker object.
//
// Every read of the input is bounded: past the end of the source the bit input supplies
// zero bits and counts them, and each decoding stage checks that count before it trusts
// what it read. The output never goes past unpackedSize.
#include "data/depacker.h"

#include "data/stream.h"
#include "platform/log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr int32_t kBufferSize = 16384;
constexpr int32_t kLevelBlockSize = 100000;
constexpr int kMaxTables = 6;
constexpr int kMaxAlphabet = 258;
constexpr int kMaxCodeLength = 20;
constexpr int kGroupSize = 50;
constexpr int kLookupBits = 10; // codes up to this length decode with one table lookup

constexpr const char* kWrongMagic = "Data error (wrong magic number)";
constexpr const char* kAllocationFailed = "Decompression mem allocation failed";
constexpr const char* kDataError = "Data error";
constexpr const char* kCrcError = "CRC error";

// ---- CRC: polynomial 0x04C11DB7, most significant bit first --------------------------------

struct CrcTables {
    uint32_t table[8][256]; // table[k][x]: byte x followed by k zero bytes

    CrcTables() {
        for (uint32_t x = 0; x < 256; x++) {
            uint32_t crc = x << 24;
            for (int bit = 0; bit < 8; bit++)
                crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
            table[0][x] = crc;
        }
        for (int k = 1; k < 8; k++)
            for (int x = 0; x < 256; x++)
                table[k][x] = (table[k - 1][x] << 8) ^ table[0][table[k - 1][x] >> 24];
    }
};

const CrcTables crcTables; // built at start-up

// Same result as the byte-at-a-time update, eight bytes per step.
uint32_t updateCrc(uint32_t crc, const uint8_t* bytes, int32_t count) {
    const auto& t = crcTables.table;
    while (count >= 8) {
        uint32_t high = crc ^ (uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 |
                               uint32_t(bytes[2]) << 8 | bytes[3]);
        crc = t[7][high >> 24] ^ t[6][(high >> 16) & 0xff] ^ t[5][(high >> 8) & 0xff] ^
              t[4][high & 0xff] ^ t[3][bytes[4]] ^ t[2][bytes[5]] ^ t[1][bytes[6]] ^ t[0][bytes[7]];
        bytes += 8;
        count -= 8;
    }
    while (count-- > 0)
        crc = (crc << 8) ^ t[0][(crc >> 24) ^ *bytes++];
    return crc;
}

// ---- Work array shared by all decodes; freeDepackerBuffers releases it at program end ------

uint32_t* workArray = nullptr;
int32_t workEntries = 0;

bool growWorkArray(int32_t entries) {
    if (entries <= workEntries) return true;
    std::free(workArray);
    workArray = static_cast<uint32_t*>(std::malloc(size_t(entries) * sizeof(uint32_t)));
    workEntries = workArray ? entries : 0;
    return workArray != nullptr;
}

// ---- Bit input ------------------------------------------------------------------------------

// Bits stand at the top of `bits`, next bit first. Past the source's end, zero bytes are
// appended and counted in paddedBits; the stream overran when fewer valid bits remain than
// were padded.
struct BitInput {
    Stream* source = nullptr;
    int32_t fill = 0;
    int32_t position = 0;
    uint64_t bits = 0;
    int32_t count = 0;
    int32_t paddedBits = 0;
    uint8_t buffer[kBufferSize];

    void refill() {
        while (count <= 56) {
            if (position == fill && !readMore()) {
                count += 8; // zero byte past the end
                paddedBits += 8;
                continue;
            }
            bits |= uint64_t(buffer[position++]) << (56 - count);
            count += 8;
        }
    }
    bool readMore() {
        if (paddedBits > 0) return false;
        fill = source->read(buffer, kBufferSize);
        if (fill < 0) fill = 0;
        position = 0;
        return fill > 0;
    }
    bool overran() const { return count < paddedBits; }
    uint32_t peek(int n) const { return uint32_t(bits >> (64 - n)); }
    void skip(int n) {
        bits <<= n;
        count -= n;
    }
    // n is 1 to 24.
    uint32_t get(int n) {
        if (count < n) refill();
        uint32_t value = peek(n);
        skip(n);
        return value;
    }
    uint32_t get32() {
        uint32_t high = get(16);
        return high << 16 | get(16);
    }
    // Whole bytes read from the source but not consumed.
    int32_t unusedBytes() const { return (fill - position) + (count - paddedBits) / 8; }
};

// ---- Huffman tables -------------------------------------------------------------------------

struct HuffmanTable {
    uint16_t lookup[1 << kLookupBits] = {}; // symbol << 5 | length; 0: longer than kLookupBits
    uint32_t firstCode[kMaxCodeLength + 1] = {};
    uint32_t codeCount[kMaxCodeLength + 1] = {};
    uint16_t firstIndex[kMaxCodeLength + 1] = {}; // position of the length's first symbol
    uint16_t symbols[kMaxAlphabet] = {};          // by length, then symbol number
    int maxLength = 0;
};

// Canonical code from the lengths; an over-subscribed set of lengths is no code at all.
bool buildTable(HuffmanTable& table, const uint8_t* lengths, int alphabetSize) {
    uint32_t count[kMaxCodeLength + 1] = {};
    for (int s = 0; s < alphabetSize; s++)
        count[lengths[s]]++;
    int64_t space = 1;
    uint32_t code = 0;
    uint16_t index = 0;
    table.maxLength = 0;
    for (int length = 1; length <= kMaxCodeLength; length++) {
        space = space * 2 - count[length];
        if (space < 0) return false;
        table.firstCode[length] = code;
        table.codeCount[length] = count[length];
        table.firstIndex[length] = index;
        code = (code + count[length]) << 1;
        index = uint16_t(index + count[length]);
        if (count[length] > 0) table.maxLength = length;
    }
    uint16_t next[kMaxCodeLength + 1];
    std::memcpy(next, table.firstIndex, sizeof(next));
    for (int s = 0; s < alphabetSize; s++)
        table.symbols[next[lengths[s]]++] = uint16_t(s);

    std::memset(table.lookup, 0, sizeof(table.lookup));
    for (int length = 1; length <= kLookupBits; length++) {
        for (uint32_t i = 0; i < table.codeCount[length]; i++) {
            uint32_t symbol = table.symbols[table.firstIndex[length] + i];
            uint32_t first = (table.firstCode[length] + i) << (kLookupBits - length);
            uint32_t end = first + (1u << (kLookupBits - length));
            for (uint32_t e = first; e < end; e++)
                table.lookup[e] = uint16_t(symbol << 5 | uint32_t(length));
        }
    }
    return true;
}

// Needs at least kMaxCodeLength valid (or padded) bits in the input. Returns -1 when the
// bits match no code.
inline int decodeSymbol(BitInput& in, const HuffmanTable& table) {
    uint16_t entry = table.lookup[in.peek(kLookupBits)];
    if (entry != 0) {
        in.skip(entry & 31);
        return entry >> 5;
    }
    for (int length = kLookupBits + 1; length <= table.maxLength; length++) {
        uint32_t offset = in.peek(length) - table.firstCode[length];
        if (offset < table.codeCount[length]) {
            in.skip(length);
            return table.symbols[table.firstIndex[length] + offset];
        }
    }
    return -1;
}

// ---- Decoder state --------------------------------------------------------------------------

struct Method1Decoder {
    BitInput in;
    uint8_t* out = nullptr;
    int32_t outSize = 0;
    int32_t outWritten = 0;
    uint8_t outBuffer[kBufferSize];
    int32_t outFill = 0;

    int32_t maxBlockLength = 0;
    int32_t blockCount = 0;
    uint32_t blockCrc = 0;
    uint32_t combinedCrc = 0;

    int32_t originPointer = 0;
    int alphabetSize = 0;
    uint8_t usedBytes[256] = {};
    int tableCount = 0;
    int32_t selectorCount = 0;
    uint8_t selectors[32768] = {};
    HuffmanTable tables[kMaxTables];
    int32_t byteCounts[256] = {};
    int32_t blockLength = 0;

    const char* decodeStream();
    const char* decodeBlock();
    const char* readBlockHeader();
    const char* readCodeLengths();
    const char* decodeSymbols();
    const char* writeBlock();
    bool flushOutput();
};

const char* Method1Decoder::decodeStream() {
    uint32_t level = in.get(4);
    if (level < 1 || level > 9) return kWrongMagic;
    maxBlockLength = int32_t(level) * kLevelBlockSize;
    if (!growWorkArray(maxBlockLength)) return kAllocationFailed;
    for (;;) {
        uint32_t tag = in.get(3);
        if (in.overran()) return kDataError;
        if (tag == 1) break;
        if (tag != 0) return kDataError;
        if (const char* error = decodeBlock()) return error;
        blockCount++;
    }
    uint32_t storedCombined = in.get32();
    if (in.overran()) return kDataError;
    if (storedCombined != combinedCrc) return kCrcError;
    if (outWritten != outSize)
        return kDataError; // the stream holds fewer bytes than the member should
    in.source->seekRelative(-in.unusedBytes());
    return nullptr;
}

const char* Method1Decoder::decodeBlock() {
    uint32_t storedCrc = in.get32();
    if (const char* error = readBlockHeader()) return error;
    if (const char* error = readCodeLengths()) return error;
    if (const char* error = decodeSymbols()) return error;
    if (originPointer >= blockLength) return kDataError;
    blockCrc = 0xFFFFFFFFu;
    if (const char* error = writeBlock()) return error;
    blockCrc = ~blockCrc;
    if (blockCrc != storedCrc) return kCrcError;
    combinedCrc = ((combinedCrc << 1) | (combinedCrc >> 31)) ^ blockCrc;
    return nullptr;
}

const char* Method1Decoder::readBlockHeader() {
    originPointer = int32_t(in.get(24));
    if (originPointer > maxBlockLength + 10) return kDataError;

    uint32_t ranges = in.get(16);
    int used = 0;
    for (int range = 0; range < 16; range++) {
        if (!(ranges & (0x8000u >> range))) continue;
        uint32_t flags = in.get(16);
        for (int i = 0; i < 16; i++)
            if (flags & (0x8000u >> i)) usedBytes[used++] = uint8_t(range * 16 + i);
    }
    if (used == 0) return kDataError;
    alphabetSize = used + 2;

    tableCount = int(in.get(3));
    if (tableCount < 2 || tableCount > kMaxTables) return kDataError;
    selectorCount = int32_t(in.get(15));
    if (selectorCount < 1) return kDataError;

    uint8_t order[kMaxTables] = {0, 1, 2, 3, 4, 5};
    for (int32_t i = 0; i < selectorCount; i++) {
        int index = 0;
        for (;;) {
            if (in.get(1) == 0) break;
            if (++index >= tableCount) return kDataError;
        }
        uint8_t table = order[index];
        for (; index > 0; index--)
            order[index] = order[index - 1];
        order[0] = table;
        selectors[i] = table;
    }
    return in.overran() ? kDataError : nullptr;
}

const char* Method1Decoder::readCodeLengths() {
    uint8_t lengths[kMaxAlphabet];
    for (int t = 0; t < tableCount; t++) {
        int length = int(in.get(5));
        for (int s = 0; s < alphabetSize; s++) {
            for (;;) {
                if (length < 1 || length > kMaxCodeLength) return kDataError;
                if (in.get(1) == 0) break;
                length += in.get(1) == 0 ? 1 : -1;
            }
            lengths[s] = uint8_t(length);
        }
        if (in.overran() || !buildTable(tables[t], lengths, alphabetSize)) return kDataError;
    }
    return nullptr;
}

// Huffman symbols through the move-to-front list into the work array: the block's last
// column, one byte per entry.
const char* Method1Decoder::decodeSymbols() {
    uint8_t mtf[256];
    std::memcpy(mtf, usedBytes, sizeof(mtf));
    std::memset(byteCounts, 0, sizeof(byteCounts));
    uint32_t* block = workArray;
    const int endOfBlock = alphabetSize - 1;
    const int32_t maxLength = maxBlockLength;
    int32_t length = 0;
    int32_t run = 0;
    int32_t runWeight = 1;
    int32_t nextSelector = 0;
    int groupLeft = 0;
    const HuffmanTable* table = nullptr;

    for (;;) {
        if (groupLeft == 0) {
            if (nextSelector >= selectorCount || in.overran()) return kDataError;
            table = &tables[selectors[nextSelector++]];
            groupLeft = kGroupSize;
        }
        groupLeft--;
        if (in.count < kMaxCodeLength) in.refill();
        int symbol = decodeSymbol(in, *table);
        if (symbol < 0) return kDataError;
        if (symbol <= 1) {
            run += runWeight << symbol; // RUNA adds the weight, RUNB twice it
            runWeight <<= 1;
            if (run >= maxLength - length) return kDataError;
            continue;
        }
        if (run > 0) {
            uint8_t byte = mtf[0];
            byteCounts[byte] += run;
            for (int32_t end = length + run; length < end; length++)
                block[length] = byte;
            run = 0;
            runWeight = 1;
        }
        if (symbol == endOfBlock) break;
        if (length >= maxLength) return kDataError;
        int position = symbol - 1;
        uint8_t byte = mtf[position];
        std::memmove(mtf + 1, mtf, size_t(position));
        mtf[0] = byte;
        byteCounts[byte]++;
        block[length++] = byte;
    }
    if (in.overran()) return kDataError;
    blockLength = length;
    return nullptr;
}

// Inverse transform, walked from the origin pointer, through the final run-length step into
// the output buffer.
const char* Method1Decoder::writeBlock() {
    uint32_t* vector = workArray;
    int32_t start[256];
    int32_t sum = 0;
    for (int b = 0; b < 256; b++) {
        start[b] = sum;
        sum += byteCounts[b];
    }
    for (int32_t i = 0; i < blockLength; i++) {
        uint32_t byte = vector[i] & 0xff;
        vector[start[byte]++] |= uint32_t(i) << 8;
    }

    uint32_t position = vector[originPointer] >> 8;
    int32_t left = blockLength;
    int32_t fill = outFill;
    uint8_t* buffer = outBuffer;
    uint32_t last = 256;
    int equal = 0;
    while (left > 0) {
        uint32_t entry = vector[position];
        uint32_t byte = entry & 0xff;
        position = entry >> 8;
        left--;
        if (equal == 4) {
            // byte counts further copies of the last byte
            equal = 0;
            for (uint32_t copies = byte; copies > 0;) {
                if (fill == kBufferSize) {
                    outFill = fill;
                    if (!flushOutput()) return kDataError;
                    fill = 0;
                }
                uint32_t piece =
                    copies < uint32_t(kBufferSize - fill) ? copies : uint32_t(kBufferSize - fill);
                std::memset(buffer + fill, int(last), piece);
                fill += int32_t(piece);
                copies -= piece;
            }
            continue;
        }
        equal = byte == last ? equal + 1 : 1;
        last = byte;
        if (fill == kBufferSize) {
            outFill = fill;
            if (!flushOutput()) return kDataError;
            fill = 0;
        }
        buffer[fill++] = uint8_t(byte);
    }
    outFill = fill;
    return flushOutput() ? nullptr : kDataError;
}

bool Method1Decoder::flushOutput() {
    if (outFill > outSize - outWritten) return false;
    std::memcpy(out + outWritten, outBuffer, size_t(outFill));
    blockCrc = updateCrc(blockCrc, outBuffer, outFill);
    outWritten += outFill;
    outFill = 0;
    return true;
}

char depackerSubject[512] = "";

[[noreturn]] void depackerError(const char* error) {
    if (depackerSubject[0])
        fatal("NZIP: depacker error: %s\nwhile unpacking %s\n", error, depackerSubject);
    fatal("NZIP: depacker error: %s\n", error);
}

class Method1Depacker : public Depacker {
  public:
    MemoryStream* unpack(Stream* source, int32_t unpackedSize) override {
        if (unpackedSize < 0 ||
            unpackedSize > method1MostUnpacked(int64_t(source->size()) - source->tell()))
            depackerError(kDataError);
        auto* result = new MemoryStream();
        if (!result->reserve(unpackedSize) && unpackedSize > 0) depackerError(kAllocationFailed);
        if (const char* error = decodeMethod1(source, result->data(), unpackedSize))
            depackerError(error);
        result->seek(0);
        return result;
    }
};

} // namespace

void setDepackerSubject(const char* subject) {
    snprintf(depackerSubject, sizeof depackerSubject, "%s", subject ? subject : "");
}

int64_t method1MostUnpacked(int64_t packedBytes) {
    // Level, end tag and combined CRC; per block at least its tag, CRC, origin, a symbol map
    // of one range, table and selector counts, one selector, two tables of three lengths
    // and one symbol (127 bits; 120 leaves room).
    constexpr int64_t kStreamBits = 4 + 3 + 32, kMinBlockBits = 120;
    // Four equal bytes and a count give at most 4 + 255 bytes out of 5.
    constexpr int64_t kMostPerBlock = int64_t(9) * kLevelBlockSize * 259 / 5 + 4;
    int64_t bits = packedBytes * 8 - kStreamBits;
    return bits < 0 ? 0 : bits / kMinBlockBits * kMostPerBlock;
}

const char* decodeMethod1(Stream* source, uint8_t* out, int32_t unpackedSize) {
    if (unpackedSize < 0 || (unpackedSize > 0 && !out)) return kDataError;
    auto* decoder = new (std::nothrow) Method1Decoder();
    if (!decoder) return kAllocationFailed;
    decoder->in.source = source;
    decoder->out = out;
    decoder->outSize = unpackedSize;
    const char* error = decoder->decodeStream();
    delete decoder;
    return error;
}

Depacker* method1Depacker() {
    static Method1Depacker instance;
    return &instance;
}

void freeDepackerBuffers() {
    std::free(workArray);
    workArray = nullptr;
    workEntries = 0;
}
