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

std::vector<uint8_t> MakeBusyGif(const BusyGifRecipe& recipe) {
    const uint32_t w = recipe.width;
    const uint32_t h = recipe.height;
    std::vector<uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
    // Noise over a gradient codes to about one byte a pixel, or a little more.
    out.reserve(static_cast<size_t>(w) * h * recipe.frames * 5 / 4 + 4096);
    Put16(out, w);
    Put16(out, h);
    out.push_back(0xF7);  // global palette of 256 colours, 8 bits per primary
    out.push_back(0);     // background index
    out.push_back(0);     // no aspect ratio
    PutPalette(out);
    // NETSCAPE2.0: loop forever.
    const uint8_t loop[] = {0x21, 0xFF, 0x0B, 'N', 'E',  'T',  'S',  'C',  'A', 'P',
                            'E',  '2',  '.',  '0', 0x03, 0x01, 0x00, 0x00, 0x00};
    out.insert(out.end(), loop, loop + sizeof(loop));

    std::vector<uint8_t> indices(static_cast<size_t>(w) * h);
    for (uint32_t f = 0; f < recipe.frames; ++f) {
        // A diagonal gradient drifting a few pixels per frame, with noise of 12 steps over it.
        uint8_t* at = indices.data();
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                *at++ = static_cast<uint8_t>(((2 * x + y + 6 * f) >> 3) + Hash(x, y, f) % 12);
        // Graphic control: keep the frame (disposal 1), the delay, no transparent colour.
        const uint8_t control[] = {0x21, 0xF9, 0x04, 0x04};
        out.insert(out.end(), control, control + sizeof(control));
        Put16(out, recipe.delayCs);
        out.push_back(0);
        out.push_back(0);
        out.push_back(0x2C);
        Put16(out, 0);
        Put16(out, 0);
        Put16(out, w);
        Put16(out, h);
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
    out.push_back(0x3B);
    return out;
}

}  // namespace bench
