#pragma once

// Effect-like animated GIFs for the benchmarks: full-canvas frames of a moving gradient with noise
// blended in, 256 colours, coded with real LZW (a growing dictionary, cleared when full), so that
// decoding them costs what a busy effect costs.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

struct BusyGifRecipe {
    uint16_t width = 256;
    uint16_t height = 256;
    uint32_t frames = 30;
    uint16_t delayCs = 4;  // per frame, in centiseconds
};

std::vector<uint8_t> MakeBusyGif(const BusyGifRecipe& recipe);

// A realistic effect of the same shape: a plasma of four moving waves mapped to the same 256
// colours, no noise and no dithering, as a converter's palette filters leave smooth art; it codes
// to about a seventeenth of the busy effect (31 MB against 535 MB for 240 frames of 1920x1080).
std::vector<uint8_t> MakePlasmaGif(const BusyGifRecipe& recipe);

// GIF LZW for 8-bit palette indices (minimum code size 8), packed least significant bit first.
std::vector<uint8_t> LzwEncode8(const uint8_t* indices, size_t count);

}  // namespace bench
