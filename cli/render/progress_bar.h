// progress_bar.h - a one-line progress bar on a terminal, redrawn in place as a render
// advances and erased when it is done.
//
// The line always fits the terminal's width less one column, so it never wraps: the bar
// shrinks to the room the percentage and the times leave, and goes where there is no room
// for ten of its cells; on a very narrow terminal only the percentage is shown.
//
// Threads: one thread. Ownership: the bar does not own its stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class ProgressBar {
public:
    ProgressBar(std::FILE* out, int32_t rate, int columns = 80) : out_(out), rate_(rate), columns_(columns) {}
    // Redraws when the shown percentage changes.
    void update(int64_t done, int64_t total);
    // Erases the bar.
    void finish();

    // The line update() draws, without the carriage return and the erase after it.
    std::string line(int64_t done, int64_t total) const;

private:
    std::FILE* out_;
    int32_t rate_;
    int columns_;
    int shown_ = -1;
};
