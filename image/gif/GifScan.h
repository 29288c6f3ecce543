#pragma once

#include <cstdint>

// libnsgif.h uses size_t without declaring it, and has no C++ guard of its own.
#include <cstddef>
extern "C" {
#include <libnsgif.h>
}

// The rules a GIF file meets before it is shown, the same for a load inside the host's frame and
// for one on a worker: the scan and its limits, the frame count, the delays and the loop limit.
// Each caller reports a refusal in its own way (the host's log, or lines kept for it), with the
// numbers given here.

// The largest canvas side the holder shows; 4096 itself passes.
constexpr uint32_t kMaxGifSide = 4096;

enum class GifScanResult {
    Scanned,        // frameCount, width and height hold, every limit passed
    Corrupt,        // libnsgif could not scan the file
    BadDimensions,  // a canvas side above kMaxGifSide
    TooLarge,       // all frames together need 2^32 bytes or more
};

struct GifScan {
    GifScanResult result = GifScanResult::Corrupt;
    // Frames of the animation: libnsgif's count up to its first frame not meant for display (it
    // counts extension blocks after the last image as one more such frame, with a delay of 1 s).
    uint32_t frameCount = 0;
    // libnsgif's canvas after the scan, grown to cover every frame: not the file header's.
    uint32_t width = 0, height = 0;
    // The bytes of every frame together, in 64 bits and modulo 2^32. Once they agree, every byte
    // count and frame offset that load and playback compute in 32 bits is exact.
    uint64_t bytes64 = 0;
    uint32_t bytes32 = 0;
};

// Scans `size` bytes at `data` (which must point at one byte at least, also for an empty file) into
// `animation`, made with gif_create, and checks the canvas and the size of all frames together.
GifScan ScanGif(gif_animation& animation, const uint8_t* data, size_t size);

// Frame `frame`'s display time in seconds: its centiseconds times 0.01 in single precision (10 cs
// gives 0.099999994, not 0.1), and 0.1 for a frame stored with 0.
float GifFrameDelay(const gif_animation& animation, uint32_t frame);

// How many times the frames are played in all; 0 means forever. libnsgif reports 1 for a GIF
// without a looping extension; 65535 and above count as forever, like 0.
uint32_t GifLoopLimit(int loopCount);
