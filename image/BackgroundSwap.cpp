// The holder's side of loading in the background: the worker (WorkerLoad.h) reads and
// decodes, and the host's thread installs the load in one step as soon as frame 0 is decoded, with
// the log lines the load has written so far, in the order Init writes them; lines of frames decoded
// later are written by the host's thread as they come.
#include <atomic>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "image/BitmapImage.h"
#include "image/HostWork.h"
#include "image/LoadLines.h"
#include "image/WorkerLoad.h"
#include "log/ModuleLog.h"
#include "platform/Platform.h"

// The loads the holder shares with their workers.
struct WorkerLoads {
    std::shared_ptr<WorkerLoad> pending;  // started, not yet swapped in
    std::shared_ptr<WorkerLoad> shown;    // what playback reads
};

namespace {

void Release(std::shared_ptr<WorkerLoad>& load) {
    WorkerLoad::Release(load);
}

// The host's frames as the holders see them: every holder advances once a frame, so a holder that
// advances again in the frame it last advanced in has begun the next one. Holders live on the
// host's thread; the atomics only keep a test that runs holders on threads of their own defined.
std::atomic<uint32_t> hostFrame{1};
// The frame a load was last swapped in: its texture and frame 0 are that frame's large cost, and
// sources that read one command block finish their loads together.
std::atomic<uint32_t> frameOfLastSwap{0};

}  // namespace

bool BitmapImage::BackgroundLoadPending() const {
    return loads && loads->pending;
}

bool BitmapImage::BackgroundLoadFinished() const {
    return loads && loads->pending && loads->pending->Ready();
}

bool BitmapImage::BackgroundSwapDue() const {
    return BackgroundLoadFinished() && frameOfLastSwap.load(std::memory_order_relaxed) != frameSeen;
}

// A holder is made as if it had advanced in the frame under way: its first Advance then starts
// a frame when it comes after every other holder's (a source made in place of one that swapped).
uint32_t BitmapImage::HostFrameNow() {
    return hostFrame.load(std::memory_order_relaxed);
}

void BitmapImage::CountHostFrame() {
    uint32_t frame = hostFrame.load(std::memory_order_relaxed);
    if (frameSeen == frame) {
        frame += 1;
        hostFrame.store(frame, std::memory_order_relaxed);
    }
    frameSeen = frame;
}

void BitmapImage::WaitForBackgroundLoad() {
    if (!loads)
        return;
    CountHostWork(HostWork::WorkerWaits);
    if (loads->pending) {
        loads->pending->WaitUntilReady();
        loads->pending->WaitUntilIdle();
    }
    if (loads->shown)
        loads->shown->WaitUntilIdle();
}

void BitmapImage::WaitForBackgroundFirstFrame() {
    if (!loads || !loads->pending)
        return;
    CountHostWork(HostWork::WorkerWaits);
    loads->pending->WaitUntilReady();
}

uint64_t BitmapImage::WorkerBytes() const {
    return workerFrames.load ? workerFrames.load->HeldBytes() : 0;
}

uint32_t BitmapImage::WorkerSlots() const {
    return workerFrames.load ? workerFrames.load->slots : 0;
}

// False for an empty path, or when no worker could take the load: Init then loads it at once.
bool BitmapImage::StartBackgroundLoad() {
    const wchar_t* path = filePath.Array();
    if (!path || path[0] == 0)
        return false;
    if (!loads)
        loads = new (std::nothrow) WorkerLoads;
    std::shared_ptr<WorkerLoad> load;
    if (loads) {
        Release(loads->pending);
        try {
            load = std::make_shared<WorkerLoad>(path, platform::Current(), frameCacheBytes);
            load->still = !EffectFormatOfPath(path, load->format);
        } catch (...) {
        }
    }
    if (!load || !StartWorker(load)) {
        WriteLog<LogText::BackgroundLoadNotStarted>(path);
        return false;
    }
    loads->pending = std::move(load);
    CountHostWork(HostWork::LoadsStarted);
    // Until the swap the holder shows what it showed. The placeholder of an empty path is not
    // drawn by the owner, which from now on sees a path: the picture goes, its size stays. A holder
    // that has shown nothing yet takes the placeholder's size, without its picture.
    if (showsEmptyPath && texture) {
        CountTextureDeleted(texture);
        delete texture;
        texture = nullptr;
    }
    showsEmptyPath = false;
    if (!texture && width == 0.0f && height == 0.0f) {
        width = 32.0f;
        height = 32.0f;
    }
    return true;
}

void BitmapImage::DropBackgroundLoad() {
    if (loads)
        Release(loads->pending);
}

void BitmapImage::SwapInBackgroundLoad() {
    if (!BackgroundLoadFinished())
        return;
    frameOfLastSwap.store(frameSeen, std::memory_order_relaxed);
    if (loads->pending->outcome == WorkerLoad::Outcome::LoadAsStill) {
        // What the worker could not decode: the host's loader takes it on this thread, as in Init.
        LoadNow();
        return;
    }
    // An animation's texture (dynamic, frame-sized) serves a new animation of the same size: one
    // upload of frame 0 in place of a texture made and one deleted, the most of a swap's cost.
    Texture* reused = nullptr;
    const WorkerLoad& next = *loads->pending;
    if (content == Content::Animation && texture && next.outcome == WorkerLoad::Outcome::Animated &&
        texture->GetWidth() == next.width && texture->GetHeight() == next.height) {
        reused = texture;
        texture = nullptr;
    }
    ReleaseContent();
    showsEmptyPath = false;
    loads->shown = std::move(loads->pending);
    if (loads->shown->outcome == WorkerLoad::Outcome::Failed) {
        WriteWorkerLines();
        CreatePlaceholderTexture();
        Release(loads->shown);
        return;
    }
    if (loads->shown->outcome == WorkerLoad::Outcome::Still) {
        InstallStill();
        return;
    }
    InstallWorkerAnimation(reused);
}

// The one thing a still costs this thread: the texture made from the worker's pixels, as the
// host's loader makes it from the file.
void BitmapImage::InstallStill() {
    WorkerLoad& load = *loads->shown;
    Texture* made = CountTextureMade(
        GS->CreateTexture(load.width, load.height, GS_RGBA, load.StillPicture(), true, true));
    Release(loads->shown);
    ShowStillTexture(made);
}

// Frame 0 into the texture (`reused`, or a new one), the delays into the host's list; playback
// reads the rest from the worker's store.
void BitmapImage::InstallWorkerAnimation(Texture* reused) {
    WorkerLoad& load = *loads->shown;
    load.WriteLines(load.linesBeforeTexture, &WriteKeptLine);
    const wchar_t* path = load.path.c_str();
    if (reused) {
        texture = reused;
        texture->UploadPixels(load.FirstPicture(), GS_RGBA, load.width * 4u);
        CountUpload(texture);
    } else {
        texture = CountTextureMade(
            GS->CreateTexture(load.width, load.height, GS_RGBA, load.FirstPicture(), false, false));
    }
    if (!texture)
        WriteLoadLine(LoadLine{LoadFailure::NoTexture, load.format, path, 0, 0});
    for (float delay : load.frameDelays) {
        if (!playback.delays.Add(delay)) {
            WriteLoadLine(LoadLine{LoadFailure::NoMemoryForDelays, load.format, path, 0, 0});
            Release(loads->shown);
            ReleaseContent();
            CreatePlaceholderTexture();
            return;
        }
    }
    // The decoder stays with the worker.
    playback.format = load.format;
    playback.frameCount = load.frameCount;
    playback.loopCount = load.loopCount;
    playback.loopLimit = LoopLimitOf(load.format, load.loopCount);
    playback.width = load.width;
    playback.height = load.height;
    playback.Restart();
    width = static_cast<float>(load.width);
    height = static_cast<float>(load.height);
    content = Content::Animation;
    workerFrames.load = &load;
    frames = &workerFrames;
    workerFrames.Start();
    load.WriteLines(SIZE_MAX, &WriteKeptLine);
}

void BitmapImage::WriteWorkerLines() {
    if (loads->shown->HasLines())
        loads->shown->WriteLines(SIZE_MAX, &WriteKeptLine);
}

// The worker frees the load once it has stopped, on its own thread.
void BitmapImage::ReleaseWorkerFrames() {
    workerFrames = WorkerFrames();
    frames = nullptr;
    content = Content::Placeholder;
    Release(loads->shown);
}

void BitmapImage::EndBackgroundLoading() {
    // Neither worker is waited for: each stops after the frame or the read it is in.
    if (!loads)
        return;
    Release(loads->pending);
    if (frames == &workerFrames)
        ReleaseWorkerFrames();
    delete loads;
    loads = nullptr;
}
