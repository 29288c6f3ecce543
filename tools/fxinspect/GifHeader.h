#pragma once

// What a GIF file says about itself that the image holder does not keep: the canvas its header
// declares (libnsgif may grow it to hold every frame, or ignore it) and whether a looping extension
// gave the loop count (libnsgif reports 1 both for a count of 1 and for no extension at all).
#include <cstdint>
#include <vector>

namespace fxinspect {

struct GifHeader {
    bool isGif = false;  // starts with "GIF" and a whole logical screen descriptor
    uint32_t width = 0, height = 0;
    // The NETSCAPE2.0 extension as libnsgif reads it; the last one counts, as there.
    bool hasLoopExtension = false;
    uint32_t loopCount = 0;
};

// Walks the file's blocks as far as they are well formed; a damaged tail only ends the walk.
GifHeader ReadGifHeader(const std::vector<uint8_t>& bytes);

}  // namespace fxinspect
