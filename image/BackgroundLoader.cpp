#include "image/BackgroundLoader.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <thread>

#include "image/GifBitmap.h"
#include "platform/Platform.h"

namespace {

constexpr uint32_t kMaxGifSide = 4096;
constexpr uint64_t kEmpty = std::numeric_limits<uint64_t>::max();

// The load whose bitmap callbacks run on this thread: they get no context from libnsgif.
thread_local GifStream* callbackStream = nullptr;
void NoteCanvasFromCallback(const wchar_t* what, int width, int height) noexcept;

// Workers running, module-wide. Plain data: the module keeps no static object that needs a
// destructor, so the lock and the signal are made in static storage once and never destroyed
// (nor allocated, so that nothing is left behind when the module is unloaded).
std::atomic<uint64_t> runningStreams{0};
std::atomic<uint64_t> framesDecodedByStreams{0};
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

std::wstring Canvas(int width, int height) {
    return std::to_wstring(width) + L" x " + std::to_wstring(height);
}

// The holder's bitmap callbacks, with the C runtime's memory and the same limit and texts.
void* CreateBitmap(int width, int height) noexcept {
    if (width <= 0 || height <= 0)
        return nullptr;
    const uint64_t area = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (area > kMaxGifBitmapArea) {
        NoteCanvasFromCallback(L"refused", width, height);
        return nullptr;
    }
    // Cleared, as the holder's: a frame that fails early never shows what the heap held.
    void* bitmap = std::calloc(static_cast<size_t>(area), 4);
    if (!bitmap)
        NoteCanvasFromCallback(L"not enough memory for", width, height);
    return bitmap;
}

void DestroyBitmap(void* bitmap) {
    std::free(bitmap);
}

unsigned char* BitmapBuffer(void* bitmap) {
    return static_cast<unsigned char*>(bitmap);
}

void SetBitmapOpaque(void*, bool) {}

bool TestBitmapOpaque(void*) {
    return false;
}

void BitmapModified(void*) {}

gif_bitmap_callback_vt RuntimeBitmapCallbacks() {
    return {&CreateBitmap,    &DestroyBitmap,    &BitmapBuffer,
            &SetBitmapOpaque, &TestBitmapOpaque, &BitmapModified};
}

// As the holder's: 0 and 65535 or more play forever (0 returned), N plays the frames N times.
uint64_t LoopLimitOf(int count) {
    return count <= 0 || count >= 65535 ? 0 : static_cast<uint64_t>(count);
}

}  // namespace

GifStream::GifStream(std::wstring path, platform::System& system, uint64_t budgetBytes)
    : path(std::move(path)), system_(system), budgetBytes_(budgetBytes), animation_() {}

GifStream::~GifStream() {
    if (holdsDecoder_)
        gif_finalise(&animation_);
}

void GifStream::Run() {
    try {
        callbackStream = this;
        if (still)
            LoadStillPicture();
        else if (ReadFile() && Scan() && SetUpStore() && DecodeFirstFrame())
            DecodeAhead();
    } catch (...) {
        // Out of memory for a line or a table: what was built goes, unless playback has it.
        if (!Ready())
            Fail(false, L"BitmapImage: Warning, not enough memory to load gif " + path);
    }
    callbackStream = nullptr;
    std::unique_lock<std::mutex> lock(mutex_);
    finished_ = true;
    idle_ = true;
    changed_.notify_all();
    // An animation stays with its worker until playback lets go of it, so that its memory goes back
    // to the system here and not in a frame of the host's thread; so does a still's picture, until
    // the host's thread has made its texture.
    if ((outcome == Outcome::Animated || outcome == Outcome::Still) && Ready())
        wake_.wait(lock, [this] { return Stopped(); });
    if (outcome == Outcome::Still) {
        lock.unlock();
        std::vector<uint8_t>().swap(stillPixels_);
    }
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
            Fail(true, L"BitmapImage::Init: could not open gif file '" + path + L"'");
            return false;
        case platform::FileRead::TooLarge:
            Fail(false, L"BitmapImage: Warning, gif " + path + L" is too large to load (" +
                            std::to_wstring(size) + L" bytes)");
            return false;
        case platform::FileRead::NoMemory:
            Fail(false, L"BitmapImage: Warning, not enough memory to read gif " + path + L" (" +
                            std::to_wstring(size) + L" bytes)");
            return false;
        case platform::FileRead::ShortRead:
            Fail(false, L"BitmapImage: Warning, read only " + std::to_wstring(fileData_.size()) +
                            L" of " + std::to_wstring(size) + L" bytes of gif " + path);
            return false;
    }
    return false;
}

// As the holder's scan and size checks: the canvas is libnsgif's after the scan, and the frames
// are those up to the first one not meant for display.
bool GifStream::Scan() {
    const size_t size = fileData_.size();
    // An empty file still gets a byte to point at, so that it is reported as corrupt.
    if (size == 0)
        fileData_.push_back(0);
    gif_bitmap_callback_vt callbacks = RuntimeBitmapCallbacks();
    gif_create(&animation_, &callbacks);
    holdsDecoder_ = true;
    gif_result result;
    do {
        result = gif_initialise(&animation_, size, fileData_.data());
    } while (result == GIF_WORKING);
    if (result != GIF_OK) {
        Fail(false,
             L"BitmapImage: Warning, couldn't initialise gif " + path + L", it is likely corrupt");
        return false;
    }
    while (frameCount < animation_.frame_count && animation_.frames[frameCount].display)
        ++frameCount;
    const uint32_t w = animation_.width;
    const uint32_t h = animation_.height;
    if (w > kMaxGifSide || h > kMaxGifSide) {
        Fail(false, L"BitmapImage: Warning, bad texture dimensions " +
                        Canvas(static_cast<int>(w), static_cast<int>(h)) + L" in " + path);
        return false;
    }
    // The same limit as a load at once, so that both refuse the same files.
    const uint64_t bytes64 = static_cast<uint64_t>(frameCount) * h * w * 4;
    const uint32_t bytes32 = frameCount * h * w * 4u;
    if (bytes64 != bytes32) {
        Fail(false, L"BitmapImage: Warning, gif " + path +
                        L" overflowed maximum pointer size and was not loaded (" +
                        std::to_wstring(bytes64) + L" > " + std::to_wstring(bytes32) + L")");
        return false;
    }
    width = w;
    height = h;
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
    for (uint32_t i = 0; i < frameCount; ++i) {
        // Centiseconds to seconds in single precision, as the holder does: 10 cs is 0.099999994.
        float delay = static_cast<float>(animation_.frames[i].frame_delay) * 0.01f;
        frameDelays.push_back(delay == 0.0f ? 0.1f : delay);
    }
    const uint64_t fit = budgetBytes_ / FrameBytes();
    slots = fit >= frameCount ? frameCount : static_cast<uint32_t>(fit < 2 ? 2 : fit);
    slotKeys_.reset(new (std::nothrow) std::atomic<uint64_t>[slots]);
    frameFailed_.reset(new (std::nothrow) std::atomic<uint8_t>[frameCount]);
    if (!slotKeys_ || !frameFailed_) {
        Fail(false, L"BitmapImage: Warning, not enough memory for the frame table of gif " + path);
        return false;
    }
    for (uint32_t i = 0; i < slots; ++i)
        slotKeys_[i].store(kEmpty, std::memory_order_relaxed);
    for (uint32_t i = 0; i < frameCount; ++i)
        frameFailed_[i].store(0, std::memory_order_relaxed);
    const uint64_t storeBytes = static_cast<uint64_t>(slots) * FrameBytes();
    store_.reset(new (std::nothrow) uint8_t[storeBytes]);
    if (!store_) {
        Fail(false, L"BitmapImage: Warning, not enough memory for the " + std::to_wstring(slots) +
                        L" frames of gif " + path + L" (" + std::to_wstring(storeBytes) +
                        L" bytes)");
        return false;
    }
    return true;
}

bool GifStream::DecodeFirstFrame() {
    if (Stopped())
        return false;
    DecodeOne(0, true);
    outcome = Outcome::Animated;
    MarkReady();
    return true;
}

// In sequence, frame after frame: each pass of a ring decodes the animation again, since libnsgif
// builds each frame on the one before. Frames that playback has left behind are decoded only as
// far as libnsgif needs them, and not stored.
void GifStream::DecodeAhead() {
    const bool whole = slots == frameCount;
    const uint64_t last = LastSequence();
    for (uint64_t next = 1; next <= last; ++next) {
        uint64_t due = 0;
        if (!WaitForRoom(next, due))
            return;
        if (!whole && due > next) {
            const uint64_t passStart = due - due % frameCount;
            if (passStart > next)
                next = passStart;
        }
        DecodeOne(next, whole || next >= due);
    }
}

uint64_t GifStream::LastSequence() const {
    if (slots == frameCount)
        return frameCount - 1;
    const uint64_t limit = LoopLimitOf(loopCount);
    return limit == 0 ? kEmpty - 1 : limit * frameCount - 1;
}

// False when the load was given up meanwhile.
bool GifStream::WaitForRoom(uint64_t next, uint64_t& due) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto room = [this, next] {
        return next < due_ || static_cast<int64_t>(next) <= reached_ + static_cast<int64_t>(slots);
    };
    if (!Stopped() && !room()) {
        idle_ = true;
        waitingAt_ = next;
        changed_.notify_all();
        wake_.wait(lock, [this, &room] { return Stopped() || room(); });
        idle_ = false;
    }
    due = due_;
    return !Stopped();
}

uint64_t GifStream::KeyOf(uint64_t sequence) const {
    return slots == frameCount ? sequence % frameCount : sequence;
}

void GifStream::DecodeOne(uint64_t sequence, bool store) {
    const uint32_t frame = static_cast<uint32_t>(sequence % frameCount);
    const bool decoded = gif_decode_frame(&animation_, frame) == GIF_OK;
    framesDecoded_.fetch_add(1, std::memory_order_relaxed);
    framesDecodedByStreams.fetch_add(1, std::memory_order_relaxed);
    if (!decoded && frameFailed_[frame].exchange(1) == 0)
        Note(false, L"BitmapImage: Warning, couldn't decode frame " + std::to_wstring(frame) +
                        L" of " + path);
    // Frame 0 keeps what libnsgif made of it even when it failed: the texture starts with it.
    if (!store || (!decoded && sequence != 0))
        return;
    const uint64_t key = KeyOf(sequence);
    const uint32_t slot = static_cast<uint32_t>(key % slots);
    uint8_t* pixels = store_.get() + static_cast<size_t>(slot) * FrameBytes();
    const unsigned char* canvas =
        animation_.frame_image ? BitmapBuffer(animation_.frame_image) : nullptr;
    if (canvas)
        std::memcpy(pixels, canvas, FrameBytes());
    else
        std::memset(pixels, 0, FrameBytes());
    if (decoded)
        slotKeys_[slot].store(key, std::memory_order_release);
}

void GifStream::Note(bool warning, std::wstring text) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(PendingLogLine{warning, std::move(text)});
    hasLines_.store(true, std::memory_order_release);
}

// Lets go of everything but the lines, so that the host's thread gets a small object.
void GifStream::Fail(bool warning, std::wstring text) {
    Note(warning, std::move(text));
    if (holdsDecoder_)
        gif_finalise(&animation_);
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

void GifStream::TakeLines(std::vector<PendingLogLine>& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (PendingLogLine& line : lines_)
        out.push_back(std::move(line));
    lines_.clear();
    hasLines_.store(false, std::memory_order_release);
}

const uint8_t* GifStream::Frame(uint64_t sequence) const {
    const uint64_t key = KeyOf(sequence);
    const uint32_t slot = static_cast<uint32_t>(key % slots);
    if (slotKeys_[slot].load(std::memory_order_acquire) != key)
        return nullptr;
    return store_.get() + static_cast<size_t>(slot) * FrameBytes();
}

bool GifStream::FrameFailed(uint32_t frame) const {
    return frameFailed_[frame].load(std::memory_order_relaxed) != 0;
}

void GifStream::Follow(int64_t reached, uint64_t due) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (reached == reached_ && due == due_)
            return;
        reached_ = reached;
        due_ = due;
        // Idle no more once there is room: WaitUntilIdle then waits for the frames it makes.
        if (idle_ && !finished_ &&
            (waitingAt_ < due_ ||
             static_cast<int64_t>(waitingAt_) <= reached_ + static_cast<int64_t>(slots)))
            idle_ = false;
    }
    wake_.notify_one();
}

void GifStream::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_.store(true, std::memory_order_relaxed);
    }
    wake_.notify_one();
    changed_.notify_all();
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
    return fileData_.capacity() + static_cast<uint64_t>(slots) * FrameBytes() + FrameBytes();
}

namespace {

// Called from inside libnsgif, which is C: nothing may be thrown through it, so the line is
// built here, inside the handler, and dropped when there is no memory for it.
void NoteCanvasFromCallback(const wchar_t* what, int width, int height) noexcept {
    try {
        if (callbackStream)
            callbackStream->Note(false, std::wstring(L"BitmapImage: Warning, ") + what +
                                            L" a gif canvas of " + Canvas(width, height) +
                                            L" pixels");
    } catch (...) {
    }
}

}  // namespace

bool StartGifStream(const std::shared_ptr<GifStream>& stream) {
    runningStreams.fetch_add(1);
    try {
        std::thread([held = stream]() mutable {
            held->Run();
            // The last holder frees the load, here when playback has let go of it already.
            held.reset();
            std::lock_guard<std::mutex> lock(EndMutex());
            runningStreams.fetch_sub(1);
            EndSignal().notify_all();
        }).detach();
    } catch (...) {
        runningStreams.fetch_sub(1);
        return false;
    }
    return true;
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
