// The render's progress bar.
#include "cli/render/progress_bar.h"

#include <string>

namespace {

std::string minutesSeconds(int64_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

}  // namespace

void ProgressBar::update(int64_t done, int64_t total) {
    if (total <= 0) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == shown_) return;
    shown_ = percent;
    constexpr int width = 30;
    const int filled = percent * width / 100;
    const std::string bar = std::string(filled, '#') + std::string(width - filled, '-');
    std::fprintf(out_, "\rrendering [%s] %3d%%  %s / %s", bar.c_str(), percent,
                 minutesSeconds(done / rate_).c_str(), minutesSeconds(total / rate_).c_str());
    std::fflush(out_);
}

void ProgressBar::finish() {
    if (shown_ < 0) return;
    std::fputs("\r\033[K", out_);
    std::fflush(out_);
    shown_ = -1;
}
