// Texture, picture and font benchmarks, each against a reference measured in the same run:
// - upload: a 1024 x 1024 rgb image into a mip-mapped texture (fit, convert, every level on
//   the CPU, then the device's upload), against a plain GL upload of the same image with
//   glGenerateMipmap; MB/s of source pixels, both ending with glFinish;
// - JPEG: decoding a picture from memory against the reference decoder `djpeg` of the same
//   file (its process start included, which is why the picture is large);
// - font: rendering "Arial|48" (FreeType, supersampled, reduced; with its texture).
// Prints "ratio texture_upload_vs_gl", "ratio jpeg_decode_vs_djpeg" and the font time.
// Run with SDL_VIDEODRIVER=offscreen where there is no display.
#include "bench/bench_results.h"
#include "data/stream.h"
#include "gfx/device.h"
#include "gfx/enumeration.h"
#include "gfx/font.h"
#include "gfx/resources.h"
#include "gfx/texture.h"
#include "gfx/texturepool.h"
#include "platform/config.h"
#include "platform/gpu/gpu.h"
#include "platform/log.h"

#include <epoxy/gl.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int kSide = 1024;
const std::string kBigJpeg = "gfx_bench_big.jpg";

std::vector<uint8_t> testImage() {
    std::vector<uint8_t> image(size_t(kSide) * kSide * 3);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = uint8_t((i * 2654435761u) >> 24);
    return image;
}

void uploadOurs(benchmark::State& state, const std::vector<uint8_t>& image) {
    for (auto _ : state) {
        Texture texture(kSide, kSide, kTextureRgb | kTextureMipMaps, image.data());
        glFinish();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image.size()));
}

void uploadPlainGl(benchmark::State& state, const std::vector<uint8_t>& image) {
    for (auto _ : state) {
        GLuint texture = 0;
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, kSide, kSide, 0, GL_BGR, GL_UNSIGNED_BYTE,
                     image.data());
        glGenerateMipmap(GL_TEXTURE_2D);
        glFinish();
        glBindTexture(GL_TEXTURE_2D, 0);
        glDeleteTextures(1, &texture);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image.size()));
}

void decodeOurs(benchmark::State& state, const std::vector<uint8_t>& file) {
    for (auto _ : state) {
        MemoryStream stream;
        stream.attachReadOnly(file.data(), int32_t(file.size()));
        Picture picture;
        if (!decodePicture(&stream, kTextureRgb, &picture)) state.SkipWithError("no picture");
        freePicture(&picture);
    }
}

void decodeDjpeg(benchmark::State& state) {
    std::string command = "djpeg -ppm -outfile /dev/null " + kBigJpeg;
    for (auto _ : state)
        if (system(command.c_str()) != 0) state.SkipWithError("djpeg failed");
}

void renderArial48(benchmark::State& state) {
    for (auto _ : state) {
        BitmapFont font;
        if (!renderFont("Arial", 48, false, false, true, &font)) state.SkipWithError("no font");
        createFontTexture(&font);
        glFinish();
        freeFont(&font);
    }
}

bool startDevice() {
    configValues.xres = 640;
    configValues.yres = 480;
    configValues.windowed = 1;
    GpuSystem* system = gpuCreate();
    if (!system) return false;
    resourceInit();
    enumerateAdapters(system, nullptr);
    initDevice(system, nullptr);
    return hasDevice();
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> args = withDefaultFlags(argc, argv, {"--benchmark_min_time=0.5"});
    int count = int(args.size()) - 1;
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    logSetFile("/dev/null");
    if (!startDevice()) return fprintf(stderr, "gfx_bench: no device\n"), 1;

    // A large picture, so that djpeg's process start is small against its decoding.
    std::string make = std::string("convert '") + LUX_TEST_DATA +
                       "/scratch-lake.jpg' -resize 400% -quality 90 " + kBigJpeg;
    if (system(make.c_str()) != 0) return fprintf(stderr, "gfx_bench: convert failed\n"), 1;
    std::ifstream in(kBigJpeg, std::ios::binary);
    std::vector<uint8_t> jpeg((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());

    std::vector<uint8_t> image = testImage();
    benchmark::RegisterBenchmark("upload/ours", uploadOurs, image)->UseRealTime();
    benchmark::RegisterBenchmark("upload/plain_gl", uploadPlainGl, image)->UseRealTime();
    benchmark::RegisterBenchmark("jpeg/ours", decodeOurs, jpeg)->UseRealTime();
    benchmark::RegisterBenchmark("jpeg/djpeg", decodeDjpeg)->UseRealTime();
    benchmark::RegisterBenchmark("font/arial48", renderArial48)->UseRealTime();
    ResultCollector collector;
    runBenchmarks(collector);

    const BenchResult* ours = findResult(collector, "upload/ours");
    const BenchResult* gl = findResult(collector, "upload/plain_gl");
    const BenchResult* jpegOurs = findResult(collector, "jpeg/ours");
    const BenchResult* djpeg = findResult(collector, "jpeg/djpeg");
    const BenchResult* font = findResult(collector, "font/arial48");
    double megabytes = double(image.size()) / 1e6;
    if (ours) printf("texture upload           %.1f MB/s\n", megabytes / ours->realSeconds);
    if (gl) printf("plain GL upload          %.1f MB/s\n", megabytes / gl->realSeconds);
    if (ours && gl)
        printf("ratio texture_upload_vs_gl %.2f\n", gl->realSeconds / ours->realSeconds);
    if (jpegOurs) printf("jpeg decode              %.2f ms\n", jpegOurs->realSeconds * 1e3);
    if (djpeg) printf("djpeg                    %.2f ms\n", djpeg->realSeconds * 1e3);
    if (jpegOurs && djpeg)
        printf("ratio jpeg_decode_vs_djpeg %.2f\n", jpegOurs->realSeconds / djpeg->realSeconds);
    if (font) printf("font Arial|48            %.1f ms\n", font->realSeconds * 1e3);
    closeDevice();
    freeAdapters();
    return 0;
}
