// Letting go of the frame store of an animation that was loaded on the host's thread. The store
// comes from the host's allocator, which only the host's thread may use, and giving back a few
// hundred megabytes at once costs that thread more than a frame (the system unmaps every page).
// Without the background load that is the design's cost, paid where the design pays it. With it,
// the store is given back a slice per frame instead: the block shrinks by a slice at a time (an
// allocator gives the tail of a shrinking block back to the system), within a small budget of the
// host's time per frame.
#include <chrono>

#include "image/BitmapImage.h"
#include "image/HostWork.h"

namespace {

// What one shrink gives back: a fraction of a millisecond of unmapping.
constexpr size_t kSlice = size_t{8} << 20;
// The host's time spent on it per frame, and a bound on slices for a clock too coarse to see them.
constexpr std::chrono::microseconds kBudget(2000);
constexpr int kMaxSlicesPerFrame = 4;

}  // namespace

// Called by ReleaseContent with the store of `bytes` the holder lets go of.
void BitmapImage::FreeFrameStore(uint8_t* store, size_t bytes) {
    if (!backgroundLoad || bytes <= kSlice) {
        CountBlockFreed(bytes);
        MainAllocator->Free(store);
        return;
    }
    // The oldest one waiting goes at once when all places are taken: rare, and no worse than
    // without the background load.
    if (retiring[kRetiringBlocks - 1].block) {
        CountBlockFreed(retiring[0].bytes);
        MainAllocator->Free(retiring[0].block);
        for (int i = 1; i < kRetiringBlocks; ++i)
            retiring[i - 1] = retiring[i];
        retiring[kRetiringBlocks - 1] = RetiringBlock();
    }
    for (RetiringBlock& place : retiring) {
        if (!place.block) {
            place = RetiringBlock{store, bytes};
            return;
        }
    }
}

void BitmapImage::RetireSome() {
    const auto start = std::chrono::steady_clock::now();
    for (int slices = 0; slices < kMaxSlicesPerFrame && retiring[0].block; ++slices) {
        RetiringBlock& first = retiring[0];
        void* shrunk = nullptr;
        if (first.bytes > kSlice)
            shrunk = MainAllocator->ReAllocate(first.block, first.bytes - kSlice);
        if (shrunk) {
            CountBlockFreed(kSlice);
            first.block = static_cast<uint8_t*>(shrunk);
            first.bytes -= kSlice;
        } else {
            // The last slice, or an allocator that would not shrink the block: it goes whole.
            CountBlockFreed(first.bytes);
            MainAllocator->Free(first.block);
            for (int i = 1; i < kRetiringBlocks; ++i)
                retiring[i - 1] = retiring[i];
            retiring[kRetiringBlocks - 1] = RetiringBlock();
        }
        if (std::chrono::steady_clock::now() - start >= kBudget)
            return;
    }
}

void BitmapImage::RetireAll() {
    for (RetiringBlock& place : retiring) {
        if (place.block)
            CountBlockFreed(place.bytes);
        MainAllocator->Free(place.block);
        place = RetiringBlock();
    }
}
