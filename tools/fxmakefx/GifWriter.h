#pragma once

// A small GIF writer for the example effects: a global palette, frames of the full canvas with
// their delay, disposal and transparent index, an optional looping extension, and LZW coding with
// a real dictionary, so that flat pictures stay small.
#include <cstdint>
#include <string>
#include <vector>

namespace fxmakefx {

struct GifImage {
    std::vector<uint8_t> indices;  // width x height palette indices, rows top to bottom
    uint16_t delayCs = 10;
    uint8_t disposal = 1;       // 1 keep, 2 restore to background
    int transparentIndex = -1;  // -1: none
    bool broken = false;        // its codes run beyond the dictionary: it fails to decode
};

class GifWriter {
public:
    // `palette` holds R,G,B triples, at most 256 of them.
    GifWriter(uint16_t width, uint16_t height, std::vector<uint8_t> palette);
    // Adds the looping extension: 0 loops forever. Without it the animation plays once.
    void Loop(uint16_t count);
    void Add(GifImage image);
    std::vector<uint8_t> Bytes() const;

private:
    uint16_t width_, height_;
    std::vector<uint8_t> palette_;
    int loop_ = -1;
    std::vector<GifImage> images_;
};

// GIF LZW data (without the sub-block framing) for `indices` with the given minimum code size.
std::vector<uint8_t> LzwCompress(const std::vector<uint8_t>& indices, int minCodeSize);

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace fxmakefx
