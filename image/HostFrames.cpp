#include "image/HostFrames.h"

#include "image/FrameStore.h"
#include "image/HostWork.h"
#include "image/gif/GifBitmap.h"

HostFrames::HostFrames()
    : format(EffectFormat::Gif),
      gif(),
      webp(),
      callbacks(GifBitmapCallbacks(GifMemory::Host)),
      fileData(nullptr),
      fileBytes(0),
      cache(nullptr),
      failed(nullptr),
      store(nullptr),
      lastDecoded(0),
      framesDecoded(0) {}

void HostFrames::Show(const Playback& playback, uint32_t entryFrame, float, Texture* texture,
                      uint64_t&) {
    const uint32_t frame = playback.currentFrame;
    if (frame == entryFrame)
        return;
    if (!cache[frame] && !FrameFailed(failed, frame))
        DecodeIntoCache(frame, playback.frameCount);
    // A frame that failed to decode is passed over on screen: the texture keeps the previous one.
    if (cache[frame] && texture) {
        texture->UploadPixels(cache[frame], GS_RGBA, gif.width * 4u);
        CountUpload(texture);
    }
}

// Each format builds a frame on the one before it, so the frames between the last decoded one and
// `frame` are decoded first (from frame 0 when going back). Only `frame` is cached, and only when
// it decodes. A GIF frame on the way that fails is passed over: libnsgif leaves on the canvas what
// it could decode and the next frames are drawn over it, just as when the broken frame is itself
// the one due. Stopping there instead would meet the same frame again at every call and freeze the
// picture. A frame that fails is marked, so that it is never asked for again: asked for the frame
// it decoded last, libnsgif would call the half-drawn canvas done. (libwebp composes nothing past a
// frame that fails: those frames are marked too, and the texture keeps the last good one.)
void HostFrames::DecodeIntoCache(uint32_t frame, uint32_t frameCount) {
    FrameDecoder decoder = Decoder();
    const uint32_t first = frame > lastDecoded ? lastDecoded + 1 : 0;
    for (uint32_t i = first; i < frame; ++i)
        decoder.Decode(i, failed);
    framesDecoded += frame - first + 1;
    CountHostWork(HostWork::FramesDecoded, frame - first + 1);
    lastDecoded = frame;
    if (decoder.Decode(frame, failed) != FrameDecodeResult::Decoded)
        return;
    // The store is whole, in the host's allocator: frame i in slot i.
    cache[frame] =
        FrameStore(store, frameCount, frameCount, FrameBytes()).Keep(decoder.Canvas(), frame);
}

void HostFrames::Release(uint32_t frameCount, StoreRelease freeStore, void* context) {
    const size_t storeBytes = static_cast<size_t>(frameCount) * FrameBytes();
    Decoder().Finalise();
    gif = gif_animation();
    if (cache)
        MainAllocator->Free(cache);
    if (failed)
        MainAllocator->Free(failed);
    if (store)
        freeStore(context, store, storeBytes);
    if (fileData) {
        CountBlockFreed(fileBytes);
        MainAllocator->Free(fileData);
    }
    cache = nullptr;
    failed = nullptr;
    store = nullptr;
    fileData = nullptr;
    fileBytes = 0;
    lastDecoded = 0;
    framesDecoded = 0;
}
