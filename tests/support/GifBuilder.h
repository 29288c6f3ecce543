#pragma once

// Writes small GIF files in memory for tests, with real LZW-coded image data and, where a test asks
// for it, deliberately broken parts.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

using Bytes = std::vector<unsigned char>;

// One image of a GIF: its rectangle on the canvas, its palette indices and its control block.
struct GifFrame {
    uint16_t left = 0, top = 0;
    uint16_t width = 1, height = 1;
    // One palette index per pixel, rows top to bottom; empty gives index 0 everywhere.
    std::vector<uint8_t> indices;
    // R,G,B triples; empty uses the global palette.
    std::vector<uint8_t> localPalette;
    // Rows written in the interlaced order (every 8th from 0, every 8th from 4, every 4th from 2,
    // every 2nd from 1), with the interlace flag set.
    bool interlaced = false;

    // The graphic control extension is written only when `delayCs` is 0 or more.
    int delayCs = -1;
    uint8_t disposal = 0;       // 0 or 1 keep, 2 to background, 3 to previous
    int transparentIndex = -1;  // -1: no transparent colour

    // LZW minimum code size written in the file; 0 picks the right one for the palette.
    uint8_t minCodeSize = 0;
    // When set, these bytes replace the coded image data (split into sub-blocks as usual).
    bool useRawData = false;
    Bytes rawData;

    // A frame of one colour.
    static GifFrame Solid(uint16_t width, uint16_t height, uint8_t index, int delayCs = 10);
    // Image data whose first code is not a valid first code: the header parses, the decode fails.
    GifFrame& Broken();
};

class GifBuilder {
public:
    GifBuilder(uint16_t width, uint16_t height);

    // R,G,B triples. The default is black, white, red, green.
    GifBuilder& GlobalPalette(std::vector<uint8_t> rgb);
    GifBuilder& NoGlobalPalette();
    GifBuilder& Background(uint8_t index);
    // Adds the NETSCAPE2.0 looping extension with this count (0: forever); absent by default.
    GifBuilder& Loop(uint16_t count);
    GifBuilder& Frame(const GifFrame& frame);
    // A comment extension after the last frame, just before the trailer.
    GifBuilder& TrailingComment(std::string text);

    Bytes Build() const;

private:
    uint16_t width_, height_;
    std::vector<uint8_t> globalPalette_;
    bool hasGlobalPalette_ = true;
    uint8_t background_ = 0;
    int loop_ = -1;
    std::vector<GifFrame> frames_;
    std::vector<std::string> trailingComments_;
};

// GIF-style LZW data for `indices`: a clear code before every run of literals short enough that the
// codes stay at their first width, then the end code. Packed least significant bit first.
Bytes LzwEncode(const std::vector<uint8_t>& indices, uint8_t minCodeSize);
// Packs (code, bit width) pairs least significant bit first, as GIF image data.
Bytes PackCodes(const std::vector<std::pair<uint32_t, unsigned>>& codes);
// The first `size` bytes.
Bytes Truncated(Bytes bytes, size_t size);

}  // namespace testsupport
