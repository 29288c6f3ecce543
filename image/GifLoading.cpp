// The GIF path of BitmapImage::Init: the file is read whole and scanned by libnsgif; a GIF of one
// frame goes on to the host's still-image loader, a longer one becomes an animation whose frames
// playback decodes and caches.
#include <cstring>

#include "image/BitmapImage.h"

namespace {

constexpr uint32_t kMaxGifSide = 4096;

}  // namespace

BitmapImage::GifOutcome BitmapImage::LoadGif() {
    gif_create(&animation, &bitmapCallbacks);
    XFile file;
    if (!file.Open(filePath.Array(), XFILE_READ, XFILE_OPENEXISTING)) {
        AppWarning(L"BitmapImage::Init: could not open gif file '%s'", filePath.Array());
        return FailGif();
    }
    uint32_t size = 0;
    if (!ReadGifFile(file, size) || !ScanGif(size) || !CheckGifSize())
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
        Log(L"BitmapImage: Warning, gif %s is too large to load (%llu bytes)", filePath.Array(),
            static_cast<unsigned long long>(fileSize));
        return false;
    }
    size = static_cast<uint32_t>(fileSize);
    // One byte at least, so that an empty file is reported as corrupt rather than as no memory.
    fileData = static_cast<uint8_t*>(MainAllocator->Allocate(size ? size : 1));
    if (!fileData) {
        Log(L"BitmapImage: Warning, not enough memory to read gif %s (%u bytes)", filePath.Array(),
            size);
        return false;
    }
    const unsigned read = file.Read(fileData, size);
    if (read != size) {
        Log(L"BitmapImage: Warning, read only %u of %u bytes of gif %s", read, size,
            filePath.Array());
        return false;
    }
    return true;
}

bool BitmapImage::ScanGif(uint32_t size) {
    gif_result result;
    do {
        result = gif_initialise(&animation, size, fileData);
    } while (result == GIF_WORKING);
    if (result != GIF_OK) {
        Log(L"BitmapImage: Warning, couldn't initialise gif %s, it is likely corrupt",
            filePath.Array());
        return false;
    }
    // libnsgif counts extension blocks after the last image as one more frame, not for display,
    // with a default delay of one second; it is no frame of the animation.
    frameCount = 0;
    while (frameCount < animation.frame_count && animation.frames[frameCount].display)
        ++frameCount;
    return true;
}

// The canvas is libnsgif's after the scan (grown to cover every frame), not the file header's.
bool BitmapImage::CheckGifSize() {
    const uint32_t w = animation.width;
    const uint32_t h = animation.height;
    if (w > kMaxGifSide || h > kMaxGifSide) {
        Log(L"BitmapImage: Warning, bad texture dimensions %d x %d in %s", static_cast<int>(w),
            static_cast<int>(h), filePath.Array());
        return false;
    }
    // Once this holds, every byte count and frame offset fits in 32 bits.
    const uint64_t bytes64 = static_cast<uint64_t>(frameCount) * h * w * 4;
    const uint32_t bytes32 = frameCount * h * w * 4u;
    if (bytes64 != bytes32) {
        Log(L"BitmapImage: Warning, gif %s overflowed maximum pointer size and was not loaded "
            L"(%llu > %u)",
            filePath.Array(), static_cast<unsigned long long>(bytes64), bytes32);
        return false;
    }
    return true;
}

uint32_t BitmapImage::FrameBytes() const {
    return animation.width * animation.height * 4u;
}

// Everything playback needs is allocated here, so that playback itself never allocates.
bool BitmapImage::SetUpAnimation() {
    gif_decode_frame(&animation, 0);
    texture =
        GS->CreateTexture(animation.width, animation.height, GS_RGBA,
                          bitmapCallbacks.bitmap_get_buffer(animation.frame_image), false, false);
    if (!texture)
        Log(L"BitmapImage: Warning, no texture could be made for gif %s", filePath.Array());

    frameCache = static_cast<uint8_t**>(MainAllocator->Allocate(frameCount * sizeof(uint8_t*)));
    if (!frameCache) {
        Log(L"BitmapImage: Warning, not enough memory for the frame table of gif %s",
            filePath.Array());
        return false;
    }
    for (uint32_t i = 0; i < frameCount; ++i)
        frameCache[i] = nullptr;
    frameFailed = static_cast<uint8_t*>(MainAllocator->Allocate(frameCount));
    if (!frameFailed) {
        Log(L"BitmapImage: Warning, not enough memory for the frame table of gif %s",
            filePath.Array());
        return false;
    }
    std::memset(frameFailed, 0, frameCount);

    const uint32_t storeBytes = frameCount * FrameBytes();
    frameStore = static_cast<uint8_t*>(MainAllocator->Allocate(storeBytes));
    if (!frameStore) {
        Log(L"BitmapImage: Warning, not enough memory for the %u frames of gif %s (%u bytes)",
            frameCount, filePath.Array(), storeBytes);
        return false;
    }
    std::memset(frameStore, 0, storeBytes);

    if (!ListFrameDelays())
        return false;
    // Back to frame 0, so that the decoder's bitmap and state match what the texture shows.
    gif_decode_frame(&animation, 0);
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
bool BitmapImage::ListFrameDelays() {
    for (uint32_t i = 0; i < frameCount; ++i) {
        // Centiseconds to seconds in single precision: 10 cs gives 0.099999994, not 0.1.
        float delay = static_cast<float>(animation.frames[i].frame_delay) * 0.01f;
        if (delay == 0.0f)
            delay = 0.1f;
        if (!frameDelays.Add(delay)) {
            Log(L"BitmapImage: Warning, not enough memory for the frame delays of gif %s",
                filePath.Array());
            return false;
        }
        if (gif_decode_frame(&animation, i) == GIF_OK)
            continue;
        frameFailed[i] = 1;
        Log(L"BitmapImage: Warning, couldn't decode frame %d of %s", static_cast<int>(i),
            filePath.Array());
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
