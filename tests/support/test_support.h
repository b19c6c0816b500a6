// test_support.h - what tests of the program's own code share: a fresh headless world for
// each test (windows, queue, input, message boxes), the program's resources registered, the
// process-wide window object back at its start values, and a temporary folder.
//
// Threads: the test's thread.
#pragma once

#include <filesystem>
#include <string>

#include "platform/win_api.h"

namespace testing_support {

// Resets the headless backend, the process-wide AppWindow, the input snapshot, the frame
// accumulator and the class registration count; registers the program's
// resource tables; uses the steady clock again.
void resetWorld();

// A new empty folder under the system's temporary folder, removed by the caller.
std::filesystem::path makeTempFolder(const std::string& prefix);

// The folder that holds the test program (and the data folders copied beside it).
std::filesystem::path programFolder();

// Writes bytes to a file.
void writeFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace testing_support
