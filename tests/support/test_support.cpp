#include "tests/support/test_support.h"

#include <fstream>
#include <new>
#include <random>

#include "app/app_window.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include "app/module_resources_table.h"
#include "platform/headless/headless.h"
#include "platform/manual_clock.h"
#endif

namespace testing_support {

void resetWorld() {
#ifndef _WIN32
    // On Windows the system itself is the world; only the program's own state is reset.
    headless::reset();
    platform::setModuleResources(&tabladexResources());
    platform::useManualClock(false);
#endif
    appWindow.~AppWindow();
    new (&appWindow) AppWindow();
    inputSnapshot = InputSnapshot{};
    frameAccumulator = 0.0f;
    classRegistrationCount = 0;
}

std::filesystem::path makeTempFolder(const std::string& prefix) {
#ifdef _WIN32
    const auto process = GetCurrentProcessId();
#else
    const auto process = getpid();
#endif
    std::random_device random;
    for (;;) {
        auto path = std::filesystem::temp_directory_path() /
                    (prefix + "-" + std::to_string(process) + "-" + std::to_string(random()));
        if (std::filesystem::create_directory(path)) return path;
    }
}

std::filesystem::path programFolder() {
#ifdef _WIN32
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::filesystem::path(std::string(path, length)).parent_path();
#else
    return std::filesystem::canonical("/proc/self/exe").parent_path();
#endif
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

}  // namespace testing_support
