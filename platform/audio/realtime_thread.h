// realtime_thread.h - asks for real-time scheduling of the calling thread, as sound threads
// are scheduled on a desktop, so that a busy machine does not keep it from its device.
//
// Promises: makeThreadRealtime(priority) asks the kernel directly where the process may
// (a real-time priority limit, or the right), else the desktop's RealtimeKit over the system
// bus (at most its own maximum priority); either way the process's real-time CPU limit is
// set first (200 ms, or RealtimeKit's lower maximum), so that a thread that never blocks is
// stopped instead of freezing the machine. False, quietly and within about a second, where
// neither allows it or neither is there; the thread then keeps its scheduling.
//
// Threads: any thread, for itself; it blocks for the bus's answer, so call it before the
// thread's time-critical work starts. Ownership: nothing is kept.
#pragma once

namespace audio {

bool makeThreadRealtime(int priority);

}  // namespace audio
