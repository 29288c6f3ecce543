// Stills and single-frame GIFs with "backgroundLoad" 1: the worker reads and decodes them with the
// system's decoder, and the host's thread only makes the texture. What shows must be what the
// host's own loader shows for the same file, and the host's thread must not read the file at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/BitmapImage.h"
#include "support/GifBuilder.h"
#include "support/TestHost.h"

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#endif
#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

using testsupport::Bytes;
using testsupport::GifBuilder;
using testsupport::GifFrame;
using testsupport::TempDir;

namespace {

// Every channel moves, smoothly: red across, green down, blue on the diagonal, alpha in bands.
std::vector<uint8_t> Picture(int w, int h, int comp) {
    std::vector<uint8_t> pixels;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint8_t rgba[4] = {static_cast<uint8_t>(x * 255 / (w - 1)),
                                     static_cast<uint8_t>(y * 255 / (h - 1)),
                                     static_cast<uint8_t>((x + y) * 255 / (w + h - 2)),
                                     static_cast<uint8_t>((y / 4) * 37 % 256)};
            if (comp == 1)
                pixels.push_back(rgba[0]);
            else
                pixels.insert(pixels.end(), rgba, rgba + comp);
        }
    }
    return pixels;
}

void Append(void* context, void* data, int size) {
    auto* out = static_cast<Bytes*>(context);
    auto* bytes = static_cast<const unsigned char*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

enum class Kind { Png, Bmp, Jpeg };

Bytes Encode(Kind kind, int w, int h, int comp, int quality = 95) {
    const std::vector<uint8_t> pixels = Picture(w, h, comp);
    Bytes out;
    if (kind == Kind::Png)
        stbi_write_png_to_func(&Append, &out, w, h, comp, pixels.data(), w * comp);
    else if (kind == Kind::Bmp)
        stbi_write_bmp_to_func(&Append, &out, w, h, comp, pixels.data());
    else
        stbi_write_jpg_to_func(&Append, &out, w, h, comp, pixels.data(), quality);
    return out;
}

Bytes Gif(std::vector<uint8_t> entries) {
    GifBuilder gif(5, 3);
    gif.Loop(0);
    for (uint8_t entry : entries)
        gif.Frame(GifFrame::Solid(5, 3, entry, 10));
    return gif.Build();
}

struct Loaded {
    float width = 0, height = 0;
    bool animated = false;
    int createdFormat = 0;
    bool isStatic = false;
    std::vector<uint8_t> pixels;
    std::vector<std::wstring> log;
    int hostReads = 0;  // reads of the file by the host's loader, on the host's thread
};

Loaded Load(const std::wstring& path, bool background) {
    standin::ClearLog();
    Loaded out;
    standin::SetFileReadListener([&out](const std::string&) { ++out.hostReads; });
    {
        BitmapImage image;
        image.filePath = path.c_str();
        image.SetBackgroundLoad(background);
        image.Init();
        image.WaitForBackgroundLoad();
        image.SwapInBackgroundLoad();
        out.width = image.width;
        out.height = image.height;
        out.animated = image.Snapshot().isAnimated;
        if (const standin::TextureInfo* info = standin::InspectTexture(image.texture)) {
            out.createdFormat = info->createdFormat;
            out.isStatic = info->isStatic;
            out.pixels = info->rgba;
        }
    }
    standin::SetFileReadListener(nullptr);
    for (const standin::LogRecord& r : standin::LogRecords())
        out.log.push_back(r.text);
    standin::ClearLog();
    return out;
}

int LargestDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    int largest = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        largest = std::max(largest, std::abs(a[i] - b[i]));
    return largest;
}

// Each still format the system's decoder reads, with and without alpha, and a GIF of one frame:
// the same texture as the host's loader makes, and not one read of the file by the host.
TEST(StillLoad, ShowsWhatTheHostsLoaderShowsWithoutReadingOnTheHostsThread) {
    TempDir dir;
    // Two JPEG decoders agree only within the rounding their standard leaves them: of the inverse
    // DCT and the colour conversion (a level or two; 2 seen between WIC under Wine and the
    // stand-in's stb_image), and, with chroma at half resolution, of the filter that brings the
    // chroma back to full size (5 seen). On Windows the system's decoder is not the stand-in's.
#if defined(_WIN32)
    constexpr int kFullChroma = 3, kHalfChroma = 8;
#else
    constexpr int kFullChroma = 0, kHalfChroma = 0;
#endif
    struct Case {
        const char* name;
        Bytes bytes;
        int tolerance;
    } cases[] = {
        {"grey.png", Encode(Kind::Png, 37, 23, 1), 0},
        {"rgb.png", Encode(Kind::Png, 37, 23, 3), 0},
        {"rgba.png", Encode(Kind::Png, 37, 23, 4), 0},
        {"rgb.bmp", Encode(Kind::Bmp, 37, 23, 3), 0},
        {"rgba.bmp", Encode(Kind::Bmp, 37, 23, 4), 0},
        {"full-chroma.jpg", Encode(Kind::Jpeg, 37, 23, 3, 95), kFullChroma},
        {"half-chroma.jpeg", Encode(Kind::Jpeg, 48, 32, 3, 80), kHalfChroma},
        {"one-frame.gif", Gif({2}), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.bytes.empty());
        const std::wstring path = standin::FromUtf8(dir.Write(c.name, c.bytes));
        const Loaded now = Load(path, false);
        ASSERT_FALSE(now.animated);
        ASSERT_NE(now.width, 32.0f) << "the design's path shows the picture, not the placeholder";
        const Loaded later = Load(path, true);
        EXPECT_EQ(later.hostReads, 0);
        EXPECT_EQ(later.log, now.log);
        EXPECT_FALSE(later.animated);
        EXPECT_EQ(later.width, now.width);
        EXPECT_EQ(later.height, now.height);
        EXPECT_EQ(later.createdFormat, now.createdFormat);
        EXPECT_EQ(later.isStatic, now.isStatic);
        ASSERT_EQ(later.pixels.size(), now.pixels.size());
        EXPECT_LE(LargestDifference(later.pixels, now.pixels), c.tolerance);
    }
}

// What the worker cannot take goes to the host's loader, which does what it always did: the same
// picture or placeholder, the same warning.
TEST(StillLoad, WhatTheWorkerCannotDecodeIsTheHostsLoaders) {
    TempDir dir;
    const Bytes png = Encode(Kind::Png, 37, 23, 4);
    struct Case {
        const char* name;
        Bytes bytes;  // none: the file is missing
    } cases[] = {
        {"missing.png", {}},
        {"text.png", Bytes{'n', 'o', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'}},
        {"cut.png", testsupport::Truncated(png, png.size() / 2)},
        {"png-named.bmp", png},
        {"gif-named.png", Gif({3})},
        {"no-frame.gif", testsupport::Truncated(Gif({1}), 13)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring path = standin::FromUtf8(dir.File(c.name));
        if (std::string(c.name) != "missing.png")
            path = standin::FromUtf8(dir.Write(c.name, c.bytes));
        const Loaded now = Load(path, false);
        const Loaded later = Load(path, true);
        EXPECT_EQ(later.log, now.log);
        EXPECT_EQ(later.width, now.width);
        EXPECT_EQ(later.height, now.height);
        EXPECT_EQ(later.pixels, now.pixels);
    }
}

}  // namespace
