#pragma once

#include <atomic>
#include <cstdint>

// libnsgif.h uses size_t without declaring it, and has no C++ guard of its own.
#include <cstddef>
extern "C" {
#include <libnsgif.h>
}

// Decoding one frame, the one place that asks libnsgif for a frame's pixels. libnsgif builds each
// frame on the canvas the one before it left, so callers decode in order, from frame 0 when they
// go back; the pixels are then in the canvas (GifCanvasPixels).

// Per frame: set once the frame has failed to decode. The file never changes under the decoder, so
// such a frame fails every time; a driver does not ask for it again for display (asked for the
// frame it decoded last, libnsgif would call the half-drawn canvas done). Atomic, so that a worker
// may mark what the host's thread reads; a byte each, in whatever memory the driver owns.
using GifFrameMark = std::atomic<uint8_t>;

// Makes `count` clear marks in `block`, which holds count x sizeof(GifFrameMark) bytes.
GifFrameMark* MakeGifFrameMarks(void* block, uint32_t count);

inline bool GifFrameFailed(const GifFrameMark* marks, uint32_t frame) {
    return marks[frame].load(std::memory_order_relaxed) != 0;
}

enum class GifDecodeResult {
    Decoded,
    Failed,         // failed again: it was marked before
    FailedAtFirst,  // failed for the first time, and is marked now: the caller reports it
};

// Decodes `frame` into the canvas. A failure marks the frame in `marks`, when given; without marks
// every failure is Failed.
GifDecodeResult DecodeGifFrame(gif_animation& animation, uint32_t frame, GifFrameMark* marks);
