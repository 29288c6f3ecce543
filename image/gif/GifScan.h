#pragma once

#include <cstdint>

#include "image/FrameCore.h"

// libnsgif.h uses size_t without declaring it, and has no C++ guard of its own.
#include <cstddef>
extern "C" {
#include <libnsgif.h>
}

// The rules a GIF file meets before it is shown, the same for a load inside the host's frame and
// for one on a worker: the scan and its limits, the frame count, the delays and the loop limit.
// Each caller reports a refusal in its own way (the host's log, or lines kept for it), with the
// numbers given here.

// The scan's outcome, as for every format (FrameCore.h). frameCount is libnsgif's count up to its
// first frame not meant for display (it counts extension blocks after the last image as one more
// such frame, with a delay of 1 s); width and height are libnsgif's canvas after the scan, grown
// to cover every frame, not the file header's.
//
// Scans `size` bytes at `data` (which must point at one byte at least, also for an empty file) into
// `animation`, made with gif_create, and checks the canvas and the size of all frames together.
FrameScan ScanGif(gif_animation& animation, const uint8_t* data, size_t size);

// Frame `frame`'s display time in seconds: its centiseconds times 0.01 in single precision (10 cs
// gives 0.099999994, not 0.1), and 0.1 for a frame stored with 0.
float GifFrameDelay(const gif_animation& animation, uint32_t frame);

// How many times the frames are played in all; 0 means forever. libnsgif reports 1 for a GIF
// without a looping extension; 65535 and above count as forever, like 0.
uint32_t GifLoopLimit(int loopCount);
