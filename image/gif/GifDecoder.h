#pragma once

#include <cstdint>

// libnsgif.h uses size_t without declaring it, and has no C++ guard of its own.
#include <cstddef>
extern "C" {
#include <libnsgif.h>
}

#include "image/FrameCore.h"

// Decoding one frame, the one place that asks libnsgif for a frame's pixels. libnsgif builds each
// frame on the canvas the one before it left, so callers decode in order, from frame 0 when they
// go back; the pixels are then in the canvas (GifCanvasPixels). Asked for the frame it decoded
// last, libnsgif would call even a half-drawn canvas done: a frame that failed is marked, and a
// driver does not ask for it again for display.

// Decodes `frame` into the canvas. A failure marks the frame in `marks`, when given; without marks
// every failure is Failed.
FrameDecodeResult DecodeGifFrame(gif_animation& animation, uint32_t frame, FrameMark* marks);
