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
