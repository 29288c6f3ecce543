#include "TestPattern.h"

#include <algorithm>
#include <string>

#include "TinyFont.h"

namespace pictures {

namespace {
int Part(unsigned size, unsigned numerator, unsigned denominator) {
    return static_cast<int>(static_cast<unsigned long long>(size) * numerator / denominator);
}
}  // namespace

Image MakeTestPattern(unsigned width, unsigned height) {
    Image image(width, height, Rgba{16, 16, 16, 255});
    // Dark, muted bars, so that bright effects stand out over them.
    const Rgba kBars[] = {{105, 105, 105, 255}, {105, 105, 20, 255}, {20, 105, 105, 255},
                          {20, 105, 20, 255},   {105, 20, 105, 255}, {105, 20, 20, 255},
                          {20, 20, 105, 255}};
    const int barsBottom = Part(height, 60, 100);
    for (unsigned i = 0; i < 7; ++i) {
        int x0 = Part(width, i, 7), x1 = Part(width, i + 1, 7);
        FillRect(image, x0, 0, x1 - x0, barsBottom, kBars[i]);
    }
    // A strip of the bars' complements, then a grey ramp from black to white.
    const int stripBottom = Part(height, 70, 100);
    for (unsigned i = 0; i < 7; ++i) {
        int x0 = Part(width, i, 7), x1 = Part(width, i + 1, 7);
        Rgba c = kBars[6 - i];
        FillRect(image, x0, barsBottom, x1 - x0, stripBottom - barsBottom,
                 Rgba{static_cast<uint8_t>(c.r / 2), static_cast<uint8_t>(c.g / 2),
                      static_cast<uint8_t>(c.b / 2), 255});
    }
    for (unsigned x = 0; x < width; ++x) {
        uint8_t v = static_cast<uint8_t>(width > 1 ? x * 255 / (width - 1) : 0);
        FillRect(image, static_cast<int>(x), stripBottom, 1, static_cast<int>(height) - stripBottom,
                 Rgba{v, v, v, 255});
    }

    // The grid: a line every 10%, labelled along the top and the left edge.
    const int scale = std::max(1, static_cast<int>(std::min(width, height) / 360));
    const Rgba kLine{255, 255, 255, 96};
    const Rgba kLabel{255, 255, 255, 255};
    const Rgba kShade{0, 0, 0, 160};
    for (unsigned p = 10; p < 100; p += 10) {
        int x = Part(width, p, 100), y = Part(height, p, 100);
        BlendRect(image, x, 0, std::max(1, scale / 2), static_cast<int>(height), kLine);
        BlendRect(image, 0, y, static_cast<int>(width), std::max(1, scale / 2), kLine);
        std::string label = std::to_string(p) + "%";
        int w = TextWidth(label, scale);
        int h = kGlyphHeight * scale;
        BlendRect(image, x + 2 * scale, 2 * scale, w + 2 * scale, h + 2 * scale, kShade);
        DrawText(image, x + 3 * scale, 3 * scale, label, scale, kLabel);
        BlendRect(image, 2 * scale, y + 2 * scale, w + 2 * scale, h + 2 * scale, kShade);
        DrawText(image, 3 * scale, y + 3 * scale, label, scale, kLabel);
    }

    // A title in the middle of the ramp.
    std::string title =
        "FXPLAYER TEST PATTERN " + std::to_string(width) + "x" + std::to_string(height);
    int titleScale = scale * 2;
    int tw = TextWidth(title, titleScale);
    int tx = (static_cast<int>(width) - tw) / 2;
    int ty = stripBottom + (static_cast<int>(height) - stripBottom - kGlyphHeight * titleScale) / 2;
    BlendRect(image, tx - 3 * titleScale, ty - 2 * titleScale, tw + 6 * titleScale,
              (kGlyphHeight + 4) * titleScale, Rgba{0, 0, 0, 200});
    DrawText(image, tx, ty, title, titleScale, kLabel);
    return image;
}

}  // namespace pictures
