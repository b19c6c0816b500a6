#include "platform/frame_timer.h"

#include "platform/win_api.h"

bool FrameTimer::init() {
    LARGE_INTEGER frequency;
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0) return false;
    secondsPerCount = 1.0 / static_cast<double>(frequency.QuadPart);
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    lastCount = count.QuadPart;
    return true;
}

void FrameTimer::tick() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    elapsed = static_cast<double>(now.QuadPart - lastCount) * secondsPerCount;
    lastCount = now.QuadPart;
    elapsedF = static_cast<float>(elapsed);
}

double FrameTimer::seconds() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * secondsPerCount;
}
