// embedded_icons.h - the bytes of app/res/tabladex.ico and app/res/tabladex_small.ico,
// generated into the build tree by CMake so that the program needs no icon files at run time.
#pragma once

#include <cstddef>

extern const unsigned char embeddedIconApp[];
extern const std::size_t embeddedIconAppSize;
extern const unsigned char embeddedIconAppSmall[];
extern const std::size_t embeddedIconAppSmallSize;
