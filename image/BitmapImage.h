#pragma once

#include <cstdint>

#include "host/Host.h"

// libnsgif.h uses size_t without declaring it, and has no C++ guard of its own.
#include <cstddef>
extern "C" {
#include <libnsgif.h>
}

// The image holder of one effect source: turns the file named by `filePath` into one host texture.
// It shows a still image (anything the host's image loader reads), a single-frame GIF, or an
// animated GIF whose frames it decodes on first use and caches; when nothing usable is there it
// shows a 32 by 32 placeholder, so that the owner always has a size.
//
// The owner writes `filePath` and `fileMonitor`, reads `texture`, `width` and `height`, and calls
// Init, Advance and the destructor one at a time on its update thread. All buffers come from
// MainAllocator; only libnsgif's own tables use the C heap.
class BitmapImage {
public:
    BitmapImage();
    ~BitmapImage();
    BitmapImage(const BitmapImage&) = delete;
    BitmapImage& operator=(const BitmapImage&) = delete;

    // (Re)loads from `filePath`. Never fails to the caller: the outcome is in texture, width,
    // height and isAnimated, and any failure leaves the placeholder and one log line.
    void Init();
    // Once per host frame with the seconds since the previous call: moves an animation on, runs a
    // pending reload, and polls the file watch.
    void Advance(float seconds);
    // Makes the placeholder the holder's texture.
    void CreatePlaceholderTexture();
    // How many times an animation's frames are played in all; 0 means forever.
    uint32_t LoopLimit() const;

    String filePath;
    Texture* texture;  // owned; null only when the host made none
    float width, height;
    // True while an animated GIF is loaded; the GIF fields below are in use only then.
    bool isAnimated;
    gif_animation animation;
    uint8_t* fileData;        // the whole GIF file: libnsgif decodes frames from it on demand
    List<float> frameDelays;  // seconds per frame, each at least 0.01
    uint8_t** frameCache;     // per frame: null, or its slot in frameStore once decoded
    uint8_t* frameStore;      // frameCount slots of width x height RGBA pixels
    uint32_t currentFrame, loopsPlayed, lastDecodedFrame;
    float frameTime;                // seconds gathered toward leaving currentFrame
    float reloadCountdown;          // seconds until a pending reload; 0: none pending
    OSFileChangeData* fileMonitor;  // started and replaced by the owner; destroyed with the holder
    gif_bitmap_callback_vt bitmapCallbacks;
    // Frames of the animation: libnsgif's count up to its first frame not meant for display
    // (it counts extension blocks after the last image as one more such frame).
    uint32_t frameCount;

private:
    enum class GifOutcome { Finished, LoadAsStill };

    void ReleaseContent();
    void LoadStill();

    // The GIF path of Init (GifLoading.cpp).
    GifOutcome LoadGif();
    bool ReadGifFile(XFile& file, uint32_t& size);
    bool ScanGif(uint32_t size);
    bool CheckGifSize();
    bool SetUpAnimation();
    bool ListFrameDelays();
    GifOutcome FailGif();
    uint32_t FrameBytes() const;

    // Playback (Playback.cpp).
    void AdvanceAnimation(float seconds);
    void DecodeIntoCache(uint32_t frame);
    void SkipWholePasses(uint32_t limit);
    void AdvanceReload(float seconds);
};
