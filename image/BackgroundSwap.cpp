// The holder's side of loading in the background: the worker (BackgroundWorker.h) reads and
// decodes, and the host's thread installs the load in one step as soon as frame 0 is decoded, with
// the log lines the load has written so far, in the order Init writes them; lines of frames decoded
// later are written by the host's thread as they come.
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "image/BackgroundWorker.h"
#include "image/BitmapImage.h"
#include "image/LoadLines.h"
#include "log/ModuleLog.h"
#include "platform/Platform.h"

// The loads the holder shares with their workers.
struct GifStreams {
    std::shared_ptr<GifStream> pending;  // started, not yet swapped in
    std::shared_ptr<GifStream> shown;    // what playback reads
};

namespace {

void Release(std::shared_ptr<GifStream>& stream) {
    GifStream::Release(stream);
}

}  // namespace

bool BitmapImage::BackgroundLoadPending() const {
    return streams && streams->pending;
}

bool BitmapImage::BackgroundLoadFinished() const {
    return streams && streams->pending && streams->pending->Ready();
}

void BitmapImage::WaitForBackgroundLoad() {
    if (!streams)
        return;
    if (streams->pending) {
        streams->pending->WaitUntilReady();
        streams->pending->WaitUntilIdle();
    }
    if (streams->shown)
        streams->shown->WaitUntilIdle();
}

void BitmapImage::WaitForBackgroundFirstFrame() {
    if (streams && streams->pending)
        streams->pending->WaitUntilReady();
}

uint64_t BitmapImage::StreamedBytes() const {
    return streamed ? streamed->HeldBytes() : 0;
}

uint32_t BitmapImage::StreamedFrameSlots() const {
    return streamed ? streamed->slots : 0;
}

// False for an empty path, or when no worker could take the load: Init then loads it at once.
bool BitmapImage::StartBackgroundLoad() {
    const wchar_t* path = filePath.Array();
    if (!path || path[0] == 0)
        return false;
    if (!streams)
        streams = new (std::nothrow) GifStreams;
    std::shared_ptr<GifStream> stream;
    if (streams) {
        Release(streams->pending);
        try {
            stream = std::make_shared<GifStream>(path, platform::Current(), frameCacheBytes);
            stream->still = !EffectFormatOfPath(path, stream->format);
        } catch (...) {
        }
    }
    if (!stream || !StartGifStream(stream)) {
        WriteLog<LogText::BackgroundLoadNotStarted>(path);
        return false;
    }
    streams->pending = std::move(stream);
    // Until the swap the holder shows what it showed. The placeholder of an empty path is not
    // drawn by the owner, which from now on sees a path: the picture goes, its size stays. A holder
    // that has shown nothing yet takes the placeholder's size, without its picture.
    if (showsEmptyPath && texture) {
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
    if (streams)
        Release(streams->pending);
}

void BitmapImage::SwapInBackgroundLoad() {
    if (!BackgroundLoadFinished())
        return;
    if (streams->pending->outcome == GifStream::Outcome::LoadAsStill) {
        // What the worker could not decode: the host's loader takes it on this thread, as in Init.
        LoadNow();
        return;
    }
    ReleaseContent();
    showsEmptyPath = false;
    streams->shown = std::move(streams->pending);
    if (streams->shown->outcome == GifStream::Outcome::Failed) {
        WriteStreamLines();
        CreatePlaceholderTexture();
        Release(streams->shown);
        return;
    }
    if (streams->shown->outcome == GifStream::Outcome::Still) {
        InstallStill();
        return;
    }
    InstallStream();
}

// The one thing a still costs this thread: the texture made from the worker's pixels, as the
// host's loader makes it from the file.
void BitmapImage::InstallStill() {
    GifStream& stream = *streams->shown;
    Texture* made =
        GS->CreateTexture(stream.width, stream.height, GS_RGBA, stream.StillPicture(), true, true);
    Release(streams->shown);
    ShowStillTexture(made);
}

// Frame 0 into a new texture, the delays into the host's list; playback reads the rest from the
// worker's store.
void BitmapImage::InstallStream() {
    GifStream& stream = *streams->shown;
    stream.WriteLines(stream.linesBeforeTexture, &WriteKeptLine);
    const wchar_t* path = stream.path.c_str();
    texture = GS->CreateTexture(stream.width, stream.height, GS_RGBA, stream.FirstPicture(), false,
                                false);
    if (!texture)
        WriteLoadLine(LoadLine{LoadFailure::NoTexture, stream.format, path, 0, 0});
    for (float delay : stream.frameDelays) {
        if (!frameDelays.Add(delay)) {
            WriteLoadLine(LoadLine{LoadFailure::NoMemoryForDelays, stream.format, path, 0, 0});
            Release(streams->shown);
            ReleaseContent();
            CreatePlaceholderTexture();
            return;
        }
    }
    // The decoder stays with the worker; the holder's record gives the canvas and the loop count.
    format = stream.format;
    animation = gif_animation();
    animation.width = stream.width;
    animation.height = stream.height;
    animation.frame_count = stream.frameCount;
    animation.loop_count = stream.loopCount;
    frameCount = stream.frameCount;
    width = static_cast<float>(stream.width);
    height = static_cast<float>(stream.height);
    currentFrame = 0;
    loopsPlayed = 0;
    frameTime = 0.0f;
    passesStarted = 0;
    reachedSequence = 0;
    readFrom = 1;
    lastLateSequence = 0;  // frame 0 is never late
    isAnimated = true;
    streamed = &stream;
    stream.Follow(readFrom);
    stream.WriteLines(SIZE_MAX, &WriteKeptLine);
}

void BitmapImage::WriteStreamLines() {
    if (streams->shown->HasLines())
        streams->shown->WriteLines(SIZE_MAX, &WriteKeptLine);
}

// The worker frees the load once it has stopped, on its own thread.
void BitmapImage::ReleaseStream() {
    streamed = nullptr;
    isAnimated = false;
    animation = gif_animation();
    Release(streams->shown);
}

void BitmapImage::EndBackgroundLoading() {
    // Neither worker is waited for: each stops after the frame or the read it is in.
    if (!streams)
        return;
    Release(streams->pending);
    if (streamed)
        ReleaseStream();
    delete streams;
    streams = nullptr;
}
