#include "tests/support/test_support.h"

#include <unistd.h>

#include <fstream>
#include <new>
#include <random>

#include "app/app_window.h"
#include "app/module_resources_table.h"
#include "platform/headless/headless.h"
#include "platform/manual_clock.h"
#include "tutor/shared_flags.h"

namespace testing_support {

void resetWorld() {
    headless::reset();
    platform::setModuleResources(&tabladexResources());
    platform::useManualClock(false);
    appWindow.~AppWindow();
    new (&appWindow) AppWindow();
    inputSnapshot = InputSnapshot{};
    frameAccumulator = 0.0f;
    classRegistrationCount = 0;
    stopRequested = false;
    threadRunning = false;
    advanceRequested = false;
    previousRequested = false;
    loadRhythmRequested = false;
    loadPlaylistRequested = false;
    showNotes = true;
    selectedPath[0] = '\0';
}

std::filesystem::path makeTempFolder(const std::string& prefix) {
    std::random_device random;
    for (;;) {
        auto path = std::filesystem::temp_directory_path() /
                    (prefix + "-" + std::to_string(getpid()) + "-" + std::to_string(random()));
        if (std::filesystem::create_directory(path)) return path;
    }
}

std::filesystem::path programFolder() {
    return std::filesystem::canonical("/proc/self/exe").parent_path();
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

}  // namespace testing_support
