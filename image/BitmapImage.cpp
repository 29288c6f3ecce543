#include "image/BitmapImage.h"

#include <cstring>

#include "image/gif/GifBitmap.h"
#include "log/ModuleLog.h"

namespace {

constexpr unsigned kPlaceholderSide = 32;
constexpr size_t kPlaceholderBytes = kPlaceholderSide * kPlaceholderSide * 4;

}  // namespace

BitmapImage::BitmapImage()
    : texture(nullptr),
      width(0.0f),
      height(0.0f),
      fileMonitor(nullptr),
      isAnimated(false),
      animation(),
      fileData(nullptr),
      frameCache(nullptr),
      frameFailed(nullptr),
      frameStore(nullptr),
      currentFrame(0),
      loopsPlayed(0),
      lastDecodedFrame(0),
      framesDecoded(0),
      frameTime(0.0f),
      reloadCountdown(0.0f),
      bitmapCallbacks(GifBitmapCallbacks(GifMemory::Host)),
      frameCount(0),
      format(EffectFormat::Gif),
      webpAnimation(),
      backgroundLoad(false),
      frameCacheBytes(uint64_t{256} << 20),
      lateFrames(0),
      streams(nullptr),
      streamed(nullptr),
      passesStarted(0),
      reachedSequence(0),
      lastLateSequence(0),
      readFrom(0),
      showsEmptyPath(false),
      retiring() {}

BitmapImage::~BitmapImage() {
    EndBackgroundLoading();
    RetireAll();
    if (isAnimated) {
        Decoder().Finalise();
        MainAllocator->Free(frameCache);
        MainAllocator->Free(frameFailed);
        MainAllocator->Free(frameStore);
    }
    if (fileData)
        MainAllocator->Free(fileData);
    if (fileMonitor) {
        OSMonitorFileDestroy(fileMonitor);
        fileMonitor = nullptr;
    }
    if (texture)
        delete texture;
    filePath = String();
    frameDelays.Clear();
}

BitmapImage::State BitmapImage::Snapshot() const {
    State state = State();
    state.isAnimated = isAnimated;
    state.format = isAnimated ? format : EffectFormat::Gif;
    state.frameCount = frameCount;
    state.decoder = isAnimated ? &animation : nullptr;
    state.loopLimit = isAnimated ? LoopLimit() : 0;
    state.frameDelays = frameDelays.Array();
    state.delayCount = frameDelays.Num();
    state.currentFrame = currentFrame;
    state.loopsPlayed = loopsPlayed;
    state.lastDecodedFrame = lastDecodedFrame;
    state.frameTime = frameTime;
    state.frameCache = frameCache;
    state.frameStore = frameStore;
    state.holdsFile = fileData != nullptr;
    state.framesDecoded = framesDecoded;
    state.reloadCountdown = reloadCountdown;
    state.lateFrames = lateFrames;
    state.streamedBytes = StreamedBytes();
    state.streamedSlots = StreamedFrameSlots();
    return state;
}

void BitmapImage::CreatePlaceholderTexture() {
    width = static_cast<float>(kPlaceholderSide);
    height = static_cast<float>(kPlaceholderSide);
    auto* pixels = static_cast<uint8_t*>(MainAllocator->Allocate(kPlaceholderBytes));
    if (!pixels) {
        WriteLog<LogText::PlaceholderNoMemory>();
        return;
    }
    // Every pixel reads FF 00 00 FF in memory: opaque blue in the host's B,G,R,A order.
    static const uint8_t kPattern[8] = {0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF};
    for (size_t at = 0; at < kPlaceholderBytes; at += sizeof(kPattern))
        std::memcpy(pixels + at, kPattern, sizeof(kPattern));
    texture = GS->CreateTexture(kPlaceholderSide, kPlaceholderSide, GS_BGRA, pixels, false, true);
    MainAllocator->Free(pixels);
}

void BitmapImage::Init() {
    if (backgroundLoad && StartBackgroundLoad())
        return;
    LoadNow();
}

// The load on the calling thread.
void BitmapImage::LoadNow() {
    DropBackgroundLoad();
    ReleaseContent();
    const wchar_t* path = filePath.Array();
    showsEmptyPath = !path || path[0] == 0;
    if (showsEmptyPath) {
        WriteLog<LogText::EmptyPath>();
        CreatePlaceholderTexture();
        return;
    }
    if (EffectFormatOfPath(path, format) && LoadDecodedFile())
        return;
    LoadStill();
}

// Empties the holder whatever it held; the path, the watch and a pending reload stay.
void BitmapImage::ReleaseContent() {
    if (streamed)
        ReleaseStream();
    if (isAnimated) {
        const size_t storeBytes = static_cast<size_t>(frameCount) * FrameBytes();
        isAnimated = false;
        Decoder().Finalise();
        MainAllocator->Free(frameCache);
        MainAllocator->Free(frameFailed);
        FreeFrameStore(storeBytes);
        frameCache = nullptr;
        frameFailed = nullptr;
        frameStore = nullptr;
    }
    if (fileData) {
        MainAllocator->Free(fileData);
        fileData = nullptr;
    }
    if (frameDelays.HasStorage())
        frameDelays.Clear();
    if (texture) {
        delete texture;
        texture = nullptr;
    }
    frameCount = 0;
    currentFrame = 0;
    loopsPlayed = 0;
    lastDecodedFrame = 0;
    framesDecoded = 0;
    frameTime = 0.0f;
}

void BitmapImage::LoadStill() {
    ShowStillTexture(GS->CreateTextureFromFile(filePath.Array(), true));
}

// A still's texture, from the host's loader or from a worker's pixels; none leaves the placeholder.
void BitmapImage::ShowStillTexture(Texture* made) {
    texture = made;
    if (!texture) {
        WriteLog<LogText::TextureNotCreated>(filePath.Array());
        CreatePlaceholderTexture();
        return;
    }
    width = static_cast<float>(texture->GetWidth());
    height = static_cast<float>(texture->GetHeight());
}
