// Frames as video: pixels through the gamma ramp into planar 4:2:0 with the BT.709
// coefficients in the limited range, what encoders store, so that the encoder converts nothing.
//
// The luma plane and the chroma planes are made in separate passes whose loops the compiler
// turns into vector code (this file is built with -O3 outside Debug builds): a 720p frame takes
// about a millisecond instead of three.
#include "platform/gpu/gpu.h"
#include "platform/gpu/gpu_local.h"

#include <bit>
#include <vector>

namespace {

// BT.709 in the limited range, 16.16 fixed point: luma scaled to 219 levels, colour
// differences to 224; each colour-difference row sums to 0, so grey has no colour.
constexpr int32_t kYr = 11966, kYg = 40254, kYb = 4064;
constexpr int32_t kCbR = -6597, kCbG = -22187, kCbB = 28784;
constexpr int32_t kCrR = 28784, kCrG = -26148, kCrB = -2636;

// Where a channel (0 red, 1 green, 2 blue) lies in a pixel word of a layout: 0xAARRGGBB
// words, or the bytes red, green, blue, alpha in memory order.
template <GpuPixelLayout layout> constexpr int shiftOf(int channel) {
    if (layout == GpuPixelLayout::Argb) return 16 - 8 * channel;
    return std::endian::native == std::endian::little ? 8 * channel : 24 - 8 * channel;
}

template <GpuPixelLayout layout> inline int32_t redOf(uint32_t p) {
    return int32_t((p >> shiftOf<layout>(0)) & 255);
}
template <GpuPixelLayout layout> inline int32_t greenOf(uint32_t p) {
    return int32_t((p >> shiftOf<layout>(1)) & 255);
}
template <GpuPixelLayout layout> inline int32_t blueOf(uint32_t p) {
    return int32_t((p >> shiftOf<layout>(2)) & 255);
}

template <GpuPixelLayout layout>
void lumaPlane(const uint32_t* __restrict pixels, uint8_t* __restrict luma, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        uint32_t p = pixels[i];
        luma[i] = uint8_t(16 + ((kYr * redOf<layout>(p) + kYg * greenOf<layout>(p) +
                                 kYb * blueOf<layout>(p) + 32768) >>
                                16));
    }
}

// One chroma sample from the sums of a block's four pixels: the mean, rounded. The offset of
// 128 comes first, so that what is shifted is never negative.
inline uint8_t chroma(int32_t kR, int32_t kG, int32_t kB, int32_t red, int32_t green,
                      int32_t blue) {
    constexpr int32_t kScale = 4 << 16;
    return uint8_t((128 * kScale + kR * red + kG * green + kB * blue + kScale / 2) >> 18);
}

// The chroma of one pair of rows: blocks of 2 x 2 pixels. A row or column missing at an odd
// edge is the one beside it again, which leaves the mean of the pixels that are there.
template <GpuPixelLayout layout>
void chromaRow(const uint32_t* __restrict top, const uint32_t* __restrict bottom, uint32_t width,
               uint8_t* __restrict cb, uint8_t* __restrict cr) {
    uint32_t blocks = width / 2;
    for (uint32_t c = 0; c < blocks; ++c) {
        uint32_t a = top[2 * c], b = top[2 * c + 1], d = bottom[2 * c], e = bottom[2 * c + 1];
        int32_t red = redOf<layout>(a) + redOf<layout>(b) + redOf<layout>(d) + redOf<layout>(e);
        int32_t green =
            greenOf<layout>(a) + greenOf<layout>(b) + greenOf<layout>(d) + greenOf<layout>(e);
        int32_t blue =
            blueOf<layout>(a) + blueOf<layout>(b) + blueOf<layout>(d) + blueOf<layout>(e);
        cb[c] = chroma(kCbR, kCbG, kCbB, red, green, blue);
        cr[c] = chroma(kCrR, kCrG, kCrB, red, green, blue);
    }
    if (width & 1) {
        uint32_t a = top[width - 1], d = bottom[width - 1];
        int32_t red = 2 * (redOf<layout>(a) + redOf<layout>(d)),
                green = 2 * (greenOf<layout>(a) + greenOf<layout>(d)),
                blue = 2 * (blueOf<layout>(a) + blueOf<layout>(d));
        cb[blocks] = chroma(kCbR, kCbG, kCbB, red, green, blue);
        cr[blocks] = chroma(kCrR, kCrG, kCrB, red, green, blue);
    }
}

template <GpuPixelLayout layout>
void planesFromPixels(const uint32_t* pixels, uint32_t width, uint32_t height, uint8_t* luma,
                      uint8_t* cb, uint8_t* cr) {
    uint32_t chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
    lumaPlane<layout>(pixels, luma, size_t(width) * height);
    for (uint32_t cy = 0; cy < chromaHeight; ++cy) {
        const uint32_t* top = pixels + size_t(2 * cy) * width;
        const uint32_t* bottom = 2 * cy + 1 < height ? top + width : top;
        chromaRow<layout>(top, bottom, width, cb + size_t(cy) * chromaWidth,
                          cr + size_t(cy) * chromaWidth);
    }
}

template <GpuPixelLayout layout>
const uint32_t* throughRamp(const uint32_t* pixels, size_t count, const gpu::GammaBytes& gamma,
                            std::vector<uint32_t>* shown) {
    shown->resize(count);
    for (size_t i = 0; i < count; ++i) {
        uint32_t p = pixels[i];
        (*shown)[i] = uint32_t(gamma.red[redOf<layout>(p)]) << 16 |
                      uint32_t(gamma.green[greenOf<layout>(p)]) << 8 |
                      gamma.blue[blueOf<layout>(p)];
    }
    return shown->data();
}

} // namespace

void gpuYuv420FromPixels(const uint32_t* pixels, uint32_t width, uint32_t height,
                         const D3DGAMMARAMP& ramp, std::vector<uint8_t>* yuv,
                         GpuPixelLayout layout) {
    size_t count = size_t(width) * height;
    size_t chromaBytes = size_t((width + 1) / 2) * ((height + 1) / 2);
    yuv->resize(count + 2 * chromaBytes);
    uint8_t* cb = yuv->data() + count;
    uint8_t* cr = cb + chromaBytes;
    // A ramp other than the identity is applied first, into 0xAARRGGBB words kept for the
    // next frame.
    const gpu::GammaBytes gamma(ramp);
    if (!gamma.identity()) {
        thread_local std::vector<uint32_t> shown;
        pixels = layout == GpuPixelLayout::Argb
                     ? throughRamp<GpuPixelLayout::Argb>(pixels, count, gamma, &shown)
                     : throughRamp<GpuPixelLayout::RgbaBytes>(pixels, count, gamma, &shown);
        layout = GpuPixelLayout::Argb;
    }
    if (layout == GpuPixelLayout::Argb)
        planesFromPixels<GpuPixelLayout::Argb>(pixels, width, height, yuv->data(), cb, cr);
    else
        planesFromPixels<GpuPixelLayout::RgbaBytes>(pixels, width, height, yuv->data(), cb, cr);
}
