// The GIF path of BitmapImage::Init: the file is read whole and scanned by libnsgif; a GIF of one
// frame goes on to the host's still-image loader, a longer one becomes an animation whose frames
// playback decodes and caches.

#include "image/BitmapImage.h"
#include "image/gif/FrameStore.h"
#include "image/gif/GifScan.h"
#include "log/ModuleLog.h"

namespace {

void* AllocateFromHost(size_t bytes) {
    return MainAllocator->Allocate(bytes);
}

}  // namespace

BitmapImage::GifOutcome BitmapImage::LoadGif() {
    gif_create(&animation, &bitmapCallbacks);
    XFile file;
    if (!file.Open(filePath.Array(), XFILE_READ, XFILE_OPENEXISTING)) {
        WriteLog<LogText::GifNotOpened>(filePath.Array());
        return FailGif();
    }
    uint32_t size = 0;
    if (!ReadGifFile(file, size) || !ScanGifFile(size))
        return FailGif();
    if (frameCount <= 1) {
        gif_finalise(&animation);
        MainAllocator->Free(fileData);
        fileData = nullptr;
        frameCount = 0;
        return GifOutcome::LoadAsStill;
    }
    isAnimated = true;
    if (!SetUpAnimation())
        return FailGif();
    return GifOutcome::Finished;
}

bool BitmapImage::ReadGifFile(XFile& file, uint32_t& size) {
    const uint64_t fileSize = file.GetFileSize();
    if (fileSize > UINT32_MAX) {
        WriteLog<LogText::GifFileTooLarge>(filePath.Array(),
                                           static_cast<unsigned long long>(fileSize));
        return false;
    }
    size = static_cast<uint32_t>(fileSize);
    // One byte at least, so that an empty file is reported as corrupt rather than as no memory.
    fileData = static_cast<uint8_t*>(MainAllocator->Allocate(size ? size : 1));
    if (!fileData) {
        WriteLog<LogText::GifNoMemoryToRead>(filePath.Array(), size);
        return false;
    }
    const unsigned read = file.Read(fileData, size);
    if (read != size) {
        WriteLog<LogText::GifShortRead>(read, size, filePath.Array());
        return false;
    }
    return true;
}

bool BitmapImage::ScanGifFile(uint32_t size) {
    const GifScan scan = ScanGif(animation, fileData, size);
    frameCount = scan.frameCount;
    switch (scan.result) {
        case GifScanResult::Scanned:
            return true;
        case GifScanResult::Corrupt:
            WriteLog<LogText::GifCorrupt>(filePath.Array());
            return false;
        case GifScanResult::BadDimensions:
            WriteLog<LogText::GifBadDimensions>(static_cast<int>(scan.width),
                                                static_cast<int>(scan.height), filePath.Array());
            return false;
        case GifScanResult::TooLarge:
            WriteLog<LogText::GifOverflow>(
                filePath.Array(), static_cast<unsigned long long>(scan.bytes64), scan.bytes32);
            return false;
    }
    return false;
}

uint32_t BitmapImage::FrameBytes() const {
    return animation.width * animation.height * 4u;
}

// Everything playback needs is allocated here, so that playback itself never allocates.
bool BitmapImage::SetUpAnimation() {
    const bool firstFrameDecoded =
        DecodeGifFrame(animation, 0, nullptr) == GifDecodeResult::Decoded;
    texture =
        GS->CreateTexture(animation.width, animation.height, GS_RGBA,
                          bitmapCallbacks.bitmap_get_buffer(animation.frame_image), false, false);
    if (!texture)
        WriteLog<LogText::GifNoTexture>(filePath.Array());

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
        WriteLog<LogText::GifNoMemoryForFrameTable>(filePath.Array());
        return false;
    }
    if (shortage == StoreShortage::Store) {
        WriteLog<LogText::GifNoMemoryForFrames>(frameCount, filePath.Array(), storeBytes);
        return false;
    }
    for (uint32_t i = 0; i < frameCount; ++i)
        frameCache[i] = nullptr;

    if (!ListDelaysAndCheckFrames(firstFrameDecoded))
        return false;
    // Back to frame 0, so that the decoder's bitmap and state match what the texture shows.
    DecodeGifFrame(animation, 0, nullptr);
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
    for (uint32_t i = 0; i < frameCount; ++i) {
        if (!frameDelays.Add(GifFrameDelay(animation, i))) {
            WriteLog<LogText::GifNoMemoryForDelays>(filePath.Array());
            return false;
        }
        // Frame 0 was decoded for the texture, and libnsgif answers a second request for the frame
        // it decoded last with success at once, even when that frame failed: its first answer
        // counts.
        const bool decoded =
            i == 0 ? firstFrameDecoded
                   : DecodeGifFrame(animation, i, frameFailed) == GifDecodeResult::Decoded;
        if (decoded)
            continue;
        frameFailed[i].store(1, std::memory_order_relaxed);
        WriteLog<LogText::GifFrameNotDecoded>(static_cast<int>(i), filePath.Array());
    }
    return true;
}

// Every failure leaves the placeholder and nothing half-built: the decoder finalised, no buffers.
BitmapImage::GifOutcome BitmapImage::FailGif() {
    gif_finalise(&animation);
    isAnimated = false;
    MainAllocator->Free(frameCache);
    MainAllocator->Free(frameFailed);
    MainAllocator->Free(frameStore);
    frameCache = nullptr;
    frameFailed = nullptr;
    frameStore = nullptr;
    ReleaseContent();
    CreatePlaceholderTexture();
    return GifOutcome::Finished;
}
