// Method-1 unpacking against libbz2's BZ2_bzDecompress on the same content (the same files
// packed by our packer and by libbz2 at level 9), plus packing speed and packed sizes, as
// Google Benchmark benchmarks: unpack_method1/<file>, unpack_libbz2/<file>, pack_method1/<file>
// and pack_libbz2/<file>.
//
// Usage: bench_depack1 [--benchmark_...] [FILE...]; without files a corpus of system files is
// used (licence texts, a program binary, JPEG photos, an MP3). After the benchmark report it
// prints per-file figures, the packing speed and "ratio method1_vs_libbz2 <value>" (libbz2's
// CPU time / ours over the whole corpus, each the fastest of the repetitions).
#include "bench/bench_results.h"
#include "data/depacker.h"
#include "data/stream.h"
#include "tools/ncc/packers.h"

#include <bzlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes readFile(const std::string& path, size_t limit = SIZE_MAX) {
    std::ifstream in(path, std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() > limit) bytes.resize(limit);
    return bytes;
}

struct Sample {
    std::string name;
    std::string label; // benchmark name part
    Bytes data;
    Bytes ours, reference; // packed by method 1 and by libbz2 -9
};

std::vector<Sample> defaultCorpus() {
    std::vector<Sample> corpus;
    Sample licences{"licence texts", "licences", {}, {}, {}};
    if (DIR* dir = opendir("/usr/share/common-licenses")) {
        std::vector<std::string> names;
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') names.push_back(entry->d_name);
        closedir(dir);
        std::sort(names.begin(), names.end());
        for (const auto& name : names) {
            Bytes text = readFile("/usr/share/common-licenses/" + name);
            licences.data.insert(licences.data.end(), text.begin(), text.end());
        }
    }
    corpus.push_back(std::move(licences));
    corpus.push_back(
        {"/usr/bin/git (first 3 MB)", "git_3MB", readFile("/usr/bin/git", 3000000), {}, {}});
    for (const char* name : {"scratch-lake.jpg", "scratch-moon-gray-rst.jpg", "house_lo.mp3"})
        corpus.push_back(
            {name, name, readFile(std::string("/work/shared/testdata/") + name), {}, {}});
    corpus.erase(std::remove_if(corpus.begin(), corpus.end(),
                                [](const Sample& s) { return s.data.empty(); }),
                 corpus.end());
    return corpus;
}

Bytes bzip2Compress(const Bytes& data) {
    unsigned int size = unsigned(data.size() + data.size() / 100 + 600);
    Bytes out(size);
    BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &size,
                             const_cast<char*>(reinterpret_cast<const char*>(data.data())),
                             unsigned(data.size()), 9, 0, 0);
    out.resize(size);
    return out;
}

bool bzip2Decompress(const Bytes& packed, Bytes& out) {
    bz_stream stream;
    std::memset(&stream, 0, sizeof(stream));
    if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) return false;
    stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(packed.data()));
    stream.avail_in = unsigned(packed.size());
    stream.next_out = reinterpret_cast<char*>(out.data());
    stream.avail_out = unsigned(out.size());
    int rc = BZ_OK;
    while (rc == BZ_OK)
        rc = BZ2_bzDecompress(&stream);
    BZ2_bzDecompressEnd(&stream);
    return rc == BZ_STREAM_END;
}

bool method1Decompress(const Bytes& packed, Bytes& out) {
    MemoryStream source;
    source.attachReadOnly(packed.data(), int32_t(packed.size()));
    return decodeMethod1(&source, out.data(), int32_t(out.size())) == nullptr;
}

std::string baseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void setBytes(benchmark::State& state, const Bytes& data) {
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

void registerBenchmarks(const Sample& sample) {
    const Sample* s = &sample;
    benchmark::RegisterBenchmark(("unpack_method1/" + s->label).c_str(),
                                 [s](benchmark::State& state) {
                                     Bytes out(s->data.size());
                                     for (auto _ : state)
                                         if (!method1Decompress(s->ours, out))
                                             state.SkipWithError("method-1 unpacking failed");
                                     setBytes(state, s->data);
                                 });
    benchmark::RegisterBenchmark(("unpack_libbz2/" + s->label).c_str(),
                                 [s](benchmark::State& state) {
                                     Bytes out(s->data.size());
                                     for (auto _ : state)
                                         if (!bzip2Decompress(s->reference, out))
                                             state.SkipWithError("libbz2 unpacking failed");
                                     setBytes(state, s->data);
                                 });
    // Packing runs in a single repetition: it only gives the packing speed, no ratio.
    auto packOurs = [s](benchmark::State& state) {
        for (auto _ : state)
            benchmark::DoNotOptimize(packMethod1(s->data.data(), s->data.size(), 9));
        setBytes(state, s->data);
    };
    auto packReference = [s](benchmark::State& state) {
        for (auto _ : state)
            benchmark::DoNotOptimize(bzip2Compress(s->data));
        setBytes(state, s->data);
    };
    benchmark::RegisterBenchmark(("pack_method1/" + s->label).c_str(), packOurs)->Repetitions(1);
    benchmark::RegisterBenchmark(("pack_libbz2/" + s->label).c_str(), packReference)
        ->Repetitions(1);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> args =
        withDefaultFlags(argc, argv, {"--benchmark_min_time=0.2", "--benchmark_repetitions=3"});
    int count = int(args.size()) - 1;
    benchmark::Initialize(&count, args.data());

    std::vector<Sample> corpus;
    for (int i = 1; i < count; i++)
        corpus.push_back({args[i], baseName(args[i]), readFile(args[i]), {}, {}});
    if (corpus.empty()) corpus = defaultCorpus();

    // Pack every file both ways and check both round trips before anything is timed.
    for (Sample& sample : corpus) {
        sample.ours = packMethod1(sample.data.data(), sample.data.size(), 9);
        sample.reference = bzip2Compress(sample.data);
        Bytes out(sample.data.size());
        if (!method1Decompress(sample.ours, out) || out != sample.data) {
            std::printf("error: method-1 round trip failed for %s\n", sample.name.c_str());
            return 1;
        }
        if (!bzip2Decompress(sample.reference, out) || out != sample.data) {
            std::printf("error: libbz2 round trip failed for %s\n", sample.name.c_str());
            return 1;
        }
        registerBenchmarks(sample);
    }

    ResultCollector collector;
    runBenchmarks(collector);

    double oursTotal = 0, referenceTotal = 0, packTotal = 0, packedBytes = 0;
    bool complete = true;
    for (const Sample& sample : corpus) {
        const BenchResult* ours = findResult(collector, "unpack_method1/" + sample.label);
        const BenchResult* reference = findResult(collector, "unpack_libbz2/" + sample.label);
        const BenchResult* pack = findResult(collector, "pack_method1/" + sample.label);
        const BenchResult* referencePack = findResult(collector, "pack_libbz2/" + sample.label);
        const Bytes& data = sample.data;
        // bzip2's framing: 4 signature bytes, 6 magic bytes and a bit per block, 6 end
        // magic bytes; ours: 4 bits, 3 bits per block, 3 end bits.
        size_t blocks = (data.size() + 899980) / 899981;
        double bzContent = double(sample.reference.size()) - 10.0 - 6.125 * double(blocks);
        double oursContent = double(sample.ours.size()) - (7.0 + 3.0 * double(blocks)) / 8.0;
        double mb = double(data.size()) / 1e6;
        std::printf(
            "file %-28s %9zu bytes  method1 %9zu  bzip2-9 %9zu (content %9.0f, ours %+.2f%%)\n",
            sample.name.c_str(), data.size(), sample.ours.size(), sample.reference.size(),
            bzContent, 100.0 * (oursContent - bzContent) / bzContent);
        if (ours && reference) {
            std::printf("  unpack method1 %7.1f MB/s  libbz2 %7.1f MB/s  ratio %.2f\n",
                        mb / ours->cpuSeconds, mb / reference->cpuSeconds,
                        reference->cpuSeconds / ours->cpuSeconds);
            oursTotal += ours->cpuSeconds;
            referenceTotal += reference->cpuSeconds;
        } else {
            complete = false;
        }
        if (pack && referencePack) {
            std::printf("  pack   method1 %7.1f MB/s  libbz2 %7.1f MB/s\n", mb / pack->cpuSeconds,
                        mb / referencePack->cpuSeconds);
            packTotal += pack->cpuSeconds;
            packedBytes += double(data.size());
        }
    }
    if (packTotal > 0)
        std::printf("packing speed method1 %.1f MB/s\n", packedBytes / 1e6 / packTotal);
    if (complete && oursTotal > 0)
        std::printf("ratio method1_vs_libbz2 %.2f\n", referenceTotal / oursTotal);
    freeDepackerBuffers();
    return collector.errors.empty() && complete ? 0 : 1;
}
