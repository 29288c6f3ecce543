#pragma once

#include <cstddef>
#include <cstdint>

#include "image/FrameCore.h"

// The store of decoded frames, whatever the format, as both loads lay it out: slots of width x
// height RGBA pixels, one after the other, rows top to bottom, no gap. A whole store has a slot per
// frame, frame i in slot i. A ring, which a worker keeps when the whole animation does not fit its
// budget, has fewer, and a frame goes to the slot of its sequence number (passes x frame count +
// frame) modulo the slots.
//
// A view only: the block belongs to the load that allocated it, from the host's allocator (a load
// inside the host's frame) or the runtime's heap (a worker), and is as large as SlotsWithin allows.
class FrameStore {
public:
    FrameStore() = default;
    FrameStore(uint8_t* block, uint32_t slots, uint32_t frameCount, uint32_t frameBytes)
        : block_(block), slots_(slots), frameCount_(frameCount), frameBytes_(frameBytes) {}

    // The slots a store of `frameCount` frames of `frameBytes` has within `budgetBytes`: one per
    // frame when they all fit, otherwise as many as fit, two at least, so that one can be decoded
    // while the other shows.
    static uint32_t SlotsWithin(uint64_t budgetBytes, uint32_t frameCount, uint32_t frameBytes);

    bool Whole() const { return slots_ == frameCount_; }
    uint32_t Slots() const { return slots_; }
    // What a slot holding the frame at `sequence` is known by: the frame itself in a whole store,
    // which every pass reads; the sequence itself in a ring.
    uint64_t KeyOf(uint64_t sequence) const { return Whole() ? sequence % frameCount_ : sequence; }
    uint32_t SlotOf(uint64_t key) const { return static_cast<uint32_t>(key % slots_); }
    uint8_t* Pixels(uint32_t slot) const {
        return block_ + static_cast<size_t>(slot) * frameBytes_;
    }
    // Copies the canvas the decoder composed last into `slot` (zeros when it has made none yet) and
    // returns the slot's pixels.
    uint8_t* Keep(const uint8_t* canvas, uint32_t slot) const;

private:
    uint8_t* block_ = nullptr;
    uint32_t slots_ = 0, frameCount_ = 0, frameBytes_ = 0;
};

// The memory a load keeps its store in: the host's allocator on the host's thread, the C++
// runtime's heap on a worker. `allocate` gives null when there is none.
struct StoreMemory {
    void* (*allocate)(size_t bytes);
};

// The blocks a load allocates for its store, in this order: a table of one entry per slot for the
// driver's own use (on the host's thread a pointer per frame, on a worker what each slot holds),
// a mark per frame, made clear, and the store itself.
struct StoreBlocks {
    void* table = nullptr;
    FrameMark* marks = nullptr;
    uint8_t* store = nullptr;
};

enum class StoreShortage { None, Table, Store };

// Allocates the blocks from `memory`, the store cleared when `clear` is set. Stops at the first
// block there is no memory for and says which: the table and the marks count as one. Whatever was
// made is in `blocks`, for the caller to free with its memory.
StoreShortage AllocateStore(StoreMemory memory, uint32_t slots, size_t tableEntryBytes,
                            uint32_t frameCount, uint64_t storeBytes, bool clear,
                            StoreBlocks& blocks);
