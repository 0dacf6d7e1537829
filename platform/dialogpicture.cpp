#include "platform/dialogpicture.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#define STB_IMAGE_STATIC // private copy: other libraries may carry their own
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#pragma GCC diagnostic pop

#include <climits>

bool decodePictureScaled(const uint8_t* bytes, size_t size, int32_t width, int32_t height,
                         std::vector<uint8_t>* rgb) {
    rgb->clear();
    if (!bytes || size == 0 || size > size_t(INT_MAX) || width <= 0 || height <= 0) return false;
    int w = 0, h = 0, channels = 0;
    uint8_t* source = stbi_load_from_memory(bytes, int(size), &w, &h, &channels, 3);
    if (!source) return false;
    // Box filter: every target pixel averages the source pixels it covers (at least one).
    rgb->resize(size_t(width) * size_t(height) * 3);
    for (int32_t y = 0; y < height; ++y) {
        int y0 = int(int64_t(y) * h / height), y1 = int(int64_t(y + 1) * h / height);
        if (y1 <= y0) y1 = y0 + 1;
        for (int32_t x = 0; x < width; ++x) {
            int x0 = int(int64_t(x) * w / width), x1 = int(int64_t(x + 1) * w / width);
            if (x1 <= x0) x1 = x0 + 1;
            uint32_t sum[3] = {0, 0, 0};
            for (int sy = y0; sy < y1; ++sy)
                for (int sx = x0; sx < x1; ++sx)
                    for (int c = 0; c < 3; ++c)
                        sum[c] += source[(size_t(sy) * size_t(w) + size_t(sx)) * 3 + size_t(c)];
            uint32_t count = uint32_t((y1 - y0) * (x1 - x0));
            for (int c = 0; c < 3; ++c)
                (*rgb)[(size_t(y) * size_t(width) + size_t(x)) * 3 + size_t(c)] =
                    uint8_t((sum[c] + count / 2) / count);
        }
    }
    stbi_image_free(source);
    return true;
}
