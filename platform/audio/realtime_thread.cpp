#include "realtime_thread.h"

#include <gio/gio.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace audio {

namespace {

constexpr rlim_t kRealtimeCpuMicroseconds = 200000;
constexpr int kBusTimeoutMs = 1000;
constexpr const char* kKit = "org.freedesktop.RealtimeKit1";
constexpr const char* kKitPath = "/org/freedesktop/RealtimeKit1";

// Lowers the process's limit on CPU time a real-time thread may take without blocking.
bool limitRealtimeCpu(rlim_t microseconds) {
    rlimit limit{};
    if (getrlimit(RLIMIT_RTTIME, &limit) != 0) return false;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max <= microseconds && limit.rlim_cur <= microseconds)
        return true;
    limit.rlim_cur = limit.rlim_max = std::min(limit.rlim_max, microseconds);
    return setrlimit(RLIMIT_RTTIME, &limit) == 0;
}

bool setRoundRobin(int priority) {
    sched_param param{};
    param.sched_priority = priority;
    // Children started from this thread begin as ordinary threads.
    return sched_setscheduler(0, SCHED_RR | SCHED_RESET_ON_FORK, &param) == 0;
}

// A property of RealtimeKit as a 64-bit number; false without an answer.
bool kitProperty(GDBusConnection* bus, const char* name, std::int64_t* value) {
    GVariant* reply = g_dbus_connection_call_sync(bus, kKit, kKitPath, "org.freedesktop.DBus.Properties", "Get",
                                                  g_variant_new("(ss)", kKit, name), G_VARIANT_TYPE("(v)"),
                                                  G_DBUS_CALL_FLAGS_NONE, kBusTimeoutMs, nullptr, nullptr);
    if (!reply) return false;
    GVariant* inner = nullptr;
    g_variant_get(reply, "(v)", &inner);
    bool known = true;
    if (g_variant_is_of_type(inner, G_VARIANT_TYPE_INT64)) *value = g_variant_get_int64(inner);
    else if (g_variant_is_of_type(inner, G_VARIANT_TYPE_INT32)) *value = g_variant_get_int32(inner);
    else known = false;
    g_variant_unref(inner);
    g_variant_unref(reply);
    return known;
}

bool askRealtimeKit(GDBusConnection* bus, int priority) {
    std::int64_t maxPriority = 0;
    std::int64_t maxCpu = 0;
    if (!kitProperty(bus, "MaxRealtimePriority", &maxPriority) || maxPriority < 1) return false;
    // RealtimeKit grants only a process whose limit is within its own.
    if (!kitProperty(bus, "RTTimeUSecMax", &maxCpu) || maxCpu <= 0) return false;
    if (!limitRealtimeCpu(std::min<rlim_t>(kRealtimeCpuMicroseconds, static_cast<rlim_t>(maxCpu)))) return false;
    const auto thread = static_cast<guint64>(syscall(SYS_gettid));
    GVariant* reply = g_dbus_connection_call_sync(
        bus, kKit, kKitPath, kKit, "MakeThreadRealtimeWithPID",
        g_variant_new("(ttu)", static_cast<guint64>(getpid()), thread,
                      static_cast<guint32>(std::min<std::int64_t>(priority, maxPriority))),
        nullptr, G_DBUS_CALL_FLAGS_NONE, kBusTimeoutMs, nullptr, nullptr);
    if (!reply) return false;
    g_variant_unref(reply);
    return true;
}

}  // namespace

bool makeThreadRealtime(int priority) {
    if (limitRealtimeCpu(kRealtimeCpuMicroseconds) && setRoundRobin(priority)) return true;
    // A connection of its own, closed again: the program's other uses of the bus (if any) are
    // left as they are.
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
    if (!address) return false;
    const auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                         G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(address, flags, nullptr, nullptr, nullptr);
    g_free(address);
    if (!bus) return false;
    const bool granted = askRealtimeKit(bus, priority);
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    return granted;
}

}  // namespace audio
