// The render's progress bar.
#include "cli/render/progress_bar.h"

#include <algorithm>

namespace {

std::string minutesSeconds(int64_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

}  // namespace

std::string ProgressBar::line(int64_t done, int64_t total) const {
    const int percent = static_cast<int>(done * 100 / total);
    char number[8];
    std::snprintf(number, sizeof number, "%3d%%", percent);
    const std::string times = "  " + minutesSeconds(done / rate_) + " / " + minutesSeconds(total / rate_);
    const int room = columns_ - 1;
    // "rendering [" + cells + "] " + percentage + times
    const int cells = std::min(40, room - 13 - 4 - static_cast<int>(times.size()));
    if (cells >= 10) {
        const int filled = percent * cells / 100;
        return "rendering [" + std::string(filled, '#') + std::string(cells - filled, '-') + "] " + number + times;
    }
    const std::string text = std::string("rendering ") + number + times;
    if (static_cast<int>(text.size()) <= room) return text;
    return number;
}

void ProgressBar::update(int64_t done, int64_t total) {
    if (total <= 0) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == shown_) return;
    shown_ = percent;
    std::fprintf(out_, "\r%s\033[K", line(done, total).c_str());
    std::fflush(out_);
}

void ProgressBar::finish() {
    if (shown_ < 0) return;
    std::fputs("\r\033[K", out_);
    std::fflush(out_);
    shown_ = -1;
}
