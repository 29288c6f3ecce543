#pragma once

// Loading an animated GIF on a worker thread, for the opt-in "backgroundLoad" setting.
//
// The worker reads the file through the platform layer and decodes every frame, in order, into a
// frame store of its own, so that playback never decodes. It calls nothing of the host, whose
// allocator, files and log are not known to be safe from other threads: its memory comes from the
// C++ runtime, and the lines the load would log are kept, in order, for the host's thread to write
// when it swaps the load in. Everything else happens on the host's thread.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// libnsgif.h uses size_t without declaring it, and has no C++ guard of its own.
#include <cstddef>
extern "C" {
#include <libnsgif.h>
}

namespace platform {
class System;
}

// A line the load would have written through the host, kept for the host's thread.
struct PendingLogLine {
    bool warning;  // AppWarning rather than Log
    std::wstring text;
};

// What the worker made of one GIF file. Its buffers are the C++ runtime's: whoever holds it last
// frees them by destroying it.
struct LoadedGif {
    enum class Outcome {
        Animated,     // every frame decoded into frameStore
        LoadAsStill,  // one frame or none: the host's thread loads the file as a still image
        Failed,       // the placeholder, after the lines
    };

    LoadedGif() : animation() {}
    ~LoadedGif();
    LoadedGif(const LoadedGif&) = delete;
    LoadedGif& operator=(const LoadedGif&) = delete;

    std::wstring path;
    Outcome outcome = Outcome::Failed;
    std::vector<PendingLogLine> lines;
    // The lines before this one were logged before the texture is made, the rest after it.
    size_t linesBeforeTexture = 0;
    gif_animation animation;
    bool holdsDecoder = false;  // `animation` is live and finalised with this object
    std::vector<uint8_t> fileData;
    std::unique_ptr<uint8_t[]> frameStore;  // frameCount slots of width x height RGBA pixels
    std::vector<uint8_t*> frameCache;       // each frame's slot; null where the decode failed
    std::vector<uint8_t> frameFailed;       // 1 where the decode failed
    std::vector<float> frameDelays;
    uint32_t frameCount = 0;
    uint32_t lastDecodedFrame = 0;  // where the decoder stands
};

// Loads `out.path` as the holder's GIF path does, with the same outcomes and log texts, on the
// calling thread and without the host. `stop` is asked between the steps and between frames;
// false when it asked to stop (`out` then holds a part of the load).
bool LoadGifWithoutHost(platform::System& system, const std::function<bool()>& stop,
                        LoadedGif& out);

// One worker thread, started with the first load and kept until the loader is destroyed, and at
// most one load that the host's thread waits for. Every call but the worker's own is made on the
// host's thread.
class BackgroundLoader {
public:
    BackgroundLoader() = default;
    // Stops the worker: a load under way is given up after the frame it is decoding, and the
    // worker is waited for.
    ~BackgroundLoader();
    BackgroundLoader(const BackgroundLoader&) = delete;
    BackgroundLoader& operator=(const BackgroundLoader&) = delete;

    // Starts loading `path` through `system`; a load still under way is given up. False when no
    // worker could be started or no memory was to be had: nothing is pending then.
    bool Start(const std::wstring& path, platform::System& system);
    // Gives up the load under way, if any: it will never be taken.
    void Abandon();
    // From Start until the load is taken or given up.
    bool Pending() const { return pending_; }
    // The finished load, or null while it is under way or none is pending. Does not wait for the
    // worker beyond a moment's lock.
    std::unique_ptr<LoadedGif> TakeFinished();
    // Waits until the pending load has finished; at once when none is pending.
    void WaitUntilFinished();
    // Hands a load back for the worker to free, so that returning a large frame store to the
    // system does not land in a frame of the host's thread.
    void Dispose(std::unique_ptr<LoadedGif> content);

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;      // the worker: a job, something to free, or quit
    std::condition_variable finished_;  // WaitUntilFinished
    std::thread worker_;
    // The number of the load the host wants (0: none); the worker gives up a load whose number
    // is no longer this one.
    std::atomic<uint64_t> wanted_{0};
    // The host's thread only.
    uint64_t lastNumber_ = 0;
    bool pending_ = false;
    // Guarded by mutex_.
    bool quit_ = false;
    std::unique_ptr<LoadedGif> job_;
    platform::System* jobSystem_ = nullptr;
    uint64_t jobNumber_ = 0;
    std::unique_ptr<LoadedGif> done_;
    uint64_t doneNumber_ = 0;
    std::vector<std::unique_ptr<LoadedGif>> toFree_;
    // The worker only: the number of the load it works on.
    uint64_t workerNumber_ = 0;
};
