// The picture loader: JPEG through libjpeg-turbo (accurate IDCT and fancy upsampling, the
// reference decoder's pixels), PNG, BMP, GIF and TGA through stb_image reading straight from
// the stream. A picture keeps its own pixel size.
#include "data/stream.h"
#include "gfx/texture.h"
#include "gfx/texturepool.h"
#include "platform/log.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <turbojpeg.h>
#include <vector>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#define STBI_ONLY_PNG
#define STBI_ONLY_BMP
#define STBI_ONLY_GIF
#define STBI_ONLY_TGA
#define STBI_NO_STDIO
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace {

// Larger pictures are refused before any pixel memory is taken.
constexpr int64_t kMaxPicturePixels = int64_t(16384) * 16384;
constexpr int32_t kMaxPictureSide = 16384;

// No format packs more than a few thousand pixels into a byte; a header that claims more
// belongs to a damaged file, whose decoding would only fill memory with nothing.
constexpr int64_t kMaxPixelsPerByte = 4096;

bool sizeAcceptable(int64_t width, int64_t height, int64_t fileBytes) {
    if (width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
        width * height <= kMaxPicturePixels && width * height <= fileBytes * kMaxPixelsPerByte)
        return true;
    logf("TXPL: warning: picture size %lldx%lld is out of range for a file of %lld bytes\n",
         (long long)width, (long long)height, (long long)fileBytes);
    return false;
}

bool wantsLuma(uint32_t flags) {
    return (flags & (kTextureGrayscale | kTextureAlpha)) != 0;
}

// Luma 0.3 R + 0.59 G + 0.11 B, truncated, from blue, green, red pixels; in place.
void lumaFromBgr(uint8_t* pixels, int64_t count) {
    for (int64_t i = 0; i < count; ++i) {
        const uint8_t* p = pixels + 3 * i;
        pixels[i] = uint8_t((30 * p[2] + 59 * p[1] + 11 * p[0]) / 100);
    }
}

// The stream's bytes: the buffer of a memory stream at its start, else a copy.
const uint8_t* streamBytes(Stream* stream, int32_t start, int32_t length,
                           std::vector<uint8_t>* copy) {
    if (auto* memory = dynamic_cast<MemoryStream*>(stream); memory && memory->data())
        return memory->data() + start;
    copy->resize(size_t(length));
    stream->seek(start);
    if (!stream->readExact(copy->data(), length)) return nullptr;
    return copy->data();
}

bool decodeJpeg(Stream* stream, int32_t start, int32_t length, Picture* picture) {
    std::vector<uint8_t> copy;
    const uint8_t* bytes = streamBytes(stream, start, length, &copy);
    if (!bytes) return false;
    tjhandle decoder = tjInitDecompress();
    if (!decoder) return false;
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    bool ok = tjDecompressHeader3(decoder, bytes, (unsigned long)length, &width, &height,
                                  &subsampling, &colourspace) == 0 &&
              sizeAcceptable(width, height, length);
    if (ok) {
        picture->width = width;
        picture->height = height;
        picture->pixelBytes = 3;
        picture->pixels = static_cast<uint8_t*>(malloc(size_t(width) * height * 3));
        ok = picture->pixels != nullptr;
    }
    // A warning (a truncated scan, say) still leaves a picture, as the reference decoder does.
    if (ok && tjDecompress2(decoder, bytes, (unsigned long)length, picture->pixels, width, 0,
                            height, TJPF_BGR, 0) != 0)
        ok = tjGetErrorCode(decoder) == TJERR_WARNING;
    if (!ok) logf("TXPL: warning: JPEG decoding failed: %s\n", tjGetErrorStr2(decoder));
    tjDestroy(decoder);
    return ok;
}

// stb_image reads zeros past the end of a file; a read that finds nothing left marks the
// picture as cut short.
struct StbSource {
    Stream* stream = nullptr;
    bool ranDry = false;
};

int readCallback(void* user, char* data, int size) {
    auto* source = static_cast<StbSource*>(user);
    int got = source->stream->read(data, size);
    if (got <= 0 && size > 0) source->ranDry = true;
    return got;
}

void skipCallback(void* user, int n) {
    static_cast<StbSource*>(user)->stream->seekRelative(n);
}

int eofCallback(void* user) {
    Stream* stream = static_cast<StbSource*>(user)->stream;
    return stream->tell() >= stream->size();
}

uint32_t littleEndian(const uint8_t* p, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

// The most pixels a file of `length` bytes can hold in its format, from its first bytes:
// uncompressed TGA and BMP store every pixel, their run-length forms at most 128 pixels in
// two bytes; PNG and GIF compress further.
int64_t mostPixels(const uint8_t* head, int32_t length, int64_t width) {
    if (head[0] == 0x89 || head[0] == 'G') return int64_t(length) * kMaxPixelsPerByte;
    if (head[0] == 'B' && head[1] == 'M') {
        // Headers of 40 bytes and more have their bit count at 28 and the compression at 30;
        // the 12-byte OS/2 header has its bit count at 24 and no compression.
        bool core = littleEndian(head + 14, 4) < 40;
        uint32_t bits = littleEndian(head + (core ? 24 : 28), 2);
        uint32_t compression = core ? 0 : littleEndian(head + 30, 4);
        if (compression == 1 || compression == 2) return int64_t(length) * 64;
        int64_t rowBytes = (width * std::max<uint32_t>(bits, 1) + 31) / 32 * 4;
        return int64_t(length) / std::max<int64_t>(rowBytes, 1) * width + width;
    }
    uint32_t type = head[2], pixelBytes = std::max(1u, (uint32_t(head[16]) + 7) / 8);
    if (type >= 9) return int64_t(length) / (1 + pixelBytes) * 128;
    return int64_t(length) / pixelBytes;
}

uint32_t bigEndian(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Whether every chunk of a PNG, up to its end chunk, lies inside the file. stb_image sizes
// its buffer for the compressed data by the chunk lengths before it reads them, so a few
// damaged bytes could otherwise make it take gigabytes for a file of a kilobyte.
bool pngChunksFit(Stream* stream, int32_t start, int32_t length) {
    int64_t at = 8; // the signature
    for (;;) {
        uint8_t header[8];
        if (at + 12 > length) return false;
        stream->seek(int32_t(start + at));
        if (stream->read(header, 8) != 8) return false;
        int64_t chunkBytes = 12 + int64_t(bigEndian(header));
        if (at + chunkBytes > length) return false;
        if (std::memcmp(header + 4, "IEND", 4) == 0) return true;
        at += chunkBytes;
    }
}

bool decodeOther(Stream* stream, int32_t start, int32_t length, Picture* picture) {
    const stbi_io_callbacks callbacks{readCallback, skipCallback, eofCallback};
    uint8_t head[34] = {};
    stream->seek(start);
    stream->read(head, int32_t(sizeof head));
    if (head[0] == 0x89 && !pngChunksFit(stream, start, length)) {
        logf("TXPL: warning: picture decoding failed: the file ends inside the picture\n");
        return false;
    }
    StbSource source{stream};
    stream->seek(start);
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_callbacks(&callbacks, &source, &width, &height, &channels)) return false;
    if (!sizeAcceptable(width, height, length)) return false;
    if (int64_t(width) * height > mostPixels(head, length, width)) {
        logf("TXPL: warning: picture size %dx%d does not fit a file of %d bytes\n", width, height,
             int(length));
        return false;
    }
    source = StbSource{stream};
    stream->seek(start);
    uint8_t* rgb = stbi_load_from_callbacks(&callbacks, &source, &width, &height, &channels, 3);
    if (!rgb) {
        logf("TXPL: warning: picture decoding failed: %s\n", stbi_failure_reason());
        return false;
    }
    if (source.ranDry) {
        logf("TXPL: warning: picture decoding failed: the file ends inside the picture\n");
        free(rgb);
        return false;
    }
    for (int64_t i = 0, n = int64_t(width) * height; i < n; ++i) {
        uint8_t red = rgb[3 * i];
        rgb[3 * i] = rgb[3 * i + 2];
        rgb[3 * i + 2] = red;
    }
    picture->width = width;
    picture->height = height;
    picture->pixelBytes = 3;
    picture->pixels = rgb; // stb_image allocates with malloc
    return true;
}

} // namespace

bool decodePicture(Stream* stream, uint32_t flags, Picture* picture) {
    *picture = Picture{};
    int32_t start = stream->tell();
    int32_t length = stream->size() - start;
    uint8_t magic[3] = {};
    if (length < 3 || stream->read(magic, 3) != 3) return false;
    bool jpeg = magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF;
    bool ok = jpeg ? decodeJpeg(stream, start, length, picture)
                   : decodeOther(stream, start, length, picture);
    if (!ok) {
        freePicture(picture);
        return false;
    }
    if (wantsLuma(flags)) {
        lumaFromBgr(picture->pixels, int64_t(picture->width) * picture->height);
        picture->pixelBytes = 1;
    }
    return true;
}

void freePicture(Picture* picture) {
    free(picture->pixels);
    *picture = Picture{};
}

Texture* luxLoadTexture(Stream* stream, uint32_t flags) {
    Picture picture;
    if (!decodePicture(stream, flags, &picture))
        fatal("Could not create Picture object (incompatible image format?)");
    uint32_t content = picture.pixelBytes == 1 ? 0u : uint32_t(kTextureRgb);
    auto* texture = new Texture(picture.width, picture.height, flags | content, picture.pixels);
    freePicture(&picture);
    return texture;
}
