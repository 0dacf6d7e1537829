// Method-1 packer: the inverse of the player's method-1 decoder.
//
// Per block: the initial run-length step over the input (runs of 4 to 255 equal bytes become
// four bytes and a count), the sorted-rotations transform (suffix sorting of the doubled
// block), move-to-front with zero runs written as RUNA/RUNB digits, then Huffman coding in
// groups of 50 symbols with up to 6 tables chosen per group and refined over several passes.
// Stream: 4-bit level, then per block a 3-bit tag 0 and the block, then tag 1 and the
// combined CRC, padded with zero bits to a whole byte.
#include "tools/ncc/packers.h"

#include <divsufsort.h>

#include <algorithm>
#include <cstring>
#include <queue>

namespace {

constexpr int32_t kLevelBlockSize = 100000;
constexpr int32_t kBlockMargin = 19; // room for the last run without reaching the maximum
constexpr int kMaxTables = 6;
constexpr int kMaxAlphabet = 258;
constexpr int kMaxCodeLength = 20;
constexpr int kGroupSize = 50;
constexpr int kRefinePasses = 6;
constexpr int kRunA = 0;
constexpr int kRunB = 1;

struct BitWriter {
    std::vector<uint8_t>& bytes;
    uint64_t bits = 0; // pending bits at the bottom
    int count = 0;

    void put(int n, uint32_t value) {
        bits = bits << n | (value & ((uint64_t(1) << n) - 1));
        count += n;
        while (count >= 8) {
            count -= 8;
            bytes.push_back(uint8_t(bits >> count));
        }
    }
    void put32(uint32_t value) {
        put(16, value >> 16);
        put(16, value & 0xffff);
    }
    void finish() {
        if (count > 0) put(8 - count, 0);
    }
};

struct Crc {
    uint32_t table[256];
    Crc() {
        for (uint32_t x = 0; x < 256; x++) {
            uint32_t crc = x << 24;
            for (int bit = 0; bit < 8; bit++)
                crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
            table[x] = crc;
        }
    }
    uint32_t update(uint32_t crc, const uint8_t* bytes, size_t count) const {
        for (size_t i = 0; i < count; i++)
            crc = (crc << 8) ^ table[(crc >> 24) ^ bytes[i]];
        return crc;
    }
};

const Crc crc;

// Initial run-length step: appends runs of the input to the block until the next one would
// pass the capacity. Returns the count of input bytes taken.
size_t fillBlock(const uint8_t* data, size_t size, int32_t capacity, std::vector<uint8_t>& block) {
    block.clear();
    size_t taken = 0;
    while (taken < size) {
        uint8_t byte = data[taken];
        size_t run = 1;
        while (run < 255 && taken + run < size && data[taken + run] == byte)
            run++;
        size_t encoded = run < 4 ? run : 5;
        if (block.size() + encoded > size_t(capacity)) break;
        if (run < 4) {
            block.insert(block.end(), run, byte);
        } else {
            block.insert(block.end(), 4, byte);
            block.push_back(uint8_t(run - 4));
        }
        taken += run;
    }
    return taken;
}

// Last column of the sorted rotations and the row of the unrotated block. Rotations are
// ordered by the suffixes of the doubled block that start in its first half.
int32_t sortRotations(const std::vector<uint8_t>& block, std::vector<uint8_t>& lastColumn) {
    const int32_t n = int32_t(block.size());
    std::vector<uint8_t> doubled(size_t(n) * 2);
    std::memcpy(doubled.data(), block.data(), size_t(n));
    std::memcpy(doubled.data() + n, block.data(), size_t(n));
    std::vector<int32_t> suffixes(size_t(n) * 2);
    divsufsort(doubled.data(), suffixes.data(), n * 2);
    lastColumn.resize(size_t(n));
    int32_t row = 0;
    int32_t origin = 0;
    for (int32_t s : suffixes) {
        if (s >= n) continue;
        if (s == 0) origin = row;
        lastColumn[size_t(row++)] = block[size_t(s == 0 ? n - 1 : s - 1)];
    }
    return origin;
}

struct Symbols {
    std::vector<uint16_t> values; // RUNA, RUNB, move-to-front positions + 1, end of block
    bool used[256] = {};
    int usedCount = 0;
    int alphabetSize = 0;
};

void appendRun(std::vector<uint16_t>& values, int32_t run) {
    while (run > 0) {
        if (run & 1) {
            values.push_back(kRunA);
            run = (run - 1) / 2;
        } else {
            values.push_back(kRunB);
            run = (run - 2) / 2;
        }
    }
}

Symbols moveToFront(const std::vector<uint8_t>& lastColumn) {
    Symbols result;
    for (uint8_t b : lastColumn)
        result.used[b] = true;
    uint8_t rank[256] = {}; // position of each used byte among the used bytes
    for (int b = 0; b < 256; b++)
        if (result.used[b]) rank[b] = uint8_t(result.usedCount++);
    uint8_t order[256];
    for (int i = 0; i < result.usedCount; i++)
        order[i] = uint8_t(i);
    result.alphabetSize = result.usedCount + 2;
    result.values.reserve(lastColumn.size() + 1);
    int32_t run = 0;
    for (uint8_t b : lastColumn) {
        uint8_t r = rank[b];
        if (order[0] == r) {
            run++;
            continue;
        }
        appendRun(result.values, run);
        run = 0;
        int position = 1;
        while (order[position] != r)
            position++;
        std::memmove(order + 1, order, size_t(position));
        order[0] = r;
        result.values.push_back(uint16_t(position + 1));
    }
    appendRun(result.values, run);
    result.values.push_back(uint16_t(result.alphabetSize - 1));
    return result;
}

// Huffman code lengths limited to kMaxCodeLength; every symbol gets a code.
void makeCodeLengths(const int32_t* frequencies, int alphabetSize, uint8_t* lengths) {
    std::vector<int64_t> weight(static_cast<size_t>(alphabetSize));
    for (int s = 0; s < alphabetSize; s++)
        weight[size_t(s)] = frequencies[s] == 0 ? 1 : frequencies[s];
    for (;;) {
        using Node = std::pair<int64_t, int>;
        std::priority_queue<Node, std::vector<Node>, std::greater<Node>> queue;
        std::vector<int> parent(size_t(alphabetSize) * 2, -1);
        for (int s = 0; s < alphabetSize; s++)
            queue.push({weight[size_t(s)], s});
        int next = alphabetSize;
        while (queue.size() > 1) {
            Node a = queue.top();
            queue.pop();
            Node b = queue.top();
            queue.pop();
            parent[size_t(a.second)] = next;
            parent[size_t(b.second)] = next;
            queue.push({a.first + b.first, next++});
        }
        bool tooLong = false;
        for (int s = 0; s < alphabetSize; s++) {
            int depth = 0;
            for (int node = s; parent[size_t(node)] >= 0; node = parent[size_t(node)])
                depth++;
            lengths[s] = uint8_t(std::min(depth, 255));
            tooLong |= depth > kMaxCodeLength;
        }
        if (!tooLong) return;
        for (auto& w : weight)
            w = 1 + w / 2;
    }
}

int tableCountFor(size_t symbolCount) {
    if (symbolCount < 200) return 2;
    if (symbolCount < 600) return 3;
    if (symbolCount < 1200) return 4;
    if (symbolCount < 2400) return 5;
    return 6;
}

struct Coding {
    int tableCount = 0;
    uint8_t lengths[kMaxTables][kMaxAlphabet] = {};
    std::vector<uint8_t> selectors;
};

// Starting tables: each covers a slice of the alphabet holding about an equal share of the
// symbols, cheap inside its slice and expensive outside.
void initialTables(const Symbols& symbols, const int32_t* frequencies, Coding& coding) {
    int remaining = int(symbols.values.size());
    int low = 0;
    for (int t = coding.tableCount; t > 0; t--) {
        int target = remaining / t;
        int high = low - 1;
        int sum = 0;
        while (sum < target && high < symbols.alphabetSize - 1)
            sum += frequencies[++high];
        if (high > low && t != coding.tableCount && t != 1 && ((coding.tableCount - t) % 2 == 1))
            sum -= frequencies[high--];
        for (int s = 0; s < symbols.alphabetSize; s++)
            coding.lengths[coding.tableCount - t][s] = (s >= low && s <= high) ? 0 : 15;
        low = high + 1;
        remaining -= sum;
    }
}

// Picks the cheapest table for every group under the current lengths; optionally counts the
// symbol frequencies per chosen table. Returns the coded size of the symbols in bits.
int64_t chooseTables(const Symbols& symbols, Coding& coding, int32_t (*frequencies)[kMaxAlphabet]) {
    const size_t count = symbols.values.size();
    coding.selectors.clear();
    int64_t total = 0;
    for (size_t start = 0; start < count; start += kGroupSize) {
        size_t end = std::min(count, start + kGroupSize);
        int32_t cost[kMaxTables] = {};
        for (size_t i = start; i < end; i++) {
            uint16_t v = symbols.values[i];
            for (int t = 0; t < coding.tableCount; t++)
                cost[t] += coding.lengths[t][v];
        }
        int best = 0;
        for (int t = 1; t < coding.tableCount; t++)
            if (cost[t] < cost[best]) best = t;
        total += cost[best];
        coding.selectors.push_back(uint8_t(best));
        if (frequencies)
            for (size_t i = start; i < end; i++)
                frequencies[best][symbols.values[i]]++;
    }
    return total;
}

Coding chooseCoding(const Symbols& symbols) {
    Coding coding;
    coding.tableCount = tableCountFor(symbols.values.size());
    int32_t overall[kMaxAlphabet] = {};
    for (uint16_t v : symbols.values)
        overall[v]++;
    initialTables(symbols, overall, coding);
    for (int pass = 0; pass < kRefinePasses; pass++) {
        int32_t frequencies[kMaxTables][kMaxAlphabet] = {};
        chooseTables(symbols, coding, frequencies);
        for (int t = 0; t < coding.tableCount; t++)
            makeCodeLengths(frequencies[t], symbols.alphabetSize, coding.lengths[t]);
    }
    chooseTables(symbols, coding, nullptr); // selectors that fit the final lengths
    return coding;
}

void writeSymbolMap(BitWriter& out, const Symbols& symbols) {
    uint32_t ranges = 0;
    for (int range = 0; range < 16; range++)
        for (int i = 0; i < 16; i++)
            if (symbols.used[range * 16 + i]) ranges |= 0x8000u >> range;
    out.put(16, ranges);
    for (int range = 0; range < 16; range++) {
        if (!(ranges & (0x8000u >> range))) continue;
        uint32_t flags = 0;
        for (int i = 0; i < 16; i++)
            if (symbols.used[range * 16 + i]) flags |= 0x8000u >> i;
        out.put(16, flags);
    }
}

void writeSelectors(BitWriter& out, const Coding& coding) {
    uint8_t order[kMaxTables] = {0, 1, 2, 3, 4, 5};
    for (uint8_t table : coding.selectors) {
        int position = 0;
        while (order[position] != table)
            position++;
        for (int i = 0; i < position; i++)
            out.put(1, 1);
        out.put(1, 0);
        std::memmove(order + 1, order, size_t(position));
        order[0] = table;
    }
}

void writeCodeLengths(BitWriter& out, const Coding& coding, int alphabetSize) {
    for (int t = 0; t < coding.tableCount; t++) {
        int current = coding.lengths[t][0];
        out.put(5, uint32_t(current));
        for (int s = 0; s < alphabetSize; s++) {
            int length = coding.lengths[t][s];
            for (; current < length; current++)
                out.put(2, 2); // 1 then 0: one longer
            for (; current > length; current--)
                out.put(2, 3); // 1 then 1: one shorter
            out.put(1, 0);
        }
    }
}

// Canonical codes: by increasing length, then symbol number.
void assignCodes(const uint8_t* lengths, int alphabetSize, uint32_t* codes) {
    uint32_t code = 0;
    for (int length = 1; length <= kMaxCodeLength; length++) {
        for (int s = 0; s < alphabetSize; s++)
            if (lengths[s] == length) codes[s] = code++;
        code <<= 1;
    }
}

void writeBlock(BitWriter& out, const std::vector<uint8_t>& block, uint32_t blockCrc) {
    std::vector<uint8_t> lastColumn;
    int32_t origin = sortRotations(block, lastColumn);
    Symbols symbols = moveToFront(lastColumn);
    Coding coding = chooseCoding(symbols);

    out.put(3, 0);
    out.put32(blockCrc);
    out.put(24, uint32_t(origin));
    writeSymbolMap(out, symbols);
    out.put(3, uint32_t(coding.tableCount));
    out.put(15, uint32_t(coding.selectors.size()));
    writeSelectors(out, coding);
    writeCodeLengths(out, coding, symbols.alphabetSize);

    uint32_t codes[kMaxTables][kMaxAlphabet] = {};
    for (int t = 0; t < coding.tableCount; t++)
        assignCodes(coding.lengths[t], symbols.alphabetSize, codes[t]);
    for (size_t i = 0; i < symbols.values.size(); i++) {
        int table = coding.selectors[i / kGroupSize];
        uint16_t v = symbols.values[i];
        out.put(coding.lengths[table][v], codes[table][v]);
    }
}

} // namespace

std::vector<uint8_t> packMethod1(const uint8_t* data, size_t size, int level) {
    level = std::clamp(level, 1, 9);
    std::vector<uint8_t> packed;
    BitWriter out{packed};
    out.put(4, uint32_t(level));
    const int32_t capacity = level * kLevelBlockSize - kBlockMargin;
    uint32_t combined = 0;
    std::vector<uint8_t> block;
    size_t done = 0;
    while (done < size) {
        size_t taken = fillBlock(data + done, size - done, capacity, block);
        uint32_t blockCrc = ~crc.update(0xFFFFFFFFu, data + done, taken);
        writeBlock(out, block, blockCrc);
        combined = ((combined << 1) | (combined >> 31)) ^ blockCrc;
        done += taken;
    }
    out.put(3, 1);
    out.put32(combined);
    out.finish();
    return packed;
}
