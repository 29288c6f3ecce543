#include "WebpEffects.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "CommandLine.h"
#include "GifWriter.h"
#include "RandomAnimation.h"
#include "WebpWriter.h"

namespace fxmakefx {

namespace {

constexpr double kPi = 3.14159265358979323846;

uint8_t Level(double value) {
    return static_cast<uint8_t>(std::lround(std::min(1.0, std::max(0.0, value)) * 255.0));
}

}  // namespace

std::vector<uint8_t> MakeGlow() {
    const unsigned size = 160;
    const int frames = 12;
    const double centre = size / 2.0;
    std::vector<WebpCanvas> canvases;
    for (int f = 0; f < frames; ++f) {
        const double t = static_cast<double>(f) / frames;
        const double breath = 0.5 + 0.5 * std::sin(2.0 * kPi * t);
        const double ringRadius = 44.0 + 6.0 * breath;
        const double ringWidth = 5.0 + 4.0 * breath;
        WebpCanvas canvas;
        canvas.rgba.assign(static_cast<size_t>(size) * size * 4, 0);
        canvas.durationMs = 70;
        for (unsigned y = 0; y < size; ++y) {
            for (unsigned x = 0; x < size; ++x) {
                const double dx = x + 0.5 - centre, dy = y + 0.5 - centre;
                const double d = std::sqrt(dx * dx + dy * dy);
                // The ring: a bright core and a wide halo, both falling off smoothly.
                const double off = (d - ringRadius) / ringWidth;
                double light = std::exp(-off * off) * (0.75 + 0.25 * breath) +
                               0.35 * std::exp(-off * off / 9.0);
                double warm = 0.0;
                for (int s = 0; s < 3; ++s) {
                    const double angle = 2.0 * kPi * (t + s / 3.0);
                    const double sx = centre + ringRadius * std::cos(angle);
                    const double sy = centre + ringRadius * std::sin(angle);
                    const double q =
                        ((x + 0.5 - sx) * (x + 0.5 - sx) + (y + 0.5 - sy) * (y + 0.5 - sy)) / 60.0;
                    warm = std::max(warm, std::exp(-q));
                }
                // Nothing reaches the canvas's border: at the largest breath the halo would still
                // have about a tenth of its light there, a hard edge where the picture ends. It
                // fades out from 60 pixels off the centre and is gone at 78.
                const double fade = std::min(1.0, std::max(0.0, (78.0 - d) / 18.0));
                light = std::max(light, warm) * fade * fade * (3.0 - 2.0 * fade);
                const double alpha = std::min(1.0, light);
                if (alpha < 1.0 / 255.0)
                    continue;
                // Cyan light, white at its brightest, gold where a spark is.
                uint8_t* p = &canvas.rgba[(static_cast<size_t>(y) * size + x) * 4];
                const double white = std::min(1.0, light * light);
                p[0] = Level(0.20 + 0.80 * std::max(white, warm));
                p[1] = Level(0.75 + 0.25 * white - 0.10 * warm);
                p[2] = Level(1.00 - 0.70 * warm);
                p[3] = Level(alpha);
            }
        }
        canvases.push_back(std::move(canvas));
    }
    WebpOptions options;
    options.lossless = false;
    options.quality = 80;
    return EncodeWebp(size, size, canvases, options);
}

int MakeRandomWebpFile(const std::vector<std::string>& words) {
    unsigned width = 0, height = 0, frames = 0;
    uint32_t seed = 0;
    if (words.size() != 5 || !cli::ReadSize(words[0], 4096, width, height) ||
        !cli::ReadWhole(words[1], 1, 1000, frames) ||
        !cli::ReadWhole(words[2], 0, 0xffffffffLL, seed) ||
        (words[3] != "lossless" && words[3] != "lossy")) {
        std::fputs("usage: fxmakefx --webp WxH FRAMES SEED lossless|lossy FILE\n", stderr);
        return 2;
    }
    const char* file = words[4].c_str();
    // Every picture is held until the file is written: 1 GiB of them at most.
    if (static_cast<uint64_t>(width) * height * frames > (1u << 28)) {
        std::fprintf(stderr, "fxmakefx: %ux%u in %u frames is more than 2^28 pixels in all\n",
                     width, height, frames);
        return 2;
    }
    try {
        RandomAnimation animation = MakeRandomAnimation(seed, width, height, frames);
        WebpOptions options;
        options.lossless = words[3] == "lossless";
        options.loopCount = animation.loopCount;
        const std::vector<uint8_t> bytes = EncodeWebp(width, height, animation.canvases, options);
        if (!WriteFile(file, bytes)) {
            std::fprintf(stderr, "fxmakefx: cannot write %s\n", file);
            return 1;
        }
        WebpLayout layout;
        DescribeWebp(bytes, layout);
        std::printf("%s: %zu bytes, %s\n", file, bytes.size(), SummarizeWebp(layout).c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fxmakefx: %s\n", e.what());
        return 1;
    }
    return 0;
}

}  // namespace fxmakefx
