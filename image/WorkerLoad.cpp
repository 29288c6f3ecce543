#include "image/WorkerLoad.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <thread>

#include "image/gif/GifBitmap.h"
#include "log/ModuleLog.h"
#include "platform/Platform.h"

namespace {

constexpr uint64_t kEmpty = std::numeric_limits<uint64_t>::max();

// The lines libnsgif's bitmap callbacks would log on a worker, kept with its load.
void NoteFromCallback(void* load, const wchar_t* line) noexcept;

// The worker's memory for its store: the C++ runtime's heap, given back by
// WorkerLoad::RuntimeBlock.
void* AllocateFromRuntime(size_t bytes) {
    return ::operator new(bytes, std::nothrow);
}

}  // namespace

WorkerLoad::WorkerLoad(std::wstring path, platform::System& system, uint64_t budgetBytes)
    : path(std::move(path)), system_(system), budgetBytes_(budgetBytes), animation_() {}

WorkerLoad::~WorkerLoad() {
    if (holdsDecoder_)
        Decoder().Finalise();
}

std::shared_ptr<WorkerLoad> WorkerLoad::Run() noexcept {
    SetGifLineSinkForThisThread(&NoteFromCallback, this);
    try {
        if (still)
            LoadStillPicture();
        else if (Load())
            DecodeAhead();
    } catch (...) {
        // Out of memory for a table or a line: what was built goes, unless playback has it.
        AdoptStore();
        if (!Ready())
            FailForLackOfMemory();
    }
    SetGifLineSinkForThisThread(nullptr, nullptr);
    std::unique_lock<std::mutex> lock(mutex_);
    life_ = Life::Finished;
    changed_.notify_all();
    // The load stays with its worker until the holder lets go of it, so that its memory goes back
    // to the system here and not in a frame of the host's thread.
    wake_.wait(lock, [this] { return request_ != Request::None; });
    life_ = Life::Gone;
    return std::move(handedOver_);
}

void WorkerLoad::Abandon() {
    std::lock_guard<std::mutex> lock(mutex_);
    request_ = Request::Abandon;
    stop_.store(true, std::memory_order_relaxed);
    wake_.notify_all();
    changed_.notify_all();
}

void WorkerLoad::Release(std::shared_ptr<WorkerLoad>& held) {
    if (!held)
        return;
    WorkerLoad& load = *held;
    {
        std::lock_guard<std::mutex> lock(load.mutex_);
        load.stop_.store(true, std::memory_order_relaxed);
        // Notified under the lock: once it is released, the worker may free the load at once.
        load.changed_.notify_all();
        if (load.life_ != Life::Gone) {
            load.handedOver_ = std::move(held);
            if (load.request_ == Request::None)
                load.request_ = Request::LetGo;
            load.wake_.notify_all();
            return;
        }
    }
    held.reset();
}

platform::FileRead WorkerLoad::Read(uint64_t maxBytes, const uint8_t*& data, uint64_t& size,
                                    uint64_t& read) {
    const std::function<bool()> stop = [this] { return Stopped(); };
    const platform::FileRead result =
        system_.ReadWholeFile(path.c_str(), maxBytes, fileData_, size, stop);
    read = fileData_.size();
    // An empty file still gets a byte to point at, so that it is reported as corrupt.
    if (result == platform::FileRead::Done && fileData_.empty())
        fileData_.push_back(0);
    data = fileData_.data();
    return result;
}

// Kept for the host's thread; no memory for the line ends the load (Run).
void WorkerLoad::Line(const LoadLine& line) {
    Note(KeepLoadLine(line));
}

// Where the host's thread makes the texture: the lines so far come before it, the rest after.
void WorkerLoad::FirstFrame(const uint8_t*) {
    std::lock_guard<std::mutex> lock(mutex_);
    linesBeforeTexture = linesErased_ + lines_.size();
}

// The load's sequence with the runtime's memory, the lines kept, and the store within the budget:
// every frame when they all fit, otherwise a ring of as many as fit, two at least, so that one can
// be decoded while the other shows. False when there is nothing more to decode.
bool WorkerLoad::Load() {
    gif_bitmap_callback_vt callbacks = GifBitmapCallbacks(GifMemory::Runtime);
    const LoadRequest request{format,
                              path.c_str(),
                              &callbacks,
                              false,
                              StoreMemory{&AllocateFromRuntime},
                              budgetBytes_,
                              sizeof(std::atomic<uint64_t>),
                              false};
    holdsDecoder_ = true;
    const LoadOutcome result = RunEffectLoad(*this, Decoder(), request, loaded_);
    AdoptStore();
    frameCount = loaded_.scan.frameCount;
    if (result == LoadOutcome::Animation || result == LoadOutcome::Still) {
        width = loaded_.scan.width;
        height = loaded_.scan.height;
    }
    switch (result) {
        case LoadOutcome::Stopped:
            return false;
        case LoadOutcome::Failed:
            Drop();
            return false;
        case LoadOutcome::HostLoader:
            HandBackToHost();
            return false;
        case LoadOutcome::Still:
            KeepStill();
            return false;
        case LoadOutcome::Animation:
            break;
    }
    SetUpPlayback();
    return true;
}

// The store's blocks go to the holders that free them with the runtime's memory.
void WorkerLoad::AdoptStore() {
    StoreBlocks& blocks = loaded_.blocks;
    if (blocks.table)
        slotKeys_.reset(static_cast<std::atomic<uint64_t>*>(blocks.table));
    if (blocks.marks)
        frameFailed_.reset(blocks.marks);
    if (blocks.store)
        store_.reset(blocks.store);
    blocks = StoreBlocks();
}

// Frame 0, decoded by the sequence, goes to its slot (also when a GIF's failed: the texture starts
// with what libnsgif made of it), and the host's thread may swap the load in.
void WorkerLoad::SetUpPlayback() {
    loopCount = animation_.loop_count;
    slots = loaded_.slots;
    FrameDecoder decoder = Decoder();
    frameDelays.reserve(frameCount);
    for (uint32_t i = 0; i < frameCount; ++i)
        frameDelays.push_back(decoder.FrameDelay(i));
    for (uint32_t i = 0; i < slots; ++i)
        new (&slotKeys_[i]) std::atomic<uint64_t>(kEmpty);
    frames_ = FrameStore(store_.get(), slots, frameCount, FrameBytes());
    framesDecoded_.fetch_add(1, std::memory_order_relaxed);
    CountWorkerFrame();
    const uint64_t key = frames_.KeyOf(0);
    const uint32_t slot = frames_.SlotOf(key);
    frames_.Keep(decoder.Canvas(), slot);
    if (loaded_.firstFrameDecoded) {
        slotKeys_[slot].store(key, std::memory_order_release);
    } else {
        frameFailed_[0].store(1, std::memory_order_relaxed);
        NoteDecodeFailure(0);
    }
    outcome = Outcome::Animated;
    MarkReady();
}

// In sequence, frame after frame: each pass of a ring decodes the animation again, since each
// format builds a frame on the one before. Frames that playback has left behind are decoded only as
// far as libnsgif needs them, and not stored: after a stall of the host's thread the worker goes
// straight to the pass that is due.
void WorkerLoad::DecodeAhead() {
    const bool whole = frames_.Whole();
    const uint64_t last = LastSequence();
    for (uint64_t next = 1; next <= last; ++next) {
        uint64_t from = 0;
        if (!WaitForRoom(next, from))
            return;
        if (!whole && from > next) {
            const uint64_t passStart = from - from % frameCount;
            if (passStart > next)
                next = passStart;
        }
        DecodeOne(next, whole || next >= from);
    }
}

uint64_t WorkerLoad::LastSequence() const {
    if (slots == frameCount)
        return frameCount - 1;
    const uint64_t limit = LoopLimitOf(format, loopCount);
    return limit == 0 ? kEmpty - 1 : limit * frameCount - 1;
}

// Under mutex_. A ring stores no further than it holds past the first frame playback may still
// read, so that a slot playback reads is never written meanwhile.
bool WorkerLoad::Room(uint64_t next) const {
    return slots == frameCount || next < from_ + slots;
}

// False when the load was given up meanwhile.
bool WorkerLoad::WaitForRoom(uint64_t next, uint64_t& from) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!Stopped() && !Room(next)) {
        life_ = Life::WaitingForRoom;
        waitingAt_ = next;
        changed_.notify_all();
        wake_.wait(lock, [this, next] { return Stopped() || Room(next); });
        life_ = Life::Running;
    }
    from = from_;
    return !Stopped();
}

void WorkerLoad::DecodeOne(uint64_t sequence, bool store) {
    const uint32_t frame = static_cast<uint32_t>(sequence % frameCount);
    FrameDecoder decoder = Decoder();
    const FrameDecodeResult result = decoder.Decode(frame, frameFailed_.get());
    const bool decoded = result == FrameDecodeResult::Decoded;
    framesDecoded_.fetch_add(1, std::memory_order_relaxed);
    CountWorkerFrame();
    if (result == FrameDecodeResult::FailedAtFirst)
        NoteDecodeFailure(frame);
    // Frame 0 keeps what libnsgif made of it even when it failed: the texture starts with it.
    if (!store || (!decoded && sequence != 0))
        return;
    const uint64_t key = frames_.KeyOf(sequence);
    const uint32_t slot = frames_.SlotOf(key);
    frames_.Keep(decoder.Canvas(), slot);
    if (decoded)
        slotKeys_[slot].store(key, std::memory_order_release);
}

void WorkerLoad::NoteDecodeFailure(uint32_t frame) noexcept {
    try {
        Note(KeepLoadLine(LoadLine{LoadFailure::FrameNotDecoded, format, path.c_str(), frame, 0}));
    } catch (...) {
        // No memory for the line: playback goes on without it.
    }
}

// The lines the host's thread has written are freed here, on the worker's thread.
void WorkerLoad::Note(PendingLogLine line) noexcept {
    try {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(linesWritten_));
        linesErased_ += linesWritten_;
        linesWritten_ = 0;
        lines_.push_back(std::move(line));
        hasLines_.store(true, std::memory_order_release);
    } catch (...) {
    }
}

void WorkerLoad::FailForLackOfMemory() noexcept {
    try {
        Fail(KeepLoadLine(LoadLine{LoadFailure::NoMemoryToLoad, format, path.c_str(), 0, 0}));
        return;
    } catch (...) {
    }
    Drop();  // not even the line fits: the placeholder without it
}

void WorkerLoad::Fail(PendingLogLine line) noexcept {
    Note(std::move(line));
    Drop();
}

// Lets go of everything but the lines, so that the host's thread gets a small object.
void WorkerLoad::Drop() noexcept {
    if (holdsDecoder_)
        Decoder().Finalise();
    holdsDecoder_ = false;
    std::vector<uint8_t>().swap(fileData_);
    store_.reset();
    frameDelays.clear();
    frameCount = 0;
    outcome = Outcome::Failed;
    MarkReady();
}

void WorkerLoad::MarkReady() {
    std::lock_guard<std::mutex> lock(mutex_);
    life_ = Life::Running;
    ready_.store(true, std::memory_order_release);
    changed_.notify_all();
}

void WorkerLoad::WriteLines(size_t upTo, void (*write)(const PendingLogLine&)) {
    std::lock_guard<std::mutex> lock(mutex_);
    while (linesWritten_ < lines_.size() && linesErased_ + linesWritten_ < upTo)
        write(lines_[linesWritten_++]);
    hasLines_.store(linesWritten_ < lines_.size(), std::memory_order_release);
}

const uint8_t* WorkerLoad::Frame(uint64_t sequence) const {
    const uint64_t key = frames_.KeyOf(sequence);
    const uint32_t slot = frames_.SlotOf(key);
    if (slotKeys_[slot].load(std::memory_order_acquire) != key)
        return nullptr;
    return frames_.Pixels(slot);
}

bool WorkerLoad::FrameFailed(uint32_t frame) const {
    return ::FrameFailed(frameFailed_.get(), frame);
}

void WorkerLoad::Follow(uint64_t from) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (from == from_)
            return;
        from_ = from;
        // Running again once there is room: WaitUntilIdle then waits for the frames it makes.
        if (life_ == Life::WaitingForRoom && Room(waitingAt_))
            life_ = Life::Running;
    }
    wake_.notify_one();
}

void WorkerLoad::WaitUntilReady() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return Stopped() || Ready(); });
}

void WorkerLoad::WaitUntilIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return Stopped() || (Ready() && life_ != Life::Running); });
}

uint64_t WorkerLoad::HeldBytes() const {
    if (outcome != Outcome::Animated)
        return 0;
    // libwebp keeps two canvases (the frame and what it leaves for the next), libnsgif one.
    const uint64_t canvases = format == EffectFormat::Webp ? 2 : 1;
    return fileData_.capacity() + static_cast<uint64_t>(slots) * FrameBytes() +
           canvases * FrameBytes();
}

namespace {

// Called from inside libnsgif, which is C: nothing may be thrown through it, so the line is
// copied here, inside the handler, and dropped when there is no memory for it.
void NoteFromCallback(void* load, const wchar_t* line) noexcept {
    try {
        static_cast<WorkerLoad*>(load)->Note(PendingLogLine{false, line});
    } catch (...) {
    }
}

}  // namespace
