#pragma once

#include <cstddef>
#include <cstdint>

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
