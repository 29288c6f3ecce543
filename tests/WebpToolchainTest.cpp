// libwebp as this build links it, end to end: random animations with alpha written by the
// animation encoder (through fxmakefx's writer) and read back by the animation decoder, frame for
// frame. On Windows this is the static MSVC-ABI libwebp the module links: a broken build of it
// (a wrong flag, a SIMD variant that computes wrong) fails here.
#include <gtest/gtest.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "RandomAnimation.h"
#include "WebpWriter.h"

namespace {

using fxmakefx::RandomAnimation;

struct Decoded {
    int loopCount = -1;
    std::vector<std::vector<uint8_t>> canvases;
    std::vector<int> endsMs;  // when each frame's time is over, from the start
};

struct AnimDecoderDeleter {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

Decoded Decode(const std::vector<uint8_t>& file) {
    Decoded out;
    WebPAnimDecoderOptions options;
    EXPECT_TRUE(WebPAnimDecoderOptionsInit(&options));
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    WebPData data = {file.data(), file.size()};
    std::unique_ptr<WebPAnimDecoder, AnimDecoderDeleter> decoder(
        WebPAnimDecoderNew(&data, &options));
    if (!decoder) {
        ADD_FAILURE() << "the animation decoder refuses the file";
        return out;
    }
    WebPAnimInfo info;
    EXPECT_TRUE(WebPAnimDecoderGetInfo(decoder.get(), &info));
    out.loopCount = static_cast<int>(info.loop_count);
    while (WebPAnimDecoderHasMoreFrames(decoder.get())) {
        uint8_t* pixels = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(decoder.get(), &pixels, &timestamp)) {
            ADD_FAILURE() << "frame " << out.canvases.size() << " does not decode";
            break;
        }
        out.canvases.emplace_back(
            pixels, pixels + static_cast<size_t>(info.canvas_width) * info.canvas_height * 4);
        out.endsMs.push_back(timestamp);
    }
    return out;
}

// The first pixel that differs, as "(x,y) have R,G,B,A want R,G,B,A".
std::string FirstDifference(const std::vector<uint8_t>& have, const std::vector<uint8_t>& want,
                            unsigned width) {
    for (size_t i = 0; i + 3 < have.size() && i + 3 < want.size(); i += 4) {
        if (std::equal(&have[i], &have[i] + 4, &want[i]))
            continue;
        auto rgba = [](const uint8_t* p) {
            return std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]) +
                   "," + std::to_string(p[3]);
        };
        return "(" + std::to_string(i / 4 % width) + "," + std::to_string(i / 4 / width) +
               ") have " + rgba(&have[i]) + " want " + rgba(&want[i]);
    }
    return have.size() == want.size() ? "none" : "sizes differ";
}

// Sizes from one pixel to more than the encoder's 16-pixel blocks, odd ones among them.
const struct {
    uint32_t seed;
    unsigned width, height, frames;
} kAnimations[] = {
    {1, 1, 1, 3}, {2, 37, 23, 20}, {3, 64, 48, 24}, {4, 129, 17, 12}, {5, 16, 96, 30}};

TEST(WebpToolchain, LosslessAnimationsComeBackExactlyWithTheirTimesAndLoops) {
    int partial = 0, blended = 0, disposed = 0;
    for (const auto& a : kAnimations) {
        SCOPED_TRACE("seed " + std::to_string(a.seed));
        const RandomAnimation truth =
            fxmakefx::MakeRandomAnimation(a.seed, a.width, a.height, a.frames);
        fxmakefx::WebpOptions options;
        options.loopCount = truth.loopCount;
        const std::vector<uint8_t> file =
            fxmakefx::EncodeWebp(a.width, a.height, truth.canvases, options);

        fxmakefx::WebpLayout layout;
        ASSERT_TRUE(fxmakefx::DescribeWebp(file, layout));
        EXPECT_EQ(layout.width, a.width);
        EXPECT_EQ(layout.height, a.height);
        ASSERT_EQ(layout.frames.size(), truth.canvases.size());
        for (size_t i = 0; i < layout.frames.size(); ++i) {
            EXPECT_EQ(layout.frames[i].durationMs, truth.canvases[i].durationMs) << "frame " << i;
            const auto& f = layout.frames[i];
            partial +=
                f.width != static_cast<int>(a.width) || f.height != static_cast<int>(a.height);
            blended += f.blend && i > 0;
            disposed += f.disposeToBackground && i + 1 < layout.frames.size();
        }

        const Decoded decoded = Decode(file);
        EXPECT_EQ(decoded.loopCount, truth.loopCount);
        ASSERT_EQ(decoded.canvases.size(), truth.canvases.size());
        int end = 0;
        for (size_t i = 0; i < truth.canvases.size(); ++i) {
            end += truth.canvases[i].durationMs;
            EXPECT_EQ(decoded.endsMs[i], end) << "frame " << i;
            EXPECT_TRUE(decoded.canvases[i] == truth.canvases[i].rgba)
                << "frame " << i << ": first difference at "
                << FirstDifference(decoded.canvases[i], truth.canvases[i].rgba, a.width);
        }
    }
    // The decoder's composing was in play: frames smaller than the canvas, blended over what was
    // shown, and cleared after they were shown.
    EXPECT_GT(partial, 0);
    EXPECT_GT(blended, 0);
    EXPECT_GT(disposed, 0);
}

// A frame's duration has 24 bits in the file: the longest comes back, one more is refused rather
// than written wrapped.
TEST(WebpToolchain, LongestFrameDurationComesBackAndOneMoreIsRefused) {
    RandomAnimation two = fxmakefx::MakeRandomAnimation(9, 4, 4, 2);
    two.canvases[0].durationMs = fxmakefx::kMaxWebpDurationMs;
    two.canvases[1].durationMs = fxmakefx::kMaxWebpDurationMs;
    const Decoded decoded =
        Decode(fxmakefx::EncodeWebp(4, 4, two.canvases, fxmakefx::WebpOptions()));
    ASSERT_EQ(decoded.endsMs.size(), 2u);
    EXPECT_EQ(decoded.endsMs[0], fxmakefx::kMaxWebpDurationMs);
    EXPECT_EQ(decoded.endsMs[1], 2 * fxmakefx::kMaxWebpDurationMs);

    two.canvases[1].durationMs = fxmakefx::kMaxWebpDurationMs + 1;
    EXPECT_THROW(fxmakefx::EncodeWebp(4, 4, two.canvases, fxmakefx::WebpOptions()),
                 std::runtime_error);
}

// Lossless keeps the colour that alpha 0 hides (a player that filters the texture shows it at
// soft edges); left to itself the encoder would make it black.
TEST(WebpToolchain, LosslessKeepsTheColourUnderZeroAlpha) {
    std::vector<fxmakefx::WebpCanvas> canvases(2);
    for (size_t f = 0; f < canvases.size(); ++f) {
        for (int i = 0; i < 16; ++i) {
            const uint8_t alpha = i % 3 == 0 ? 0 : 255;
            const uint8_t pixel[4] = {static_cast<uint8_t>(40 + i), static_cast<uint8_t>(7 * i + f),
                                      static_cast<uint8_t>(200 - i), alpha};
            canvases[f].rgba.insert(canvases[f].rgba.end(), pixel, pixel + 4);
        }
    }
    const Decoded decoded = Decode(fxmakefx::EncodeWebp(4, 4, canvases, fxmakefx::WebpOptions()));
    ASSERT_EQ(decoded.canvases.size(), 2u);
    for (size_t f = 0; f < canvases.size(); ++f)
        EXPECT_TRUE(decoded.canvases[f] == canvases[f].rgba)
            << "frame " << f << ": first difference at "
            << FirstDifference(decoded.canvases[f], canvases[f].rgba, 4);
}

// The lossy coder's path (VP8 and its SIMD variants, the colour conversion, the alpha plane):
// frames close to what went in. At this quality the worst colour channel of a frame of patches
// comes back about 2.5 levels off on average, a frame of pure noise about 40 (half its colour
// resolution is gone); red taken from the wrong chroma plane in the SIMD colour conversion makes
// the patches about 6.3 off. The alpha plane stays lossless.
TEST(WebpToolchain, LossyAnimationStaysCloseToWhatWentIn) {
    const RandomAnimation truth = fxmakefx::MakeRandomAnimation(7, 96, 64, 16);
    fxmakefx::WebpOptions options;
    options.lossless = false;
    options.quality = 90;
    options.loopCount = truth.loopCount;
    const Decoded decoded = Decode(fxmakefx::EncodeWebp(96, 64, truth.canvases, options));
    ASSERT_EQ(decoded.canvases.size(), truth.canvases.size());
    std::vector<double> worstChannel;  // per frame, the mean error of its worst colour channel
    for (size_t i = 0; i < truth.canvases.size(); ++i) {
        const std::vector<uint8_t>& want = truth.canvases[i].rgba;
        const std::vector<uint8_t>& have = decoded.canvases[i];
        // Colour weighed by alpha: under low alpha the coder may put any colour.
        double channelError[3] = {0, 0, 0}, alphaError = 0;
        for (size_t p = 0; p < want.size(); p += 4) {
            for (int c = 0; c < 3; ++c)
                channelError[c] += std::abs(have[p + c] - want[p + c]) * want[p + 3] / 255.0;
            alphaError += std::abs(have[p + 3] - want[p + 3]);
        }
        const double pixels = want.size() / 4.0;
        worstChannel.push_back(*std::max_element(channelError, channelError + 3) / pixels);
        EXPECT_LT(worstChannel.back(), 50.0) << "frame " << i;
        EXPECT_LT(alphaError / pixels, 0.5) << "frame " << i;
    }
    std::sort(worstChannel.begin(), worstChannel.end());
    EXPECT_LT(worstChannel[worstChannel.size() / 2], 3.5) << "the median frame";
}

}  // namespace
