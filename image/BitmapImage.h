#pragma once

#include <cstdint>

#include "host/Host.h"

struct WorkerLoads;

#include "image/Animation.h"
#include "image/HostFrames.h"
#include "image/WorkerFrames.h"

// The image holder of one effect source: turns the file named by `filePath` into one host texture.
// It shows a still image (anything the host's image loader reads), a single-frame GIF, a still
// WebP, or an animated GIF or WebP whose frames it decodes on first use and caches; when nothing
// usable is there it shows a 32 by 32 placeholder, so that the owner always has a size.
//
// The owner writes `filePath` and `fileMonitor`, reads `texture`, `width` and `height`, and calls
// every member one at a time on its update thread (the host's). All buffers come from
// MainAllocator; only libnsgif's tables and libwebp's decoder use the C heap, and so does an
// animation loaded in the background (see SetBackgroundLoad).
//
// Threads, with the background load: none of Init, Advance, SwapInBackgroundLoad and the destructor
// waits for a worker, allocates from the C++ runtime on a path that could throw, or frees memory a
// worker allocated (a load let go is handed to its worker, which frees it). What they pay on the
// host's thread: starting a worker (a thread) per load, the texture and the delay list at the
// swap, one copy into the texture per frame change, the load's log lines. Only
// WaitForBackgroundLoad and WaitForBackgroundFirstFrame wait, as long as the worker takes.
class BitmapImage {
public:
    BitmapImage();
    ~BitmapImage();
    BitmapImage(const BitmapImage&) = delete;
    BitmapImage& operator=(const BitmapImage&) = delete;

    // (Re)loads from `filePath`. Never fails to the caller: the outcome is in texture, width and
    // height, and any failure leaves the placeholder and one log line.
    void Init();
    // Once per host frame with the seconds since the previous call: moves an animation on, runs a
    // pending reload, and polls the file watch. While a background load can be swapped in, the
    // owner is taken to swap it in right after this call: the frame that came due is not copied
    // into the texture, which the swap gives the new effect's frame 0.
    void Advance(float seconds);

    // Settings the owner takes from its own before Init. With the background load on, a file with
    // the gif or webp extension is loaded on a worker thread, which decodes frame 0 and then
    // decodes ahead of playback into a frame store within `frameCacheBytes`: an animation that
    // needs more is decoded again on every pass into a ring of as many frames as fit (two at
    // least). Off, and 256 MB, by default.
    void SetBackgroundLoad(bool on) { backgroundLoad = on; }
    void SetFrameCacheBytes(uint64_t bytes) { frameCacheBytes = bytes; }

    // Loading in the background (BackgroundSwap.cpp): the holder goes on showing what it showed
    // until the owner swaps the load in, as soon as frame 0 is decoded. Everything else loads at
    // once, as without it; such a load gives up one under way.
    //
    // A load has been started and not yet swapped in or given up.
    bool BackgroundLoadPending() const;
    // The pending load can be swapped in: its frame 0 is decoded, or it has failed. Never waits.
    bool BackgroundLoadFinished() const;
    // The pending load can be swapped in, and no other holder has swapped one in during this host
    // frame: one swap a frame, whatever the number of sources, so that sources reading one command
    // block pay their textures in frames of their own. Valid after this frame's Advance.
    bool BackgroundSwapDue() const;
    // Installs the pending load in one step, as Init would have: the previous content goes, the
    // lines the load has logged so far are written, and the animation stands at frame 0. A GIF of
    // one frame is loaded here by the host, as by Init. Does nothing while none can be swapped in.
    void SwapInBackgroundLoad();
    // Waits until the pending load can be swapped in, and until the workers of the pending and the
    // shown load have decoded all they can before playback moves on (at once when there are none),
    // so that runs repeat exactly: for host programs that want that, and for tests.
    void WaitForBackgroundLoad();
    // Waits only until the pending load can be swapped in (at once when none is pending).
    void WaitForBackgroundFirstFrame();

    // What the holder holds and where playback stands, for tests, tools and benchmarks, which
    // read it and nothing else behind the holder's face. The pointers are the holder's own, valid
    // until its next Init, Advance or swap.
    struct State {
        // An animated GIF or WebP is loaded; everything down to `holdsFile` describes it, and is
        // zero or null otherwise.
        bool isAnimated;
        EffectFormat format;
        // The canvas: for a GIF libnsgif's after its scan, grown to cover every frame.
        uint32_t canvasWidth, canvasHeight;
        uint32_t frameCount;
        int loopCount;             // as the file gives it; a GIF without a looping extension: 1
        uint32_t loopLimit;        // how many times the frames are played in all; 0: forever
        const float* frameDelays;  // seconds per frame, `delayCount` of them
        uint32_t delayCount;
        // Per frame: marked once it failed to decode (FrameFailed), whichever driver decodes;
        // null while no animation is loaded.
        const FrameMark* frameFailed;
        // The decoder holds the canvas of a frame it decoded on this thread.
        bool canvasHeld;
        uint32_t currentFrame, loopsPlayed, lastDecodedFrame;
        float frameTime;  // seconds gathered toward leaving currentFrame
        // An animation loaded on this thread: per frame, null or its pixels in the frame store.
        const uint8_t* const* frameCache;
        const uint8_t* frameStore;
        bool holdsFile;  // the whole file is held, for decoding on demand
        // Frames playback has decoded on this thread since the load, cached or passed over.
        uint64_t framesDecoded;

        float reloadCountdown;  // seconds until a pending reload; 0: none pending
        // Frames of a background load that were due before the worker had decoded them, counted
        // since the holder was made.
        uint64_t lateFrames;
        // The background load that shows: the runtime memory it holds (file, frame store, decoder
        // canvas) and the frames its store holds; 0 when playback decodes on this thread.
        uint64_t streamedBytes;
        uint32_t streamedSlots;
    };
    State Snapshot() const;

    String filePath;
    Texture* texture;  // owned; null only when the host made none
    float width, height;
    OSFileChangeData* fileMonitor;  // started and replaced by the owner; destroyed with the holder

private:
    // What the holder shows, one at a time: the placeholder, a still texture, or an animation,
    // which `playback` plays and `frames` feeds.
    enum class Content { Placeholder, Still, Animation };

    // Makes the placeholder the holder's texture.
    void CreatePlaceholderTexture();

    void LoadNow();
    void ReleaseContent();
    void LoadStill();
    void ShowStillTexture(Texture* made);

    // The background load (BackgroundSwap.cpp).
    bool StartBackgroundLoad();
    void DropBackgroundLoad();
    void InstallWorkerAnimation(Texture* reused);
    void InstallStill();
    void ReleaseWorkerFrames();
    void WriteWorkerLines();
    void EndBackgroundLoading();
    void CountHostFrame();
    static uint32_t HostFrameNow();
    uint64_t WorkerBytes() const;
    uint32_t WorkerSlots() const;

    // The GIF and WebP path of Init on this thread (HostThreadLoad.cpp).
    class HostLoad;
    bool LoadDecodedFile();
    bool ListDelaysAndCheckFrames(bool firstFrameDecoded);
    void ShowDecodedStill();
    void FailLoad();

    // Playback (Playback.cpp).
    void AdvanceReload(float seconds);

    // Letting go of a large frame store (StoreRetirement.cpp).
    void FreeFrameStore(uint8_t* store, size_t bytes);
    void RetireSome();
    void RetireAll();

    Content content;
    Playback playback;
    FrameSource* frames;  // while an animation shows: &hostFrames or &workerFrames
    HostFrames hostFrames;
    WorkerFrames workerFrames;
    float reloadCountdown;  // seconds until a pending reload; 0: none pending
    bool backgroundLoad;
    uint64_t frameCacheBytes;
    uint64_t lateFrames;

    WorkerLoads* loads;  // owned; made with the first background load
    uint32_t frameSeen;  // the host frame of this holder's last Advance (BackgroundSwap.cpp)
    // The placeholder shown stands for an empty path, which the owner does not draw.
    bool showsEmptyPath;
    // Frame stores of animations loaded on this thread and let go with backgroundLoad on: the
    // host's allocator takes them back a slice per frame, not all at once.
    struct RetiringBlock {
        uint8_t* block;
        size_t bytes;
    };
    static constexpr int kRetiringBlocks = 4;
    RetiringBlock retiring[kRetiringBlocks];
};
