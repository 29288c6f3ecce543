#include "image/BackgroundWorker.h"

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
void NoteFromCallback(void* stream, const wchar_t* line) noexcept;

// Workers, module-wide. Plain data: the module keeps no static object that needs a destructor, so
// the lock and the signal are made in static storage once and never destroyed (nor allocated, so
// that nothing is left behind when the module is unloaded).
struct Worker {
    std::thread thread;
    GifStream* stream;  // while the worker holds the load; cleared before it lets go
    bool ended;         // it has done its last step: a join waits only for the thread's exit
    Worker* next;
};
Worker* workers = nullptr;   // guarded by EndMutex()
bool workersClosed = false;  // guarded by EndMutex(): the module is being unloaded
std::atomic<uint64_t> runningStreams{0};
std::atomic<uint64_t> framesDecodedByStreams{0};
std::atomic<void (*)()> endHookForTests{nullptr};
std::mutex& EndMutex() {
    alignas(std::mutex) static unsigned char storage[sizeof(std::mutex)];
    static std::mutex* mutex = new (storage) std::mutex;
    return *mutex;
}
std::condition_variable& EndSignal() {
    alignas(std::condition_variable) static unsigned char storage[sizeof(std::condition_variable)];
    static std::condition_variable* signal = new (storage) std::condition_variable;
    return *signal;
}

// Takes the workers that have ended out of the list, under EndMutex(); the caller joins them.
Worker* TakeEndedWorkers() {
    Worker* ended = nullptr;
    for (Worker** at = &workers; *at;) {
        Worker* worker = *at;
        if (!worker->ended) {
            at = &worker->next;
            continue;
        }
        *at = worker->next;
        worker->next = ended;
        ended = worker;
    }
    return ended;
}

void JoinAndDelete(Worker* list) {
    while (list) {
        Worker* next = list->next;
        if (list->thread.joinable())
            list->thread.join();
        delete list;
        list = next;
    }
}

// Each new worker joins those that ended before it, on its own thread: the host's thread never
// joins a worker in a frame, and an ended worker's thread does not linger for long.
void JoinEndedWorkers() {
    Worker* ended = nullptr;
    {
        std::lock_guard<std::mutex> lock(EndMutex());
        ended = TakeEndedWorkers();
    }
    JoinAndDelete(ended);
}

// The line as the host's thread would log it. Throws std::bad_alloc when there is no memory for it.
template <LogText line, class... Args>
PendingLogLine Line(Args... args) {
    return {LogEntryOf(line).channel == LogChannel::AppWarning, LogLineText<line>(args...)};
}

// `gif`'s line for a GIF, `webp`'s (the same with the format's name) for a WebP.
template <LogText gif, LogText webp, class... Args>
PendingLogLine LineFor(EffectFormat format, Args... args) {
    return format == EffectFormat::Webp ? Line<webp>(args...) : Line<gif>(args...);
}

// The worker's memory for its store: the C++ runtime's heap, given back by GifStream::RuntimeBlock.
void* AllocateFromRuntime(size_t bytes) {
    return ::operator new(bytes, std::nothrow);
}

}  // namespace

GifStream::GifStream(std::wstring path, platform::System& system, uint64_t budgetBytes)
    : path(std::move(path)), system_(system), budgetBytes_(budgetBytes), animation_() {}

GifStream::~GifStream() {
    if (holdsDecoder_)
        Decoder().Finalise();
}

std::shared_ptr<GifStream> GifStream::Run() noexcept {
    SetGifLineSinkForThisThread(&NoteFromCallback, this);
    try {
        if (still)
            LoadStillPicture();
        else if (ReadFile() && Scan() && SetUpStore() && DecodeFirstFrame())
            DecodeAhead();
    } catch (...) {
        // Out of memory for a table or a line: what was built goes, unless playback has it.
        if (!Ready())
            FailForLackOfMemory();
    }
    SetGifLineSinkForThisThread(nullptr, nullptr);
    std::unique_lock<std::mutex> lock(mutex_);
    finished_ = true;
    idle_ = true;
    changed_.notify_all();
    // The load stays with its worker until the holder lets go of it, so that its memory goes back
    // to the system here and not in a frame of the host's thread.
    wake_.wait(lock, [this] { return handedOver_ || abandoned_; });
    workerGone_ = true;
    return std::move(handedOver_);
}

void GifStream::Abandon() {
    std::lock_guard<std::mutex> lock(mutex_);
    abandoned_ = true;
    stop_.store(true, std::memory_order_relaxed);
    wake_.notify_all();
    changed_.notify_all();
}

void GifStream::Release(std::shared_ptr<GifStream>& stream) {
    if (!stream)
        return;
    GifStream& load = *stream;
    {
        std::lock_guard<std::mutex> lock(load.mutex_);
        load.stop_.store(true, std::memory_order_relaxed);
        // Notified under the lock: once it is released, the worker may free the load at once.
        load.changed_.notify_all();
        if (!load.workerGone_) {
            load.handedOver_ = std::move(stream);
            load.wake_.notify_all();
            return;
        }
    }
    stream.reset();
}

bool GifStream::ReadFile() {
    uint64_t size = 0;
    const std::function<bool()> stop = [this] { return Stopped(); };
    switch (system_.ReadWholeFile(path.c_str(), UINT32_MAX, fileData_, size, stop)) {
        case platform::FileRead::Done:
            return !Stopped();
        case platform::FileRead::Stopped:
            return false;
        case platform::FileRead::NotOpened:
            Fail(LineFor<LogText::GifNotOpened, LogText::WebpNotOpened>(format, path.c_str()));
            return false;
        case platform::FileRead::TooLarge:
            Fail(LineFor<LogText::GifFileTooLarge, LogText::WebpFileTooLarge>(
                format, path.c_str(), static_cast<unsigned long long>(size)));
            return false;
        // Within the limit of UINT32_MAX bytes from here on.
        case platform::FileRead::NoMemory:
            Fail(LineFor<LogText::GifNoMemoryToRead, LogText::WebpNoMemoryToRead>(
                format, path.c_str(), static_cast<unsigned>(size)));
            return false;
        case platform::FileRead::ShortRead:
            Fail(LineFor<LogText::GifShortRead, LogText::WebpShortRead>(
                format, static_cast<unsigned>(fileData_.size()), static_cast<unsigned>(size),
                path.c_str()));
            return false;
    }
    return false;
}

// The scan and its limits (FrameCore.h), with the runtime's memory; a refusal becomes the line the
// host's thread writes at the swap.
bool GifStream::Scan() {
    const size_t size = fileData_.size();
    // An empty file still gets a byte to point at, so that it is reported as corrupt.
    if (size == 0)
        fileData_.push_back(0);
    gif_bitmap_callback_vt callbacks = GifBitmapCallbacks(GifMemory::Runtime);
    Decoder().Create(callbacks);
    holdsDecoder_ = true;
    const FrameScan scan = Decoder().Scan(fileData_.data(), size);
    frameCount = scan.frameCount;
    switch (scan.result) {
        case FrameScanResult::Scanned:
            break;
        case FrameScanResult::Corrupt:
            Fail(LineFor<LogText::GifCorrupt, LogText::WebpCorrupt>(format, path.c_str()));
            return false;
        case FrameScanResult::BadDimensions:
            Fail(Line<LogText::GifBadDimensions>(static_cast<int>(scan.width),
                                                 static_cast<int>(scan.height), path.c_str()));
            return false;
        case FrameScanResult::TooLarge:
            Fail(LineFor<LogText::GifOverflow, LogText::WebpOverflow>(
                format, path.c_str(), static_cast<unsigned long long>(scan.bytes64), scan.bytes32));
            return false;
        case FrameScanResult::TooManyFrames:
            Fail(Line<LogText::WebpTooManyFrames>(path.c_str(), scan.frameCount, kMaxWebpFrames));
            return false;
    }
    width = scan.width;
    height = scan.height;
    loopCount = animation_.loop_count;
    if (frameCount > 1)
        return true;
    KeepSingleFrame();
    return false;
}

// Every frame when they all fit the budget; otherwise a ring of as many as fit, two at least, so
// that one can be decoded while the other shows.
bool GifStream::SetUpStore() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        linesBeforeTexture = lines_.size();
    }
    frameDelays.reserve(frameCount);
    FrameDecoder decoder = Decoder();
    for (uint32_t i = 0; i < frameCount; ++i) {
        frameDelays.push_back(decoder.FrameDelay(i));
    }
    slots = FrameStore::SlotsWithin(budgetBytes_, frameCount, FrameBytes());
    const uint64_t storeBytes = static_cast<uint64_t>(slots) * FrameBytes();
    StoreBlocks blocks;
    const StoreShortage shortage =
        AllocateStore(StoreMemory{&AllocateFromRuntime}, slots, sizeof(std::atomic<uint64_t>),
                      frameCount, storeBytes, false, blocks);
    slotKeys_.reset(static_cast<std::atomic<uint64_t>*>(blocks.table));
    frameFailed_.reset(blocks.marks);
    store_.reset(blocks.store);
    if (shortage == StoreShortage::Table) {
        Fail(LineFor<LogText::GifNoMemoryForFrameTable, LogText::WebpNoMemoryForFrameTable>(
            format, path.c_str()));
        return false;
    }
    for (uint32_t i = 0; i < slots; ++i)
        new (&slotKeys_[i]) std::atomic<uint64_t>(kEmpty);
    frames_ = FrameStore(store_.get(), slots, frameCount, FrameBytes());
    if (shortage == StoreShortage::Store) {
        // Under 2^32 bytes: the scan refused any larger animation.
        Fail(LineFor<LogText::GifNoMemoryForFrames, LogText::WebpNoMemoryForFrames>(
            format, slots, path.c_str(), static_cast<unsigned>(storeBytes)));
        return false;
    }
    return true;
}

bool GifStream::DecodeFirstFrame() {
    if (Stopped())
        return false;
    DecodeOne(0, true);
    if (format == EffectFormat::Webp && FrameFailed(0)) {
        // libwebp composes no frame after one it cannot decode: nothing of this file can be shown.
        // The frame's line is noted; the placeholder follows it.
        Drop();
        return false;
    }
    outcome = Outcome::Animated;
    MarkReady();
    return true;
}

// In sequence, frame after frame: each pass of a ring decodes the animation again, since each
// format builds a frame on the one before. Frames that playback has left behind are decoded only as
// far as libnsgif needs them, and not stored: after a stall of the host's thread the worker goes
// straight to the pass that is due.
void GifStream::DecodeAhead() {
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

uint64_t GifStream::LastSequence() const {
    if (slots == frameCount)
        return frameCount - 1;
    const uint64_t limit = LoopLimitOf(format, loopCount);
    return limit == 0 ? kEmpty - 1 : limit * frameCount - 1;
}

// Under mutex_. A ring stores no further than it holds past the first frame playback may still
// read, so that a slot playback reads is never written meanwhile.
bool GifStream::Room(uint64_t next) const {
    return slots == frameCount || next < from_ + slots;
}

// False when the load was given up meanwhile.
bool GifStream::WaitForRoom(uint64_t next, uint64_t& from) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!Stopped() && !Room(next)) {
        idle_ = true;
        waitingAt_ = next;
        changed_.notify_all();
        wake_.wait(lock, [this, next] { return Stopped() || Room(next); });
        idle_ = false;
    }
    from = from_;
    return !Stopped();
}

void GifStream::DecodeOne(uint64_t sequence, bool store) {
    const uint32_t frame = static_cast<uint32_t>(sequence % frameCount);
    FrameDecoder decoder = Decoder();
    const FrameDecodeResult result = decoder.Decode(frame, frameFailed_.get());
    const bool decoded = result == FrameDecodeResult::Decoded;
    framesDecoded_.fetch_add(1, std::memory_order_relaxed);
    framesDecodedByStreams.fetch_add(1, std::memory_order_relaxed);
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

void GifStream::NoteDecodeFailure(uint32_t frame) noexcept {
    try {
        Note(Line<LogText::GifFrameNotDecoded>(static_cast<int>(frame), path.c_str()));
    } catch (...) {
        // No memory for the line: playback goes on without it.
    }
}

// The lines the host's thread has written are freed here, on the worker's thread.
void GifStream::Note(PendingLogLine line) noexcept {
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

void GifStream::FailForLackOfMemory() noexcept {
    try {
        Fail(
            LineFor<LogText::GifNoMemoryToLoad, LogText::WebpNoMemoryToLoad>(format, path.c_str()));
        return;
    } catch (...) {
    }
    Drop();  // not even the line fits: the placeholder without it
}

void GifStream::Fail(PendingLogLine line) noexcept {
    Note(std::move(line));
    Drop();
}

// Lets go of everything but the lines, so that the host's thread gets a small object.
void GifStream::Drop() noexcept {
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

void GifStream::MarkReady() {
    std::lock_guard<std::mutex> lock(mutex_);
    ready_.store(true, std::memory_order_release);
    changed_.notify_all();
}

void GifStream::WriteLines(size_t upTo, void (*write)(const PendingLogLine&)) {
    std::lock_guard<std::mutex> lock(mutex_);
    while (linesWritten_ < lines_.size() && linesErased_ + linesWritten_ < upTo)
        write(lines_[linesWritten_++]);
    hasLines_.store(linesWritten_ < lines_.size(), std::memory_order_release);
}

const uint8_t* GifStream::Frame(uint64_t sequence) const {
    const uint64_t key = frames_.KeyOf(sequence);
    const uint32_t slot = frames_.SlotOf(key);
    if (slotKeys_[slot].load(std::memory_order_acquire) != key)
        return nullptr;
    return frames_.Pixels(slot);
}

bool GifStream::FrameFailed(uint32_t frame) const {
    return ::FrameFailed(frameFailed_.get(), frame);
}

void GifStream::Follow(uint64_t from) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (from == from_)
            return;
        from_ = from;
        // Idle no more once there is room: WaitUntilIdle then waits for the frames it makes.
        if (idle_ && !finished_ && Room(waitingAt_))
            idle_ = false;
    }
    wake_.notify_one();
}

void GifStream::WaitUntilReady() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return Stopped() || Ready(); });
}

void GifStream::WaitUntilIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return Stopped() || (Ready() && idle_); });
}

uint64_t GifStream::HeldBytes() const {
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
void NoteFromCallback(void* stream, const wchar_t* line) noexcept {
    try {
        static_cast<GifStream*>(stream)->Note(PendingLogLine{false, line});
    } catch (...) {
    }
}

}  // namespace

bool StartGifStream(const std::shared_ptr<GifStream>& stream) {
    Worker* worker = new (std::nothrow) Worker{std::thread(), stream.get(), false, nullptr};
    if (!worker)
        return false;
    std::lock_guard<std::mutex> lock(EndMutex());
    if (workersClosed) {
        delete worker;
        return false;
    }
    try {
        // Made under the lock, so that no one joins the thread before it is in its record.
        worker->thread = std::thread([worker, held = stream]() mutable {
            JoinEndedWorkers();
            std::shared_ptr<GifStream> handedOver = held->Run();
            {
                std::lock_guard<std::mutex> lock(EndMutex());
                worker->stream = nullptr;
            }
            // The last two references go here, and with them the load's memory.
            handedOver.reset();
            held.reset();
            {
                std::lock_guard<std::mutex> lock(EndMutex());
                worker->ended = true;
                runningStreams.fetch_sub(1);
                EndSignal().notify_all();
            }
            if (void (*hook)() = endHookForTests.load())
                hook();
        });
    } catch (...) {
        delete worker;
        return false;
    }
    runningStreams.fetch_add(1);
    worker->next = workers;
    workers = worker;
    return true;
}

bool EndGifStreams(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    Worker* ended = nullptr;
    bool all = false;
    {
        std::unique_lock<std::mutex> lock(EndMutex());
        workersClosed = true;
        for (Worker* worker = workers; worker; worker = worker->next)
            if (worker->stream)
                worker->stream->Abandon();
        all = EndSignal().wait_until(lock, deadline, [] {
            for (Worker* worker = workers; worker; worker = worker->next)
                if (!worker->ended)
                    return false;
            return true;
        });
        ended = TakeEndedWorkers();
    }
    // Each has done its last step; the join waits for its thread to leave the module.
    JoinAndDelete(ended);
    return all;
}

void ReopenGifStreams() {
    std::lock_guard<std::mutex> lock(EndMutex());
    workersClosed = false;
}

uint64_t RunningGifStreams() {
    return runningStreams.load();
}

uint64_t GifStreamFramesDecoded() {
    return framesDecodedByStreams.load();
}

void WaitForGifStreamsToEnd(uint64_t atMost) {
    if (runningStreams.load() <= atMost)
        return;
    std::unique_lock<std::mutex> lock(EndMutex());
    EndSignal().wait(lock, [atMost] { return runningStreams.load() <= atMost; });
}

void SetGifStreamEndHookForTests(void (*hook)()) {
    endHookForTests.store(hook);
}
