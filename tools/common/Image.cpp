#include "Image.h"

#include <algorithm>

namespace pictures {

namespace {
// The part of [start, start + length) that lies within [0, limit).
bool Clip(int start, int length, unsigned limit, unsigned& from, unsigned& to) {
    long long a = std::max<long long>(start, 0);
    long long b = std::min<long long>(static_cast<long long>(start) + length, limit);
    if (a >= b)
        return false;
    from = static_cast<unsigned>(a);
    to = static_cast<unsigned>(b);
    return true;
}
}  // namespace

Image::Image(unsigned w, unsigned h, Rgba fill) : width(w), height(h) {
    rgba.resize(static_cast<size_t>(w) * h * 4);
    for (size_t i = 0; i < rgba.size(); i += 4) {
        rgba[i] = fill.r;
        rgba[i + 1] = fill.g;
        rgba[i + 2] = fill.b;
        rgba[i + 3] = fill.a;
    }
}

void FillRect(Image& image, int x, int y, int w, int h, Rgba colour) {
    unsigned x0, x1, y0, y1;
    if (!Clip(x, w, image.width, x0, x1) || !Clip(y, h, image.height, y0, y1))
        return;
    for (unsigned row = y0; row < y1; ++row) {
        for (unsigned col = x0; col < x1; ++col) {
            uint8_t* p = image.At(col, row);
            p[0] = colour.r;
            p[1] = colour.g;
            p[2] = colour.b;
            p[3] = colour.a;
        }
    }
}

void BlendRect(Image& image, int x, int y, int w, int h, Rgba colour) {
    unsigned x0, x1, y0, y1;
    if (!Clip(x, w, image.width, x0, x1) || !Clip(y, h, image.height, y0, y1))
        return;
    const unsigned a = colour.a;
    for (unsigned row = y0; row < y1; ++row) {
        for (unsigned col = x0; col < x1; ++col) {
            uint8_t* p = image.At(col, row);
            p[0] = static_cast<uint8_t>((p[0] * (255 - a) + colour.r * a + 127) / 255);
            p[1] = static_cast<uint8_t>((p[1] * (255 - a) + colour.g * a + 127) / 255);
            p[2] = static_cast<uint8_t>((p[2] * (255 - a) + colour.b * a + 127) / 255);
        }
    }
}

Image Scaled(const Image& source, unsigned w, unsigned h) {
    Image target(w, h);
    if (source.width == 0 || source.height == 0 || w == 0 || h == 0)
        return target;
    for (unsigned ty = 0; ty < h; ++ty) {
        unsigned sy0 =
            static_cast<unsigned>(static_cast<unsigned long long>(ty) * source.height / h);
        unsigned sy1 =
            static_cast<unsigned>(static_cast<unsigned long long>(ty + 1) * source.height / h);
        sy1 = std::max(sy1, sy0 + 1);
        for (unsigned tx = 0; tx < w; ++tx) {
            unsigned sx0 =
                static_cast<unsigned>(static_cast<unsigned long long>(tx) * source.width / w);
            unsigned sx1 =
                static_cast<unsigned>(static_cast<unsigned long long>(tx + 1) * source.width / w);
            sx1 = std::max(sx1, sx0 + 1);
            unsigned long long sum[4] = {0, 0, 0, 0};
            for (unsigned sy = sy0; sy < sy1; ++sy) {
                const uint8_t* p = source.At(sx0, sy);
                for (unsigned sx = sx0; sx < sx1; ++sx, p += 4) {
                    sum[0] += p[0];
                    sum[1] += p[1];
                    sum[2] += p[2];
                    sum[3] += p[3];
                }
            }
            unsigned long long count = static_cast<unsigned long long>(sx1 - sx0) * (sy1 - sy0);
            uint8_t* q = target.At(tx, ty);
            for (int c = 0; c < 4; ++c)
                q[c] = static_cast<uint8_t>((sum[c] + count / 2) / count);
        }
    }
    return target;
}

void Paste(Image& target, const Image& source, int x, int y) {
    unsigned x0, x1, y0, y1;
    if (!Clip(x, static_cast<int>(source.width), target.width, x0, x1) ||
        !Clip(y, static_cast<int>(source.height), target.height, y0, y1))
        return;
    for (unsigned row = y0; row < y1; ++row) {
        const uint8_t* from =
            source.At(x0 - static_cast<unsigned>(x), row - static_cast<unsigned>(y));
        std::copy(from, from + (x1 - x0) * 4, target.At(x0, row));
    }
}

}  // namespace pictures
