#pragma once

// The frames of an animation loaded on the host's thread (the design's path): the whole file held,
// each frame decoded on first use into a store with a slot per frame, all in the host's memory.
#include <cstddef>
#include <cstdint>

// libnsgif.h uses size_t without declaring it, and has no C++ guard of its own.
extern "C" {
#include <libnsgif.h>
}

#include "image/Animation.h"
#include "image/FrameDecoder.h"

struct HostFrames final : FrameSource {
    HostFrames();

    // The decoder's records: libnsgif's for a GIF, libwebp's for a WebP. The GIF record carries
    // the canvas, the frame count and the loop count for either.
    EffectFormat format;
    gif_animation gif;
    WebpAnimation webp;
    gif_bitmap_callback_vt callbacks;  // the host's memory, handed to libnsgif at every load
    uint8_t* fileData;                 // the whole file: frames are decoded from it on demand
    uint64_t fileBytes;                // its size
    uint8_t** cache;                   // per frame: null, or its slot in `store` once decoded
    // Per frame: marked once it has failed to decode; such a frame is never decoded again for
    // display (it would fail again, at the cost of decoding every frame before it).
    FrameMark* failed;
    uint8_t* store;  // a slot of width x height RGBA pixels per frame
    uint32_t lastDecoded;
    uint64_t framesDecoded;  // by playback, since the load

    FrameDecoder Decoder() { return FrameDecoder(format, gif, webp); }
    uint32_t FrameBytes() const { return gif.width * gif.height * 4u; }
    // The decoder holds the canvas of a frame it decoded.
    bool CanvasHeld() const {
        return format == EffectFormat::Gif ? gif.frame_image != nullptr : webp.canvas != nullptr;
    }

    void Show(const Playback& playback, uint32_t entryFrame, float seconds, Texture* texture,
              uint64_t& lateFrames) override;
    // Frees the decoder, the table, the marks, the store and the file, in that order; the store
    // through `freeStore`, which lets go of its bytes as the holder chooses. Nothing is held
    // afterwards, and a second call frees nothing.
    using StoreRelease = void (*)(void* context, uint8_t* store, size_t bytes);
    void Release(uint32_t frameCount, StoreRelease freeStore, void* context);

private:
    void DecodeIntoCache(uint32_t frame, uint32_t frameCount);
};
