// The canvas and the sprite compositor.
//
// DrawSprite covers the canvas pixels whose centres lie inside [x, x2) by [y, y2), clipped to the
// canvas; an empty, inverted or non-finite rectangle covers none. Each covered pixel samples the
// texture where its centre falls, as the colour-key shader's sampler declares and a GPU does:
// linear filtering between the four nearest texel centres, clamped at the edges, on the stored
// (straight-alpha) values. A sprite drawn at its own size on whole pixels hits texel centres and
// shows its texels unchanged; an enlarged one is smooth, and a keyed one has the soft fringe the
// host shows. The sprite colour 0xAARRGGBB multiplies the sample: its alpha the sample's alpha,
// its red, green and blue the sample's channels (c * mod / 255). A bound colour-key shader
// multiplies the alpha by its coverage of the sample first. The result goes over the canvas
// source-over with straight alpha, as a Direct3D host blends (SRCALPHA, INVSRCALPHA):
//   rgb = src.rgb * a + dst.rgb * (1 - a),  alpha = a + dst.alpha * (1 - a).
#include <cmath>
#include <cstdint>
#include <cstring>
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

// Where one covered pixel samples along one axis: texels `first` and `second`, the second with
// `weight` 256ths (0 when the pixel's centre falls on a texel centre or past the edge). GPUs place
// samples to 8 bits below a texel (Direct3D's subtexel precision; lavapipe's too).
struct Tap {
    unsigned first, second;
    unsigned weight;
};

std::vector<Tap> Taps(int64_t first, int64_t end, double a, double b, unsigned texels) {
    std::vector<Tap> taps;
    taps.reserve(static_cast<size_t>(end - first));
    double scale = texels / (b - a);
    for (int64_t p = first; p < end; ++p) {
        double at = (static_cast<double>(p) + 0.5 - a) * scale - 0.5;  // in texel centres
        double whole = std::floor(at);
        if (!(whole >= 0)) {
            taps.push_back({0, 0, 0});
            continue;
        }
        if (whole >= texels - 1) {
            taps.push_back({texels - 1, texels - 1, 0});
            continue;
        }
        auto texel = static_cast<unsigned>(whole);
        auto weight = static_cast<unsigned>(std::lround((at - whole) * 256));
        if (weight == 256)
            taps.push_back({texel + 1, texel + 1, 0});
        else
            taps.push_back({texel, texel + 1, weight});
    }
    return taps;
}

// Two texels (four 8-bit channels each, packed) mixed channel by channel with `weight` 256ths of
// the second, each channel rounded to 8 bits. Two channels share each multiply: a channel's sum
// stays below 2^16, so it never carries into the next.
uint32_t Lerp(uint32_t first, uint32_t second, unsigned weight) {
    const uint32_t keep = 256 - weight;
    uint32_t even =
        (((first & 0x00FF00FFu) * keep + (second & 0x00FF00FFu) * weight + 0x00800080u) >> 8) &
        0x00FF00FFu;
    uint32_t odd = (((first >> 8) & 0x00FF00FFu) * keep + ((second >> 8) & 0x00FF00FFu) * weight +
                    0x00800080u) &
                   0xFF00FF00u;
    return even | odd;
}

uint32_t Texel(const uint8_t* row, unsigned column) {
    uint32_t texel;
    std::memcpy(&texel, row + static_cast<size_t>(column) * 4, 4);
    return texel;
}

// The texture at one pixel, between two rows (`lower` with `down` 256ths) and two columns. Each
// step is rounded to 8 bits, as a fixed-point texture unit does with an 8-bit texture (lavapipe,
// which the tests hold this to): the colour key, which scales small differences up by
// 1 / blend, then sees the same texel on both.
void Sample(const uint8_t* upper, const uint8_t* lower, unsigned down, const Tap& column,
            uint8_t* out) {
    uint32_t texel = Texel(upper, column.first);
    if (column.weight != 0 || down != 0) {
        uint32_t top = Lerp(texel, Texel(upper, column.second), column.weight);
        uint32_t bottom =
            Lerp(Texel(lower, column.first), Texel(lower, column.second), column.weight);
        texel = Lerp(top, bottom, down);
    }
    std::memcpy(out, &texel, 4);
}

// c / 255 for every byte value: the same floats the per-pixel loop would get by dividing there,
// without a division per pixel.
struct UnitTable {
    float of[256];
};
constexpr UnitTable MakeUnitTable() {
    UnitTable table{};
    for (int i = 0; i < 256; ++i)
        table.of[i] = static_cast<float>(i) / 255.0f;
    return table;
}
constexpr UnitTable kUnit = MakeUnitTable();

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
    std::vector<Tap> columns, rows;
    try {
        pixels = &Pixels(canvas);
        columns = Taps(left, right, x, x2, texture.width);
        rows = Taps(top, bottom, y, y2, texture.height);
    } catch (const std::bad_alloc&) {
        return;
    }

    const float spriteAlpha = static_cast<float>(color >> 24) / 255.0f;
    const float modulate[3] = {static_cast<float>((color >> 16) & 0xFF) / 255.0f,
                               static_cast<float>((color >> 8) & 0xFF) / 255.0f,
                               static_cast<float>(color & 0xFF) / 255.0f};
    const bool keyed = program.kind == PixelProgram::Kind::ColorKeyRgb;
    const size_t rowBytes = static_cast<size_t>(texture.width) * 4;
    for (int64_t py = top; py < bottom; ++py) {
        const Tap& row = rows[py - top];
        const uint8_t* upper = texture.rgba.data() + row.first * rowBytes;
        const uint8_t* lower = texture.rgba.data() + row.second * rowBytes;
        uint8_t* out = pixels->data() + (static_cast<size_t>(py) * canvas.width + left) * 4;
        for (int64_t px = left; px < right; ++px, out += 4) {
            uint8_t texel[4];
            Sample(upper, lower, row.weight, columns[px - left], texel);
            float alpha = kUnit.of[texel[3]] * spriteAlpha;
            if (keyed && alpha > 0.0f)
                alpha *= ColorKeyCoverage(program, kUnit.of[texel[0]], kUnit.of[texel[1]],
                                          kUnit.of[texel[2]]);
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
