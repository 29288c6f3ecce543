#pragma once

// What every effect format's decoder shares, so that both drivers (the host's thread and a worker)
// treat a GIF and a WebP alike: the limits a canvas meets, the outcome of a scan, and the marks of
// frames that failed to decode.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "image/Limits.h"

// The formats the module decodes itself; anything else is a still picture for the host's loader.
enum class EffectFormat : uint8_t { Gif, Webp };

enum class FrameScanResult {
    Scanned,        // frameCount, width and height hold, every limit passed
    Corrupt,        // the decoder could not read the file
    BadDimensions,  // a canvas side above kMaxCanvasSide
    TooLarge,       // all frames together need 2^32 bytes or more
    TooManyFrames,  // more frames than the format's decoder reaches in reasonable time (WebP)
};

struct FrameScan {
    FrameScanResult result = FrameScanResult::Corrupt;
    uint32_t frameCount = 0;
    uint32_t width = 0, height = 0;
    // The bytes of every frame together, in 64 bits and modulo 2^32. Once they agree, every byte
    // count and frame offset that load and playback compute in 32 bits is exact.
    uint64_t bytes64 = 0;
    uint32_t bytes32 = 0;
};

// Checks frameCount, width and height against the limits and sets result to Scanned or to the
// limit they break.
void CheckCanvasLimits(FrameScan& scan);

// Per frame: set once the frame has failed to decode. The file never changes under the decoder, so
// such a frame fails every time; a driver does not ask for it again for display. Atomic, so that a
// worker may mark what the host's thread reads; a byte each, in whatever memory the driver owns.
using FrameMark = std::atomic<uint8_t>;

// Makes `count` clear marks in `block`, which holds count x sizeof(FrameMark) bytes.
FrameMark* MakeFrameMarks(void* block, uint32_t count);

inline bool FrameFailed(const FrameMark* marks, uint32_t frame) {
    return marks[frame].load(std::memory_order_relaxed) != 0;
}

enum class FrameDecodeResult {
    Decoded,
    Failed,         // failed again (it was marked before), or out of the decoder's reach
    FailedAtFirst,  // failed for the first time, and is marked now: the caller reports it
};
