// The video export's frame conversion at 1280 x 720: a frame of drawn pixels, as the export
// reads them (the bytes red, green, blue, alpha), into planar 4:2:0 (BT.709), with the
// identity gamma ramp and with another. The reference is a plain copy of the same pixels,
// measured in the same run: "ratio videoframe_convert_vs_copy" is the conversion's time over
// the copy's. No device is needed.
#include "bench/bench_results.h"
#include "platform/gpu/gpu.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kWidth = 1280, kHeight = 720;

std::vector<uint32_t> frame() {
    std::vector<uint32_t> pixels(size_t(kWidth) * kHeight);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = 0xFF000000u | uint32_t(i * 2654435761u >> 8);
    return pixels;
}

D3DGAMMARAMP rampOf(double gamma) {
    D3DGAMMARAMP ramp;
    for (int i = 0; i < 256; ++i) {
        double level = 65535.0 * std::pow(i / 255.0, 1.0 / gamma) + 0.5;
        ramp.red[i] = ramp.green[i] = ramp.blue[i] = uint16_t(level);
    }
    return ramp;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> args = withDefaultFlags(argc, argv, {"--benchmark_min_time=0.3"});
    int count = int(args.size()) - 1;
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    static const std::vector<uint32_t> pixels = frame();
    static std::vector<uint8_t> yuv;
    static std::vector<uint32_t> copy(pixels.size());
    for (double gamma : {1.0, 1.4}) {
        const char* name = gamma == 1.0 ? "frame/convert_identity" : "frame/convert_gamma";
        benchmark::RegisterBenchmark(name, [gamma](benchmark::State& state) {
            const D3DGAMMARAMP ramp = rampOf(gamma);
            for (auto _ : state) {
                gpuYuv420FromPixels(pixels.data(), kWidth, kHeight, ramp, &yuv,
                                    GpuPixelLayout::RgbaBytes);
                benchmark::DoNotOptimize(yuv.data());
            }
        });
    }
    benchmark::RegisterBenchmark("frame/copy", [](benchmark::State& state) {
        for (auto _ : state) {
            std::memcpy(copy.data(), pixels.data(), pixels.size() * sizeof(uint32_t));
            benchmark::DoNotOptimize(copy.data());
        }
    });
    ResultCollector collector;
    runBenchmarks(collector);
    const BenchResult* identity = findResult(collector, "frame/convert_identity");
    const BenchResult* gamma = findResult(collector, "frame/convert_gamma");
    const BenchResult* copied = findResult(collector, "frame/copy");
    if (identity)
        printf("conversion, identity ramp  %.3f ms a frame\n", identity->realSeconds * 1e3);
    if (gamma) printf("conversion, gamma 1.4       %.3f ms a frame\n", gamma->realSeconds * 1e3);
    if (copied) printf("copy of the pixels          %.3f ms a frame\n", copied->realSeconds * 1e3);
    if (identity && copied)
        printf("ratio videoframe_convert_vs_copy %.2f\n",
               identity->realSeconds / copied->realSeconds);
    return collector.errors.empty() && identity && gamma && copied ? 0 : 1;
}
