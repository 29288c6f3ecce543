#pragma once

// The run's memory, for a long run to show that it stays flat: memory.csv in the output folder,
// one row a simulated second with the process's resident memory and what the host's allocator
// holds, and two rows that bracket the sources' lives (the allocator just before the first is
// made and just after the last is destroyed), which hold the same when the module leaks nothing
// through the host.
#include <cstdio>
#include <string>

#include "standin/Standin.h"

namespace fxplayer {

// The process's resident memory in bytes (the working set on Windows); 0 when it cannot be read.
unsigned long long ProcessMemoryBytes();

class MemorySamples {
public:
    MemorySamples() = default;
    ~MemorySamples();
    MemorySamples(const MemorySamples&) = delete;
    MemorySamples& operator=(const MemorySamples&) = delete;

    bool Open(const std::string& csvPath);
    // A row of the process and the allocator now, `at` naming when ("12.000").
    void Sample(const std::string& at);
    // A row of an allocator reading taken earlier, `at` naming when ("sources made").
    void Allocator(const std::string& at, const standin::AllocStats& stats);
    bool Close();

private:
    std::FILE* file_ = nullptr;
    bool failed_ = false;
};

}  // namespace fxplayer
