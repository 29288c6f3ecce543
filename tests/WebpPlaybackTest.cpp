// WebP effects against the truth: animations whose every picture is known (fxmakefx's random
// animations, written by libwebp's encoder with partial frames, blending and disposal) played by
// the holder inside the host's frame, on a worker with the whole store, and through a ring of two
// frames; and WebP files that are corrupt, too large or broken, on both paths.
#include <gtest/gtest.h>
#include <webp/demux.h>

#include <cstring>
#include <string>
#include <vector>

#include "RandomAnimation.h"
#include "WebpWriter.h"
#include "image/BitmapImage.h"
#include "support/TestHost.h"

using testsupport::TempDir;

namespace {

using Bytes = std::vector<uint8_t>;

// Where two pictures `width` pixels wide first differ; empty when they are equal.
std::string Difference(const Bytes& have, const Bytes& want, uint32_t width) {
    if (have.size() != want.size())
        return "sizes " + std::to_string(have.size()) + " and " + std::to_string(want.size());
    for (size_t i = 0; i < have.size(); i += 4) {
        if (std::memcmp(&have[i], &want[i], 4) == 0)
            continue;
        auto rgba = [](const uint8_t* p) {
            return std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]) +
                   "," + std::to_string(p[3]);
        };
        return "pixel " + std::to_string(i / 4 % width) + "," + std::to_string(i / 4 / width) +
               ": have " + rgba(&have[i]) + ", want " + rgba(&want[i]);
    }
    return "";
}

const Bytes& Pixels(const BitmapImage& image) {
    return standin::InspectTexture(image.texture)->rgba;
}

// The chunks of a WebP file: each one's four-letter tag and where its payload starts and ends.
struct Chunk {
    std::string tag;
    size_t at, size;
};
std::vector<Chunk> Chunks(const Bytes& file, size_t from, size_t to) {
    std::vector<Chunk> chunks;
    while (from + 8 <= to) {
        const size_t size = file[from + 4] | file[from + 5] << 8 | file[from + 6] << 16 |
                            size_t{file[from + 7]} << 24;
        chunks.push_back(
            {std::string(file.begin() + from, file.begin() + from + 4), from + 8, size});
        from += 8 + size + size % 2;
    }
    return chunks;
}

// `file` with its canvas said to be `width` x `height` (the frames stay where they are).
Bytes WithCanvas(Bytes file, uint32_t width, uint32_t height) {
    const Chunk vp8x = Chunks(file, 12, file.size()).front();
    EXPECT_EQ(vp8x.tag, "VP8X");
    for (int i = 0; i < 3; ++i) {
        file[vp8x.at + 4 + i] = static_cast<uint8_t>((width - 1) >> (8 * i));
        file[vp8x.at + 7 + i] = static_cast<uint8_t>((height - 1) >> (8 * i));
    }
    return file;
}

// `file` with `count` frames: its own, again and again.
Bytes WithFrames(const Bytes& file, size_t count) {
    std::vector<Chunk> frames;
    for (const Chunk& chunk : Chunks(file, 12, file.size()))
        if (chunk.tag == "ANMF")
            frames.push_back(chunk);
    Bytes out(file.begin(), file.begin() + (frames.front().at - 8));
    for (size_t i = 0; i < count; ++i) {
        const Chunk& f = frames[i % frames.size()];
        out.insert(out.end(), file.begin() + (f.at - 8),
                   file.begin() + (f.at + f.size + f.size % 2));
    }
    const size_t riff = out.size() - 8;
    for (int i = 0; i < 4; ++i)
        out[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
    return out;
}

// `file` (lossless) with frame `frame`'s picture data spoilt past its header, so that its chunks
// still read well and only decoding the frame fails.
Bytes WithBrokenFrame(Bytes file, size_t frame) {
    size_t seen = 0;
    for (const Chunk& anmf : Chunks(file, 12, file.size())) {
        if (anmf.tag != "ANMF" || seen++ != frame)
            continue;
        const Chunk image = Chunks(file, anmf.at + 16, anmf.at + anmf.size).front();
        EXPECT_EQ(image.tag, "VP8L");
        std::memset(&file[image.at + 5], 0xFF, image.size - 5);
    }
    return file;
}

// What a holder shows, as far as its owner and the host can tell.
struct Look {
    bool animated;
    float width, height;
    Bytes pixels;
    bool operator==(const Look& o) const {
        return animated == o.animated && width == o.width && height == o.height &&
               pixels == o.pixels;
    }
};
Look LookAt(const BitmapImage& image) {
    return {image.Snapshot().isAnimated, image.width, image.height, Pixels(image)};
}

std::vector<std::wstring> TakeLog() {
    std::vector<std::wstring> texts = testsupport::LogTexts();
    standin::ClearLog();
    return texts;
}

enum class Path { AtOnce, Worker, RingOfTwo };

// Loads `path` the way `how` says and waits for the worker, if any, to decode what it can.
void Load(BitmapImage& image, const std::wstring& path, Path how, uint32_t frameBytes) {
    image.filePath = path.c_str();
    image.SetBackgroundLoad(how != Path::AtOnce);
    if (how == Path::RingOfTwo)
        image.SetFrameCacheBytes(2 * frameBytes);
    image.Init();
    if (how == Path::AtOnce)
        return;
    image.WaitForBackgroundLoad();
    image.SwapInBackgroundLoad();
}

// Plays `image` for `seconds` in calls of `step`, and after every call checks that the texture
// shows `want`'s picture of the frame the holder is at. A worker is let catch up first: a frame it
// had not decoded in time is held, which the background load's own tests cover.
void PlayAgainst(BitmapImage& image, const std::vector<Bytes>& want, uint32_t width, float step,
                 float seconds) {
    for (int call = 0; call * step < seconds; ++call) {
        if (call > 0)
            image.Advance(step);
        image.WaitForBackgroundLoad();
        image.Advance(0.0f);
        ASSERT_EQ(Difference(Pixels(image), want[image.Snapshot().currentFrame], width), "")
            << "call " << call << ", frame " << image.Snapshot().currentFrame;
    }
}

// The proof: every picture of lossless random animations, on every path, pixel for pixel and with
// its alpha; their durations by the rule for milliseconds, and their loop counts.
TEST(WebpPlayback, LosslessAnimationsShowEveryPictureExactlyOnEveryPath) {
    TempDir dir;
    const struct {
        uint32_t seed;
        unsigned width, height, frames;
        const char* name;
    } animations[] = {{21, 37, 23, 12, "a.webp"},
                      {22, 64, 48, 9, "b.WebP"},
                      {23, 1, 1, 3, "c.WEBP"},
                      {24, 129, 17, 8, "d.webp"}};
    int partial = 0, blended = 0, disposed = 0;
    for (const auto& a : animations) {
        SCOPED_TRACE(a.name);
        const fxmakefx::RandomAnimation truth =
            fxmakefx::MakeRandomAnimation(a.seed, a.width, a.height, a.frames);
        fxmakefx::WebpOptions options;
        options.loopCount = truth.loopCount;
        const Bytes file = fxmakefx::EncodeWebp(a.width, a.height, truth.canvases, options);
        const std::wstring path = standin::FromUtf8(dir.Write(a.name, file));
        fxmakefx::WebpLayout layout;
        ASSERT_TRUE(fxmakefx::DescribeWebp(file, layout));
        for (size_t i = 1; i < layout.frames.size(); ++i) {
            const fxmakefx::WebpStoredFrame& f = layout.frames[i];
            partial +=
                f.width != static_cast<int>(a.width) || f.height != static_cast<int>(a.height);
            blended += f.blend;
            disposed += f.disposeToBackground;
        }
        std::vector<Bytes> want;
        for (const fxmakefx::WebpCanvas& canvas : truth.canvases)
            want.push_back(canvas.rgba);

        for (Path how : {Path::AtOnce, Path::Worker, Path::RingOfTwo}) {
            SCOPED_TRACE(static_cast<int>(how));
            BitmapImage image;
            Load(image, path, how, a.width * a.height * 4);
            const BitmapImage::State state = image.Snapshot();
            ASSERT_TRUE(state.isAnimated);
            ASSERT_EQ(image.width, static_cast<float>(a.width));
            ASSERT_EQ(image.height, static_cast<float>(a.height));
            ASSERT_EQ(state.frameCount, want.size());
            EXPECT_EQ(state.loopLimit, static_cast<uint32_t>(truth.loopCount));
            for (uint32_t i = 0; i < state.frameCount; ++i) {
                // 0 ms shows for 0.1 s and 1 to 9 ms for 0.01 s, as a GIF's 0 and 1 cs do.
                const int ms = truth.canvases[i].durationMs;
                const float delay = ms == 0   ? 0.1f
                                    : ms < 10 ? 0.01f
                                              : static_cast<float>(ms) * 0.001f;
                EXPECT_EQ(state.frameDelays[i], delay) << "frame " << i << ", " << ms << " ms";
            }
            if (how == Path::RingOfTwo) {
                EXPECT_EQ(state.streamedSlots, 2u);
            }
            for (float step : {0.016f, 0.07f, 0.25f}) {
                image.Init();
                if (how != Path::AtOnce) {
                    image.WaitForBackgroundLoad();
                    image.SwapInBackgroundLoad();
                }
                PlayAgainst(image, want, a.width, step, 4.0f);
            }
        }
    }
    // libwebp's composing was in play: frames smaller than the canvas, blended over the picture
    // before, and cleared after they were shown.
    EXPECT_GT(partial, 0);
    EXPECT_GT(blended, 0);
    EXPECT_GT(disposed, 0);
}

// A lossy animation cannot be known to the pixel, but the holder shows exactly what libwebp's own
// animation decoder makes of it, frame by frame, inside the frame and through a ring of two.
TEST(WebpPlayback, LossyFramesAreLibwebpsOwnDecodeExactly) {
    TempDir dir;
    const unsigned width = 48, height = 40;
    const fxmakefx::RandomAnimation truth = fxmakefx::MakeRandomAnimation(31, width, height, 10);
    fxmakefx::WebpOptions options;
    options.lossless = false;
    options.quality = 60;
    const Bytes file = fxmakefx::EncodeWebp(width, height, truth.canvases, options);
    const std::wstring path = standin::FromUtf8(dir.Write("lossy.webp", file));

    std::vector<Bytes> want;
    WebPAnimDecoderOptions decoderOptions;
    ASSERT_TRUE(WebPAnimDecoderOptionsInit(&decoderOptions));
    decoderOptions.color_mode = MODE_RGBA;
    const WebPData data = {file.data(), file.size()};
    WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &decoderOptions);
    ASSERT_NE(decoder, nullptr);
    while (WebPAnimDecoderHasMoreFrames(decoder)) {
        uint8_t* pixels = nullptr;
        int timestamp = 0;
        ASSERT_TRUE(WebPAnimDecoderGetNext(decoder, &pixels, &timestamp));
        want.emplace_back(pixels, pixels + width * height * 4);
    }
    WebPAnimDecoderDelete(decoder);
    ASSERT_EQ(want.size(), truth.canvases.size());

    for (Path how : {Path::AtOnce, Path::RingOfTwo}) {
        SCOPED_TRACE(static_cast<int>(how));
        BitmapImage image;
        Load(image, path, how, width * height * 4);
        ASSERT_TRUE(image.Snapshot().isAnimated);
        PlayAgainst(image, want, width, 0.03f, 3.0f);
    }
}

// A WebP of one frame is a still texture with its alpha, on both paths: the host's own loader is
// not asked, since it cannot be assumed to read WebP.
TEST(WebpPlayback, OneFrameIsAStillTextureWithItsAlpha) {
    TempDir dir;
    const fxmakefx::RandomAnimation one = fxmakefx::MakeRandomAnimation(51, 19, 7, 1);
    const std::wstring path = standin::FromUtf8(dir.Write(
        "still.webp", fxmakefx::EncodeWebp(19, 7, one.canvases, fxmakefx::WebpOptions())));
    for (Path how : {Path::AtOnce, Path::Worker}) {
        BitmapImage image;
        Load(image, path, how, 0);
        EXPECT_FALSE(image.Snapshot().isAnimated);
        EXPECT_EQ(image.width, 19.0f);
        EXPECT_EQ(image.height, 7.0f);
        const standin::TextureInfo* info = standin::InspectTexture(image.texture);
        ASSERT_NE(info, nullptr);
        EXPECT_TRUE(info->isStatic);
        EXPECT_EQ(Difference(info->rgba, one.canvases[0].rgba, 19), "");
    }
    EXPECT_TRUE(TakeLog().empty());
}

// WebP files that cannot be shown whole, loaded at once and in the background: each gives one line
// of the kind a GIF gives, the same on both paths, and the placeholder or the frames that can be
// shown. libwebp composes nothing after a frame that fails, so the texture keeps the frame before
// it until the animation comes round again.
TEST(WebpPlayback, BrokenFilesGiveOneLineAndThePlaceholderOrTheFramesBefore) {
    TempDir dir;
    const fxmakefx::RandomAnimation four = fxmakefx::MakeRandomAnimation(41, 6, 5, 4);
    const Bytes good = fxmakefx::EncodeWebp(6, 5, four.canvases, fxmakefx::WebpOptions());
    const fxmakefx::RandomAnimation two = fxmakefx::MakeRandomAnimation(42, 2, 1, 2);
    const Bytes narrow = fxmakefx::EncodeWebp(2, 1, two.canvases, fxmakefx::WebpOptions());
    const fxmakefx::RandomAnimation many = fxmakefx::MakeRandomAnimation(43, 1, 1, 64);
    const Bytes tiny = fxmakefx::EncodeWebp(1, 1, many.canvases, fxmakefx::WebpOptions());
    const struct {
        const char* name;
        Bytes bytes;
        std::wstring line;  // %s: the path
        int brokenFrame;    // -1: the placeholder; 0: it plays; k: frame k fails
    } cases[] = {
        {"truncated.webp", Bytes(good.begin(), good.begin() + good.size() / 2),
         L"BitmapImage: Warning, couldn't initialise webp %s, it is likely corrupt", -1},
        {"not-webp.webp", Bytes(100, 'R'),
         L"BitmapImage: Warning, couldn't initialise webp %s, it is likely corrupt", -1},
        {"widest.webp", WithCanvas(narrow, 4096, 1), L"", 0},
        {"too-wide.webp", WithCanvas(narrow, 4097, 1),
         L"BitmapImage: Warning, bad texture dimensions 4097 x 1 in %s", -1},
        {"too-tall.webp", WithCanvas(narrow, 2, 4097),
         L"BitmapImage: Warning, bad texture dimensions 2 x 4097 in %s", -1},
        {"four-gibibytes.webp", WithCanvas(tiny, 4096, 4096),
         L"BitmapImage: Warning, webp %s overflowed maximum pointer size and was not loaded "
         L"(4294967296 > 0)",
         -1},
        {"most-frames.webp", WithFrames(tiny, 8192), L"", 0},
        {"too-many-frames.webp", WithFrames(tiny, 8193),
         L"BitmapImage: Warning, webp %s has 8193 frames, more than the 8192 the module plays", -1},
        {"broken-frame.webp", WithBrokenFrame(good, 2),
         L"BitmapImage: Warning, couldn't decode frame 2 of %s", 2},
        {"broken-first.webp", WithBrokenFrame(good, 0),
         L"BitmapImage: Warning, couldn't decode frame 0 of %s", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = standin::FromUtf8(dir.Write(c.name, c.bytes));
        std::vector<std::wstring> want;
        if (!c.line.empty()) {
            const size_t at = c.line.find(L"%s");
            want.push_back(c.line.substr(0, at) + path + c.line.substr(at + 2));
        }
        standin::ClearLog();
        BitmapImage now, later;
        Load(now, path, Path::AtOnce, 0);
        EXPECT_EQ(TakeLog(), want) << "at once";
        Load(later, path, Path::Worker, 0);
        EXPECT_EQ(TakeLog(), want) << "in the background";
        EXPECT_TRUE(LookAt(later) == LookAt(now));
        if (c.brokenFrame < 0) {
            EXPECT_FALSE(now.Snapshot().isAnimated);
            EXPECT_EQ(now.width, 32.0f);
            continue;
        }
        ASSERT_TRUE(now.Snapshot().isAnimated);
        // Two passes, frame by frame: each frame before the broken one as written, the frame
        // before it kept from there on.
        for (BitmapImage* image : {&now, &later}) {
            for (int call = 0; call < 2 * 4; ++call) {
                const BitmapImage::State state = image->Snapshot();
                image->Advance(state.frameDelays[state.currentFrame] + 0.001f);
                image->WaitForBackgroundLoad();
                image->Advance(0.0f);
                if (c.brokenFrame == 0)
                    continue;
                const uint32_t frame = image->Snapshot().currentFrame;
                const uint32_t shown =
                    frame < static_cast<uint32_t>(c.brokenFrame) ? frame : c.brokenFrame - 1;
                ASSERT_EQ(Difference(Pixels(*image), four.canvases[shown].rgba, 6), "")
                    << "frame " << frame;
            }
        }
        EXPECT_TRUE(TakeLog().empty()) << "a frame is reported once";
    }
}

}  // namespace
