// Loading screen.
//
// Once the device is open, start-up shows what it is doing: demoInit draws a status frame for
// each of its steps ("re-parsing script", "loading music", "preparing"), and the timeline's
// start calls `loadingProgress(done, total)` while the initial settings load the production's
// data. A frame shows the title ("Now playing: " and the preferred archive's description) in
// the small font at the bottom left, the headlines "nordkessel" and "going for gold" in the
// large font, a bar, and in the middle the status or "<message>: <percent>%" with the loading
// message chosen for the run. Progress frames come at most every 50 ms.
//
// `LoadingScreen` holds the state (fonts, title, message, the last progress drawing) and
// draws through the device; without a device it only keeps its state.
#pragma once

#include <cstddef>
#include <cstdint>

struct BitmapFont;

constexpr int32_t kLoadingMessageCount = 43;
extern const char* const kLoadingMessages[kLoadingMessageCount + 1]; // ends with nullptr
constexpr uint32_t kProgressIntervalMs = 50;

// "%s: %5.2f%%" of the message and 100 * done / total (0 for a total of 0).
void formatLoadingProgress(char* out, size_t capacity, const char* message, int32_t done,
                           int32_t total);

class LoadingScreen {
  public:
    void setFonts(BitmapFont* small, BitmapFont* large) { small_ = small, large_ = large; }
    void setTitle(const char* title) { title_ = title; }
    void chooseMessage(int32_t index); // taken modulo the table's size
    const char* message() const { return kLoadingMessages[message_]; }

    void drawStatus(const char* status);
    // False when the call came within 50 ms of the last drawn one and drew nothing.
    bool progress(int32_t done, int32_t total);

    uint32_t (*clock)() = nullptr; // milliseconds; null: the system's monotonic clock

  private:
    void drawFrame(const char* centre, float done);
    BitmapFont* small_ = nullptr;
    BitmapFont* large_ = nullptr;
    const char* title_ = "";
    int32_t message_ = 0;
    uint32_t lastProgress_ = 0;
    bool drewProgress_ = false;
};

// The run's loading screen, drawn by demoInit and the timeline's progress handler.
LoadingScreen& loadingScreen();
void loadingProgress(int32_t done, int32_t total);
