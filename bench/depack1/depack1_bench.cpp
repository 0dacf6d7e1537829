// Method-1 unpacking against libbz2's BZ2_bzDecompress on the same content (the same files
// packed by our packer and by libbz2 at level 9), plus packing speed and packed sizes.
//
// Usage: bench_depack1 [FILE...]; without arguments a corpus of system files is used
// (licence texts, a program binary, JPEG photos, an MP3). Prints per-file figures and
// "ratio method1_vs_libbz2 <value>" (libbz2 time / our time over the whole corpus).
#include "data/depacker.h"
#include "data/stream.h"
#include "tools/ncc/packers.h"

#include <bzlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

Bytes readFile(const std::string& path, size_t limit = SIZE_MAX) {
    std::ifstream in(path, std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() > limit) bytes.resize(limit);
    return bytes;
}

struct Sample {
    std::string name;
    Bytes data;
};

std::vector<Sample> defaultCorpus() {
    std::vector<Sample> corpus;
    Sample licences{"licence texts", {}};
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
    corpus.push_back({"/usr/bin/git (first 3 MB)", readFile("/usr/bin/git", 3000000)});
    for (const char* name : {"scratch-lake.jpg", "scratch-moon-gray-rst.jpg", "house_lo.mp3"})
        corpus.push_back({name, readFile(std::string("/work/shared/testdata/") + name)});
    corpus.erase(std::remove_if(corpus.begin(), corpus.end(),
                                [](const Sample& s) { return s.data.empty(); }),
                 corpus.end());
    return corpus;
}

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
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

} // namespace

int main(int argc, char** argv) {
    std::vector<Sample> corpus;
    for (int i = 1; i < argc; i++)
        corpus.push_back({argv[i], readFile(argv[i])});
    if (corpus.empty()) corpus = defaultCorpus();

    double oursTotal = 0, referenceTotal = 0, packTotal = 0, bytesTotal = 0;
    for (const Sample& sample : corpus) {
        const Bytes& data = sample.data;
        auto start = Clock::now();
        Bytes ours = packMethod1(data.data(), data.size(), 9);
        double packTime = seconds(start);
        start = Clock::now();
        Bytes reference = bzip2Compress(data);
        double referencePackTime = seconds(start);

        // bzip2's framing: 4 signature bytes, 6 magic bytes and a bit per block, 6 end
        // magic bytes; ours: 4 bits, 3 bits per block, 3 end bits.
        size_t blocks = (data.size() + 899980) / 899981;
        double bzContent = double(reference.size()) - 10.0 - 6.125 * double(blocks);
        double oursContent = double(ours.size()) - (7.0 + 3.0 * double(blocks)) / 8.0;

        Bytes out(data.size());
        double bestOurs = 1e9, bestReference = 1e9;
        // Alternate the two decoders; the fastest of many rounds stands for each, which keeps
        // the figures steady on a shared machine.
        double spentOurs = 0, spentReference = 0;
        for (int round = 0; round < 9 || spentOurs + spentReference < 0.6; round++) {
            start = Clock::now();
            bool okOurs = method1Decompress(ours, out);
            double oursTime = seconds(start);
            bestOurs = std::min(bestOurs, oursTime);
            spentOurs += oursTime;
            if (!okOurs || out != data) {
                std::printf("error: method-1 round trip failed for %s\n", sample.name.c_str());
                return 1;
            }
            start = Clock::now();
            bool okReference = bzip2Decompress(reference, out);
            double referenceTime = seconds(start);
            bestReference = std::min(bestReference, referenceTime);
            spentReference += referenceTime;
            if (!okReference || out != data) {
                std::printf("error: libbz2 round trip failed for %s\n", sample.name.c_str());
                return 1;
            }
        }
        double mb = double(data.size()) / 1e6;
        std::printf(
            "file %-28s %9zu bytes  method1 %9zu  bzip2-9 %9zu (content %9.0f, ours %+.2f%%)\n",
            sample.name.c_str(), data.size(), ours.size(), reference.size(), bzContent,
            100.0 * (oursContent - bzContent) / bzContent);
        std::printf("  unpack method1 %7.1f MB/s  libbz2 %7.1f MB/s  ratio %.2f\n", mb / bestOurs,
                    mb / bestReference, bestReference / bestOurs);
        std::printf("  pack   method1 %7.1f MB/s  libbz2 %7.1f MB/s\n", mb / packTime,
                    mb / referencePackTime);
        oursTotal += bestOurs;
        referenceTotal += bestReference;
        packTotal += packTime;
        bytesTotal += double(data.size());
    }
    std::printf("packing speed method1 %.1f MB/s\n", bytesTotal / 1e6 / packTotal);
    std::printf("ratio method1_vs_libbz2 %.2f\n", referenceTotal / oursTotal);
    freeDepackerBuffers();
    return 0;
}
