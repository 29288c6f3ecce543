#pragma once

// What a WebP file says about itself, read with libwebp's demuxer: the canvas, the loop count and
// each frame's duration as the file stores them (the holder keeps only the durations it plays), and
// whether the file is whole.
#include <cstdint>
#include <vector>

namespace fxinspect {

struct WebpHeader {
    bool isWebp = false;    // the demuxer took it as a WebP, whole or as far as it goes
    bool complete = false;  // ... and found every chunk the file announces
    bool animated = false;  // an animation, as the file's flags say; a still WebP has one frame
    bool alpha = false;     // the file says it carries alpha
    uint32_t width = 0, height = 0;
    uint32_t loopCount = 0;             // 0 loops forever; only an animation has one
    std::vector<uint32_t> durationsMs;  // per whole frame, as stored (0 to 2^24 - 1)
};

// Never fails: a file the demuxer refuses gives isWebp false. Built where libwebp is; elsewhere
// nothing is a WebP.
WebpHeader ReadWebpHeader(const std::vector<uint8_t>& bytes);

}  // namespace fxinspect
