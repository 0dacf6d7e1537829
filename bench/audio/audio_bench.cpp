// CPU time of the vowel analysis of one loud block of 2048 samples (the eight band filters and
// the vowel match), against the block's length in real time (2048 / 44100 s, about 46 ms):
// "ratio analysis_vs_block_length" is the share of one core the analysis thread needs while
// recording (target: 0.02 or less).
#include "audio/capture.h"
#include "bench/bench_results.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr double kBlockSeconds = double(VowelAnalyser::kBlockSamples) / 44100.0;

void analyseLoudBlock(benchmark::State& state) {
    std::vector<int16_t> samples(VowelAnalyser::kBlockSamples);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] =
            int16_t(15000 * std::sin(double(i) * 0.137) + 5000 * std::sin(double(i) * 0.91));
    VowelAnalyser analyser;
    for (auto _ : state) {
        analyser.analyseBlock(samples.data(), int32_t(samples.size()));
        benchmark::DoNotOptimize(analyser.spread.load());
    }
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> args = withDefaultFlags(argc, argv, {"--benchmark_min_time=0.5"});
    int count = int(args.size()) - 1;
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    benchmark::RegisterBenchmark("vowel_analysis/block", analyseLoudBlock);
    ResultCollector collector;
    runBenchmarks(collector);
    const BenchResult* block = findResult(collector, "vowel_analysis/block");
    if (!block) return 1;
    printf("vowel analysis: %.1f us of CPU per block of %.1f ms\n", 1e6 * block->cpuSeconds,
           1e3 * kBlockSeconds);
    printf("ratio analysis_vs_block_length %.4f\n", block->cpuSeconds / kBlockSeconds);
    return 0;
}
