#pragma once

// Loading an animated GIF or WebP on a worker thread, for the opt-in "backgroundLoad" setting.
//
// One worker per load reads the file through the platform layer, scans it and decodes frame 0,
// which the host's thread can show at once, and then decodes ahead of playback into a frame store
// of its own: every frame once when the whole animation fits the memory budget, otherwise a ring
// of as many frames as fit, decoded again on every pass. The worker calls nothing of the host,
// whose allocator, files and log are not known to be safe from other threads: its memory comes
// from the C++ runtime, and the lines the load would log are kept, in order, for the host's thread.
//
// A still picture (PNG, JPEG, BMP), a GIF of one frame and a still WebP are decoded by the worker
// as well, so that the host's thread only makes the texture from the pixels; a format the system's
// decoder does not read goes back to the host's own loader.
//
// Threads. The worker and the host's thread share the load (WorkerLoad). Calls marked "host" run on
// the thread that updates the source, one at a time; none of them allocates from the C++ runtime,
// throws, or waits for the worker, except the two waits that say so. The host's thread lets go of
// a load through Release, which hands its reference to the worker: the load's memory, all of it
// the worker's, is freed on the worker's thread, never in a frame of the host's. A worker whose
// load has been let go ends after the frame or the read it is in; one that has nothing left to do
// waits for its holder without using the CPU. Workers are joined, never detached: EndWorkers,
// at the module's unload, tells each to end and waits a bounded time for all of them.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

// libnsgif.h uses size_t without declaring it, and has no C++ guard of its own.
#include <cstddef>
extern "C" {
#include <libnsgif.h>
}

#include "image/EffectLoad.h"
#include "image/FrameDecoder.h"
#include "image/FrameStore.h"

namespace platform {
class System;
}

// A line the load would have written through the host, kept for the host's thread.
using PendingLogLine = KeptLogLine;

// One load of a GIF or WebP file (or of a still picture). Frames are counted in sequence from the
// start of playback: the sequence number of frame f in pass p is p x frameCount + f.
class WorkerLoad final : private LoadDriver {
public:
    enum class Outcome {
        Animated,     // frame 0 is decoded, the rest follow
        Still,        // the picture is decoded: the host's thread makes the texture from it
        LoadAsStill,  // the host's thread loads the file as a still image, with its own loader
        Failed,       // the placeholder, after the lines
    };

    WorkerLoad(std::wstring path, platform::System& system, uint64_t budgetBytes);
    ~WorkerLoad();
    WorkerLoad(const WorkerLoad&) = delete;
    WorkerLoad& operator=(const WorkerLoad&) = delete;

    // Written by the worker before Ready() and never after; read by the host's thread once Ready().
    const std::wstring path;
    // Set before the worker starts: the path names neither format, so the file is a still picture.
    bool still = false;
    EffectFormat format = EffectFormat::Gif;  // set before the worker starts, unless `still`
    Outcome outcome = Outcome::Failed;
    // The lines noted before this one were logged before the texture is made, the rest after it.
    size_t linesBeforeTexture = 0;
    uint32_t frameCount = 0, width = 0, height = 0;
    int loopCount = 0;               // as the decoder reports it
    std::vector<float> frameDelays;  // seconds per frame, each at least 0.01
    uint32_t slots = 0;              // frames the store holds; frameCount when all of them fit

    // ----- the host's thread
    // The outcome is known and, for an animation, frame 0 decoded. Never waits.
    bool Ready() const { return ready_.load(std::memory_order_acquire); }
    // Writes the lines noted since the last call, in order, through `write`, up to line `upTo`
    // (counted from the load's first). Allocates nothing: the lines stay with the worker, which
    // frees them. Holds the load's lock for as long as `write` takes.
    void WriteLines(size_t upTo, void (*write)(const PendingLogLine&));
    // Lines are waiting to be written: asked on every frame without the lock.
    bool HasLines() const { return hasLines_.load(std::memory_order_acquire); }
    // Frame 0's picture, as decoded (also when the decode failed): for the texture at the swap.
    const uint8_t* FirstPicture() const { return store_.get(); }
    // A Still's pixels: width x height, bytes R, G, B, A. Kept until Stop, freed by the worker.
    const uint8_t* StillPicture() const { return stillPixels_.data(); }
    // The pixels of the frame at `sequence`, or null while the worker has not decoded it there.
    // Valid until the next Follow; only frames at or after the `from` of the last Follow are asked
    // for.
    const uint8_t* Frame(uint64_t sequence) const;
    // The frame failed to decode, as it will every time: it is passed over.
    bool FrameFailed(uint32_t frame) const;
    // Per frame, the marks FrameFailed reads; valid while the load is held.
    const FrameMark* FailedMarks() const { return frameFailed_.get(); }
    // Playback reads no frame before `from` any more: the worker stores frames from `from` on, as
    // many as the store holds, and decodes the ones before it only as far as the decoder needs
    // them. Takes the lock briefly; never waits for the worker.
    void Follow(uint64_t from);
    // Lets go of the holder's reference, which goes to the worker, so that the load is freed on the
    // worker's thread; the worker ends after the frame or the read it is in. `load` is empty
    // afterwards. Only a load whose worker has already ended (told to by the unload, or never
    // started) is freed here.
    static void Release(std::shared_ptr<WorkerLoad>& load);
    // For host programs and tests, not for a host's frame: these wait for the worker, as long as
    // it takes to read the file and decode (a bound only the file sets).
    void WaitUntilReady();
    // Waits until the worker can do nothing more for now: the load failed, every frame it was to
    // decode is decoded, or the store has no room before playback moves on.
    void WaitUntilIdle();
    // Frames the worker has decoded.
    uint64_t FramesDecoded() const { return framesDecoded_.load(std::memory_order_relaxed); }
    // The runtime memory the load holds while it plays: file, frame store, decoder canvases.
    uint64_t HeldBytes() const;

    // ----- the worker
    // The worker's whole life with the load; returns the holder's reference once it has been
    // handed over (or nothing, when the unload told the worker to end first), so that the worker
    // drops the last two references together. Nothing is thrown out of it.
    std::shared_ptr<WorkerLoad> Run() noexcept;
    // Keeps a line for the host's thread; a line there is no memory for is dropped.
    void Note(PendingLogLine line) noexcept;
    // From any thread, under the module's worker lock: the module is being unloaded, so the worker
    // ends as soon as it can and no longer waits for its holder.
    void Abandon();

private:
    // The load's sequence (EffectLoad.h), as a worker runs it.
    platform::FileRead Read(uint64_t maxBytes, const uint8_t*& data, uint64_t& size,
                            uint64_t& read) override;
    void Line(const LoadLine& line) override;
    void FirstFrame(const uint8_t* canvas) override;
    bool Stopped() const override { return stop_.load(std::memory_order_relaxed); }
    bool Load();
    void AdoptStore();
    void SetUpPlayback();
    // WorkerStill.cpp
    void LoadStillPicture();
    void KeepStill();
    void HandBackToHost();
    void DecodeAhead();
    bool WaitForRoom(uint64_t next, uint64_t& from);
    bool Room(uint64_t next) const;
    void DecodeOne(uint64_t sequence, bool store);
    void Fail(PendingLogLine line) noexcept;
    void FailForLackOfMemory() noexcept;
    void Drop() noexcept;
    void NoteDecodeFailure(uint32_t frame) noexcept;
    void MarkReady();
    uint32_t FrameBytes() const { return width * height * 4u; }
    uint64_t LastSequence() const;

    platform::System& system_;
    const uint64_t budgetBytes_;
    FrameDecoder Decoder() { return FrameDecoder(format, animation_, webp_); }
    gif_animation animation_;
    WebpAnimation webp_{};
    bool holdsDecoder_ = false;
    std::vector<uint8_t> fileData_;
    LoadedEffect loaded_;  // what the sequence made; its blocks until AdoptStore takes them
    std::vector<uint8_t> stillPixels_;
    // The store's blocks, from the runtime's heap (AllocateStore).
    struct RuntimeBlock {
        void operator()(void* block) const noexcept { ::operator delete(block); }
    };
    std::unique_ptr<uint8_t[], RuntimeBlock> store_;  // `slots` frames of width x height RGBA
    FrameStore frames_;                               // how store_ is laid out
    // What each slot holds, kEmpty: nothing.
    std::unique_ptr<std::atomic<uint64_t>[], RuntimeBlock> slotKeys_;
    std::unique_ptr<FrameMark[], RuntimeBlock> frameFailed_;  // per frame: marked once it failed
    std::atomic<bool> ready_{false};
    std::atomic<bool> stop_{false};
    std::atomic<bool> hasLines_{false};
    std::atomic<uint64_t> framesDecoded_{0};

    std::mutex mutex_;
    std::condition_variable wake_;     // the worker: room in the store, or stop
    std::condition_variable changed_;  // the host's thread: ready, idle
    // Guarded by mutex_.
    std::vector<PendingLogLine> lines_;
    size_t linesErased_ = 0;   // lines written and freed since the load began
    size_t linesWritten_ = 0;  // lines_ the host's thread has written; the worker frees them
    uint64_t from_ = 0;        // playback reads no frame before this one (0: the swap)
    // The worker's life with the load, one state: Loading until MarkReady, then Running, which
    // WaitForRoom leaves for WaitingForRoom until Follow or a stop makes room; Finished once Run
    // has nothing more to do, and Gone once it has let go of the load. Ready() is published apart,
    // for the host's thread to read without the lock.
    enum class Life : uint8_t { Loading, Running, WaitingForRoom, Finished, Gone };
    Life life_ = Life::Loading;
    uint64_t waitingAt_ = 0;  // the sequence it waits to store, while WaitingForRoom
    // What ends the worker's wait once it is Finished: its holder let go (handedOver_ then holds
    // the holder's reference), or the unload told it to end. stop_ mirrors either for the worker's
    // checks without the lock.
    enum class Request : uint8_t { None, LetGo, Abandon };
    Request request_ = Request::None;
    std::shared_ptr<WorkerLoad> handedOver_;
};

// Starts a worker thread on `load`, which it holds until it ends (host). False when no thread
// could be started, or the module is being unloaded: the caller then loads at once.
bool StartWorker(const std::shared_ptr<WorkerLoad>& load);

// For the module's unload (host): tells every worker to end and waits until all have ended and
// been joined, but no longer than `bound`. A worker ends within the frame or the read it is in,
// so only a read that hangs (a network share that stopped answering) outlasts the bound; false
// then, with that worker still running. Later loads are made at once until ReopenWorkers.
bool EndWorkers(std::chrono::milliseconds bound);
// The module is loaded again: loads may start workers again.
void ReopenWorkers();

// Module-wide, for tests and host programs: workers outlive the holders that started them.
// Workers still running.
uint64_t RunningWorkers();
// Frames decoded by every worker so far.
uint64_t WorkerFramesDecoded();
// Waits until no more than `atMost` workers run: as long as that takes.
void WaitForWorkersToEnd(uint64_t atMost = 0);
// Counts a frame a worker decoded, for WorkerFramesDecoded.
void CountWorkerFrame();
// Test builds: `hook` runs on each worker as the last thing it does in the module's code, after it
// has counted itself out; null (the default) for none.
void SetWorkerEndHookForTests(void (*hook)());
