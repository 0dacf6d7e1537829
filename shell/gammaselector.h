// Gamma selector.
//
// The launch dialog's "&Gamma..." opens it: a preview picture ("shot.jpg|res:126", scaled to
// 256 x 192), a trackbar from 10 to 400 (gamma x 100) with its "%1.2f" label, OK and Cancel.
// Every move passes the picture's colour bytes through the gamma table, so the viewer sees
// what the production will look like. A missing or broken picture leaves the preview empty;
// the trackbar still works.
//
// `GammaSelector` is the logic without drawing; the launch dialog shows it through the
// platform's dialog window.
#pragma once

#include <cstdint>
#include <vector>

constexpr int32_t kGammaPictureWidth = 256, kGammaPictureHeight = 192;
constexpr int32_t kGammaTrackMin = 10, kGammaTrackMax = 400;

// t[i] = truncate(255 * (i / 255)^(1 / gamma)).
void buildGammaTable(float gamma, uint8_t table[256]);

class GammaSelector {
  public:
    // base: 256 x 192 RGB bytes, or empty when there is no picture.
    GammaSelector(std::vector<uint8_t> base, float gamma);

    void setPosition(int32_t position); // the trackbar moved (clamped to 10 ... 400)
    void ok() {}                        // keeps the gamma
    void cancel() { gamma = remembered_; }

    int32_t position = 100;
    float gamma = 1.0f;
    char label[16] = {};
    std::vector<uint8_t> picture; // the base picture through the gamma table (empty: none)

  private:
    void redraw();
    std::vector<uint8_t> base_;
    float remembered_ = 1.0f;
};

// Reads "shot.jpg|res:126" through the file lookup and scales it to 256 x 192 RGB; empty (and
// a warning line) when it is missing or cannot be decoded.
std::vector<uint8_t> loadGammaPicture();
