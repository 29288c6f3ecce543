#pragma once

#include <cstdint>

// libnsgif.h uses size_t without declaring it, and has no C++ guard of its own.
#include <cstddef>
extern "C" {
#include <libnsgif.h>
}

// The bitmap callbacks handed to libnsgif. A bitmap is nothing but its pixel buffer: width x height
// RGBA pixels, cleared when made. Which memory it comes from is the caller's choice: the host's
// allocator on the host's thread (a load inside the frame), the C runtime's heap on a worker, which
// must not call the host.
enum class GifMemory { Host, Runtime };
gif_bitmap_callback_vt GifBitmapCallbacks(GifMemory memory);

// Where the runtime callbacks put the lines they would log (a canvas refused or out of memory) on
// the calling thread: a worker sets its own before it scans and clears it after. With none set the
// line is dropped. The host's callbacks write to the host's log.
using GifLineSink = void (*)(void* context, const wchar_t* line) noexcept;
void SetGifLineSinkForThisThread(GifLineSink sink, void* context);

// The pixels of the frame libnsgif decoded last, or null when it has made no canvas yet.
inline const uint8_t* GifCanvasPixels(const gif_animation& animation) {
    return static_cast<const uint8_t*>(animation.frame_image);
}
