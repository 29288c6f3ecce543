#pragma once

// The clocks the tools and benchmarks time the module with. The module runs on the host's render
// thread, whose frame is what it costs: the CPU time of the calling thread, so that other programs
// on a busy machine do not inflate the figures.
#include <chrono>
#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <time.h>
#endif

namespace threadclock {

inline double WallSeconds() {
    using Clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

#if !defined(_WIN32)
inline double CpuSeconds(clockid_t clock) {
    timespec now{};
    if (clock_gettime(clock, &now) != 0)
        return 0.0;
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}
#endif

// The calling thread's CPU time. Windows counts it in scheduler ticks of about 15.6 ms, so a single
// frame there reads as 0 or a whole tick.
inline double ThreadCpuSeconds() {
#if defined(_WIN32)
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user))
        return 0.0;
    auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) * 1e-7;  // 100 ns units
#else
    return CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
#endif
}

// The finest measure of one call on the calling thread: its CPU time where the system keeps it
// finely (Linux), wall time where it counts in ticks (Windows).
inline double FineThreadSeconds() {
#if defined(_WIN32)
    return WallSeconds();
#else
    return ThreadCpuSeconds();
#endif
}
inline const char* FineThreadClockName() {
#if defined(_WIN32)
    return "wall time";
#else
    return "thread CPU time";
#endif
}

// The CPU time of every thread of the process: less the calling thread's, that of its workers.
// Not kept where HasProcessClock() is false.
inline bool HasProcessClock() {
#if defined(_WIN32)
    return false;
#else
    return true;
#endif
}
inline double ProcessCpuSeconds() {
#if defined(_WIN32)
    return 0.0;
#else
    return CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
#endif
}

}  // namespace threadclock
