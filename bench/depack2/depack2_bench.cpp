// Method-2 unpacking throughput against zlib's inflate, on a corpus of real files (texts,
// program binaries, images, music). Both decoders unpack the same content from memory; each
// file is packed at the highest level of both. Prints per-file figures, the packing speed
// of method 2, and "ratio method2_vs_zlib <value>" (zlib's total time over method 2's total
// time; above 1 means method 2 unpacks faster).
//
// Usage: bench_depack2 [FILE...]   (without arguments: the built-in corpus below)
#include "data/depacker.h"
#include "tools/ncc/packers.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
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

using Clock = std::chrono::steady_clock;

std::vector<uint8_t> readFile(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)), {});
}

// CPU seconds of this thread (other processes on a busy machine count less than in wall time).
double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Seconds per run of each decoder: batches of runs of about 20 ms, alternating between the
// two decoders for several rounds; the fastest batch of each counts, which filters out
// interruptions.
template <typename A, typename B> std::pair<double, double> bestSecondsPerRun(A&& a, B&& b) {
    a();
    b();
    auto runsFor = [](auto& decode) {
        double start = cpuSeconds();
        int runs = 0;
        do {
            decode();
            ++runs;
        } while (cpuSeconds() - start < 0.02);
        return runs;
    };
    int runsA = runsFor(a);
    int runsB = runsFor(b);
    double bestA = 1e30;
    double bestB = 1e30;
    for (int round = 0; round < 9; ++round) {
        double start = cpuSeconds();
        for (int i = 0; i < runsA; ++i)
            a();
        bestA = std::min(bestA, (cpuSeconds() - start) / runsA);
        start = cpuSeconds();
        for (int i = 0; i < runsB; ++i)
            b();
        bestB = std::min(bestB, (cpuSeconds() - start) / runsB);
    }
    return {bestA, bestB};
}

bool inflateInto(const std::vector<uint8_t>& packed, std::vector<uint8_t>& out) {
    uLongf size = out.size();
    return uncompress(out.data(), &size, packed.data(), packed.size()) == Z_OK &&
           size == out.size();
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i)
        names.push_back(argv[i]);
    if (names.empty()) names.assign(std::begin(kDefaultCorpus), std::end(kDefaultCorpus));

    double zlibTotal = 0;
    double method2Total = 0;
    double packSeconds = 0;
    double packedBytes = 0;
    std::printf("%-44s %10s %10s %10s %9s %9s\n", "file", "size", "zlib-9", "method2", "zlib MB/s",
                "m2 MB/s");
    for (const std::string& name : names) {
        std::vector<uint8_t> data = readFile(name);
        if (data.empty()) {
            std::printf("%-44s missing, skipped\n", name.c_str());
            continue;
        }
        std::vector<uint8_t> zipped(compressBound(data.size()));
        uLongf zippedSize = zipped.size();
        compress2(zipped.data(), &zippedSize, data.data(), data.size(), 9);
        zipped.resize(zippedSize);

        auto packStart = Clock::now();
        std::vector<uint8_t> packed = packMethod2(data.data(), data.size(), 9);
        packSeconds += std::chrono::duration<double>(Clock::now() - packStart).count();
        packedBytes += static_cast<double>(data.size());

        std::vector<uint8_t> out(data.size());
        if (!inflateInto(zipped, out) || out != data ||
            !decodeMethod2(packed.data(), static_cast<int32_t>(packed.size()), out.data(),
                           static_cast<int32_t>(out.size())) ||
            out != data) {
            std::printf("%-44s round trip FAILED\n", name.c_str());
            return 1;
        }
        auto [zlibSeconds, method2Seconds] =
            bestSecondsPerRun([&] { inflateInto(zipped, out); },
                              [&] {
                                  decodeMethod2(packed.data(), static_cast<int32_t>(packed.size()),
                                                out.data(), static_cast<int32_t>(out.size()));
                              });
        zlibTotal += zlibSeconds;
        method2Total += method2Seconds;
        double mb = static_cast<double>(data.size()) / 1e6;
        std::printf("%-44s %10zu %10zu %10zu %9.1f %9.1f\n", name.c_str(), data.size(),
                    zipped.size(), packed.size(), mb / zlibSeconds, mb / method2Seconds);
    }
    if (method2Total <= 0) return 1;
    std::printf("method2 packing speed (level 9): %.2f MB/s\n", packedBytes / 1e6 / packSeconds);
    std::printf("ratio method2_vs_zlib %.2f\n", zlibTotal / method2Total);
    return 0;
}
