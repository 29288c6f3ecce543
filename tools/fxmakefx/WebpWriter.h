#pragma once

// Animated WebP through libwebp's animation encoder. Frames are given as whole canvases, the
// pictures a player must show; the encoder finds what changed and writes partial frames, blends
// and disposals itself, so that a lossless file composes back to exactly those canvases.
#include <cstdint>
#include <string>
#include <vector>

namespace fxmakefx {

// A frame's duration is 24 bits in the file.
constexpr int kMaxWebpDurationMs = 0xffffff;

struct WebpCanvas {
    std::vector<uint8_t> rgba;  // width x height pixels, R,G,B,A (straight alpha), top row first
    int durationMs = 100;       // 0 to kMaxWebpDurationMs
};

struct WebpOptions {
    bool lossless = true;  // lossless keeps every byte, also the colour under alpha 0
    float quality = 75;    // lossy: 0 (small) to 100 (best); lossless: effort 0 to 100
    int loopCount = 0;     // 0 loops forever
};

// The file: one frame makes a still WebP, more an animation. Throws std::runtime_error with the
// encoder's reason when it fails (sizes beyond 16383, a canvas of the wrong size, a duration
// out of range).
std::vector<uint8_t> EncodeWebp(unsigned width, unsigned height,
                                const std::vector<WebpCanvas>& canvases,
                                const WebpOptions& options);

// One frame as the file stores it.
struct WebpStoredFrame {
    int x = 0, y = 0, width = 0, height = 0;
    int durationMs = 0;
    bool blend = false;                // alpha-blended over what is shown, else it replaces it
    bool disposeToBackground = false;  // its rectangle is cleared after it is shown
};

struct WebpLayout {
    unsigned width = 0, height = 0;
    int loopCount = 0;
    bool animated = false;
    std::vector<WebpStoredFrame> frames;
};

// What the container holds, read with libwebp's demuxer; false for a file it refuses.
bool DescribeWebp(const std::vector<uint8_t>& bytes, WebpLayout& layout);

// "12 frames (9 partial, 5 blended, 2 disposed to background), loops forever"
std::string SummarizeWebp(const WebpLayout& layout);

}  // namespace fxmakefx
