#include "image/gif/GifScan.h"

GifScan ScanGif(gif_animation& animation, const uint8_t* data, size_t size) {
    GifScan scan;
    gif_result result;
    do {
        result = gif_initialise(&animation, size, const_cast<uint8_t*>(data));
    } while (result == GIF_WORKING);
    if (result != GIF_OK)
        return scan;
    while (scan.frameCount < animation.frame_count && animation.frames[scan.frameCount].display)
        ++scan.frameCount;
    scan.width = animation.width;
    scan.height = animation.height;
    if (scan.width > kMaxGifSide || scan.height > kMaxGifSide) {
        scan.result = GifScanResult::BadDimensions;
        return scan;
    }
    scan.bytes64 = static_cast<uint64_t>(scan.frameCount) * scan.height * scan.width * 4;
    scan.bytes32 = scan.frameCount * scan.height * scan.width * 4u;
    scan.result = scan.bytes64 == scan.bytes32 ? GifScanResult::Scanned : GifScanResult::TooLarge;
    return scan;
}

float GifFrameDelay(const gif_animation& animation, uint32_t frame) {
    const float delay = static_cast<float>(animation.frames[frame].frame_delay) * 0.01f;
    return delay == 0.0f ? 0.1f : delay;
}

uint32_t GifLoopLimit(int loopCount) {
    if (loopCount <= 0 || loopCount >= 65535)
        return 0;
    return static_cast<uint32_t>(loopCount);
}
