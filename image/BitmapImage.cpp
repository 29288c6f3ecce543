#include "image/BitmapImage.h"

#include <cstring>

#include "image/HostWork.h"
#include "image/WorkerLoad.h"
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
      content(Content::Placeholder),
      frames(nullptr),
      reloadCountdown(0.0f),
      backgroundLoad(false),
      frameCacheBytes(uint64_t{256} << 20),
      lateFrames(0),
      loads(nullptr),
      frameSeen(HostFrameNow()),
      showsEmptyPath(false),
      retiring() {}

BitmapImage::~BitmapImage() {
    EndBackgroundLoading();
    RetireAll();
    hostFrames.Release(
        playback.frameCount,
        [](void*, uint8_t* store, size_t bytes) {
            CountBlockFreed(bytes);
            MainAllocator->Free(store);
        },
        nullptr);
    if (fileMonitor) {
        OSMonitorFileDestroy(fileMonitor);
        fileMonitor = nullptr;
    }
    if (texture) {
        CountTextureDeleted(texture);
        delete texture;
    }
    filePath = String();
    playback.delays.Clear();
}

BitmapImage::State BitmapImage::Snapshot() const {
    const bool animated = content == Content::Animation;
    const bool onThisThread = animated && frames == &hostFrames;
    State state = State();
    state.isAnimated = animated;
    state.format = animated ? playback.format : EffectFormat::Gif;
    state.canvasWidth = animated ? playback.width : 0;
    state.canvasHeight = animated ? playback.height : 0;
    state.frameCount = playback.frameCount;
    state.loopCount = animated ? playback.loopCount : 0;
    state.loopLimit = animated ? playback.loopLimit : 0;
    if (animated)
        state.frameFailed = onThisThread ? hostFrames.failed : workerFrames.load->FailedMarks();
    state.canvasHeld = onThisThread && hostFrames.CanvasHeld();
    state.frameDelays = playback.delays.Array();
    state.delayCount = playback.delays.Num();
    state.currentFrame = playback.currentFrame;
    state.loopsPlayed = playback.loopsPlayed;
    state.lastDecodedFrame = hostFrames.lastDecoded;
    state.frameTime = playback.frameTime;
    state.frameCache = onThisThread ? hostFrames.cache : nullptr;
    state.frameStore = onThisThread ? hostFrames.store : nullptr;
    state.holdsFile = hostFrames.fileData != nullptr;
    state.framesDecoded = hostFrames.framesDecoded;
    state.reloadCountdown = reloadCountdown;
    state.lateFrames = lateFrames;
    state.streamedBytes = WorkerBytes();
    state.streamedSlots = WorkerSlots();
    return state;
}

void BitmapImage::CreatePlaceholderTexture() {
    content = Content::Placeholder;
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
    texture = CountTextureMade(
        GS->CreateTexture(kPlaceholderSide, kPlaceholderSide, GS_BGRA, pixels, false, true));
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
    CountHostWork(HostWork::LoadsAtOnce);
    if (EffectFormatOfPath(path, hostFrames.format) && LoadDecodedFile())
        return;
    LoadStill();
}

// Empties the holder whatever it held; the path, the watch and a pending reload stay.
void BitmapImage::ReleaseContent() {
    if (frames == &workerFrames)
        ReleaseWorkerFrames();
    hostFrames.Release(
        playback.frameCount,
        [](void* holder, uint8_t* store, size_t bytes) {
            static_cast<BitmapImage*>(holder)->FreeFrameStore(store, bytes);
        },
        this);
    frames = nullptr;
    content = Content::Placeholder;
    if (playback.delays.HasStorage())
        playback.delays.Clear();
    if (texture) {
        CountTextureDeleted(texture);
        delete texture;
        texture = nullptr;
    }
    playback.frameCount = 0;
    playback.loopLimit = 0;
    playback.loopCount = 0;
    playback.width = playback.height = 0;
    playback.Restart();
}

void BitmapImage::LoadStill() {
    ShowStillTexture(CountTextureMade(GS->CreateTextureFromFile(filePath.Array(), true)));
}

// A still's texture, from the host's loader or from a worker's pixels; none leaves the placeholder.
void BitmapImage::ShowStillTexture(Texture* made) {
    texture = made;
    content = Content::Still;
    if (!texture) {
        WriteLog<LogText::TextureNotCreated>(filePath.Array());
        CreatePlaceholderTexture();
        return;
    }
    width = static_cast<float>(texture->GetWidth());
    height = static_cast<float>(texture->GetHeight());
}
