#include "shell/gammaselector.h"

#include "data/filesystem.h"
#include "data/stream.h"
#include "gfx/texturepool.h"
#include "platform/log.h"

#include <cmath>
#include <cstdio>

void buildGammaTable(float gamma, uint8_t table[256]) {
    for (int i = 0; i < 256; ++i)
        table[i] = uint8_t(255.0 * pow(i / 255.0, 1.0 / double(gamma)));
}

GammaSelector::GammaSelector(std::vector<uint8_t> base, float startGamma)
    : base_(std::move(base)), remembered_(startGamma) {
    setPosition(int32_t(lround(startGamma * 100.0f)));
}

void GammaSelector::setPosition(int32_t wanted) {
    if (wanted < kGammaTrackMin) wanted = kGammaTrackMin;
    if (wanted > kGammaTrackMax) wanted = kGammaTrackMax;
    position = wanted;
    gamma = float(position) / 100.0f;
    snprintf(label, sizeof label, "%1.2f", double(gamma));
    redraw();
}

void GammaSelector::redraw() {
    uint8_t table[256];
    buildGammaTable(gamma, table);
    picture.resize(base_.size());
    for (size_t i = 0; i < base_.size(); ++i)
        picture[i] = table[base_[i]];
}

namespace {

// Box filter from a blue, green, red picture to width x height red, green, blue: every target
// pixel averages the source pixels it covers (at least one).
std::vector<uint8_t> scaleToRgb(const Picture& picture, int32_t width, int32_t height) {
    std::vector<uint8_t> rgb(size_t(width) * size_t(height) * 3);
    const int32_t w = picture.width, h = picture.height;
    for (int32_t y = 0; y < height; ++y) {
        int32_t y0 = int32_t(int64_t(y) * h / height), y1 = int32_t(int64_t(y + 1) * h / height);
        if (y1 <= y0) y1 = y0 + 1;
        for (int32_t x = 0; x < width; ++x) {
            int32_t x0 = int32_t(int64_t(x) * w / width), x1 = int32_t(int64_t(x + 1) * w / width);
            if (x1 <= x0) x1 = x0 + 1;
            uint32_t sum[3] = {0, 0, 0};
            for (int32_t sy = y0; sy < y1; ++sy)
                for (int32_t sx = x0; sx < x1; ++sx)
                    for (int c = 0; c < 3; ++c)
                        sum[c] +=
                            picture
                                .pixels[(size_t(sy) * size_t(w) + size_t(sx)) * 3 + size_t(2 - c)];
            uint32_t count = uint32_t((y1 - y0) * (x1 - x0));
            for (int c = 0; c < 3; ++c)
                rgb[(size_t(y) * size_t(width) + size_t(x)) * 3 + size_t(c)] =
                    uint8_t((sum[c] + count / 2) / count);
        }
    }
    return rgb;
}

} // namespace

std::vector<uint8_t> loadGammaPicture() {
    const char* name = "shot.jpg|res:126";
    Stream* file = openFile(name);
    if (!file) {
        logf("CNFG: warning: gamma picture '%s' not found\n", name);
        return {};
    }
    Picture picture;
    bool decoded = decodePicture(file, 0, &picture) && picture.pixelBytes == 3 &&
                   picture.width > 0 && picture.height > 0;
    closeFile(file);
    std::vector<uint8_t> rgb;
    if (decoded)
        rgb = scaleToRgb(picture, kGammaPictureWidth, kGammaPictureHeight);
    else
        logf("CNFG: warning: gamma picture '%s' cannot be decoded\n", name);
    freePicture(&picture);
    return rgb;
}
