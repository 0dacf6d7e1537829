// Script parsing speed and the hit rate of the song-position caches.
//
// Builds a large production script (declarations, macros, a timeline placed by seconds and by
// song positions of a real module), preprocesses it from disk and parses it in build passes.
// Prints the preprocessing and parse throughput in MB/s of preprocessed text, the cache hit
// rate of the time conversions for the first pass and for a re-parse (the loop case), and the
// parse speed against a plain whitespace tokenizer over the same text, measured in this run.
#include "data/filesystem.h"
#include "data/stream.h"
#include "effects/effect.h"
#include "platform/music/music.h"
#include "script/parser.h"
#include "script/preprocessor.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string productionScript(int blocks) {
    std::string text = "; generated production\nset tune to dali.xm\nset prefxres to 640\n";
    for (int i = 0; i < 400; ++i)
        text += "effect E" + std::to_string(i) + " is " + (i % 3 ? "clear" : "image") + "\n";
    for (int i = 0; i < 20; ++i)
        text += "macro pulse" + std::to_string(i) + "\n  runs for 1 rows\n  fade e" +
                std::to_string(i) + ".alpha from 1 to 0 curve 20 for 2 ticks\n  and set e" +
                std::to_string(i) + ".color to \"0x20" + std::to_string(i) + "\"\nendmacro\n";
    text += "demo runs until order 10\n";
    for (int b = 0; b < blocks; ++b) {
        int order = b % 10, row = (b * 7) % 60, effect = b % 400;
        std::string name = "e" + std::to_string(effect);
        text += "  at order " + std::to_string(order) + " row " + std::to_string(row) + " start " +
                name + " z " + std::to_string(b % 7) + " for 2 rows ; block " + std::to_string(b) +
                "\n";
        text += "  and fade " + name + ".x from 0 to 320x for 1 rows 3 ticks\n";
        text += "  and play pulse" + std::to_string(b % 20) + " times 2\n";
        // Effects are reused; stopped where they start, their actions never overlap.
        text += "  and stop " + name + "\n";
        text += "  at second " + std::to_string(b % 600) + ".25 set " + name +
                ".text to \"Some Text " + std::to_string(b) + "\"\n";
    }
    return text + "enddemo\n";
}

// The reference: split the same text into whitespace-separated words.
size_t countWords(const std::string& text) {
    size_t words = 0;
    bool inWord = false;
    for (char c : text) {
        bool blank = (unsigned char)c <= ' ';
        if (!blank && !inWord) ++words;
        inWord = !blank;
    }
    return words;
}

} // namespace

int main() {
    std::ifstream tune(std::string(LUX_SOURCE_DIR) + "/tests/data/dali.xm", std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(tune)),
                            std::istreambuf_iterator<char>());
    static SoundSettings settings;
    tmxInit(&settings);
    if (tmxLoadMem(bytes.data(), uint32_t(bytes.size()), kTuneXm) != 0) {
        fprintf(stderr, "cannot load dali.xm\n");
        return 1;
    }
    {
        std::ofstream out("script", std::ios::binary);
        out << productionScript(20000);
    }
    initFileSystem();

    Clock::time_point start = Clock::now();
    Preprocessor preprocessor;
    if (!preprocessor.run("script")) return 1;
    double preprocessSeconds = secondsSince(start);
    Stream* output = preprocessor.output();
    std::string text(size_t(output->size()), '\0');
    output->seek(0);
    output->read(text.data(), int32_t(text.size()));
    double megabytes = double(text.size()) / 1e6;

    Script script(text.data(), int32_t(text.size()), &preprocessor.sourceLines());
    start = Clock::now();
    script.parse(false);
    double firstSeconds = secondsSince(start);
    const TimeCache& cache = script.times().cache;
    uint64_t firstLookups = cache.lookups, firstHits = cache.hits;
    uint64_t conversionsBefore = tmxConversionCount();

    const int kPasses = 5;
    start = Clock::now();
    for (int pass = 0; pass < kPasses; ++pass) {
        destroyEffects();
        script.parse(false);
    }
    double parseSeconds = secondsSince(start) / kPasses;
    uint64_t repeatLookups = cache.lookups - firstLookups, repeatHits = cache.hits - firstHits;

    start = Clock::now();
    size_t words = 0;
    const int kTokenizePasses = 20;
    for (int pass = 0; pass < kTokenizePasses; ++pass)
        words += countWords(text);
    double tokenizeSeconds = secondsSince(start) / kTokenizePasses;

    printf("script: %.2f MB preprocessed, %zu words, %zu events, %zu fades, %zu actions\n",
           megabytes, words / kTokenizePasses, script.events().size(), script.fades().size(),
           script.actions().size());
    printf("preprocess: %.1f MB/s\n", megabytes / preprocessSeconds);
    printf("parse (first build pass): %.1f MB/s\n", megabytes / firstSeconds);
    printf("parse (re-parse, caches warm): %.1f MB/s\n", megabytes / parseSeconds);
    printf("time conversion cache, first pass: %llu lookups, %.2f%% hits\n",
           (unsigned long long)firstLookups, 100.0 * double(firstHits) / double(firstLookups));
    printf("time conversion cache, re-parse: %llu lookups, %.2f%% hits, %llu library calls\n",
           (unsigned long long)repeatLookups, 100.0 * double(repeatHits) / double(repeatLookups),
           (unsigned long long)(tmxConversionCount() - conversionsBefore));
    printf("ratio script_parse_vs_word_split %.4f\n", tokenizeSeconds / parseSeconds);
    destroyEffects();
    closeFileSystem();
    return 0;
}
