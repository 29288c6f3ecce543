#pragma once

// Every limit an effect file meets, each in one place. Each is checked before anything is
// allocated for what it bounds, on both drivers: the file's size before it is read, a canvas
// before libnsgif's bitmap or libwebp's decoder is made, the frames before the store.
#include <cstdint>

// The largest canvas side the holder shows; 4096 itself passes.
constexpr uint32_t kMaxCanvasSide = 4096;
// The largest canvas in pixels. libnsgif asks for its bitmap while it scans, before the scan's own
// side check, so the bitmap is bounded by its area; a still on a worker likewise.
constexpr uint64_t kMaxCanvasPixels = uint64_t{kMaxCanvasSide} * kMaxCanvasSide;

// The largest GIF or WebP file read, in bytes: its size is counted in 32 bits from the read on.
constexpr uint64_t kMaxEffectFileBytes = UINT32_MAX;
// The largest still picture file a worker reads: four times the largest canvas's pixels, more than
// any PNG, JPEG or BMP of such a canvas needs. A larger one is the host's loader's to take or
// refuse.
constexpr uint64_t kMaxStillFileBytes = 4 * kMaxCanvasPixels * 4;

// The most frames a WebP may have. libwebp finds frame n by walking the list of frames from the
// first, for every frame it composes and every duration read, so a load costs the square of the
// frame count: 40000 frames of one pixel, a file of 2 MB, took libwebp's own decoder 4.7 s here,
// 8192 took 0.27 s. No effect comes near it (8192 frames at 60 a second play for over two
// minutes); a file beyond it is refused rather than let hold the host's thread for seconds.
constexpr uint32_t kMaxWebpFrames = 8192;
