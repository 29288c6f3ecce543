// The holder's side of loading in the background: the worker (BackgroundLoader.h) reads and
// decodes, and the host's thread installs the result in one step, with the log lines the load would
// have written, in the order Init writes them.
#include <memory>
#include <new>

#include "image/BackgroundLoader.h"
#include "image/BitmapImage.h"
#include "platform/Platform.h"

namespace {

void WriteLines(const LoadedGif& done, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
        const PendingLogLine& line = done.lines[i];
        if (line.warning)
            AppWarning(L"%s", line.text.c_str());
        else
            Log(L"%s", line.text.c_str());
    }
}

}  // namespace

bool BitmapImage::IsGifPath(const wchar_t* path) {
    return path && path[0] != 0 && GetPathExtension(path).CompareI(L"gif");
}

bool BitmapImage::BackgroundLoadPending() const {
    return finished || (loader && loader->Pending());
}

bool BitmapImage::BackgroundLoadFinished() {
    if (finished)
        return true;
    if (!loader)
        return false;
    finished = loader->TakeFinished().release();
    return finished != nullptr;
}

void BitmapImage::WaitForBackgroundLoad() {
    if (!finished && loader)
        loader->WaitUntilFinished();
}

// False when the file is no GIF, or no worker could take it: Init then loads it at once.
bool BitmapImage::StartBackgroundLoad() {
    const wchar_t* path = filePath.Array();
    if (!IsGifPath(path))
        return false;
    if (!loader)
        loader = new (std::nothrow) BackgroundLoader;
    if (!loader || !loader->Start(path, platform::Current())) {
        Log(L"BitmapImage: Warning, could not load %s in the background; loading it now", path);
        return false;
    }
    if (finished) {
        loader->Dispose(std::unique_ptr<LoadedGif>(finished));
        finished = nullptr;
    }
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
    if (!loader)
        return;
    loader->Abandon();
    if (finished) {
        loader->Dispose(std::unique_ptr<LoadedGif>(finished));
        finished = nullptr;
    }
}

void BitmapImage::SwapInBackgroundLoad() {
    if (!BackgroundLoadFinished())
        return;
    std::unique_ptr<LoadedGif> done(finished);
    finished = nullptr;
    if (done->outcome == LoadedGif::Outcome::LoadAsStill) {
        // As Init: the host loads a GIF of one frame like any still image, on this thread.
        loader->Dispose(std::move(done));
        LoadNow();
        return;
    }
    ReleaseContent();
    showsEmptyPath = false;
    if (done->outcome == LoadedGif::Outcome::Failed) {
        WriteLines(*done, 0, done->lines.size());
        CreatePlaceholderTexture();
        loader->Dispose(std::move(done));
        return;
    }
    WriteLines(*done, 0, done->linesBeforeTexture);
    InstallLoadedAnimation(done.release());
}

// Takes over `done` and its buffers: the texture from frame 0, the delays into the host's list,
// and the decoder and frame store as they are, every frame cached.
void BitmapImage::InstallLoadedAnimation(LoadedGif* done) {
    const wchar_t* path = done->path.c_str();
    const uint32_t w = done->animation.width;
    const uint32_t h = done->animation.height;
    texture = GS->CreateTexture(w, h, GS_RGBA, done->frameStore.get(), false, false);
    if (!texture)
        Log(L"BitmapImage: Warning, no texture could be made for gif %s", path);
    for (float delay : done->frameDelays) {
        if (!frameDelays.Add(delay)) {
            Log(L"BitmapImage: Warning, not enough memory for the frame delays of gif %s", path);
            ReleaseContent();
            CreatePlaceholderTexture();
            loader->Dispose(std::unique_ptr<LoadedGif>(done));
            return;
        }
    }
    animation = done->animation;
    done->holdsDecoder = false;
    fileData = done->fileData.data();
    frameStore = done->frameStore.get();
    frameCache = done->frameCache.data();
    frameFailed = done->frameFailed.data();
    frameCount = done->frameCount;
    lastDecodedFrame = done->lastDecodedFrame;
    currentFrame = 0;
    loopsPlayed = 0;
    frameTime = 0.0f;
    width = static_cast<float>(w);
    height = static_cast<float>(h);
    isAnimated = true;
    loaded = done;
    WriteLines(*done, done->linesBeforeTexture, done->lines.size());
}

// Gives the decoder record back to the load that owns its buffers, and the load to the worker to
// free.
void BitmapImage::ReleaseLoadedContent() {
    std::unique_ptr<LoadedGif> content(loaded);
    loaded = nullptr;
    content->animation = animation;
    content->holdsDecoder = true;
    animation = gif_animation();
    isAnimated = false;
    fileData = nullptr;
    frameCache = nullptr;
    frameFailed = nullptr;
    frameStore = nullptr;
    if (loader)
        loader->Dispose(std::move(content));
}

void BitmapImage::EndBackgroundLoading() {
    // The worker stops first, after the frame it is decoding; nothing of it runs after this.
    delete loader;
    loader = nullptr;
    delete finished;
    finished = nullptr;
    if (loaded)
        ReleaseLoadedContent();
}
