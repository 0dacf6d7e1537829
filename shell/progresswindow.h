// Progress window.
//
// A small window with the program's icon, a text and a progress bar, shown while start-up
// enumerates the display adapters, before any device exists. Its client area is sized from
// the text: (text width + 40) x 38 pixels; the bar sits at 40,18, 14 pixels high, 51 pixels
// narrower than the window. Without a display it keeps its state and shows nothing.
//
// Start-up uses it through `openStartupProgress` ("lux32 initializing, stand by...", icon 116,
// with a bar), `setStartupProgressRange`, `reportStartupProgress` (the enumeration's callback)
// and `closeStartupProgress`.
#pragma once

#include <cstdint>
#include <string>

constexpr int32_t kProgressClientHeight = 38;

// The client size for a text of textWidth pixels.
void progressClientSize(int32_t textWidth, int32_t* width, int32_t* height);

class ProgressWindow {
  public:
    ProgressWindow(const char* text, int32_t iconId, bool withBar);
    ~ProgressWindow();
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    void setRange(int32_t low, int32_t high); // 16-bit bounds, as the bar keeps them
    void setPosition(int32_t n);              // clamped into the range

    const std::string& text() const { return text_; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    int32_t barWidth() const { return withBar_ ? width_ - 51 : 0; }
    int32_t low() const { return low_; }
    int32_t high() const { return high_; }
    int32_t position() const { return position_; }

  private:
    void draw() const;
    std::string text_;
    int32_t iconId_ = 0;
    bool withBar_ = true;
    bool ownsWindow_ = false;
    int32_t width_ = 64, height_ = 64;
    int32_t low_ = 0, high_ = 100, position_ = 0;
};

void openStartupProgress(bool withDisplay);
void setStartupProgressRange(int32_t high);
void reportStartupProgress(int32_t adapterNumber);
void closeStartupProgress();
