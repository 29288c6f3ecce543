#pragma once

// Playing a holder the way the image benchmarks time it, for a GIF or a WebP alike.
#include <cstdint>

#include "image/BitmapImage.h"

namespace bench {

// Playback from a fresh load to the moment every frame is in the cache: one call per frame, each of
// that frame's delay, ending back on frame 0.
inline void PlayOnePass(BitmapImage& image) {
    const uint32_t frames = image.Snapshot().frameCount;
    for (uint32_t i = 0; i < frames; ++i) {
        const BitmapImage::State state = image.Snapshot();
        image.Advance(state.frameDelays[state.currentFrame]);
    }
}

// Every frame is cached and playback stands on frame 0 again.
inline bool AllCached(const BitmapImage& image) {
    const BitmapImage::State state = image.Snapshot();
    for (uint32_t i = 0; i < state.frameCount; ++i)
        if (!state.frameCache[i])
            return false;
    return state.currentFrame == 0;
}

}  // namespace bench
