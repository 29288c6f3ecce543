#include "image/FrameStore.h"

#include <cstring>

uint32_t FrameStore::SlotsWithin(uint64_t budgetBytes, uint32_t frameCount, uint32_t frameBytes) {
    if (frameBytes == 0)
        return frameCount;
    const uint64_t fit = budgetBytes / frameBytes;
    if (fit >= frameCount)
        return frameCount;
    return static_cast<uint32_t>(fit < 2 ? 2 : fit);
}

uint8_t* FrameStore::Keep(const uint8_t* canvas, uint32_t slot) const {
    uint8_t* pixels = Pixels(slot);
    if (canvas)
        std::memcpy(pixels, canvas, frameBytes_);
    else
        std::memset(pixels, 0, frameBytes_);
    return pixels;
}

StoreShortage AllocateStore(StoreMemory memory, uint32_t slots, size_t tableEntryBytes,
                            uint32_t frameCount, uint64_t storeBytes, bool clear,
                            StoreBlocks& blocks) {
    blocks = StoreBlocks();
    blocks.table = memory.allocate(static_cast<size_t>(slots) * tableEntryBytes);
    if (!blocks.table)
        return StoreShortage::Table;
    void* marks = memory.allocate(static_cast<size_t>(frameCount) * sizeof(FrameMark));
    if (!marks)
        return StoreShortage::Table;
    blocks.marks = MakeFrameMarks(marks, frameCount);
    if (storeBytes > SIZE_MAX)
        return StoreShortage::Store;
    blocks.store = static_cast<uint8_t*>(memory.allocate(static_cast<size_t>(storeBytes)));
    if (!blocks.store)
        return StoreShortage::Store;
    if (clear)
        std::memset(blocks.store, 0, static_cast<size_t>(storeBytes));
    return StoreShortage::None;
}
