#include "shell/gammaselector.h"

#include "data/filesystem.h"
#include "data/stream.h"
#include "platform/dialogpicture.h"
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

std::vector<uint8_t> loadGammaPicture() {
    const char* name = "shot.jpg|res:126";
    int32_t size = 0;
    Stream* file = openFile(name, &size);
    if (!file) {
        logf("CNFG: warning: gamma picture '%s' not found\n", name);
        return {};
    }
    std::vector<uint8_t> bytes(size_t(size > 0 ? size : 0));
    int32_t got = size > 0 ? file->read(bytes.data(), size) : 0;
    closeFile(file);
    bytes.resize(size_t(got > 0 ? got : 0));
    std::vector<uint8_t> rgb;
    if (!decodePictureScaled(bytes.data(), bytes.size(), kGammaPictureWidth, kGammaPictureHeight,
                             &rgb)) {
        logf("CNFG: warning: gamma picture '%s' cannot be decoded\n", name);
        return {};
    }
    return rgb;
}
