// Method-2 unpacking throughput against zlib's inflate, on a corpus of real files (texts,
// program binaries, images, music), as Google Benchmark benchmarks: unpack_zlib/<file>,
// unpack_method2/<file> and pack_method2/<file>. Both decoders unpack the same content from
// memory; each file is packed at the highest level of both. After the benchmark report it
// prints per-file figures, the packing speed of method 2, and "ratio method2_vs_zlib <value>"
// (zlib's total CPU time over method 2's, each the fastest of the repetitions; above 1 means
// method 2 unpacks faster).
//
// Usage: bench_depack2 [--benchmark_...] [FILE...]   (without files: the built-in corpus below)
#include "bench/bench_results.h"
#include "data/depacker.h"
#include "tools/ncc/packers.h"

#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const kDefaultCorpus[] = {
    "/usr/share/common-licenses/GPL-3",
    "/usr/share/common-licenses/Apache-2.0",
    "/usr/share/vim/vim90/doc/options.txt",
    "/usr/bin/openssl",
    "/usr/bin/gzip",
    LUX_TEST_DATA "/scratch-lake.jpg",
    LUX_TEST_DATA "/dali.xm",
    "/usr/share/doc/nodejs/contributing/doc_img/scatter-plot.png",
};

std::vector<uint8_t> readFile(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)), {});
}

struct Sample {
    std::string name;
    std::string label; // benchmark name part
    std::vector<uint8_t> data, zipped, packed;
};

bool inflateInto(const std::vector<uint8_t>& packed, std::vector<uint8_t>& out) {
    uLongf size = out.size();
    return uncompress(out.data(), &size, packed.data(), packed.size()) == Z_OK &&
           size == out.size();
}

bool method2Into(const std::vector<uint8_t>& packed, std::vector<uint8_t>& out) {
    return decodeMethod2(packed.data(), static_cast<int32_t>(packed.size()), out.data(),
                         static_cast<int32_t>(out.size()));
}

std::string baseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void setBytes(benchmark::State& state, const Sample& sample) {
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(sample.data.size()));
}

void registerBenchmarks(const Sample* s) {
    benchmark::RegisterBenchmark(("unpack_zlib/" + s->label).c_str(), [s](benchmark::State& state) {
        std::vector<uint8_t> out(s->data.size());
        for (auto _ : state)
            if (!inflateInto(s->zipped, out)) state.SkipWithError("zlib unpacking failed");
        setBytes(state, *s);
    });
    benchmark::RegisterBenchmark(("unpack_method2/" + s->label).c_str(),
                                 [s](benchmark::State& state) {
                                     std::vector<uint8_t> out(s->data.size());
                                     for (auto _ : state)
                                         if (!method2Into(s->packed, out))
                                             state.SkipWithError("method-2 unpacking failed");
                                     setBytes(state, *s);
                                 });
    // Packing runs in a single repetition: it only gives the packing speed, no ratio.
    auto pack = [s](benchmark::State& state) {
        for (auto _ : state)
            benchmark::DoNotOptimize(packMethod2(s->data.data(), s->data.size(), 9));
        setBytes(state, *s);
    };
    benchmark::RegisterBenchmark(("pack_method2/" + s->label).c_str(), pack)->Repetitions(1);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> args =
        withDefaultFlags(argc, argv, {"--benchmark_min_time=0.1", "--benchmark_repetitions=3"});
    int count = int(args.size()) - 1;
    benchmark::Initialize(&count, args.data());

    std::vector<std::string> names;
    for (int i = 1; i < count; ++i)
        names.push_back(args[i]);
    if (names.empty()) names.assign(std::begin(kDefaultCorpus), std::end(kDefaultCorpus));

    // Pack every file both ways and check both round trips before anything is timed.
    std::vector<std::unique_ptr<Sample>> corpus;
    for (const std::string& name : names) {
        auto sample = std::make_unique<Sample>();
        sample->name = name;
        sample->label = baseName(name);
        sample->data = readFile(name);
        if (sample->data.empty()) {
            std::printf("%-44s missing, skipped\n", name.c_str());
            continue;
        }
        const std::vector<uint8_t>& data = sample->data;
        sample->zipped.resize(compressBound(data.size()));
        uLongf zippedSize = sample->zipped.size();
        compress2(sample->zipped.data(), &zippedSize, data.data(), data.size(), 9);
        sample->zipped.resize(zippedSize);
        sample->packed = packMethod2(data.data(), data.size(), 9);

        std::vector<uint8_t> out(data.size());
        if (!inflateInto(sample->zipped, out) || out != data || !method2Into(sample->packed, out) ||
            out != data) {
            std::printf("%-44s round trip FAILED\n", name.c_str());
            return 1;
        }
        registerBenchmarks(sample.get());
        corpus.push_back(std::move(sample));
    }

    ResultCollector collector;
    runBenchmarks(collector);

    double zlibTotal = 0;
    double method2Total = 0;
    double packSeconds = 0;
    double packedBytes = 0;
    bool complete = true;
    std::printf("%-44s %10s %10s %10s %9s %9s\n", "file", "size", "zlib-9", "method2", "zlib MB/s",
                "m2 MB/s");
    for (const auto& sample : corpus) {
        const BenchResult* zlib = findResult(collector, "unpack_zlib/" + sample->label);
        const BenchResult* method2 = findResult(collector, "unpack_method2/" + sample->label);
        const BenchResult* pack = findResult(collector, "pack_method2/" + sample->label);
        double mb = static_cast<double>(sample->data.size()) / 1e6;
        if (!zlib || !method2) {
            complete = false;
            continue;
        }
        zlibTotal += zlib->cpuSeconds;
        method2Total += method2->cpuSeconds;
        if (pack) {
            packSeconds += pack->cpuSeconds;
            packedBytes += static_cast<double>(sample->data.size());
        }
        std::printf("%-44s %10zu %10zu %10zu %9.1f %9.1f\n", sample->name.c_str(),
                    sample->data.size(), sample->zipped.size(), sample->packed.size(),
                    mb / zlib->cpuSeconds, mb / method2->cpuSeconds);
    }
    if (packSeconds > 0)
        std::printf("method2 packing speed (level 9): %.2f MB/s\n",
                    packedBytes / 1e6 / packSeconds);
    if (!complete || method2Total <= 0) return 1;
    std::printf("ratio method2_vs_zlib %.2f\n", zlibTotal / method2Total);
    return collector.errors.empty() ? 0 : 1;
}
