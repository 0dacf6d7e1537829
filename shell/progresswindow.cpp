#include "shell/progresswindow.h"

#include "platform/dialogs.h"

#include <algorithm>

namespace {

ProgressWindow* startupProgress = nullptr;

} // namespace

void progressClientSize(int32_t textWidth, int32_t* width, int32_t* height) {
    *width = textWidth + 40;
    *height = kProgressClientHeight;
}

ProgressWindow::ProgressWindow(const char* text, int32_t iconId, bool withBar)
    : text_(std::string(text ? text : "") + " "), iconId_(iconId), withBar_(withBar) {
    ownsWindow_ = !dialogWindowOpen() && openDialogWindow(text_.c_str());
    progressClientSize(progressTextWidth(text_.c_str()), &width_, &height_);
    draw();
}

ProgressWindow::~ProgressWindow() {
    if (ownsWindow_) closeDialogWindow();
}

void ProgressWindow::setRange(int32_t low, int32_t high) {
    low_ = std::clamp(low, 0, 0xffff);
    high_ = std::clamp(high, 0, 0xffff);
    position_ = std::clamp(position_, std::min(low_, high_), std::max(low_, high_));
    draw();
}

void ProgressWindow::setPosition(int32_t n) {
    position_ = std::clamp(n, std::min(low_, high_), std::max(low_, high_));
    draw();
}

void ProgressWindow::draw() const {
    if (!dialogWindowOpen()) return;
    ProgressView view;
    view.text = text_.c_str();
    view.iconId = iconId_;
    view.withBar = withBar_;
    view.low = low_;
    view.high = high_;
    view.position = position_;
    view.width = width_;
    view.height = height_;
    runProgressFrame(view);
}

void openStartupProgress(bool withDisplay) {
    if (!withDisplay || startupProgress) return;
    startupProgress = new ProgressWindow("lux32 initializing, stand by...", 116, true);
}

void setStartupProgressRange(int32_t high) {
    if (startupProgress) startupProgress->setRange(0, high);
}

void reportStartupProgress(int32_t adapterNumber) {
    if (startupProgress) startupProgress->setPosition(adapterNumber);
}

void closeStartupProgress() {
    delete startupProgress;
    startupProgress = nullptr;
}
