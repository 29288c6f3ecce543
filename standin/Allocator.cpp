// The host allocator: malloc with a small header in front of each block, so that the stand-in can
// count live blocks and bytes, catch foreign and double frees, and fail chosen calls on request.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <type_traits>

#include "host/Alloc.h"
#include "host/Log.h"
#include "standin/Internal.h"
#include "standin/Standin.h"

namespace {

constexpr uint64_t kLiveMagic = 0x4B4C424C4E415453ull;  // "STANLBLK"
constexpr uint64_t kDeadMagic = 0x44414544444545F0ull;

// Keeps the block behind it aligned as malloc's own blocks are.
struct alignas(alignof(std::max_align_t)) BlockHeader {
    size_t size;
    uint64_t magic;
};

// Plain data, constant-initialised: valid before any constructor runs and never destroyed.
struct Counters {
    size_t liveBlocks;
    size_t liveBytes;
    uint64_t allocations;
    uint64_t failures;
    long long failAt;  // countdown to the call that fails; -1: none
    size_t failLargerThan;
    size_t failOfSize;
};
Counters gCounters = {0, 0, 0, 0, -1, 0, 0};

// Leaked on purpose: no destructor may run while a module still frees blocks at exit.
std::mutex& CountersMutex() {
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

// Under the lock: whether this allocating call is one to fail.
bool ShouldFail(size_t size) {
    bool fail = false;
    if (gCounters.failAt >= 0) {
        fail = gCounters.failAt == 0;
        --gCounters.failAt;
    }
    if (gCounters.failLargerThan != 0 && size > gCounters.failLargerThan)
        fail = true;
    if (gCounters.failOfSize != 0 && size == gCounters.failOfSize)
        fail = true;
    if (fail)
        ++gCounters.failures;
    return fail;
}

BlockHeader* HeaderOf(void* block, const wchar_t* caller) {
    auto* header = static_cast<BlockHeader*>(block) - 1;
    if (header->magic == kDeadMagic)
        DumpError(L"%s: block %p freed twice", caller, block);
    if (header->magic != kLiveMagic)
        DumpError(L"%s: block %p is not from MainAllocator", caller, block);
    return header;
}

class StandinAllocator final : public Alloc {
public:
    constexpr StandinAllocator() = default;

    void* Allocate(size_t size) override {
        {
            std::lock_guard<std::mutex> lock(CountersMutex());
            if (ShouldFail(size))
                return nullptr;
        }
        if (size > SIZE_MAX - sizeof(BlockHeader))
            return nullptr;
        auto* header = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
        if (!header)
            return nullptr;
        header->size = size;
        header->magic = kLiveMagic;
        std::lock_guard<std::mutex> lock(CountersMutex());
        ++gCounters.liveBlocks;
        gCounters.liveBytes += size;
        ++gCounters.allocations;
        return header + 1;
    }

    void* ReAllocate(void* block, size_t size) override {
        if (!block)
            return Allocate(size);
        BlockHeader* header = HeaderOf(block, L"Alloc::ReAllocate");
        {
            std::lock_guard<std::mutex> lock(CountersMutex());
            if (ShouldFail(size))
                return nullptr;
        }
        if (size > SIZE_MAX - sizeof(BlockHeader))
            return nullptr;
        size_t oldSize = header->size;
        auto* grown = static_cast<BlockHeader*>(std::realloc(header, sizeof(BlockHeader) + size));
        if (!grown)
            return nullptr;
        grown->size = size;
        std::lock_guard<std::mutex> lock(CountersMutex());
        gCounters.liveBytes = gCounters.liveBytes - oldSize + size;
        ++gCounters.allocations;
        return grown + 1;
    }

    void Free(void* block) override {
        if (!block)
            return;
        BlockHeader* header = HeaderOf(block, L"Alloc::Free");
        size_t size = header->size;
        header->magic = kDeadMagic;
        std::free(header);
        std::lock_guard<std::mutex> lock(CountersMutex());
        --gCounters.liveBlocks;
        gCounters.liveBytes -= size;
    }
};
static_assert(std::is_trivially_destructible<StandinAllocator>::value,
              "the allocator must outlive every user");

StandinAllocator gAllocator;

}  // namespace

// Initialised statically, so that a module loaded by any program finds a working allocator.
HOSTAPI Alloc* MainAllocator = &gAllocator;

namespace standin {

namespace detail {
Alloc* HostAllocator() {
    return &gAllocator;
}
}  // namespace detail

AllocStats AllocatorStats() {
    std::lock_guard<std::mutex> lock(CountersMutex());
    AllocStats stats;
    stats.liveBlocks = gCounters.liveBlocks;
    stats.liveBytes = gCounters.liveBytes;
    stats.allocations = gCounters.allocations;
    stats.failures = gCounters.failures;
    return stats;
}

void FailAllocationAt(long long n) {
    std::lock_guard<std::mutex> lock(CountersMutex());
    gCounters.failAt = n < 0 ? -1 : n;
}

void FailAllocationsLargerThan(size_t bytes) {
    std::lock_guard<std::mutex> lock(CountersMutex());
    gCounters.failLargerThan = bytes;
}

void FailAllocationsOfSize(size_t bytes) {
    std::lock_guard<std::mutex> lock(CountersMutex());
    gCounters.failOfSize = bytes;
}

void ClearAllocationFailures() {
    std::lock_guard<std::mutex> lock(CountersMutex());
    gCounters.failAt = -1;
    gCounters.failLargerThan = 0;
    gCounters.failOfSize = 0;
}

}  // namespace standin
