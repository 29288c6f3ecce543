#include "SizedEffect.h"

#include <algorithm>

#include "GifWriter.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb_image_write.h>

namespace fxmakefx {

namespace {

const uint8_t kPalette[] = {20, 24, 60, 40, 90, 160, 200, 120, 40, 240, 230, 210};
constexpr unsigned kBands = 3;
constexpr uint8_t kBar = 3;

// Palette indices of frame `f` of `frames`: bands down the picture, the bar across them.
std::vector<uint8_t> Frame(unsigned width, unsigned height, unsigned f, unsigned frames) {
    std::vector<uint8_t> indices(static_cast<size_t>(width) * height);
    const unsigned barWidth = std::max(1u, width / 10);
    const unsigned barLeft = frames > 1 ? (width - barWidth) * f / (frames - 1) : 0;
    for (unsigned y = 0; y < height; ++y) {
        uint8_t* row = &indices[static_cast<size_t>(y) * width];
        std::fill(row, row + width, static_cast<uint8_t>(y * kBands / height));
        std::fill(row + barLeft, row + barLeft + barWidth, kBar);
    }
    return indices;
}

void AppendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    auto* bytes = static_cast<const uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

std::vector<uint8_t> Png(unsigned width, unsigned height) {
    const std::vector<uint8_t> indices = Frame(width, height, 0, 1);
    std::vector<uint8_t> rgba(indices.size() * 4);
    for (size_t i = 0; i < indices.size(); ++i) {
        std::copy(kPalette + indices[i] * 3, kPalette + indices[i] * 3 + 3, &rgba[i * 4]);
        rgba[i * 4 + 3] = 255;
    }
    std::vector<uint8_t> out;
    stbi_write_png_to_func(&AppendBytes, &out, static_cast<int>(width), static_cast<int>(height), 4,
                           rgba.data(), static_cast<int>(width * 4));
    return out;
}

}  // namespace

bool ParseSizedKind(const std::string& word, SizedKind& kind) {
    const struct {
        const char* word;
        SizedKind kind;
    } kinds[] = {{"loop", SizedKind::Loop},
                 {"once", SizedKind::Once},
                 {"broken", SizedKind::BrokenFrame},
                 {"still", SizedKind::Still}};
    for (const auto& k : kinds) {
        if (word == k.word) {
            kind = k.kind;
            return true;
        }
    }
    return false;
}

std::vector<uint8_t> MakeSizedEffect(unsigned width, unsigned height, unsigned frames,
                                     SizedKind kind) {
    if (kind == SizedKind::Still)
        return Png(width, height);
    GifWriter writer(static_cast<uint16_t>(width), static_cast<uint16_t>(height),
                     std::vector<uint8_t>(std::begin(kPalette), std::end(kPalette)));
    if (kind != SizedKind::Once)
        writer.Loop(0);
    for (unsigned f = 0; f < frames; ++f) {
        GifImage image;
        image.indices = Frame(width, height, f, frames);
        image.delayCs = 5;
        image.broken = kind == SizedKind::BrokenFrame && f == 1;
        writer.Add(std::move(image));
    }
    return writer.Bytes();
}

}  // namespace fxmakefx
