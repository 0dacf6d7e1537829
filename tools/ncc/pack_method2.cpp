// Method-2 packer: LZ77 with a hash-chain match finder and a cost-based optimal parse.
//
// The parse runs forward over the input in blocks of 256 Ki positions: every position keeps
// a few of the cheapest known ways to reach it (bit count, the step that got there and the
// previous offset that step leaves in the decoder), one per distinct previous offset, since a
// dearer arrival may allow a cheap previous-offset copy later. From each arrival it tries a
// literal, the one-byte 4-bit-offset form (or the zero byte), a copy at its previous offset,
// and (from the cheapest arrival) every length of the matches found, priced in the exact bits
// of the layout. The cheapest path to the block end is written out. Keeping few arrivals
// per position makes the parse near-optimal rather than exhaustive; the level sets the
// chain depth, the length taken without further search, the window and the arrivals kept.
// The writer checks every previous-offset step against the offset the decoder will hold.
//
// An input of 0 bytes has no representation (the first byte is always a literal): the result
// is then empty and callers store such files unpacked. Inputs above 2^31 - 1 bytes are
// refused the same way, since the decoder works on 32-bit sizes. Memory: about 4 bytes per
// input byte for the chains plus a fixed arrival table (about 24 MB at the top levels).
#include "tools/ncc/packers.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kMaxMatchLength = 1u << 24;
constexpr uint32_t kLiteralBits = 1 + 8;
constexpr uint32_t kNibbleBits = 3 + 4;     // 4-bit offset form, also the zero byte
constexpr uint32_t kShortMatchBits = 3 + 8; // 7-bit offset, length 2 or 3
constexpr uint32_t kNoOffset = 0;

// Bits of the gamma code of v >= 2: one data bit and one continue bit per step.
inline uint32_t gammaBits(uint32_t value) {
    uint32_t bits = 0;
    while (value > 1) {
        value >>= 1;
        bits += 2;
    }
    return bits;
}

// Lengths the decoder adds to the coded length of a gamma-coded match at this offset.
inline uint32_t lengthBonus(uint32_t offset) {
    if (offset >= 32000) return 2;
    if (offset >= 1280) return 1;
    if (offset < 128) return 2;
    return 0;
}

// Bits of a match of `length` at `offset` in its cheapest new-offset form; 0 when neither the
// short form nor the gamma-coded form can hold it.
inline uint32_t matchBits(uint32_t offset, uint32_t length) {
    if (offset < 128 && length <= 3) return length >= 2 ? kShortMatchBits : 0;
    uint32_t bonus = lengthBonus(offset);
    if (length < bonus + 2) return 0;
    return 2 + gammaBits((offset >> 8) + 3) + 8 + gammaBits(length - bonus);
}

inline uint32_t repeatBits(uint32_t length) {
    return 2 + 2 + gammaBits(length);
}

inline uint32_t matchLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    uint32_t length = 0;
    while (length + 8 <= limit) {
        uint64_t x;
        uint64_t y;
        std::memcpy(&x, a + length, 8);
        std::memcpy(&y, b + length, 8);
        if (x != y) return length + static_cast<uint32_t>(__builtin_ctzll(x ^ y) >> 3);
        length += 8;
    }
    while (length < limit && a[length] == b[length])
        ++length;
    return length;
}

struct Match {
    uint32_t length = 0;
    uint32_t offset = 0;
};

struct LevelSettings {
    uint32_t chainDepth = 0; // hash-chain steps per position
    uint32_t niceLength = 0; // a match this long is taken without looking further
    uint32_t window = 0;     // largest offset searched
    uint32_t arrivalsPerPosition = 1;
};

LevelSettings settingsFor(int level) {
    static constexpr uint16_t kChainDepth[9] = {4, 8, 16, 32, 48, 64, 128, 192, 256};
    level = std::clamp(level, 1, 9);
    LevelSettings settings;
    settings.chainDepth = kChainDepth[level - 1];
    settings.niceLength = 16u << ((level + 1) / 2);
    settings.window = 1u << (16 + level);
    settings.arrivalsPerPosition = level >= 7 ? 4 : level >= 4 ? 2 : 1;
    return settings;
}

// Hash chains over 3-byte prefixes, plus the latest position of every 2-byte prefix for the
// short matches that 3-byte hashing cannot see.
class MatchFinder {
  public:
    MatchFinder(const uint8_t* data, uint32_t size, const LevelSettings& settings)
        : data(data), size(size), settings(settings), head(kHashSize, kEmpty),
          pairHead(65536, kEmpty), chain(size, kEmpty) {}

    void insert(uint32_t pos) {
        if (pos + 3 <= size) {
            uint32_t h = hash3(pos);
            chain[pos] = head[h];
            head[h] = pos;
        }
        if (pos + 2 <= size) pairHead[pair(pos)] = pos;
    }

    // Matches at pos with strictly growing lengths (and offsets), then inserts pos.
    void find(uint32_t pos, std::vector<Match>& matches) {
        matches.clear();
        uint32_t limit = std::min(size - pos, kMaxMatchLength);
        if (limit >= 2) {
            uint32_t previous = pairHead[pair(pos)];
            if (previous != kEmpty && pos - previous <= 1279)
                matches.push_back({2, pos - previous});
        }
        if (limit >= 3) {
            uint32_t best = 2;
            uint32_t candidate = head[hash3(pos)];
            for (uint32_t steps = settings.chainDepth; steps && candidate != kEmpty; --steps) {
                uint32_t offset = pos - candidate;
                if (offset > settings.window) break;
                if (data[candidate + best] == data[pos + best] || best >= limit) {
                    uint32_t length = matchLength(data + candidate, data + pos, limit);
                    if (length > best) {
                        best = length;
                        matches.push_back({length, offset});
                        if (length >= settings.niceLength || length == limit) break;
                    }
                }
                candidate = chain[candidate];
            }
        }
        insert(pos);
    }

  private:
    static constexpr uint32_t kHashBits = 16;
    static constexpr uint32_t kHashSize = 1u << kHashBits;
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu;

    uint32_t hash3(uint32_t pos) const {
        uint32_t v = data[pos] | (data[pos + 1] << 8) | (data[pos + 2] << 16);
        return (v * 2654435761u) >> (32 - kHashBits);
    }
    uint32_t pair(uint32_t pos) const { return data[pos] | (data[pos + 1] << 8); }

    const uint8_t* data;
    uint32_t size;
    LevelSettings settings;
    std::vector<uint32_t> head;
    std::vector<uint32_t> pairHead;
    std::vector<uint32_t> chain;
};

enum class StepKind : uint8_t { Literal, Nibble, Repeat, Match };

// One way to reach a position. Each position keeps a few of the cheapest arrivals with
// different previous offsets, since a dearer arrival can make a later previous-offset copy
// possible.
struct Arrival {
    uint32_t bits = kUnreached;
    uint32_t length = 0;     // bytes of the step that arrives here
    uint32_t offset = 0;     // its offset (the 4-bit form: 0 for a zero byte)
    uint32_t lastOffset = 0; // decoder's previous offset after the step
    uint8_t fromSlot = 0;    // which arrival of the step's start it continues
    StepKind kind = StepKind::Literal;

    static constexpr uint32_t kUnreached = 0xFFFFFFFFu;
};

struct Step {
    StepKind kind = StepKind::Literal;
    uint32_t length = 0;
    uint32_t offset = 0;
};

// Parses the input in blocks; no step crosses a block end, which bounds the memory of the
// arrival table (the match finder still sees the whole input).
class OptimalParser {
  public:
    static constexpr uint32_t kBlockSize = 1u << 18;

    OptimalParser(const uint8_t* data, uint32_t size, const LevelSettings& settings)
        : data(data), size(size), settings(settings), finder(data, size, settings),
          slots(settings.arrivalsPerPosition),
          arrivals((std::min(size, kBlockSize) + 1) * settings.arrivalsPerPosition) {}

    std::vector<Step> parse() {
        std::vector<Step> steps;
        finder.insert(0);
        uint32_t lastOffset = kNoOffset;
        for (uint32_t start = 1; start < size;) {
            uint32_t end = std::min(size, start + kBlockSize);
            lastOffset = parseBlock(start, end, lastOffset, steps);
            start = end;
        }
        return steps;
    }

  private:
    Arrival* at(uint32_t pos) { return &arrivals[(pos - blockStart) * slots]; }

    // Inserts into the position's list (sorted by bits, one entry per previous offset).
    void offer(uint32_t target, const Arrival& candidate) {
        Arrival* list = at(target);
        uint32_t last = slots - 1;
        uint32_t same = slots;
        for (uint32_t i = 0; i < slots && list[i].bits != Arrival::kUnreached; ++i) {
            if (list[i].lastOffset == candidate.lastOffset) {
                same = i;
                break;
            }
        }
        if (same < slots) {
            if (candidate.bits >= list[same].bits) return;
            last = same;
        } else if (candidate.bits >= list[last].bits) {
            return;
        }
        uint32_t i = last;
        while (i > 0 && list[i - 1].bits > candidate.bits) {
            list[i] = list[i - 1];
            --i;
        }
        list[i] = candidate;
    }

    uint32_t parseBlock(uint32_t start, uint32_t end, uint32_t lastOffset,
                        std::vector<Step>& steps) {
        blockStart = start;
        std::fill(arrivals.begin(), arrivals.begin() + (end - start + 1) * slots, Arrival{});
        Arrival first;
        first.bits = 0;
        first.lastOffset = lastOffset;
        at(start)[0] = first;
        std::vector<Match> matches;
        for (uint32_t pos = start; pos < end;) {
            finder.find(pos, matches);
            uint32_t longest = expand(pos, end, matches);
            if (longest >= settings.niceLength) {
                for (uint32_t i = pos + 1; i < pos + longest; ++i)
                    finder.insert(i);
                pos += longest;
            } else {
                ++pos;
            }
        }
        return traceBlock(start, end, steps);
    }

    // Offers every step from the arrivals at pos; returns the longest match length seen.
    uint32_t expand(uint32_t pos, uint32_t end, const std::vector<Match>& matches) {
        const uint32_t limit = std::min(end - pos, kMaxMatchLength);
        const uint32_t nibble = nibbleOffset(pos);
        const bool nibbleForm = data[pos] == 0 || nibble != 0;
        uint32_t longest = 0;
        for (uint32_t s = 0; s < slots; ++s) {
            const Arrival here = at(pos)[s];
            if (here.bits == Arrival::kUnreached) break;
            Arrival step;
            step.fromSlot = static_cast<uint8_t>(s);
            step.lastOffset = here.lastOffset;
            step.length = 1;
            step.kind = nibbleForm ? StepKind::Nibble : StepKind::Literal;
            step.offset = nibble;
            step.bits = here.bits + (nibbleForm ? kNibbleBits : kLiteralBits);
            offer(pos + 1, step);

            uint32_t repeat = here.lastOffset;
            if (repeat == kNoOffset || repeat > pos) continue;
            uint32_t length = matchLength(data + pos - repeat, data + pos, limit);
            longest = std::max(longest, length);
            step.kind = StepKind::Repeat;
            step.offset = repeat;
            uint32_t from = length >= settings.niceLength ? length : 2;
            for (uint32_t l = from; l <= length; ++l) {
                step.length = l;
                step.bits = here.bits + repeatBits(l);
                offer(pos + l, step);
            }
        }
        if (longest >= settings.niceLength) return longest;

        // A new offset leaves the same decoder state whatever came before, so only the
        // cheapest arrival needs to start one.
        const Arrival best = at(pos)[0];
        Arrival step;
        step.kind = StepKind::Match;
        uint32_t shorter = 1;
        for (const Match& found : matches) {
            uint32_t length = std::min(found.length, limit);
            step.offset = found.offset;
            step.lastOffset = found.offset;
            uint32_t from = length >= settings.niceLength ? length : shorter + 1;
            for (uint32_t l = from; l <= length; ++l) {
                uint32_t bits = matchBits(found.offset, l);
                if (bits == 0) continue;
                step.length = l;
                step.bits = best.bits + bits;
                offer(pos + l, step);
            }
            shorter = std::max(shorter, length);
            longest = std::max(longest, length);
            if (length >= settings.niceLength) break;
        }
        return longest;
    }

    // Nearest of the 15 previous bytes equal to the current one, or 0.
    uint32_t nibbleOffset(uint32_t pos) const {
        uint32_t reach = std::min<uint32_t>(pos, 15);
        for (uint32_t offset = 1; offset <= reach; ++offset)
            if (data[pos - offset] == data[pos]) return offset;
        return 0;
    }

    // Appends the cheapest path through the block; returns the previous offset at its end.
    uint32_t traceBlock(uint32_t start, uint32_t end, std::vector<Step>& steps) {
        size_t first = steps.size();
        uint32_t slot = 0;
        uint32_t lastOffset = at(end)[0].lastOffset;
        for (uint32_t pos = end; pos > start;) {
            const Arrival& a = at(pos)[slot];
            steps.push_back({a.kind, a.length, a.offset});
            slot = a.fromSlot;
            pos -= a.length;
        }
        std::reverse(steps.begin() + static_cast<std::ptrdiff_t>(first), steps.end());
        return lastOffset;
    }

    const uint8_t* data;
    uint32_t size;
    LevelSettings settings;
    MatchFinder finder;
    uint32_t slots;
    uint32_t blockStart = 0;
    std::vector<Arrival> arrivals;
};

// Data bytes go out in order; a tag byte is reserved in the output when its first bit is
// written, exactly where the decoder will fetch it.
class BitWriter {
  public:
    void byte(uint8_t value) { out.push_back(value); }

    void bit(uint32_t value) {
        if (bitsLeft == 0) {
            tagIndex = out.size();
            out.push_back(0);
            bitsLeft = 8;
        }
        --bitsLeft;
        out[tagIndex] |= static_cast<uint8_t>((value & 1) << bitsLeft);
    }

    void gamma(uint32_t value) {
        int top = 31 - __builtin_clz(value);
        for (int i = top - 1; i >= 0; --i) {
            bit((value >> i) & 1);
            bit(i > 0 ? 1 : 0);
        }
    }

    std::vector<uint8_t> out;

  private:
    size_t tagIndex = 0;
    int bitsLeft = 0;
};

// Writes the steps; false when a previous-offset step does not match the offset the decoder
// will hold at that point (a parser fault, never valid output).
bool writeSteps(const uint8_t* data, const std::vector<Step>& steps, BitWriter& writer) {
    writer.byte(data[0]);
    uint32_t pos = 1;
    uint32_t lastOffset = kNoOffset;
    for (const Step& step : steps) {
        switch (step.kind) {
        case StepKind::Literal:
            writer.bit(0);
            writer.byte(data[pos]);
            break;
        case StepKind::Nibble:
            writer.bit(1);
            writer.bit(1);
            writer.bit(1);
            for (int i = 3; i >= 0; --i)
                writer.bit((step.offset >> i) & 1);
            break;
        case StepKind::Repeat:
            if (step.offset != lastOffset) return false;
            writer.bit(1);
            writer.bit(0);
            writer.gamma(2);
            writer.gamma(step.length);
            break;
        case StepKind::Match:
            if (step.offset < 128 && step.length <= 3) {
                writer.bit(1);
                writer.bit(1);
                writer.bit(0);
                writer.byte(static_cast<uint8_t>((step.offset << 1) | (step.length - 2)));
            } else {
                writer.bit(1);
                writer.bit(0);
                writer.gamma((step.offset >> 8) + 3);
                writer.byte(static_cast<uint8_t>(step.offset & 0xFF));
                writer.gamma(step.length - lengthBonus(step.offset));
            }
            lastOffset = step.offset;
            break;
        }
        pos += step.length;
    }
    // End mark: the 7-bit offset form with offset 0.
    writer.bit(1);
    writer.bit(1);
    writer.bit(0);
    writer.byte(0);
    return true;
}

} // namespace

std::vector<uint8_t> packMethod2(const uint8_t* data, size_t size, int level) {
    if (data == nullptr || size == 0 || size > 0x7FFFFFFFu) return {};
    LevelSettings settings = settingsFor(level);
    OptimalParser parser(data, static_cast<uint32_t>(size), settings);
    std::vector<Step> steps = parser.parse();
    BitWriter writer;
    writer.out.reserve(size / 2 + 16);
    if (!writeSteps(data, steps, writer)) return {};
    return std::move(writer.out);
}
