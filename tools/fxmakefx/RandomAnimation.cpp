#include "RandomAnimation.h"

#include <algorithm>

namespace fxmakefx {

namespace {

// A generator whose output is the same everywhere (the standard distributions are not).
class Random {
public:
    explicit Random(uint32_t seed) : state_(seed * 2654435761u + 0x9e3779b9u) {}
    uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    // 0 to n - 1
    unsigned Below(unsigned n) { return n ? Next() % n : 0; }

private:
    uint32_t state_;
};

struct Rect {
    unsigned x, y, w, h;
};

class Canvas {
public:
    Canvas(unsigned width, unsigned height)
        : width_(width), rgba_(static_cast<size_t>(width) * height * 4, 0) {}

    void Put(unsigned x, unsigned y, uint32_t pixel) {
        uint8_t* p = &rgba_[(static_cast<size_t>(y) * width_ + x) * 4];
        const uint8_t alpha = static_cast<uint8_t>(pixel >> 24);
        p[0] = alpha ? static_cast<uint8_t>(pixel) : 0;
        p[1] = alpha ? static_cast<uint8_t>(pixel >> 8) : 0;
        p[2] = alpha ? static_cast<uint8_t>(pixel >> 16) : 0;
        p[3] = alpha;
    }
    void Fill(const Rect& r, uint32_t pixel) {
        for (unsigned y = r.y; y < r.y + r.h; ++y)
            for (unsigned x = r.x; x < r.x + r.w; ++x)
                Put(x, y, pixel);
    }
    const std::vector<uint8_t>& Rgba() const { return rgba_; }
    std::vector<uint8_t>& Rgba() { return rgba_; }

private:
    unsigned width_;
    std::vector<uint8_t> rgba_;
};

Rect RandomRect(Random& random, unsigned width, unsigned height, unsigned maxSide) {
    Rect r;
    r.w = 1 + random.Below(std::min(width, maxSide));
    r.h = 1 + random.Below(std::min(height, maxSide));
    r.x = random.Below(width - r.w + 1);
    r.y = random.Below(height - r.h + 1);
    return r;
}

// Opaque, translucent or (now and then) fully transparent.
uint32_t RandomPixel(Random& random) {
    const uint32_t rgb = random.Next() & 0xffffffu;
    switch (random.Below(8)) {
        case 0:
            return 0;
        case 1:
        case 2:
        case 3:
            return rgb | (1u + random.Below(254)) << 24;
        default:
            return rgb | 0xff000000u;
    }
}

}  // namespace

RandomAnimation MakeRandomAnimation(uint32_t seed, unsigned width, unsigned height,
                                    unsigned frames) {
    static const int kDurations[] = {0, 5, 9, 10, 20, 40, 70, 100, 250};
    Random random(seed);
    RandomAnimation animation;
    animation.width = width;
    animation.height = height;
    animation.loopCount = static_cast<int>(random.Below(4));

    // The fixed background: a few patches on transparency. The sprite moves over the rest.
    Canvas background(width, height);
    const unsigned maxSide = std::max(1u, std::min(width, height) / 3);
    for (int i = 0, n = 2 + static_cast<int>(random.Below(3)); i < n; ++i)
        background.Fill(RandomRect(random, width, height, maxSide), RandomPixel(random));
    const unsigned spriteW = std::max(1u, width / 4), spriteH = std::max(1u, height / 4);
    std::vector<uint32_t> sprite(static_cast<size_t>(spriteW) * spriteH);
    for (uint32_t& pixel : sprite)
        pixel = RandomPixel(random);

    Canvas previous(width, height);
    for (unsigned f = 0; f < frames; ++f) {
        Canvas canvas = background;
        if (f > 0 && random.Below(6) == 0) {
            // Now and then a picture with nothing in common with the last.
            for (size_t i = 0; i < canvas.Rgba().size() / 4; ++i)
                canvas.Put(static_cast<unsigned>(i % width), static_cast<unsigned>(i / width),
                           RandomPixel(random));
        } else {
            // The sprite, at a place that moves along a diagonal, over what is there.
            const unsigned sx = (f * 3) % (width - spriteW + 1);
            const unsigned sy = (f * 2) % (height - spriteH + 1);
            for (unsigned y = 0; y < spriteH; ++y)
                for (unsigned x = 0; x < spriteW; ++x)
                    canvas.Put(sx + x, sy + y, sprite[static_cast<size_t>(y) * spriteW + x]);
            // A patch or two of this frame alone.
            for (int i = 0, n = static_cast<int>(random.Below(3)); i < n; ++i)
                canvas.Fill(RandomRect(random, width, height, maxSide), RandomPixel(random));
        }
        // Never the same picture twice in a row: an encoder would merge the two frames.
        if (f > 0 && canvas.Rgba() == previous.Rgba()) {
            const unsigned x = random.Below(width), y = random.Below(height);
            const uint8_t* p = &canvas.Rgba()[(static_cast<size_t>(y) * width + x) * 4];
            canvas.Put(x, y,
                       (p[3] == 255 ? 0x80000000u : 0xff000000u) | (random.Next() & 0xffffffu));
        }
        WebpCanvas out;
        out.rgba = canvas.Rgba();
        out.durationMs = kDurations[random.Below(sizeof kDurations / sizeof kDurations[0])];
        animation.canvases.push_back(std::move(out));
        previous = std::move(canvas);
    }
    return animation;
}

}  // namespace fxmakefx
