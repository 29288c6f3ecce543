// The GIF and WebP path of BitmapImage::Init: the file is read whole and scanned by its format's
// decoder (FrameDecoder.h); a GIF of one frame goes on to the host's still-image loader, a WebP of
// one frame becomes a still texture made here (the host's loader cannot be assumed to read WebP),
// and a longer one of either becomes an animation whose frames playback decodes and caches.

#include "image/BitmapImage.h"
#include "image/EffectLog.h"
#include "image/FrameStore.h"

namespace {

void* AllocateFromHost(size_t bytes) {
    return MainAllocator->Allocate(bytes);
}

}  // namespace

BitmapImage::LoadOutcome BitmapImage::LoadDecodedFile() {
    Decoder().Create(bitmapCallbacks);
    XFile file;
    if (!file.Open(filePath.Array(), XFILE_READ, XFILE_OPENEXISTING)) {
        WriteLogFor<LogText::GifNotOpened, LogText::WebpNotOpened>(format, filePath.Array());
        return FailLoad();
    }
    uint32_t size = 0;
    if (!ReadWholeFile(file, size) || !ScanFile(size))
        return FailLoad();
    if (frameCount <= 1 && format == EffectFormat::Webp)
        return LoadStillWebp();
    if (frameCount <= 1) {
        Decoder().Finalise();
        MainAllocator->Free(fileData);
        fileData = nullptr;
        frameCount = 0;
        return LoadOutcome::LoadAsStill;
    }
    isAnimated = true;
    if (!SetUpAnimation())
        return FailLoad();
    return LoadOutcome::Finished;
}

bool BitmapImage::ReadWholeFile(XFile& file, uint32_t& size) {
    const uint64_t fileSize = file.GetFileSize();
    if (fileSize > UINT32_MAX) {
        WriteLogFor<LogText::GifFileTooLarge, LogText::WebpFileTooLarge>(
            format, filePath.Array(), static_cast<unsigned long long>(fileSize));
        return false;
    }
    size = static_cast<uint32_t>(fileSize);
    // One byte at least, so that an empty file is reported as corrupt rather than as no memory.
    fileData = static_cast<uint8_t*>(MainAllocator->Allocate(size ? size : 1));
    if (!fileData) {
        WriteLogFor<LogText::GifNoMemoryToRead, LogText::WebpNoMemoryToRead>(
            format, filePath.Array(), size);
        return false;
    }
    const unsigned read = file.Read(fileData, size);
    if (read != size) {
        WriteLogFor<LogText::GifShortRead, LogText::WebpShortRead>(format, read, size,
                                                                   filePath.Array());
        return false;
    }
    return true;
}

bool BitmapImage::ScanFile(uint32_t size) {
    const FrameScan scan = Decoder().Scan(fileData, size);
    frameCount = scan.frameCount;
    switch (scan.result) {
        case FrameScanResult::Scanned:
            return true;
        case FrameScanResult::Corrupt:
            WriteLogFor<LogText::GifCorrupt, LogText::WebpCorrupt>(format, filePath.Array());
            return false;
        case FrameScanResult::BadDimensions:
            WriteLog<LogText::GifBadDimensions>(static_cast<int>(scan.width),
                                                static_cast<int>(scan.height), filePath.Array());
            return false;
        case FrameScanResult::TooLarge:
            WriteLogFor<LogText::GifOverflow, LogText::WebpOverflow>(
                format, filePath.Array(), static_cast<unsigned long long>(scan.bytes64),
                scan.bytes32);
            return false;
        case FrameScanResult::TooManyFrames:
            WriteLog<LogText::WebpTooManyFrames>(filePath.Array(), scan.frameCount, kMaxWebpFrames);
            return false;
    }
    return false;
}

uint32_t BitmapImage::FrameBytes() const {
    return animation.width * animation.height * 4u;
}

// Everything playback needs is allocated here, so that playback itself never allocates.
bool BitmapImage::SetUpAnimation() {
    FrameDecoder decoder = Decoder();
    const bool firstFrameDecoded = decoder.Decode(0, nullptr) == FrameDecodeResult::Decoded;
    if (!firstFrameDecoded && format == EffectFormat::Webp) {
        // libwebp composes no frame after one it cannot decode: nothing of this file can be shown.
        WriteLog<LogText::GifFrameNotDecoded>(0, filePath.Array());
        return false;
    }
    texture = GS->CreateTexture(animation.width, animation.height, GS_RGBA, decoder.Canvas(), false,
                                false);
    if (!texture)
        WriteLogFor<LogText::GifNoTexture, LogText::WebpNoTexture>(format, filePath.Array());

    // The whole store, a slot per frame, cleared; the table points at the slots decoded so far.
    const uint32_t storeBytes = frameCount * FrameBytes();
    StoreBlocks blocks;
    const StoreShortage shortage =
        AllocateStore(StoreMemory{&AllocateFromHost}, frameCount, sizeof(uint8_t*), frameCount,
                      storeBytes, true, blocks);
    frameCache = static_cast<uint8_t**>(blocks.table);
    frameFailed = blocks.marks;
    frameStore = blocks.store;
    if (shortage == StoreShortage::Table) {
        WriteLogFor<LogText::GifNoMemoryForFrameTable, LogText::WebpNoMemoryForFrameTable>(
            format, filePath.Array());
        return false;
    }
    if (shortage == StoreShortage::Store) {
        WriteLogFor<LogText::GifNoMemoryForFrames, LogText::WebpNoMemoryForFrames>(
            format, frameCount, filePath.Array(), storeBytes);
        return false;
    }
    for (uint32_t i = 0; i < frameCount; ++i)
        frameCache[i] = nullptr;

    if (!ListDelaysAndCheckFrames(firstFrameDecoded))
        return false;
    // Back to frame 0, so that the decoder's bitmap and state match what the texture shows.
    decoder.Decode(0, nullptr);
    currentFrame = 0;
    lastDecodedFrame = 0;
    loopsPlayed = 0;
    frameTime = 0.0f;
    width = static_cast<float>(animation.width);
    height = static_cast<float>(animation.height);
    return true;
}

// Takes each frame's delay and decodes every frame once, in order, to report and mark the bad ones.
// Nothing is cached here: playback caches frames as it first shows them.
bool BitmapImage::ListDelaysAndCheckFrames(bool firstFrameDecoded) {
    FrameDecoder decoder = Decoder();
    for (uint32_t i = 0; i < frameCount; ++i) {
        if (!frameDelays.Add(decoder.FrameDelay(i))) {
            WriteLogFor<LogText::GifNoMemoryForDelays, LogText::WebpNoMemoryForDelays>(
                format, filePath.Array());
            return false;
        }
        // Frame 0 was decoded for the texture, and libnsgif answers a second request for the frame
        // it decoded last with success at once, even when that frame failed: its first answer
        // counts. A WebP frame that libwebp cannot reach after one that failed is marked without
        // a line of its own.
        if (i == 0) {
            if (firstFrameDecoded)
                continue;
            frameFailed[0].store(1, std::memory_order_relaxed);
        } else if (decoder.Decode(i, frameFailed) != FrameDecodeResult::FailedAtFirst) {
            continue;
        }
        WriteLog<LogText::GifFrameNotDecoded>(static_cast<int>(i), filePath.Array());
    }
    return true;
}

// A WebP of one frame: its picture becomes a still texture, with its alpha.
BitmapImage::LoadOutcome BitmapImage::LoadStillWebp() {
    FrameDecoder decoder = Decoder();
    if (decoder.Decode(0, nullptr) != FrameDecodeResult::Decoded) {
        WriteLog<LogText::GifFrameNotDecoded>(0, filePath.Array());
        return FailLoad();
    }
    // With mipmaps, as the host's loader makes a still's texture.
    Texture* made =
        GS->CreateTexture(animation.width, animation.height, GS_RGBA, decoder.Canvas(), true, true);
    decoder.Finalise();
    MainAllocator->Free(fileData);
    fileData = nullptr;
    frameCount = 0;
    ShowStillTexture(made);
    return LoadOutcome::Finished;
}

// Every failure leaves the placeholder and nothing half-built: the decoder finalised, no buffers.
BitmapImage::LoadOutcome BitmapImage::FailLoad() {
    Decoder().Finalise();
    isAnimated = false;
    MainAllocator->Free(frameCache);
    MainAllocator->Free(frameFailed);
    MainAllocator->Free(frameStore);
    frameCache = nullptr;
    frameFailed = nullptr;
    frameStore = nullptr;
    ReleaseContent();
    CreatePlaceholderTexture();
    return LoadOutcome::Finished;
}
