#include "MemorySamples.h"

#include "Files.h"

#if defined(_WIN32)
#include <windows.h>
// windows.h first: psapi.h needs its types.
#include <psapi.h>
#else
#include <unistd.h>
#endif

namespace fxplayer {

unsigned long long ProcessMemoryBytes() {
#if defined(_WIN32)
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return counters.WorkingSetSize;
#else
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm)
        return 0;
    unsigned long long size = 0, resident = 0;
    const bool read = std::fscanf(statm, "%llu %llu", &size, &resident) == 2;
    std::fclose(statm);
    const long page = sysconf(_SC_PAGESIZE);
    return read && page > 0 ? resident * static_cast<unsigned long long>(page) : 0;
#endif
}

MemorySamples::~MemorySamples() {
    if (file_)
        std::fclose(file_);
}

bool MemorySamples::Open(const std::string& csvPath) {
    file_ = OpenFile(csvPath, "wb");
    if (!file_)
        return false;
    failed_ = std::fputs("at,process_bytes,host_blocks,host_bytes\n", file_) < 0;
    return !failed_;
}

void MemorySamples::Sample(const std::string& at) {
    if (!file_)
        return;
    const standin::AllocStats stats = standin::AllocatorStats();
    failed_ |= std::fprintf(file_, "%s,%llu,%zu,%zu\n", at.c_str(), ProcessMemoryBytes(),
                            stats.liveBlocks, stats.liveBytes) < 0;
}

void MemorySamples::Allocator(const std::string& at, const standin::AllocStats& stats) {
    if (!file_)
        return;
    failed_ |=
        std::fprintf(file_, "%s,,%zu,%zu\n", at.c_str(), stats.liveBlocks, stats.liveBytes) < 0;
}

bool MemorySamples::Close() {
    if (!file_)
        return !failed_;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return closed && !failed_;
}

}  // namespace fxplayer
