// spsc_queue.h - a fixed-size, lock-free queue for one producer thread and one consumer
// thread.
//
// Promises: push and pop never block, never allocate and are wait-free; items come out in
// the order they went in; push fails (returns false) when the queue is full.
//
// Threads: push from one thread at a time (the producer), pop from one thread at a time
// (the consumer). A producer may hand the role to another thread only through a
// happens-before edge (for example by starting that thread).
//
// Ownership: the queue holds copies of its items; T must be trivially copyable.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <type_traits>

namespace audio {

template <typename T, std::size_t Capacity>
class SpscQueue {
    static_assert(std::is_trivially_copyable_v<T>);
    static_assert(Capacity > 0 && (Capacity & (Capacity - 1)) == 0, "Capacity: a power of two");

public:
    bool push(const T& item) {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == Capacity) return false;
        items_[tail & (Capacity - 1)] = item;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    bool pop(T* item) {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) return false;
        *item = items_[head & (Capacity - 1)];
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

    // The item pop would take next, left in the queue; false when empty. Consumer only.
    bool peek(T* item) const {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) return false;
        *item = items_[head & (Capacity - 1)];
        return true;
    }

private:
    std::array<T, Capacity> items_{};
    alignas(64) std::atomic<std::size_t> head_{0};  // next item to pop; written by the consumer
    alignas(64) std::atomic<std::size_t> tail_{0};  // next free slot; written by the producer
};

}  // namespace audio
