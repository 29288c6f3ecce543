// fxmakefx: makes the example effects in examples/ (the project makes its own effects rather than
// taking any from elsewhere). Usage: fxmakefx OUTPUT_FOLDER
//
//   sparkle.gif  160x160, loops forever: gold sparkles twinkling on a transparent background
//   banner.gif   240x60, plays once (no looping extension): a banner that wipes in and spells
//                its title, then holds its last frame
//   keyed.gif    160x160, loops forever: a ball circling on pure green (0,255,0) for the colour key
//   badge.png    192x96 still picture with soft edges (alpha)
//   glow.webp    160x160, loops forever: a breathing ring of light with soft alpha edges (in the
//                builds with WebP)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "GifWriter.h"
#include "Image.h"
#include "SizedEffect.h"
#include "TinyFont.h"
#ifdef FXMAKEFX_WEBP
#include "WebpEffects.h"
#endif

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb_image_write.h>

using pictures::Image;
using pictures::Rgba;

namespace {

constexpr double kPi = 3.14159265358979323846;

// Frames drawn in true colour become GIF frames over one palette of the colours they use (the
// effects are drawn with few enough). Pixels with alpha below 128 become the transparent index 0.
class Palette {
public:
    explicit Palette(bool transparent) : transparent_(transparent) {
        if (transparent_)
            rgb_ = {0, 0, 0};
    }
    std::vector<uint8_t> Indices(const Image& frame) {
        std::vector<uint8_t> indices;
        indices.reserve(static_cast<size_t>(frame.width) * frame.height);
        for (size_t i = 0; i < frame.rgba.size(); i += 4) {
            if (transparent_ && frame.rgba[i + 3] < 128) {
                indices.push_back(0);
                continue;
            }
            uint32_t key = static_cast<uint32_t>(frame.rgba[i]) << 16 |
                           static_cast<uint32_t>(frame.rgba[i + 1]) << 8 | frame.rgba[i + 2];
            auto found = index_.find(key);
            if (found == index_.end()) {
                if (rgb_.size() / 3 >= 256)
                    throw std::runtime_error("more than 256 colours");
                found = index_.emplace(key, static_cast<uint8_t>(rgb_.size() / 3)).first;
                rgb_.push_back(frame.rgba[i]);
                rgb_.push_back(frame.rgba[i + 1]);
                rgb_.push_back(frame.rgba[i + 2]);
            }
            indices.push_back(found->second);
        }
        return indices;
    }
    const std::vector<uint8_t>& Rgb() const { return rgb_; }

private:
    bool transparent_;
    std::vector<uint8_t> rgb_;
    std::map<uint32_t, uint8_t> index_;
};

uint8_t Level(double value) {
    return static_cast<uint8_t>(std::lround(std::min(1.0, std::max(0.0, value)) * 255.0));
}

// A four-pointed sparkle: two thin arms and a small round core; `strength` 0..1.
double SparkleAt(double dx, double dy, double radius, double strength) {
    if (strength <= 0.0 || radius <= 0.0)
        return 0.0;
    double ax = std::fabs(dx) / radius, ay = std::fabs(dy) / radius;
    double armH = std::max(0.0, 1.0 - ax) * std::max(0.0, 1.0 - ay * 9.0);
    double armV = std::max(0.0, 1.0 - ay) * std::max(0.0, 1.0 - ax * 9.0);
    double core = std::max(0.0, 1.0 - std::sqrt(ax * ax + ay * ay) * 3.5);
    return strength * std::min(1.0, std::max({armH, armV, core * 1.4}));
}

std::vector<uint8_t> MakeSparkle() {
    const unsigned size = 160;
    const int frames = 16;
    struct Star {
        double x, y, radius, phase;
    };
    const Star stars[] = {{80, 80, 46, 0.0},    {34, 40, 24, 0.25}, {128, 34, 28, 0.5},
                          {124, 122, 30, 0.75}, {38, 120, 22, 0.4}, {84, 20, 14, 0.85},
                          {18, 82, 14, 0.6},    {146, 80, 16, 0.1}, {82, 144, 16, 0.3}};
    Palette palette(true);
    std::vector<fxmakefx::GifImage> images;
    for (int f = 0; f < frames; ++f) {
        Image frame(size, size, Rgba{0, 0, 0, 0});
        for (unsigned y = 0; y < size; ++y) {
            for (unsigned x = 0; x < size; ++x) {
                double value = 0.0;
                for (const Star& star : stars) {
                    // Each star swells and fades once per loop, at its own phase.
                    double t = std::fmod(static_cast<double>(f) / frames + star.phase, 1.0);
                    double strength = std::sin(t * kPi);
                    value = std::max(value,
                                     SparkleAt(x - star.x, y - star.y,
                                               star.radius * (0.45 + 0.55 * strength), strength));
                }
                if (value < 0.12)
                    continue;
                // Eight steps from deep gold to white keep the palette small.
                double step = std::ceil(value * 8.0) / 8.0;
                uint8_t* p = frame.At(x, y);
                p[0] = Level(0.85 + 0.15 * step);
                p[1] = Level(0.55 + 0.45 * step);
                p[2] = Level(0.05 + 0.95 * step * step);
                p[3] = 255;
            }
        }
        fxmakefx::GifImage image;
        image.indices = palette.Indices(frame);
        image.delayCs = 6;
        image.disposal = 2;  // each frame stands alone over a cleared background
        image.transparentIndex = 0;
        images.push_back(std::move(image));
    }
    fxmakefx::GifWriter writer(size, size, palette.Rgb());
    writer.Loop(0);
    for (auto& image : images)
        writer.Add(std::move(image));
    return writer.Bytes();
}

std::vector<uint8_t> MakeBanner() {
    const unsigned width = 240, height = 60;
    const std::string title = "VANTREL FX";
    const int wipeFrames = 8;
    const int frames = wipeFrames + static_cast<int>(title.size()) + 1;
    Palette palette(false);
    std::vector<fxmakefx::GifImage> images;
    for (int f = 0; f < frames; ++f) {
        Image frame(width, height, Rgba{12, 12, 24, 255});
        // The panel grows from the left, then stays.
        int shown = f < wipeFrames ? static_cast<int>(width * (f + 1) / wipeFrames)
                                   : static_cast<int>(width);
        for (int band = 0; band < 6; ++band) {
            uint8_t shade = static_cast<uint8_t>(110 - band * 14);
            pictures::FillRect(frame, 0, band * 10, shown, 10, Rgba{20, 30, shade, 255});
        }
        pictures::FillRect(frame, 0, 0, shown, 3, Rgba{250, 200, 40, 255});
        pictures::FillRect(frame, 0, static_cast<int>(height) - 3, shown, 3,
                           Rgba{250, 200, 40, 255});
        // Then the title, one letter per frame.
        if (f >= wipeFrames) {
            std::string text = title.substr(0, static_cast<size_t>(f - wipeFrames + 1));
            const int scale = 3;
            int x = (static_cast<int>(width) - pictures::TextWidth(title, scale)) / 2;
            int y = (static_cast<int>(height) - pictures::kGlyphHeight * scale) / 2;
            pictures::DrawText(frame, x + 2, y + 2, text, scale, Rgba{0, 0, 0, 255});
            pictures::DrawText(frame, x, y, text, scale, Rgba{255, 255, 255, 255});
        }
        fxmakefx::GifImage image;
        image.indices = palette.Indices(frame);
        image.delayCs = f == frames - 1 ? 100 : 6;
        images.push_back(std::move(image));
    }
    fxmakefx::GifWriter writer(width, height, palette.Rgb());
    for (auto& image : images)
        writer.Add(std::move(image));
    return writer.Bytes();
}

std::vector<uint8_t> MakeKeyed() {
    const unsigned size = 160;
    const int frames = 12;
    Palette palette(false);
    std::vector<fxmakefx::GifImage> images;
    for (int f = 0; f < frames; ++f) {
        // Pure green everywhere the colour key is meant to remove.
        Image frame(size, size, Rgba{0, 255, 0, 255});
        double angle = 2.0 * kPi * f / frames;
        double cx = 80 + 44 * std::cos(angle), cy = 80 + 44 * std::sin(angle);
        const double radius = 30;
        for (unsigned y = 0; y < size; ++y) {
            for (unsigned x = 0; x < size; ++x) {
                double dx = x - cx, dy = y - cy;
                double d = std::sqrt(dx * dx + dy * dy);
                if (d > radius)
                    continue;
                // Hard edges (no blend into the green) and three tones of shading.
                double light =
                    std::max(0.0, 1.0 - std::sqrt((dx + 10) * (dx + 10) + (dy + 10) * (dy + 10)) /
                                            (radius * 1.6));
                int tone = static_cast<int>(light * 3.0);
                static const Rgba kTones[] = {{150, 20, 120, 255},
                                              {210, 40, 160, 255},
                                              {245, 110, 200, 255},
                                              {255, 200, 240, 255}};
                uint8_t* p = frame.At(x, y);
                const Rgba& c = kTones[std::min(tone, 3)];
                p[0] = c.r;
                p[1] = c.g;
                p[2] = c.b;
            }
        }
        pictures::DrawText(frame, 52, 66, "KEY", 4, Rgba{255, 255, 255, 255});
        fxmakefx::GifImage image;
        image.indices = palette.Indices(frame);
        image.delayCs = 8;
        images.push_back(std::move(image));
    }
    fxmakefx::GifWriter writer(size, size, palette.Rgb());
    writer.Loop(0);
    for (auto& image : images)
        writer.Add(std::move(image));
    return writer.Bytes();
}

Image MakeBadge() {
    const unsigned width = 192, height = 96;
    const double corner = 20;
    Image badge(width, height, Rgba{0, 0, 0, 0});
    for (unsigned y = 0; y < height; ++y) {
        for (unsigned x = 0; x < width; ++x) {
            // Distance outside a rounded rectangle, for a soft one-pixel edge.
            double qx = std::max(0.0, std::fabs(x + 0.5 - width / 2.0) - (width / 2.0 - corner));
            double qy = std::max(0.0, std::fabs(y + 0.5 - height / 2.0) - (height / 2.0 - corner));
            double outside = std::sqrt(qx * qx + qy * qy) - corner;
            double alpha = std::min(1.0, std::max(0.0, 0.5 - outside));
            if (alpha <= 0.0)
                continue;
            double t = static_cast<double>(y) / height;
            bool rim = outside > -4.0;
            uint8_t* p = badge.At(x, y);
            p[0] = rim ? 255 : Level(0.85 - 0.35 * t);
            p[1] = rim ? 215 : Level(0.15 + 0.10 * t);
            p[2] = rim ? 60 : Level(0.25 + 0.45 * t);
            p[3] = Level(alpha);
        }
    }
    const int scale = 5;
    const std::string text = "LIVE";
    int x = (static_cast<int>(width) - pictures::TextWidth(text, scale)) / 2;
    int y = (static_cast<int>(height) - pictures::kGlyphHeight * scale) / 2;
    pictures::DrawText(badge, x + 3, y + 3, text, scale, Rgba{60, 0, 30, 255});
    pictures::DrawText(badge, x, y, text, scale, Rgba{255, 255, 255, 255});
    return badge;
}

}  // namespace

const char kUsage[] =
    "usage: fxmakefx OUTPUT_FOLDER\n"
    "       fxmakefx --help\n"
    "Makes the example effects in OUTPUT_FOLDER (which must exist): sparkle.gif (loops),\n"
    "banner.gif (plays once), keyed.gif (on pure green, for the colour key) and badge.png (a\n"
    "still picture with soft edges).\n"
    "\n"
    "       fxmakefx --sized WxH FRAMES loop|once|broken|still FILE\n"
    "Makes one plain effect of that size (sides 1 to 4096): a GIF of FRAMES frames of 50 ms that\n"
    "loops, plays once, or loops with a second frame that does not decode; or a still PNG.\n"
#ifdef FXMAKEFX_WEBP
    "\n"
    "       fxmakefx --webp WxH FRAMES SEED lossless|lossy FILE\n"
    "Makes one random animated WebP (sides 1 to 4096): a sprite and patches of opaque and\n"
    "translucent colour, so that the file holds partial frames, blends and disposals; the same\n"
    "SEED makes the same file. glow.webp (soft alpha edges) is made with the examples.\n"
#endif
    ;

// fxmakefx --sized WxH FRAMES KIND FILE
int MakeSized(const std::vector<std::string>& words) {
    unsigned width = 0, height = 0, frames = 0;
    fxmakefx::SizedKind kind;
    if (words.size() != 4 || !cli::ReadSize(words[0], 4096, width, height) ||
        !cli::ReadWhole(words[1], 1, 1000, frames) || !fxmakefx::ParseSizedKind(words[2], kind)) {
        std::fprintf(stderr, "usage: fxmakefx --sized WxH FRAMES loop|once|broken|still FILE\n");
        return 2;
    }
    try {
        if (!fxmakefx::WriteFile(words[3],
                                 fxmakefx::MakeSizedEffect(width, height, frames, kind))) {
            std::fprintf(stderr, "fxmakefx: cannot write %s\n", words[3].c_str());
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fxmakefx: %s\n", e.what());
        return 1;
    }
    return 0;
}

int main(int argc, char** argv) {
    bool sized = false, webp = false;
    std::vector<std::string> words;
    cli::CommandLine line(" (see --help)");
    line.Flag("--sized", sized).Positional([&](const std::string& word) {
        words.push_back(word);
        return std::string();
    });
#ifdef FXMAKEFX_WEBP
    line.Flag("--webp", webp);
#endif
    int status = 0;
    if (!line.Parse(cli::Arguments(argc, argv), "fxmakefx", kUsage, status))
        return status;
    if (sized && !webp)
        return MakeSized(words);
#ifdef FXMAKEFX_WEBP
    if (webp && !sized)
        return fxmakefx::MakeRandomWebpFile(words);
#endif
    // A folder whose name starts with '-' is given as ./-name, or after --.
    if (words.size() != 1 || words[0].empty() || sized || webp) {
        std::fprintf(stderr, "usage: fxmakefx OUTPUT_FOLDER (see --help)\n");
        return 2;
    }
    const std::string& folder = words[0];
    try {
        struct Output {
            const char* name;
            std::vector<uint8_t> bytes;
        };
        const Output gifs[] = {
            {"sparkle.gif", MakeSparkle()},
            {"banner.gif", MakeBanner()},
            {"keyed.gif", MakeKeyed()},
#ifdef FXMAKEFX_WEBP
            {"glow.webp", fxmakefx::MakeGlow()},
#endif
        };
        for (const Output& gif : gifs) {
            if (!fxmakefx::WriteFile(folder + "/" + gif.name, gif.bytes)) {
                std::fprintf(stderr, "fxmakefx: cannot write %s/%s\n", folder.c_str(), gif.name);
                return 1;
            }
            std::printf("%s/%s: %zu bytes\n", folder.c_str(), gif.name, gif.bytes.size());
        }
        Image badge = MakeBadge();
        std::string path = folder + "/badge.png";
        if (!stbi_write_png(path.c_str(), static_cast<int>(badge.width),
                            static_cast<int>(badge.height), 4, badge.rgba.data(),
                            static_cast<int>(badge.width * 4))) {
            std::fprintf(stderr, "fxmakefx: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s\n", path.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fxmakefx: %s\n", e.what());
        return 1;
    }
    return 0;
}
