#pragma once

// A GIF89a compositor of our own, written from the format alone (not from the decoder the module
// uses), that tests and the fuzzer compare the module's frames with.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// Every frame of a GIF as a viewer should see it: the whole canvas, as R,G,B,A bytes, once the
// frame has been drawn. The canvas starts transparent, and each pass of a looping GIF starts from a
// transparent canvas again, so frame 0 looks the same on every pass. A frame's pixels of its
// transparent index leave the canvas as it was. Before the next frame, disposal 2 clears the
// frame's area to transparent and disposal 3 puts back what the area held before the frame.
//
// The format wants every frame inside the logical screen and says nothing of one that is not; here
// the canvas is the logical screen grown right and down to cover every frame, which is the canvas
// the module shows, and such frames are drawn whole.
struct ReferenceGif {
    uint32_t width = 0, height = 0;
    std::vector<std::vector<uint8_t>> frames;
    // Empty when the frames are defined; otherwise why they are not, and `frames` is empty.
    std::string error;
};

// Reads a GIF87a or GIF89a file. Its frames are not defined for a file the format does not cover:
// one that ends early or holds an unknown block, a colour index past its colour table, image data
// that gives fewer pixels than the frame has or holds a code outside the table, two control blocks
// before one image, a reserved disposal method (4 to 7), plain text to be drawn, an LZW minimum
// code size outside 2 to 8, or no colour table at all. Nor for frames that would take more than
// `maxBytes` together.
ReferenceGif ComposeGif(const uint8_t* data, size_t size, size_t maxBytes = size_t{64} << 20);
inline ReferenceGif ComposeGif(const std::vector<uint8_t>& file) {
    return ComposeGif(file.data(), file.size());
}

}  // namespace testsupport
