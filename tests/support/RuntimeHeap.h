#pragma once

// The C++ runtime's heap as the tests see it: this program's own operator new and delete, which
// can refuse an allocation on the threads a test picks and tell on which thread each block was
// made. Linked only into the tests that use it, and only where a program may replace its global
// operator new alone (not against the MSVC build's static libc++, whose own one would clash):
// elsewhere Available() is false and the tests that need it skip.
#include <cstddef>
#include <cstdint>

namespace testsupport {
namespace runtimeheap {

bool Available();

// The thread that calls this is the host's; every other thread counts as a worker.
void SetHostThread();

enum class On { Host, Workers, Any };
// The `n`-th allocation from now on (0: the next one) made on `on` fails: operator new throws
// std::bad_alloc, the nothrow form returns null. Later ones succeed again, or with `andAllAfter`
// fail as well until ClearFailure (memory that has run out stays out).
void FailAllocationAt(long long n, On on, bool andAllAfter = false);
// Every allocation of exactly `bytes` made on `on` fails, until ClearFailure.
void FailAllocationsOfSize(size_t bytes, On on);
void ClearFailure();
// Allocations refused so far.
uint64_t Failures();
// Allocations made on `on` so far.
uint64_t Allocations(On on);
// Blocks made on a worker and freed on the host's thread so far.
uint64_t WorkerBlocksFreedOnHost();

}  // namespace runtimeheap
}  // namespace testsupport
