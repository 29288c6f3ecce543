#include "support/RuntimeHeap.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace testsupport {
namespace runtimeheap {

#if defined(VANTREL_RUNTIME_HEAP)

namespace {

// Each block carries, in front of it, the thread it was made on. 16 bytes keep the alignment
// malloc gives.
constexpr size_t kHeader = 16;
constexpr uint32_t kMagic = 0x5EEDB10Cu;

std::atomic<uint32_t> nextThread{1};
std::atomic<uint32_t> hostThread{0};
thread_local uint32_t thisThread = 0;

std::atomic<long long> failIn{-1};
std::atomic<int> failOn{0};
std::atomic<bool> failAll{false};
std::atomic<size_t> failSize{0};
std::atomic<uint64_t> failures{0};
std::atomic<uint64_t> hostAllocations{0};
std::atomic<uint64_t> workerAllocations{0};
std::atomic<uint64_t> foreignFrees{0};

uint32_t ThisThread() {
    if (thisThread == 0)
        thisThread = nextThread.fetch_add(1);
    return thisThread;
}

bool OnHost() {
    return ThisThread() == hostThread.load(std::memory_order_relaxed);
}

bool Refused(size_t size) {
    const bool host = OnHost();
    (host ? hostAllocations : workerAllocations).fetch_add(1, std::memory_order_relaxed);
    const long long in = failIn.load(std::memory_order_relaxed);
    const size_t sized = failSize.load(std::memory_order_relaxed);
    if (in < 0 && sized == 0)
        return false;
    const On on = static_cast<On>(failOn.load(std::memory_order_relaxed));
    if (on == On::Host ? !host : on == On::Workers ? host : false)
        return false;
    if (sized != 0) {
        if (size != sized)
            return false;
        failures.fetch_add(1);
        return true;
    }
    if (failIn.load() > 0) {
        failIn.fetch_sub(1);
        return false;
    }
    if (!failAll.load())
        failIn.store(-1);
    failures.fetch_add(1);
    return true;
}

void* Allocate(size_t size) noexcept {
    if (Refused(size))
        return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (!block)
        return nullptr;
    const uint32_t tag[2] = {kMagic, ThisThread()};
    static_assert(sizeof(tag) <= kHeader, "");
    std::memcpy(block, tag, sizeof(tag));
    return block + kHeader;
}

void Free(void* pointer) noexcept {
    if (!pointer)
        return;
    unsigned char* block = static_cast<unsigned char*>(pointer) - kHeader;
    uint32_t tag[2];
    std::memcpy(tag, block, sizeof(tag));
    const uint32_t host = hostThread.load(std::memory_order_relaxed);
    if (tag[0] == kMagic && host != 0 && tag[1] != host && OnHost())
        foreignFrees.fetch_add(1, std::memory_order_relaxed);
    std::free(block);
}

}  // namespace

bool Available() {
    return true;
}

void SetHostThread() {
    hostThread.store(ThisThread());
}

void FailAllocationAt(long long n, On on, bool andAllAfter) {
    failOn.store(static_cast<int>(on));
    failAll.store(andAllAfter);
    failIn.store(n);
}

void FailAllocationsOfSize(size_t bytes, On on) {
    failOn.store(static_cast<int>(on));
    failSize.store(bytes);
}

void ClearFailure() {
    failIn.store(-1);
    failSize.store(0);
}

uint64_t Failures() {
    return failures.load();
}

uint64_t Allocations(On on) {
    if (on == On::Host)
        return hostAllocations.load();
    if (on == On::Workers)
        return workerAllocations.load();
    return hostAllocations.load() + workerAllocations.load();
}

uint64_t WorkerBlocksFreedOnHost() {
    return foreignFrees.load();
}

}  // namespace runtimeheap
}  // namespace testsupport

void* operator new(size_t size) {
    if (void* block = testsupport::runtimeheap::Allocate(size))
        return block;
    throw std::bad_alloc();
}
void* operator new[](size_t size) {
    return operator new(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return testsupport::runtimeheap::Allocate(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return testsupport::runtimeheap::Allocate(size);
}
void operator delete(void* block) noexcept {
    testsupport::runtimeheap::Free(block);
}
void operator delete[](void* block) noexcept {
    testsupport::runtimeheap::Free(block);
}
void operator delete(void* block, size_t) noexcept {
    testsupport::runtimeheap::Free(block);
}
void operator delete[](void* block, size_t) noexcept {
    testsupport::runtimeheap::Free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    testsupport::runtimeheap::Free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    testsupport::runtimeheap::Free(block);
}

#else

bool Available() {
    return false;
}
void SetHostThread() {}
void FailAllocationAt(long long, On, bool) {}
void FailAllocationsOfSize(size_t, On) {}
void ClearFailure() {}
uint64_t Failures() {
    return 0;
}
uint64_t Allocations(On) {
    return 0;
}
uint64_t WorkerBlocksFreedOnHost() {
    return 0;
}

}  // namespace runtimeheap
}  // namespace testsupport

#endif
