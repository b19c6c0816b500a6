// freeze_probe.h - how long the machine itself stops running threads, for benchmarks that
// must tell their program's lateness from the machine's.
//
// One thread per processor, pinned to it and run at a real-time priority above any sound
// thread, sleeps 1 ms at a time and notes every wake-up later than the threshold: a
// freeze. Nothing of this process or any other can hold such a thread off on its processor;
// what does is the layer below (a virtual machine whose host takes its processors away, as
// a host's CPU quota does once every core is busy). Without the right to real-time
// scheduling the threads run at an ordinary priority and realtime() says so; their freezes
// then include ordinary scheduling delays.
//
// Threads: start and stop on one controlling thread; the probe's own threads only write
// their own records, read after they are joined. Linux only (POSIX with sched_setaffinity).
#pragma once

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace freeze_probe {

struct Freeze {
    double start = 0;    // steady seconds (CLOCK_MONOTONIC, as std::chrono::steady_clock)
    double seconds = 0;  // how long past its 1 ms sleep the probe woke
    int processor = 0;
};

class Probe {
public:
    Probe() = default;
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;
    ~Probe() { stop(); }

    void start(double thresholdSeconds = 0.015) {
        running_.store(true);
        const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
        records_.assign(processors, {});
        realtime_.store(true);
        for (unsigned cpu = 0; cpu < processors; ++cpu)
            threads_.emplace_back([this, cpu, thresholdSeconds] { watch(cpu, thresholdSeconds); });
    }

    // The freezes seen, in order of their start.
    std::vector<Freeze> stop() {
        running_.store(false);
        for (std::thread& thread : threads_) thread.join();
        threads_.clear();
        std::vector<Freeze> all;
        for (const auto& record : records_) all.insert(all.end(), record.begin(), record.end());
        records_.clear();
        std::sort(all.begin(), all.end(), [](const Freeze& a, const Freeze& b) { return a.start < b.start; });
        return all;
    }

    bool realtime() const { return realtime_.load(); }

private:
    static double now() {
        timespec t{};
        clock_gettime(CLOCK_MONOTONIC, &t);
        return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
    }

    void watch(unsigned cpu, double threshold) {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(cpu, &set);
        pthread_setaffinity_np(pthread_self(), sizeof set, &set);
        sched_param param{};
        param.sched_priority = std::min(50, sched_get_priority_max(SCHED_FIFO));
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) != 0) realtime_.store(false);
        std::vector<Freeze>& record = records_[cpu];
        while (running_.load(std::memory_order_relaxed)) {
            const double before = now();
            const timespec sleep{0, 1000000};
            nanosleep(&sleep, nullptr);
            const double late = now() - before - 0.001;
            if (late > threshold) record.push_back(Freeze{before, late, static_cast<int>(cpu)});
        }
    }

    std::vector<std::vector<Freeze>> records_;
    std::vector<std::thread> threads_;
    std::atomic<bool> running_{false};
    std::atomic<bool> realtime_{true};
};

// Whether the moment at lies within a freeze, give or take slack: a buffer that ran dry
// during a freeze is noticed a little after it began, or when the machine runs again.
inline bool during(const std::vector<Freeze>& freezes, double at, double slack) {
    return std::any_of(freezes.begin(), freezes.end(), [&](const Freeze& f) {
        return at >= f.start - slack && at <= f.start + f.seconds + slack;
    });
}

}  // namespace freeze_probe
