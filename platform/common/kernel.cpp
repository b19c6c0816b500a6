// The kernel calls the program makes: the performance counter, Sleep, thread priority, and the module's
// file name and folder. The counter runs on the steady clock, or, for tests that drive time
// themselves, on a manual clock that only moves when told to (and when a thread sleeps).
#ifndef _WIN32

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/manual_clock.h"
#include "platform/win_api.h"

namespace {

std::atomic<bool> manual{false};
std::atomic<int64_t> manualNanoseconds{0};

int64_t steadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

namespace platform {

void useManualClock(bool on) { manual.store(on); }
bool manualClockInUse() { return manual.load(); }
void advanceManualClock(double seconds) {
    manualNanoseconds.fetch_add(static_cast<int64_t>(seconds * 1e9));
}
double manualClockSeconds() { return static_cast<double>(manualNanoseconds.load()) * 1e-9; }

}  // namespace platform

HANDLE GetCurrentThread() { return reinterpret_cast<HANDLE>(intptr_t{-2}); }

BOOL SetThreadPriority(HANDLE thread, int priority) {
    if (thread != GetCurrentThread()) return FALSE;
    // A nice value stands in for the priority: the scheduler then wakes the thread ahead of
    // ordinary work. Raising it needs the right to, which a desktop user may not have.
    const int nice = priority >= THREAD_PRIORITY_TIME_CRITICAL ? -11 : priority > 0 ? -5 : 0;
    return setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), nice) == 0 ? TRUE
                                                                                          : FALSE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    if (!frequency) return FALSE;
    frequency->QuadPart = 1000000000;
    return TRUE;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
    if (!count) return FALSE;
    count->QuadPart = manual.load() ? manualNanoseconds.load() : steadyNanoseconds();
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    if (manual.load()) {
        // On the manual clock a sleep takes its time from the clock and only yields for real.
        manualNanoseconds.fetch_add(static_cast<int64_t>(milliseconds) * 1000000);
        std::this_thread::sleep_for(std::chrono::microseconds(milliseconds ? 200 : 0));
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

HMODULE GetModuleHandleA(LPCSTR moduleName) {
    static int module;
    return moduleName ? nullptr : reinterpret_cast<HMODULE>(&module);
}

DWORD GetModuleFileNameA(HMODULE, LPSTR fileName, DWORD size) {
    if (!fileName || size == 0) return 0;
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return 0;
    path[length] = '\0';
    if (static_cast<DWORD>(length) >= size) {  // truncated, as Windows does
        std::memcpy(fileName, path, size - 1);
        fileName[size - 1] = '\0';
        return size;
    }
    std::memcpy(fileName, path, static_cast<size_t>(length) + 1);
    return static_cast<DWORD>(length);
}

BOOL SetCurrentDirectoryA(LPCSTR path) { return path && chdir(path) == 0 ? TRUE : FALSE; }

DWORD GetFileAttributesA(LPCSTR path) {
    struct stat info;
    if (!path || stat(path, &info) != 0) return INVALID_FILE_ATTRIBUTES;
    return S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0x80;  // FILE_ATTRIBUTE_NORMAL
}

#endif  // _WIN32
