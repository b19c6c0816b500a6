#include "clock.h"

#include <atomic>
#include <chrono>

#include "audio.h"

namespace audio {

namespace {
std::atomic<ClockFunction> gClock{nullptr};
}

double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double clockNow() {
    const ClockFunction now = gClock.load(std::memory_order_acquire);
    return now ? now() : steadySeconds();
}

bool clockIsSteady() { return gClock.load(std::memory_order_acquire) == nullptr; }

void setClock(ClockFunction now) { gClock.store(now, std::memory_order_release); }

}  // namespace audio
