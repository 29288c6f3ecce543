#include "BusyGif.h"

#include <cmath>

namespace bench {

namespace {

constexpr uint32_t kClearCode = 256;
constexpr uint32_t kEndCode = 257;
constexpr uint32_t kFirstFreeCode = 258;
constexpr uint32_t kMaxCodes = 4096;

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    void Put(uint32_t code, unsigned bits) {
        buffer_ |= static_cast<uint64_t>(code) << count_;
        count_ += bits;
        while (count_ >= 8) {
            out_.push_back(static_cast<uint8_t>(buffer_));
            buffer_ >>= 8;
            count_ -= 8;
        }
    }
    void Flush() {
        if (count_ > 0)
            out_.push_back(static_cast<uint8_t>(buffer_));
        buffer_ = 0;
        count_ = 0;
    }

private:
    std::vector<uint8_t>& out_;
    uint64_t buffer_ = 0;
    unsigned count_ = 0;
};

// A cheap, well-mixed hash of a pixel's position and frame: the noise.
uint32_t Hash(uint32_t x, uint32_t y, uint32_t frame) {
    uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u ^ frame * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

void Put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

// A palette that walks smoothly around the colour wheel, so neighbouring indices look alike.
void PutPalette(std::vector<uint8_t>& out) {
    for (int i = 0; i < 256; ++i) {
        const double angle = i * (2.0 * 3.14159265358979 / 256.0);
        for (double phase : {0.0, 2.0944, 4.1888})
            out.push_back(static_cast<uint8_t>(127.5 + 127.5 * std::sin(angle + phase)));
    }
}

}  // namespace

std::vector<uint8_t> LzwEncode8(const uint8_t* indices, size_t count) {
    std::vector<uint8_t> out;
    out.reserve(count + count / 4 + 16);
    BitWriter bits(out);
    // child[prefix * 256 + byte]: the code of prefix followed by byte, 0 when not yet in the table
    // (0 is never such a code: they start at 258).
    std::vector<uint16_t> child(kMaxCodes * 256, 0);
    std::vector<uint32_t> used;
    used.reserve(kMaxCodes);
    uint32_t next = kFirstFreeCode;
    unsigned width = 9;

    bits.Put(kClearCode, width);
    if (count == 0) {
        bits.Put(kEndCode, width);
        bits.Flush();
        return out;
    }
    uint32_t prefix = indices[0];
    for (size_t i = 1; i < count; ++i) {
        const uint32_t slot = prefix * 256 + indices[i];
        if (child[slot] != 0) {
            prefix = child[slot];
            continue;
        }
        bits.Put(prefix, width);
        // The decoder adds each entry one code later than we do, and widens its codes when the
        // entry it adds is the last of the current width; ours is then the first of the next.
        child[slot] = static_cast<uint16_t>(next);
        used.push_back(slot);
        if (next == (1u << width) && width < 12)
            ++width;
        if (++next == kMaxCodes) {
            bits.Put(kClearCode, width);
            for (uint32_t s : used)
                child[s] = 0;
            used.clear();
            next = kFirstFreeCode;
            width = 9;
        }
        prefix = indices[i];
    }
    bits.Put(prefix, width);
    // The decoder adds one more entry on reading that last code, and may widen before the end code.
    if (next != kFirstFreeCode && next == (1u << width) && width < 12)
        ++width;
    bits.Put(kEndCode, width);
    bits.Flush();
    return out;
}

namespace {

// The screen descriptor, the palette and the loop extension of a looping full-canvas effect.
std::vector<uint8_t> StartGif(const BusyGifRecipe& recipe, size_t reserve) {
    std::vector<uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
    out.reserve(reserve);
    Put16(out, recipe.width);
    Put16(out, recipe.height);
    out.push_back(0xF7);  // global palette of 256 colours, 8 bits per primary
    out.push_back(0);     // background index
    out.push_back(0);     // no aspect ratio
    PutPalette(out);
    // NETSCAPE2.0: loop forever.
    const uint8_t loop[] = {0x21, 0xFF, 0x0B, 'N', 'E',  'T',  'S',  'C',  'A', 'P',
                            'E',  '2',  '.',  '0', 0x03, 0x01, 0x00, 0x00, 0x00};
    out.insert(out.end(), loop, loop + sizeof(loop));
    return out;
}

// One full-canvas frame of palette indices, kept (disposal 1), with the recipe's delay.
void PutFrame(std::vector<uint8_t>& out, const BusyGifRecipe& recipe,
              const std::vector<uint8_t>& indices) {
    const uint8_t control[] = {0x21, 0xF9, 0x04, 0x04};
    out.insert(out.end(), control, control + sizeof(control));
    Put16(out, recipe.delayCs);
    out.push_back(0);  // no transparent colour
    out.push_back(0);
    out.push_back(0x2C);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, recipe.width);
    Put16(out, recipe.height);
    out.push_back(0);  // no local palette, not interlaced
    out.push_back(8);  // LZW minimum code size
    const std::vector<uint8_t> coded = LzwEncode8(indices.data(), indices.size());
    for (size_t at = 0; at < coded.size(); at += 255) {
        const size_t n = coded.size() - at < 255 ? coded.size() - at : 255;
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), coded.begin() + at, coded.begin() + at + n);
    }
    out.push_back(0);
}

}  // namespace

std::vector<uint8_t> MakeBusyGif(const BusyGifRecipe& recipe) {
    const uint32_t w = recipe.width;
    const uint32_t h = recipe.height;
    // Noise over a gradient codes to about one byte a pixel, or a little more.
    std::vector<uint8_t> out =
        StartGif(recipe, static_cast<size_t>(w) * h * recipe.frames * 5 / 4 + 4096);
    std::vector<uint8_t> indices(static_cast<size_t>(w) * h);
    for (uint32_t f = 0; f < recipe.frames; ++f) {
        // A diagonal gradient drifting a few pixels per frame, with noise of 12 steps over it.
        uint8_t* at = indices.data();
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                *at++ = static_cast<uint8_t>(((2 * x + y + 6 * f) >> 3) + Hash(x, y, f) % 12);
        PutFrame(out, recipe, indices);
    }
    out.push_back(0x3B);
    return out;
}

std::vector<uint8_t> MakePlasmaGif(const BusyGifRecipe& recipe) {
    const uint32_t w = recipe.width;
    const uint32_t h = recipe.height;
    std::vector<uint8_t> out = StartGif(recipe, static_cast<size_t>(w) * h * recipe.frames / 10);
    // Four waves, each shifted in phase from frame to frame: along x, along y, along the diagonal
    // and around a point off the centre. sin(a + t) = sin a cos t + cos a sin t, so each pixel's
    // wave parts are computed once and every frame only mixes them.
    const double kTwoPi = 2.0 * 3.14159265358979;
    const double scale = kTwoPi / (w > h ? w : h);
    std::vector<float> sinX(w), cosX(w), sinY(h), cosY(h), sinD(w + h), cosD(w + h);
    for (uint32_t x = 0; x < w; ++x) {
        sinX[x] = static_cast<float>(std::sin(x * scale * 0.25));
        cosX[x] = static_cast<float>(std::cos(x * scale * 0.25));
    }
    for (uint32_t y = 0; y < h; ++y) {
        sinY[y] = static_cast<float>(std::sin(y * scale * 0.3));
        cosY[y] = static_cast<float>(std::cos(y * scale * 0.3));
    }
    for (uint32_t d = 0; d < w + h; ++d) {
        sinD[d] = static_cast<float>(std::sin(d * scale * 0.18));
        cosD[d] = static_cast<float>(std::cos(d * scale * 0.18));
    }
    std::vector<float> sinR(static_cast<size_t>(w) * h), cosR(sinR.size());
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const double dx = x - w * 0.6;
            const double dy = y - h * 0.4;
            const double r = std::sqrt(dx * dx + dy * dy) * scale * 0.36;
            sinR[size_t{y} * w + x] = static_cast<float>(std::sin(r));
            cosR[size_t{y} * w + x] = static_cast<float>(std::cos(r));
        }
    std::vector<uint8_t> indices(static_cast<size_t>(w) * h);
    for (uint32_t f = 0; f < recipe.frames; ++f) {
        const double t = f * kTwoPi / 60.0;
        const float c1 = static_cast<float>(std::cos(t)), s1 = static_cast<float>(std::sin(t));
        const float c2 = static_cast<float>(std::cos(-1.3 * t)),
                    s2 = static_cast<float>(std::sin(-1.3 * t));
        const float c3 = static_cast<float>(std::cos(0.7 * t)),
                    s3 = static_cast<float>(std::sin(0.7 * t));
        const float c4 = static_cast<float>(std::cos(-2.0 * t)),
                    s4 = static_cast<float>(std::sin(-2.0 * t));
        uint8_t* at = indices.data();
        for (uint32_t y = 0; y < h; ++y) {
            const float waveY = sinY[y] * c2 + cosY[y] * s2;
            for (uint32_t x = 0; x < w; ++x) {
                const size_t i = size_t{y} * w + x;
                const float sum = sinX[x] * c1 + cosX[x] * s1 + waveY + sinD[x + y] * c3 +
                                  cosD[x + y] * s3 + sinR[i] * c4 + cosR[i] * s4;
                // The sum lies in [-4, 4]: nearest palette index, no dithering.
                *at++ = static_cast<uint8_t>((sum + 4.0f) * (255.0f / 8.0f) + 0.5f);
            }
        }
        PutFrame(out, recipe, indices);
    }
    out.push_back(0x3B);
    return out;
}

}  // namespace bench
