// progress_bar.h - a one-line progress bar on a terminal, redrawn in place as a render
// advances and erased when it is done.
//
// Threads: one thread. Ownership: the bar does not own its stream.
#pragma once

#include <cstdint>
#include <cstdio>

class ProgressBar {
public:
    ProgressBar(std::FILE* out, int32_t rate) : out_(out), rate_(rate) {}
    // Redraws when the shown percentage changes.
    void update(int64_t done, int64_t total);
    // Erases the bar.
    void finish();

private:
    std::FILE* out_;
    int32_t rate_;
    int shown_ = -1;
};
