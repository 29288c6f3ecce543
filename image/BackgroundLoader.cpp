#include "image/BackgroundLoader.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "image/GifBitmap.h"
#include "platform/Platform.h"

namespace {

constexpr uint32_t kMaxGifSide = 4096;

// Where the bitmap callbacks of the load on this thread keep their lines: they get no context
// from libnsgif. Set for the length of one load.
thread_local std::vector<PendingLogLine>* callbackLines = nullptr;

void Note(std::vector<PendingLogLine>& lines, bool warning, std::wstring text) {
    lines.push_back(PendingLogLine{warning, std::move(text)});
}

std::wstring Canvas(int width, int height) {
    return std::to_wstring(width) + L" x " + std::to_wstring(height);
}

// Called from inside libnsgif, which is C: nothing may be thrown through it, so the line is
// built here, inside the handler, and dropped when there is no memory for it.
void NoteCanvasFromCallback(const wchar_t* what, int width, int height) noexcept {
    try {
        if (callbackLines)
            Note(*callbackLines, false,
                 std::wstring(L"BitmapImage: Warning, ") + what + L" a gif canvas of " +
                     Canvas(width, height) + L" pixels");
    } catch (...) {
    }
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

class CallbackLinesScope {
public:
    explicit CallbackLinesScope(std::vector<PendingLogLine>& lines) { callbackLines = &lines; }
    ~CallbackLinesScope() { callbackLines = nullptr; }
    CallbackLinesScope(const CallbackLinesScope&) = delete;
    CallbackLinesScope& operator=(const CallbackLinesScope&) = delete;
};

// Lets go of everything but the lines, on the worker, so that the host's thread gets a small
// object to install.
void Finish(LoadedGif& out, LoadedGif::Outcome outcome) {
    if (out.holdsDecoder)
        gif_finalise(&out.animation);
    out.holdsDecoder = false;
    std::vector<uint8_t>().swap(out.fileData);
    out.frameStore.reset();
    std::vector<uint8_t*>().swap(out.frameCache);
    std::vector<float>().swap(out.frameDelays);
    out.frameCount = 0;
    out.outcome = outcome;
}

void Fail(LoadedGif& out, bool warning, std::wstring text) {
    Note(out.lines, warning, std::move(text));
    Finish(out, LoadedGif::Outcome::Failed);
}

bool ReadGif(platform::System& system, const std::function<bool()>& stop, LoadedGif& out,
             bool& stopped) {
    const std::wstring& path = out.path;
    uint64_t size = 0;
    const platform::FileRead read =
        system.ReadWholeFile(path.c_str(), UINT32_MAX, out.fileData, size, stop);
    switch (read) {
        case platform::FileRead::Done:
            return true;
        case platform::FileRead::Stopped:
            stopped = true;
            return false;
        case platform::FileRead::NotOpened:
            Fail(out, true, L"BitmapImage::Init: could not open gif file '" + path + L"'");
            return false;
        case platform::FileRead::TooLarge:
            Fail(out, false,
                 L"BitmapImage: Warning, gif " + path + L" is too large to load (" +
                     std::to_wstring(size) + L" bytes)");
            return false;
        case platform::FileRead::NoMemory:
            Fail(out, false,
                 L"BitmapImage: Warning, not enough memory to read gif " + path + L" (" +
                     std::to_wstring(size) + L" bytes)");
            return false;
        case platform::FileRead::ShortRead:
            Fail(out, false,
                 L"BitmapImage: Warning, read only " + std::to_wstring(out.fileData.size()) +
                     L" of " + std::to_wstring(size) + L" bytes of gif " + path);
            return false;
    }
    return false;
}

// As the holder's scan and size checks: the canvas is libnsgif's after the scan, and the frames
// are those up to the first one not meant for display.
bool ScanAndCheck(LoadedGif& out) {
    const std::wstring& path = out.path;
    const size_t size = out.fileData.size();
    // An empty file still gets a byte to point at, so that it is reported as corrupt.
    if (size == 0)
        out.fileData.push_back(0);
    gif_result result;
    do {
        result = gif_initialise(&out.animation, size, out.fileData.data());
    } while (result == GIF_WORKING);
    if (result != GIF_OK) {
        Fail(out, false,
             L"BitmapImage: Warning, couldn't initialise gif " + path + L", it is likely corrupt");
        return false;
    }
    out.frameCount = 0;
    while (out.frameCount < out.animation.frame_count &&
           out.animation.frames[out.frameCount].display)
        ++out.frameCount;

    const uint32_t w = out.animation.width;
    const uint32_t h = out.animation.height;
    if (w > kMaxGifSide || h > kMaxGifSide) {
        Fail(out, false,
             L"BitmapImage: Warning, bad texture dimensions " +
                 Canvas(static_cast<int>(w), static_cast<int>(h)) + L" in " + path);
        return false;
    }
    const uint64_t bytes64 = static_cast<uint64_t>(out.frameCount) * h * w * 4;
    const uint32_t bytes32 = out.frameCount * h * w * 4u;
    if (bytes64 != bytes32) {
        Fail(out, false,
             L"BitmapImage: Warning, gif " + path +
                 L" overflowed maximum pointer size and was not loaded (" +
                 std::to_wstring(bytes64) + L" > " + std::to_wstring(bytes32) + L")");
        return false;
    }
    return true;
}

// Every frame in order, each straight into its slot of the store. A frame that fails keeps what
// the decoder left in its slot, as the holder's texture would, but is not marked as cached.
bool DecodeFrames(const std::function<bool()>& stop, LoadedGif& out, bool& stopped) {
    const std::wstring& path = out.path;
    const uint32_t frameBytes = out.animation.width * out.animation.height * 4u;
    try {
        out.frameCache.assign(out.frameCount, nullptr);
    } catch (const std::bad_alloc&) {
        Fail(out, false,
             L"BitmapImage: Warning, not enough memory for the frame table of gif " + path);
        return false;
    }
    out.frameStore.reset(new (std::nothrow)
                             uint8_t[static_cast<size_t>(out.frameCount) * frameBytes]);
    if (!out.frameStore) {
        Fail(out, false,
             L"BitmapImage: Warning, not enough memory for the " + std::to_wstring(out.frameCount) +
                 L" frames of gif " + path + L" (" + std::to_wstring(out.frameCount * frameBytes) +
                 L" bytes)");
        return false;
    }
    out.frameDelays.reserve(out.frameCount);
    for (uint32_t i = 0; i < out.frameCount; ++i) {
        if (stop()) {
            stopped = true;
            return false;
        }
        // Centiseconds to seconds in single precision, as the holder does: 10 cs is 0.099999994.
        float delay = static_cast<float>(out.animation.frames[i].frame_delay) * 0.01f;
        if (delay == 0.0f)
            delay = 0.1f;
        out.frameDelays.push_back(delay);

        const bool decoded = gif_decode_frame(&out.animation, i) == GIF_OK;
        uint8_t* slot = out.frameStore.get() + static_cast<size_t>(i) * frameBytes;
        const unsigned char* pixels =
            out.animation.frame_image ? BitmapBuffer(out.animation.frame_image) : nullptr;
        if (pixels)
            std::memcpy(slot, pixels, frameBytes);
        else
            std::memset(slot, 0, frameBytes);
        if (decoded)
            out.frameCache[i] = slot;
        else
            Note(out.lines, false,
                 L"BitmapImage: Warning, couldn't decode frame " + std::to_wstring(i) + L" of " +
                     path);
    }
    out.lastDecodedFrame = out.frameCount - 1;
    return true;
}

}  // namespace

LoadedGif::~LoadedGif() {
    if (holdsDecoder)
        gif_finalise(&animation);
}

bool LoadGifWithoutHost(platform::System& system, const std::function<bool()>& stop,
                        LoadedGif& out) {
    bool stopped = false;
    try {
        if (!ReadGif(system, stop, out, stopped))
            return !stopped;
        if (stop())
            return false;
        gif_bitmap_callback_vt callbacks = RuntimeBitmapCallbacks();
        gif_create(&out.animation, &callbacks);
        out.holdsDecoder = true;
        CallbackLinesScope scope(out.lines);
        if (!ScanAndCheck(out))
            return true;
        if (out.frameCount <= 1) {
            Finish(out, LoadedGif::Outcome::LoadAsStill);
            return true;
        }
        out.linesBeforeTexture = out.lines.size();
        if (!DecodeFrames(stop, out, stopped))
            return !stopped;
        out.outcome = LoadedGif::Outcome::Animated;
        return true;
    } catch (...) {
        // Out of memory: the lines so far stay, what was built goes.
        Finish(out, LoadedGif::Outcome::Failed);
        try {
            Note(out.lines, false,
                 L"BitmapImage: Warning, not enough memory to load gif " + out.path);
        } catch (...) {
        }
        return true;
    }
}

BackgroundLoader::~BackgroundLoader() {
    if (!worker_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        wanted_ = 0;
    }
    wake_.notify_one();
    worker_.join();
}

bool BackgroundLoader::Start(const std::wstring& path, platform::System& system) {
    std::unique_ptr<LoadedGif> job;
    try {
        job.reset(new LoadedGif);
        job->path = path;
        if (!worker_.joinable())
            worker_ = std::thread(&BackgroundLoader::Run, this);
    } catch (...) {
        Abandon();
        return false;
    }
    // A job the worker has not picked up yet is dropped here; it holds nothing but its path.
    std::unique_ptr<LoadedGif> replaced;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        replaced = std::move(job_);
        job_ = std::move(job);
        jobSystem_ = &system;
        jobNumber_ = ++lastNumber_;
        wanted_ = jobNumber_;
    }
    wake_.notify_one();
    pending_ = true;
    return true;
}

void BackgroundLoader::Abandon() {
    if (!pending_)
        return;
    pending_ = false;
    std::unique_ptr<LoadedGif> replaced;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        replaced = std::move(job_);
        wanted_ = 0;
    }
    // The worker frees a finished load that nobody will take.
    wake_.notify_one();
}

std::unique_ptr<LoadedGif> BackgroundLoader::TakeFinished() {
    if (!pending_)
        return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!done_ || doneNumber_ != lastNumber_)
        return nullptr;
    pending_ = false;
    return std::move(done_);
}

void BackgroundLoader::WaitUntilFinished() {
    if (!pending_)
        return;
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [this] { return done_ && doneNumber_ == lastNumber_; });
}

void BackgroundLoader::Dispose(std::unique_ptr<LoadedGif> content) {
    if (!content || !worker_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        try {
            toFree_.push_back(std::move(content));
        } catch (...) {
            // Freed here after all, once the lock is let go.
        }
    }
    wake_.notify_one();
}

void BackgroundLoader::Run() {
    // Small enough to be held inside the function object: nothing here can fail to allocate.
    const std::function<bool()> stop = [this] { return wanted_.load() != workerNumber_; };
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] {
            return quit_ || job_ || !toFree_.empty() || (done_ && doneNumber_ != wanted_);
        });
        std::vector<std::unique_ptr<LoadedGif>> freeing;
        freeing.swap(toFree_);
        std::unique_ptr<LoadedGif> unwanted;
        if (done_ && doneNumber_ != wanted_)
            unwanted = std::move(done_);
        std::unique_ptr<LoadedGif> job = std::move(job_);
        platform::System* system = jobSystem_;
        workerNumber_ = jobNumber_;
        const bool quit = quit_;
        lock.unlock();

        freeing.clear();
        unwanted.reset();
        if (quit)
            return;
        if (job) {
            const bool finished = LoadGifWithoutHost(*system, stop, *job);
            lock.lock();
            if (finished && wanted_.load() == workerNumber_) {
                unwanted = std::move(done_);
                done_ = std::move(job);
                doneNumber_ = workerNumber_;
                finished_.notify_all();
            }
            lock.unlock();
            job.reset();
            unwanted.reset();
        }
        lock.lock();
    }
}
