#pragma once

// libnsgif.h uses size_t without declaring it, and has no C++ guard of its own.
#include <cstddef>
extern "C" {
#include <libnsgif.h>
}

// The bitmap callbacks that BitmapImage hands to libnsgif. A bitmap is nothing but its pixel
// buffer: width x height RGBA pixels from MainAllocator.
gif_bitmap_callback_vt GifBitmapCallbacks();

// The largest bitmap area libnsgif may ask for, in pixels: the largest canvas the holder shows.
constexpr unsigned long long kMaxGifBitmapArea = 4096ull * 4096ull;
