// What ThreadSanitizer is told of libpulse, for the test programs that run the sound server's
// output and input at once (linked into those programs directly: a library's object file
// that nothing calls would be left out).
//
// libpulse recycles its packets through a process-wide lock-free list whose atomics, inside the
// uninstrumented library, ThreadSanitizer cannot see: a packet one connection's thread freed and
// another's reuses (here the output's and the input's) looks like a race on its memory. The
// same recycling hands a block one connection's loop thread freed to the next connection made
// on the main thread, whose mainloop mutex then lies in it: its first lock looks unordered
// with the loop thread's use of that memory.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
    return "race:pa_packet_new_data\nrace:pa_srbchannel_read\nrace:pa_iochannel_read_with_ancil_data\n"
           "race:pa_mutex_lock\n";
}
#endif
