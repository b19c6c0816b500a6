// title_row.h - where the title shows on the screen, and how many of its letters fit.
//
// The title's letters are 30-pixel cells of the large letter sheet, drawn from (7, 39) along
// the black title panel, whose frame starts at x 596. Nineteen cells end inside the panel; a
// twentieth would cover the frame and the rest lie off the screen. Tools use this to tell
// what a title will show without drawing it.
//
// Threads: any. Ownership: constants only.
#pragma once

#include <cstdint>

constexpr int32_t titleLeft = 7;
constexpr int32_t titleTop = 39;
constexpr int32_t titlePanelRight = 596;  // the first column of the panel's right frame
constexpr int32_t titleLetterSize = 30;
constexpr int32_t titleLettersShown = (titlePanelRight - titleLeft) / titleLetterSize;
static_assert(titleLettersShown == 19, "the title panel holds 19 large letters");
