// The GIF and WebP path of BitmapImage::Init: the file is read whole and scanned by its format's
// decoder (FrameDecoder.h); a GIF of one frame goes on to the host's still-image loader, a WebP of
// one frame becomes a still texture made here (the host's loader cannot be assumed to read WebP),
// and a longer one of either becomes an animation whose frames playback decodes and caches.

#include "image/BitmapImage.h"
#include "image/EffectLoad.h"
#include "image/FrameStore.h"
#include "image/HostWork.h"

namespace {

void* AllocateFromHost(size_t bytes) {
    return MainAllocator->Allocate(bytes);
}

}  // namespace

// The load's sequence on the host's thread: the file through the host's XFile into the host's
// memory, every line written at once, and the texture made from frame 0 as soon as it is decoded.
class BitmapImage::HostLoad final : public LoadDriver {
public:
    explicit HostLoad(BitmapImage& holder) : holder_(holder) {}

    platform::FileRead Read(uint64_t maxBytes, const uint8_t*& data, uint64_t& size,
                            uint64_t& read) override {
        if (!file_.Open(holder_.filePath.Array(), XFILE_READ, XFILE_OPENEXISTING))
            return platform::FileRead::NotOpened;
        size = file_.GetFileSize();
        if (size > maxBytes)
            return platform::FileRead::TooLarge;
        const auto bytes = static_cast<uint32_t>(size);
        // One byte at least, so that an empty file is reported as corrupt rather than as no memory.
        uint8_t*& fileData = holder_.hostFrames.fileData;
        fileData = static_cast<uint8_t*>(MainAllocator->Allocate(bytes ? bytes : 1));
        if (!fileData)
            return platform::FileRead::NoMemory;
        holder_.hostFrames.fileBytes = bytes ? bytes : 1;
        read = file_.Read(fileData, bytes);
        if (read != size)
            return platform::FileRead::ShortRead;
        data = fileData;
        return platform::FileRead::Done;
    }

    void Line(const LoadLine& line) override { WriteLoadLine(line); }

    void FirstFrame(const uint8_t* canvas) override {
        const HostFrames& host = holder_.hostFrames;
        CountHostWork(HostWork::FramesDecoded);  // frame 0, which the texture starts with
        holder_.texture = CountTextureMade(
            GS->CreateTexture(host.gif.width, host.gif.height, GS_RGBA, canvas, false, false));
        if (!holder_.texture)
            Line(LoadLine{LoadFailure::NoTexture, host.format, holder_.filePath.Array(), 0, 0});
    }

private:
    BitmapImage& holder_;
    XFile file_;  // open until the load ends, as the design has it
};

// False when the host's loader is to take the file as a still image.
bool BitmapImage::LoadDecodedFile() {
    HostLoad driver(*this);
    HostFrames& host = hostFrames;
    const LoadRequest request{host.format,
                              filePath.Array(),
                              &host.callbacks,
                              true,
                              StoreMemory{&AllocateFromHost},
                              UINT64_MAX,
                              sizeof(uint8_t*),
                              true};
    LoadedEffect loaded;
    const LoadOutcome outcome = RunEffectLoad(driver, host.Decoder(), request, loaded);
    playback.frameCount = loaded.scan.frameCount;
    host.cache = static_cast<uint8_t**>(loaded.blocks.table);
    host.failed = loaded.blocks.marks;
    host.store = loaded.blocks.store;
    switch (outcome) {
        case LoadOutcome::Animation:
            break;
        case LoadOutcome::Still:
            ShowDecodedStill();
            return true;
        case LoadOutcome::HostLoader:
            host.Decoder().Finalise();
            CountBlockFreed(host.fileBytes);
            MainAllocator->Free(host.fileData);
            host.fileData = nullptr;
            playback.frameCount = 0;
            return false;
        case LoadOutcome::Failed:
        case LoadOutcome::Stopped:
            FailLoad();
            return true;
    }
    content = Content::Animation;
    frames = &host;
    for (uint32_t i = 0; i < playback.frameCount; ++i)
        host.cache[i] = nullptr;
    if (!ListDelaysAndCheckFrames(loaded.firstFrameDecoded)) {
        FailLoad();
        return true;
    }
    // Back to frame 0, so that the decoder's bitmap and state match what the texture shows.
    host.Decoder().Decode(0, nullptr);
    CountHostWork(HostWork::FramesDecoded);
    host.lastDecoded = 0;
    playback.Restart();
    playback.format = host.format;
    playback.loopCount = host.gif.loop_count;
    playback.loopLimit = LoopLimitOf(host.format, host.gif.loop_count);
    playback.width = host.gif.width;
    playback.height = host.gif.height;
    width = static_cast<float>(host.gif.width);
    height = static_cast<float>(host.gif.height);
    return true;
}

// Takes each frame's delay and decodes every frame once, in order, to report and mark the bad ones.
// Nothing is cached here: playback caches frames as it first shows them.
bool BitmapImage::ListDelaysAndCheckFrames(bool firstFrameDecoded) {
    const EffectFormat format = hostFrames.format;
    FrameDecoder decoder = hostFrames.Decoder();
    for (uint32_t i = 0; i < playback.frameCount; ++i) {
        if (!playback.delays.Add(decoder.FrameDelay(i))) {
            WriteLoadLine(LoadLine{LoadFailure::NoMemoryForDelays, format, filePath.Array(), 0, 0});
            return false;
        }
        // Frame 0 was decoded for the texture, and libnsgif answers a second request for the frame
        // it decoded last with success at once, even when that frame failed: its first answer
        // counts. A WebP frame that libwebp cannot reach after one that failed is marked without
        // a line of its own.
        if (i == 0) {
            if (firstFrameDecoded)
                continue;
            hostFrames.failed[0].store(1, std::memory_order_relaxed);
        } else {
            CountHostWork(HostWork::FramesDecoded);
            if (decoder.Decode(i, hostFrames.failed) != FrameDecodeResult::FailedAtFirst)
                continue;
        }
        WriteLoadLine(LoadLine{LoadFailure::FrameNotDecoded, format, filePath.Array(), i, 0});
    }
    return true;
}

// A WebP of one frame: its picture, decoded by the load, becomes a still texture with its alpha.
void BitmapImage::ShowDecodedStill() {
    HostFrames& host = hostFrames;
    FrameDecoder decoder = host.Decoder();
    // With mipmaps, as the host's loader makes a still's texture.
    Texture* made = CountTextureMade(
        GS->CreateTexture(host.gif.width, host.gif.height, GS_RGBA, decoder.Canvas(), true, true));
    decoder.Finalise();
    CountBlockFreed(host.fileBytes);
    MainAllocator->Free(host.fileData);
    host.fileData = nullptr;
    playback.frameCount = 0;
    ShowStillTexture(made);
}

// Every failure leaves the placeholder and nothing half-built: the decoder finalised, no buffers.
void BitmapImage::FailLoad() {
    hostFrames.Release(
        playback.frameCount,
        [](void*, uint8_t* store, size_t bytes) {
            CountBlockFreed(bytes);
            MainAllocator->Free(store);
        },
        nullptr);
    ReleaseContent();
    CreatePlaceholderTexture();
}
