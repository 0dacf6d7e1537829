// Script parsing speed and the hit rate of the song-position caches.
//
// Builds a large production script (declarations, macros, a timeline placed by seconds and by
// song positions of a real module), preprocesses it from disk and parses it in build passes,
// as Google Benchmark benchmarks: preprocess, parse/first_pass (a new Script each time, its
// caches cold), parse/reparse (the same Script again, the loop case) and word_split (the
// reference: a plain whitespace tokenizer over the same text). After the report it prints the
// preprocessing and parse throughput in MB/s of preprocessed text, the cache hit rate of the
// time conversions for the first pass and for a re-parse, and "ratio
// script_parse_vs_word_split" (word split time over re-parse time), all from the same run.
#include "bench/bench_results.h"
#include "data/filesystem.h"
#include "data/stream.h"
#include "effects/effect.h"
#include "platform/music/music.h"
#include "script/parser.h"
#include "script/preprocessor.h"
#include "tests/effects/builtin_classes.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

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

const char* const kScriptFile = "script_bench_production.txt";

struct Preprocessed {
    Preprocessor* preprocessor = nullptr;
    std::string text;
};

void setTextBytes(benchmark::State& state, const Preprocessed& input) {
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input.text.size()));
}

void setCacheCounters(benchmark::State& state, uint64_t lookups, uint64_t hits) {
    state.counters["lookups_per_pass"] = double(lookups) / double(state.iterations());
    state.counters["hit_rate"] = lookups ? double(hits) / double(lookups) : 0.0;
}

void registerBenchmarks(const Preprocessed* input) {
    benchmark::RegisterBenchmark("preprocess", [input](benchmark::State& state) {
        for (auto _ : state) {
            Preprocessor preprocessor;
            if (!preprocessor.run(kScriptFile)) state.SkipWithError("preprocessing failed");
        }
        setTextBytes(state, *input);
    });
    benchmark::RegisterBenchmark("parse/first_pass", [input](benchmark::State& state) {
        uint64_t lookups = 0, hits = 0;
        for (auto _ : state) {
            state.PauseTiming();
            auto script = std::make_unique<Script>(input->text.data(), int32_t(input->text.size()),
                                                   &input->preprocessor->sourceLines());
            state.ResumeTiming();
            script->parse(false);
            state.PauseTiming();
            lookups += script->times().cache.lookups;
            hits += script->times().cache.hits;
            destroyEffects();
            script.reset();
            state.ResumeTiming();
        }
        setTextBytes(state, *input);
        setCacheCounters(state, lookups, hits);
    });
    benchmark::RegisterBenchmark("parse/reparse", [input](benchmark::State& state) {
        Script script(input->text.data(), int32_t(input->text.size()),
                      &input->preprocessor->sourceLines());
        script.parse(false);
        const TimeCache& cache = script.times().cache;
        uint64_t lookupsBefore = cache.lookups, hitsBefore = cache.hits;
        uint64_t conversionsBefore = tmxConversionCount();
        for (auto _ : state) {
            destroyEffects();
            script.parse(false);
        }
        setTextBytes(state, *input);
        setCacheCounters(state, cache.lookups - lookupsBefore, cache.hits - hitsBefore);
        state.counters["library_calls_per_pass"] =
            double(tmxConversionCount() - conversionsBefore) / double(state.iterations());
        state.counters["events"] = double(script.events().size());
        state.counters["fades"] = double(script.fades().size());
        state.counters["actions"] = double(script.actions().size());
        destroyEffects();
    });
    benchmark::RegisterBenchmark("word_split", [input](benchmark::State& state) {
        size_t words = 0;
        for (auto _ : state) {
            words = countWords(input->text);
            benchmark::DoNotOptimize(words);
        }
        setTextBytes(state, *input);
        state.counters["words"] = double(words);
    });
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> args = withDefaultFlags(argc, argv, {"--benchmark_min_time=0.5"});
    int count = int(args.size()) - 1;
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

    std::ifstream tune(std::string(LUX_SOURCE_DIR) + "/tests/data/dali.xm", std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(tune)),
                            std::istreambuf_iterator<char>());
    static SoundSettings settings;
    tmxInit(&settings);
    if (tmxLoadMem(bytes.data(), uint32_t(bytes.size()), kTuneXm) != 0) {
        fprintf(stderr, "cannot load dali.xm\n");
        return 1;
    }
    // Written to the working folder, where the file system finds it; the name avoids the
    // build folder's "script" directory next to the program.
    {
        std::ofstream out(kScriptFile, std::ios::binary);
        out << productionScript(20000);
        if (!out.flush()) {
            fprintf(stderr, "cannot write %s in the working folder\n", kScriptFile);
            return 1;
        }
    }
    initFileSystem();

    Preprocessor preprocessor;
    if (!preprocessor.run(kScriptFile)) return 1;
    Preprocessed input;
    input.preprocessor = &preprocessor;
    Stream* output = preprocessor.output();
    input.text.assign(size_t(output->size()), '\0');
    output->seek(0);
    output->read(input.text.data(), int32_t(input.text.size()));
    double megabytes = double(input.text.size()) / 1e6;

    registerBenchmarks(&input);
    ResultCollector collector;
    runBenchmarks(collector);

    const BenchResult* preprocess = findResult(collector, "preprocess");
    const BenchResult* first = findResult(collector, "parse/first_pass");
    const BenchResult* reparse = findResult(collector, "parse/reparse");
    const BenchResult* words = findResult(collector, "word_split");
    printf("script: %.2f MB preprocessed", megabytes);
    if (words) printf(", %.0f words", counterOf(*words, "words"));
    if (reparse)
        printf(", %.0f events, %.0f fades, %.0f actions", counterOf(*reparse, "events"),
               counterOf(*reparse, "fades"), counterOf(*reparse, "actions"));
    printf("\n");
    if (preprocess) printf("preprocess: %.1f MB/s\n", megabytes / preprocess->realSeconds);
    if (first) {
        printf("parse (first build pass): %.1f MB/s\n", megabytes / first->realSeconds);
        printf("time conversion cache, first pass: %.0f lookups, %.2f%% hits\n",
               counterOf(*first, "lookups_per_pass"), 100.0 * counterOf(*first, "hit_rate"));
    }
    if (reparse) {
        printf("parse (re-parse, caches warm): %.1f MB/s\n", megabytes / reparse->realSeconds);
        printf("time conversion cache, re-parse: %.0f lookups, %.2f%% hits, %.0f library calls\n",
               counterOf(*reparse, "lookups_per_pass"), 100.0 * counterOf(*reparse, "hit_rate"),
               counterOf(*reparse, "library_calls_per_pass"));
    }
    if (words && reparse)
        printf("ratio script_parse_vs_word_split %.4f\n",
               words->realSeconds / reparse->realSeconds);
    destroyEffects();
    closeFileSystem();
    std::remove(kScriptFile);
    return collector.errors.empty() && preprocess && first && reparse && words ? 0 : 1;
}
