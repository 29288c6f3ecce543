#pragma once

// WebP effects through libwebp: its container reader (demux) for the canvas, the frame count, the
// durations and the loop count, and its animation decoder, which composes each frame on the canvas
// with the frame's blending and disposal, into non-premultiplied RGBA. A still WebP is read the
// same way, as an animation of one frame. libwebp's memory (the two canvases the decoder keeps) is
// the C heap's, as libnsgif's tables are; the file must stay in memory while the decoder lives.
//
// This header names no libwebp type, so that a build without libwebp compiles the holder; such a
// build never makes a WebP load (EffectFormatOfPath).
#include <cstddef>
#include <cstdint>

#include "image/FrameCore.h"

struct WebPAnimDecoder;

// One WebP animation's decoder. Plain data: zeroed is "none", and FinaliseWebp makes it so again.
struct WebpAnimation {
    WebPAnimDecoder* decoder;
    uint32_t width, height, frameCount;
    int loopCount;  // as the file says: 0 forever
    // The frame libwebp composes next: it composes only forwards, from frame 0 after a reset.
    uint32_t next;
    // The frames libwebp can compose: all of them, until one fails to decode. libwebp composes
    // nothing after such a frame, so that frame (whose index `reach` becomes) and every later one
    // are out of reach, on every pass.
    uint32_t reach;
    // Frame next - 1 in libwebp's buffer; null before the first and after a failure.
    const uint8_t* canvas;
};

// Reads the container of `size` bytes at `data`, checks the canvas and the size of all frames
// together as a GIF's and the frame count against kMaxWebpFrames, and only then makes the decoder,
// whose canvases the limits bound. On anything but Scanned, `webp` holds no decoder.
FrameScan ScanWebp(WebpAnimation& webp, const uint8_t* data, size_t size);

// Frame `frame`'s display time in seconds. The file gives milliseconds: 0 shows for 0.1 s and 1 to
// 9 for 0.01 s, as a GIF's 0 and 1 cs do (no player shows a frame for less); otherwise the
// milliseconds times 0.001 in single precision.
float WebpFrameDelay(const WebpAnimation& webp, uint32_t frame);

// How many times the frames are played in all; 0 means forever, every other count is played.
uint32_t WebpLoopLimit(int loopCount);

// Composes frames up to `frame` (from frame 0 when it lies behind) and leaves `frame` in the
// canvas. The frame that fails is marked in `marks` (when given) and reported as FailedAtFirst
// once; the frames after it, which libwebp cannot reach, are marked as Failed without a report of
// their own.
FrameDecodeResult DecodeWebpFrame(WebpAnimation& webp, uint32_t frame, FrameMark* marks);

// Frees the decoder, if any, and zeroes the record.
void FinaliseWebp(WebpAnimation& webp);
