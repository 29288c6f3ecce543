#pragma once

// A plain R,G,B,A picture in memory and the few drawing steps the player and the effect maker
// need: filled and blended rectangles, scaling by area averaging, and pasting.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pictures {

struct Rgba {
    uint8_t r = 0, g = 0, b = 0, a = 255;
};

struct Image {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<uint8_t> rgba;  // rows packed, top row first

    Image() = default;
    Image(unsigned w, unsigned h, Rgba fill = Rgba{});

    uint8_t* At(unsigned x, unsigned y) { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
    const uint8_t* At(unsigned x, unsigned y) const {
        return &rgba[(static_cast<size_t>(y) * width + x) * 4];
    }
};

// Writes `colour` over the rectangle, clipped to the picture.
void FillRect(Image& image, int x, int y, int w, int h, Rgba colour);
// Mixes `colour` into the rectangle by its alpha, clipped; the picture's alpha is kept.
void BlendRect(Image& image, int x, int y, int w, int h, Rgba colour);
// The picture scaled to w x h, each target pixel the average of the source pixels it covers.
Image Scaled(const Image& source, unsigned w, unsigned h);
// Copies `source` into `target` with its top-left corner at (x, y), clipped.
void Paste(Image& target, const Image& source, int x, int y);

}  // namespace pictures
