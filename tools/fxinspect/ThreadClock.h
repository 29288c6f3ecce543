#pragma once

// The clock the report's times are taken with: the CPU time of the calling thread where the system
// keeps it finely (Linux), so that other programs on a busy machine do not inflate the figures;
// elsewhere wall time. The module runs on the host's render thread, whose frame is what it costs.
#include <chrono>
#if !defined(_WIN32)
#include <time.h>
#endif

namespace fxinspect {

#if !defined(_WIN32)
inline double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}
inline const char* ThreadClockName() {
    return "thread CPU time";
}
// The CPU time of every thread of the process: less the calling thread's, that of its workers.
inline double ProcessSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}
inline bool HasProcessClock() {
    return true;
}
#else
// Windows counts thread time in scheduler ticks of about 15 ms: too coarse for one frame.
inline double ThreadSeconds() {
    using Clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}
inline const char* ThreadClockName() {
    return "wall time";
}
inline double ProcessSeconds() {
    return 0.0;
}
inline bool HasProcessClock() {
    return false;
}
#endif

inline double WallSeconds() {
    using Clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

}  // namespace fxinspect
