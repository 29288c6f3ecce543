#pragma once

// The one decoder both drivers call, whatever the effect's format: the host's thread, which loads
// inside the frame and decodes on demand (HostThreadLoad.cpp, Playback.cpp), and a worker, which
// decodes ahead (WorkerLoad.cpp). A view over the load's records, made where it is needed:
// libnsgif's for a GIF (gif/), libwebp's for a WebP (webp/).
//
// Each format composes a frame on the canvas the one before it left, so callers decode in order,
// from frame 0 when they go back; the frame's pixels are then in Canvas(). For a WebP the GIF
// record still carries the canvas size, the frame count and the loop count after the scan, so
// that what reads them there (the holder's texture pitch, its readers) needs no second source.
#include <cstddef>
#include <cstdint>

extern "C" {
#include <libnsgif.h>
}

#include "image/FrameCore.h"
#include "image/webp/WebpDecoder.h"

// The format that `path`'s extension (in any case) names: gif, or webp in a build with libwebp.
// False for every other path, a still picture for the host's loader. On the host's thread.
bool EffectFormatOfPath(const wchar_t* path, EffectFormat& format);

// How many times the frames of an animation of `format` with `loopCount` are played; 0: forever.
uint32_t LoopLimitOf(EffectFormat format, int loopCount);

class FrameDecoder {
public:
    FrameDecoder(EffectFormat format, gif_animation& gif, WebpAnimation& webp)
        : format_(format), gif_(gif), webp_(webp) {}

    // Makes the decoder afresh; libnsgif's takes a copy of `callbacks` for its canvas.
    void Create(gif_bitmap_callback_vt& callbacks);
    // Scans `size` bytes at `data` (one byte at least, also for an empty file; they stay in memory
    // until Finalise) and checks the canvas and the size of all frames together.
    FrameScan Scan(const uint8_t* data, size_t size);
    // Frame `frame`'s display time in seconds, at least 0.01.
    float FrameDelay(uint32_t frame) const;
    // Decodes `frame` into the canvas; a failure marks it in `marks`, when given.
    FrameDecodeResult Decode(uint32_t frame, FrameMark* marks);
    // The frame decoded last, width x height RGBA pixels (straight alpha); null when there is none.
    const uint8_t* Canvas() const;
    // Frees what the decoder holds; nothing is left to finalise after it.
    void Finalise();

private:
    EffectFormat format_;
    gif_animation& gif_;
    WebpAnimation& webp_;
};
