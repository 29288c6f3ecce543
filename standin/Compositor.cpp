// The canvas and the sprite compositor.
//
// DrawSprite covers the canvas pixels whose centres lie inside [x, x2) by [y, y2), clipped to the
// canvas; an empty, inverted or non-finite rectangle covers none. Each covered pixel samples the
// texture's nearest texel. The sprite colour 0xAARRGGBB multiplies the texel: its alpha the
// texel's alpha, its red, green and blue the texel's channels (c * mod / 255). A bound colour-key
// shader multiplies the alpha by its coverage first. The result goes over the canvas source-over
// with straight alpha, as a Direct3D host blends (SRCALPHA, INVSRCALPHA):
//   rgb = src.rgb * a + dst.rgb * (1 - a),  alpha = a + dst.alpha * (1 - a).
#include <cmath>
#include <cstdint>
#include <mutex>
#include <new>
#include <vector>

#include "host/Log.h"
#include "standin/Internal.h"
#include "standin/Standin.h"

namespace {

constexpr uint32_t kDefaultWidth = 1920;
constexpr uint32_t kDefaultHeight = 1080;

struct Canvas {
    std::mutex mutex;
    uint32_t width = kDefaultWidth;
    uint32_t height = kDefaultHeight;
    // Made on first use, transparent black, so that a test that never draws pays nothing.
    std::vector<uint8_t> pixels;
};

Canvas& State() {
    static Canvas* canvas = new Canvas;  // leaked: drawing may go on until the process ends
    return *canvas;
}

// Under the lock.
std::vector<uint8_t>& Pixels(Canvas& canvas) {
    size_t size = static_cast<size_t>(canvas.width) * canvas.height * 4;
    if (canvas.pixels.size() != size)
        canvas.pixels.assign(size, 0);
    return canvas.pixels;
}

// The covered pixel range [first, end) along one axis of `extent` pixels: centres in [a, b).
void Span(double a, double b, uint32_t extent, int64_t& first, int64_t& end) {
    double lo = std::ceil(a - 0.5), hi = std::ceil(b - 0.5);
    if (lo < 0)
        lo = 0;
    if (hi > extent)
        hi = extent;
    first = static_cast<int64_t>(lo < extent ? lo : extent);
    end = static_cast<int64_t>(hi > 0 ? hi : 0);
}

// For each covered pixel along one axis, the nearest texel.
std::vector<unsigned> Samples(int64_t first, int64_t end, double a, double b, unsigned texels) {
    std::vector<unsigned> samples;
    samples.reserve(static_cast<size_t>(end - first));
    double scale = texels / (b - a);
    for (int64_t p = first; p < end; ++p) {
        double t = std::floor((static_cast<double>(p) + 0.5 - a) * scale);
        if (t < 0)
            t = 0;
        if (t > texels - 1)
            t = texels - 1;
        samples.push_back(static_cast<unsigned>(t));
    }
    return samples;
}

uint8_t ToByte(float value) {
    if (!(value > 0.0f))
        return 0;
    if (value >= 255.0f)
        return 255;
    return static_cast<uint8_t>(value + 0.5f);
}

}  // namespace

namespace standin {

namespace detail {

void Composite(const TextureInfo& texture, uint32_t color, float x, float y, float x2, float y2,
               const PixelProgram& program) {
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(x2) || !std::isfinite(y2))
        return;
    if (!(x2 > x) || !(y2 > y) || texture.width == 0 || texture.height == 0)
        return;
    if (texture.rgba.size() != static_cast<size_t>(texture.width) * texture.height * 4)
        return;

    Canvas& canvas = State();
    std::lock_guard<std::mutex> lock(canvas.mutex);
    int64_t left, right, top, bottom;
    Span(x, x2, canvas.width, left, right);
    Span(y, y2, canvas.height, top, bottom);
    if (left >= right || top >= bottom)
        return;
    std::vector<uint8_t>* pixels;
    std::vector<unsigned> columns, rows;
    try {
        pixels = &Pixels(canvas);
        columns = Samples(left, right, x, x2, texture.width);
        rows = Samples(top, bottom, y, y2, texture.height);
    } catch (const std::bad_alloc&) {
        return;
    }

    const float spriteAlpha = static_cast<float>(color >> 24) / 255.0f;
    const float modulate[3] = {static_cast<float>((color >> 16) & 0xFF) / 255.0f,
                               static_cast<float>((color >> 8) & 0xFF) / 255.0f,
                               static_cast<float>(color & 0xFF) / 255.0f};
    const bool keyed = program.kind == PixelProgram::Kind::ColorKeyRgb;
    for (int64_t py = top; py < bottom; ++py) {
        const uint8_t* textureRow =
            texture.rgba.data() + static_cast<size_t>(rows[py - top]) * texture.width * 4;
        uint8_t* out = pixels->data() + (static_cast<size_t>(py) * canvas.width + left) * 4;
        for (int64_t px = left; px < right; ++px, out += 4) {
            const uint8_t* texel = textureRow + static_cast<size_t>(columns[px - left]) * 4;
            float alpha = static_cast<float>(texel[3]) / 255.0f * spriteAlpha;
            if (keyed && alpha > 0.0f)
                alpha *= ColorKeyCoverage(program, texel[0] / 255.0f, texel[1] / 255.0f,
                                          texel[2] / 255.0f);
            if (!(alpha > 0.0f))
                continue;
            float keep = 1.0f - alpha;
            for (int c = 0; c < 3; ++c)
                out[c] = ToByte(texel[c] * modulate[c] * alpha + out[c] * keep);
            out[3] = ToByte(alpha * 255.0f + out[3] * keep);
        }
    }
}

void CanvasSize(uint32_t& width, uint32_t& height) {
    Canvas& canvas = State();
    std::lock_guard<std::mutex> lock(canvas.mutex);
    width = canvas.width;
    height = canvas.height;
}

void ResetCanvas() {
    Canvas& canvas = State();
    std::lock_guard<std::mutex> lock(canvas.mutex);
    canvas.width = kDefaultWidth;
    canvas.height = kDefaultHeight;
    canvas.pixels.clear();
    canvas.pixels.shrink_to_fit();
}

}  // namespace detail

void SetCanvasSize(uint32_t width, uint32_t height) {
    if (width > detail::kMaxImageSide || height > detail::kMaxImageSide ||
        static_cast<uint64_t>(width) * height > detail::kMaxImagePixels) {
        Log(L"SetCanvasSize: %ux%u is larger than the stand-in draws; size kept", width, height);
        return;
    }
    Canvas& canvas = State();
    std::lock_guard<std::mutex> lock(canvas.mutex);
    canvas.width = width;
    canvas.height = height;
    canvas.pixels.clear();
}

void ClearCanvas(uint32_t rgba) {
    Canvas& canvas = State();
    std::lock_guard<std::mutex> lock(canvas.mutex);
    std::vector<uint8_t>& pixels = Pixels(canvas);
    const uint8_t value[4] = {static_cast<uint8_t>(rgba >> 24), static_cast<uint8_t>(rgba >> 16),
                              static_cast<uint8_t>(rgba >> 8), static_cast<uint8_t>(rgba)};
    for (size_t i = 0; i < pixels.size(); i += 4)
        for (int c = 0; c < 4; ++c)
            pixels[i + c] = value[c];
}

void SetCanvasPixels(const std::vector<uint8_t>& rgba) {
    Canvas& canvas = State();
    std::lock_guard<std::mutex> lock(canvas.mutex);
    size_t size = static_cast<size_t>(canvas.width) * canvas.height * 4;
    if (rgba.size() != size) {
        Log(L"SetCanvasPixels: %zu bytes for a %ux%u canvas; canvas kept", rgba.size(),
            canvas.width, canvas.height);
        return;
    }
    canvas.pixels = rgba;
}

const std::vector<uint8_t>& CanvasPixels() {
    Canvas& canvas = State();
    std::lock_guard<std::mutex> lock(canvas.mutex);
    return Pixels(canvas);
}

bool WriteCanvasPng(const std::string& path) {
    Canvas& canvas = State();
    std::lock_guard<std::mutex> lock(canvas.mutex);
    return WritePng(path, canvas.width, canvas.height, Pixels(canvas));
}

}  // namespace standin
