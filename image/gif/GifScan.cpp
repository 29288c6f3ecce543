#include "image/gif/GifScan.h"

FrameScan ScanGif(gif_animation& animation, const uint8_t* data, size_t size) {
    FrameScan scan;
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
    CheckCanvasLimits(scan);
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
