// Loading GIF files: the single-frame hand-over to the host, the animated setup, the limits on
// canvas and memory, every failure exit, and libnsgif's own collection of malformed files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "image/BitmapImage.h"
#include "support/GifBuilder.h"
#include "support/TestHost.h"

using testsupport::Bytes;
using testsupport::CountLog;
using testsupport::GifBuilder;
using testsupport::GifFrame;
using testsupport::TempDir;

namespace {

// Loads `bytes` from a file of that name; the holder keeps the path.
class GifLoad {
public:
    std::wstring Write(const std::string& name, const Bytes& bytes) {
        return standin::FromUtf8(dir_.Write(name, bytes));
    }
    void Load(BitmapImage& image, const std::string& name, const Bytes& bytes) {
        path = Write(name, bytes);
        image.filePath = path.c_str();
        image.Init();
    }
    std::wstring path;

private:
    TempDir dir_;
};

// Frames of one colour each, one pixel, wherever `at` puts them: on a canvas that libnsgif grows to
// cover them, whatever the header says.
Bytes TinyFramesAt(size_t count, uint16_t x, uint16_t y) {
    GifBuilder gif(1, 1);
    for (size_t i = 0; i < count; ++i) {
        GifFrame frame = GifFrame::Solid(1, 1, static_cast<uint8_t>(i % 4));
        if (i == 0)
            frame.left = x, frame.top = y;
        gif.Frame(frame);
    }
    return gif.Build();
}

void ExpectPlaceholder(const BitmapImage& image) {
    EXPECT_FALSE(image.Snapshot().isAnimated);
    EXPECT_FALSE(image.Snapshot().holdsFile);
    EXPECT_EQ(image.Snapshot().frameCache, nullptr);
    EXPECT_EQ(image.Snapshot().frameStore, nullptr);
    EXPECT_EQ(image.Snapshot().delayCount, 0u);
    EXPECT_EQ(image.width, 32.0f);
    const standin::TextureInfo* info = standin::InspectTexture(image.texture);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->createdFormat, GS_BGRA);
}

std::wstring Corrupt(const std::wstring& path) {
    return L"BitmapImage: Warning, couldn't initialise gif " + path + L", it is likely corrupt";
}

TEST(GifLoading, OneFrameGoesToTheHostLoaderAndKeepsNoFileBuffer) {
    struct Case {
        const char* what;
        Bytes gif;
    } cases[] = {
        {"one frame", GifBuilder(3, 2).Frame(GifFrame::Solid(3, 2, 2)).Build()},
        {"looping", GifBuilder(3, 2).Loop(0).Frame(GifFrame::Solid(3, 2, 2)).Build()},
        // libnsgif counts the comment after the image as a second frame, not for display.
        {"trailing comment",
         GifBuilder(3, 2).Frame(GifFrame::Solid(3, 2, 2)).TrailingComment("made by hand").Build()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        standin::ClearLog();
        GifLoad load;
        BitmapImage image;
        load.Load(image, "still.gif", c.gif);
        EXPECT_FALSE(image.Snapshot().isAnimated);
        EXPECT_FALSE(image.Snapshot().holdsFile);
        EXPECT_EQ(image.Snapshot().delayCount, 0u);
        EXPECT_EQ(image.width, 3.0f);
        EXPECT_EQ(image.height, 2.0f);
        const standin::TextureInfo* info = standin::InspectTexture(image.texture);
        ASSERT_NE(info, nullptr);
        EXPECT_TRUE(info->isStatic);    // made by the host's loader
        EXPECT_EQ(info->rgba[0], 255);  // palette entry 2: red
        EXPECT_TRUE(standin::LogRecords().empty());
    }
}

TEST(GifLoading, GifWithoutFramesIsLeftToTheHostLoader) {
    GifLoad load;
    BitmapImage image;
    load.Load(image, "empty.gif", GifBuilder(4, 4).Build());
    EXPECT_FALSE(image.Snapshot().isAnimated);
    EXPECT_FALSE(image.Snapshot().holdsFile);
    EXPECT_EQ(CountLog(Corrupt(load.path)), 0u);
}

TEST(GifLoading, AnimationStartsAtFrameZeroWithNothingDecodedForPlayback) {
    // Frame 0's pixels are compared with the reference by
    // GifPlayback.RandomGifsShowTheReferenceFrames.
    GifFrame first = GifFrame::Solid(2, 2, 2, 10);
    GifFrame second = GifFrame::Solid(2, 2, 3, 20);
    second.left = 2;
    second.top = 1;
    GifLoad load;
    BitmapImage image;
    load.Load(image, "anim.gif",
              GifBuilder(4, 3).Frame(first).Frame(second).Frame(GifFrame::Solid(1, 1, 1)).Build());

    ASSERT_TRUE(image.Snapshot().isAnimated);
    EXPECT_EQ(image.width, 4.0f);
    EXPECT_EQ(image.height, 3.0f);
    const standin::TextureInfo* info = standin::InspectTexture(image.texture);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->createdFormat, GS_RGBA);
    EXPECT_FALSE(info->isStatic);
    EXPECT_EQ(info->width, 4u);
    EXPECT_EQ(info->height, 3u);
    EXPECT_EQ(info->uploads, 0u);
    EXPECT_EQ(info->rgba[0], 255);  // frame 0, palette entry 2: red
    EXPECT_TRUE(standin::LogRecords().empty());

    // The first frame change decodes the one frame it shows; without a looping extension the
    // three frames play once and the last one stays.
    image.Advance(0.101f);
    EXPECT_EQ(image.Snapshot().currentFrame, 1u);
    EXPECT_EQ(image.Snapshot().framesDecoded, 1u);
    EXPECT_EQ(standin::InspectTexture(image.texture)->uploads, 1u);
    image.Advance(10.0f);
    image.Advance(10.0f);
    EXPECT_EQ(image.Snapshot().currentFrame, 2u);
    EXPECT_EQ(image.Snapshot().loopsPlayed, 1u);
    EXPECT_EQ(standin::InspectTexture(image.texture)->uploads, 2u);
}

TEST(GifLoading, DelaysAreCentisecondsTimesOneHundredthInSinglePrecision) {
    struct Case {
        int centiseconds;
        float want;
    } cases[] = {{0, 0.1f},
                 {1, 0.01f},
                 {10, 0.099999994f},
                 {250, 2.5f},
                 {-1, 1.0f}};  // -1: no control block, libnsgif's default of 100
    GifBuilder gif(1, 1);
    for (const Case& c : cases)
        gif.Frame(GifFrame::Solid(1, 1, 0, c.centiseconds));
    GifLoad load;
    BitmapImage image;
    load.Load(image, "delays.gif", gif.Build());
    ASSERT_TRUE(image.Snapshot().isAnimated);
    ASSERT_EQ(image.Snapshot().delayCount, 5u);
    for (uint32_t i = 0; i < 5; ++i) {
        uint32_t have, want;
        std::memcpy(&have, &image.Snapshot().frameDelays[i], 4);
        std::memcpy(&want, &cases[i].want, 4);
        EXPECT_EQ(have, want) << cases[i].centiseconds << " cs gave "
                              << image.Snapshot().frameDelays[i];
    }
    EXPECT_EQ(0.099999994f, 10.0f * 0.01f);
    EXPECT_NE(0.099999994f, 0.1f);
}

TEST(GifLoading, ExtensionsAfterTheLastImageAddNoFrame) {
    GifLoad load;
    BitmapImage image;
    load.Load(image, "comment.gif",
              GifBuilder(2, 2)
                  .Frame(GifFrame::Solid(2, 2, 1, 5))
                  .Frame(GifFrame::Solid(2, 2, 2, 5))
                  .TrailingComment("a comment")
                  .Build());
    ASSERT_TRUE(image.Snapshot().isAnimated);
    EXPECT_EQ(image.Snapshot().frameCount, 2u);
    EXPECT_EQ(image.Snapshot().delayCount, 2u);
}

// The canvas is libnsgif's after its scan, grown to cover every frame. Sides up to 4096 pass; a
// longer side fails the dimension check, a single frame's before it goes to the host's loader; a
// canvas of more than 4096 x 4096 pixels in area is refused already when libnsgif asks for its
// bitmap.
TEST(GifLoading, CanvasLimits) {
    struct Case {
        uint16_t x, y;  // where the first one-pixel frame sits
        const wchar_t* log;
        size_t frames = 2;
    } cases[] = {
        {4095, 0, nullptr},
        {0, 4095, nullptr},
        {4096, 0, L"BitmapImage: Warning, bad texture dimensions 4097 x 1 in "},
        {0, 4096, L"BitmapImage: Warning, bad texture dimensions 1 x 4097 in ", 1},
        {4096, 4094, L"BitmapImage: Warning, bad texture dimensions 4097 x 4095 in "},
        {4096, 4096, L"BitmapImage: Warning, refused a gif canvas of 4097 x 4097 pixels"},
        {65535, 65535, L"BitmapImage: Warning, refused a gif canvas of 65536 x 65536 pixels"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
        standin::ClearLog();
        GifLoad load;
        BitmapImage image;
        load.Load(image, "canvas.gif", TinyFramesAt(c.frames, c.x, c.y));
        if (!c.log) {
            EXPECT_TRUE(image.Snapshot().isAnimated);
            EXPECT_EQ(image.width, c.x + 1.0f);
            EXPECT_EQ(image.height, c.y + 1.0f);
            EXPECT_TRUE(standin::LogRecords().empty());
            continue;
        }
        ExpectPlaceholder(image);
        std::wstring want = c.log;
        if (want.find(L"dimensions") != std::wstring::npos)
            want += load.path;
        EXPECT_EQ(CountLog(want), 1u);
        if (want.find(L"refused") != std::wstring::npos) {
            EXPECT_EQ(CountLog(Corrupt(load.path)), 1u);
        }
    }
}

// libnsgif is C: a host log that throws (out of memory) inside its bitmap request must not
// unwind through it. The line is lost, the load fails as it would have.
TEST(GifLoading, ThrowingLogInsideTheDecoderIsContained) {
    standin::SetLogListener([](const standin::LogRecord& record) {
        if (record.text.find(L"refused a gif canvas") != std::wstring::npos)
            throw std::bad_alloc();
    });
    GifLoad load;
    BitmapImage image;
    load.Load(image, "canvas.gif", TinyFramesAt(2, 4096, 4096));
    standin::SetLogListener(nullptr);
    ExpectPlaceholder(image);
    EXPECT_EQ(CountLog(Corrupt(load.path)), 1u);
}

// Tiny frames on a 4096 x 4096 canvas keep the file small while the frame store would not be. At
// 256 frames the pixel count alone (frames x width x height) is 2^32: a size counted in 32 bits
// anywhere on the way wraps to 0 and would pass.
TEST(GifLoading, FrameStoreOfFourGibibytesIsRefused) {
    const struct {
        size_t frames;
        const wchar_t* bytes;
    } cases[] = {{64, L"4294967296"}, {256, L"17179869184"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frames);
        standin::ClearLog();
        GifLoad load;
        BitmapImage image;
        load.Load(image, "huge.gif", TinyFramesAt(c.frames, 4095, 4095));
        ExpectPlaceholder(image);
        EXPECT_EQ(
            CountLog(L"BitmapImage: Warning, gif " + load.path +
                     L" overflowed maximum pointer size and was not loaded (" + c.bytes + L" > 0)"),
            1u);
    }
}

// Allocates and clears a frame store of 4 GiB - 64 MiB: run it by hand with
// --gtest_also_run_disabled_tests.
TEST(GifLoading, DISABLED_FrameStoreJustBelowFourGibibytesLoads) {
    GifLoad load;
    BitmapImage image;
    load.Load(image, "big.gif", TinyFramesAt(63, 4095, 4095));
    EXPECT_TRUE(image.Snapshot().isAnimated);
    EXPECT_EQ(image.width, 4096.0f);
    image.Advance(0.15f);
    EXPECT_EQ(image.Snapshot().currentFrame, 1u);
}

TEST(GifLoading, BadFilesLeaveThePlaceholder) {
    Bytes good =
        GifBuilder(2, 2).Frame(GifFrame::Solid(2, 2, 1)).Frame(GifFrame::Solid(2, 2, 2)).Build();
    struct Case {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"empty", {}},
        {"not a gif", {'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"header only", testsupport::Truncated(good, 13)},
        {"cut in the palette", testsupport::Truncated(good, 20)},
        {"cut in the first image descriptor", testsupport::Truncated(good, 30)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        standin::ClearLog();
        GifLoad load;
        BitmapImage image;
        load.Load(image, "bad.gif", c.bytes);
        ExpectPlaceholder(image);
        EXPECT_EQ(CountLog(Corrupt(load.path)), 1u);
    }
}

TEST(GifLoading, MissingFileWarnsAndLeavesThePlaceholder) {
    TempDir dir;
    std::wstring path = standin::FromUtf8(dir.File("nowhere.gif"));
    BitmapImage image;
    image.filePath = path.c_str();
    image.Init();
    ExpectPlaceholder(image);
    ASSERT_EQ(standin::LogRecords().size(), 1u);
    EXPECT_EQ(standin::LogRecords()[0].kind, standin::LogKind::Warning);
    EXPECT_EQ(standin::LogRecords()[0].text,
              L"BitmapImage::Init: could not open gif file '" + path + L"'");
}

// Sparse: the file takes no room on disk, and the holder must not try to read it.
TEST(GifLoading, FileOfFourGibibytesIsRefusedUnread) {
    TempDir dir;
    std::string path = dir.Write("large.gif", GifBuilder(2, 2).Build());
    std::error_code error;
    std::filesystem::resize_file(path, uint64_t(1) << 32, error);
    if (error)
        GTEST_SKIP() << "no sparse file here: " << error.message();
    BitmapImage image;
    image.filePath = standin::FromUtf8(path).c_str();
    image.Init();
    ExpectPlaceholder(image);
    EXPECT_EQ(CountLog(L"BitmapImage: Warning, gif " + standin::FromUtf8(path) +
                       L" is too large to load (4294967296 bytes)"),
              1u);
}

#ifndef _WIN32
// A file that reads shorter than its size: sysfs reports 4096 bytes for a line of text.
TEST(GifLoading, ShortReadIsRefused) {
    const char* sys = "/sys/devices/system/cpu/online";
    TempDir dir;
    const std::string link = dir.File("short.gif");
    std::error_code error;
    std::filesystem::create_symlink(sys, link, error);
    if (error || std::filesystem::file_size(sys, error) != 4096 || error)
        GTEST_SKIP() << "no sysfs file to read short";
    BitmapImage image;
    image.filePath = standin::FromUtf8(link).c_str();
    image.Init();
    ExpectPlaceholder(image);
    ASSERT_EQ(standin::LogRecords().size(), 1u);
    const std::wstring text = standin::LogRecords()[0].text;
    EXPECT_EQ(text.rfind(L"BitmapImage: Warning, read only ", 0), 0u);
    EXPECT_NE(text.find(L" of 4096 bytes of gif " + standin::FromUtf8(link)), std::wstring::npos);
}
#endif

// Frame 0 too: the load decodes it for the texture before the pass that checks every frame, and
// libnsgif, asked for the frame it decoded last, answers at once that it is fine.
TEST(GifLoading, FrameThatFailsToDecodeIsLoggedOnceAndTheLoadGoesOn) {
    for (int bad = 0; bad < 3; ++bad) {
        SCOPED_TRACE(bad);
        standin::ClearLog();
        GifLoad load;
        BitmapImage image;
        GifBuilder gif(2, 2);
        for (int i = 0; i < 3; ++i) {
            GifFrame frame = GifFrame::Solid(2, 2, static_cast<uint8_t>(i + 1));
            if (i == bad)
                frame.Broken();
            gif.Frame(frame);
        }
        load.Load(image, "broken.gif", gif.Build());
        ASSERT_TRUE(image.Snapshot().isAnimated);
        EXPECT_EQ(image.Snapshot().delayCount, 3u);
        ASSERT_EQ(standin::LogRecords().size(), 1u);
        EXPECT_EQ(standin::LogRecords()[0].text, L"BitmapImage: Warning, couldn't decode frame " +
                                                     std::to_wstring(bad) + L" of " + load.path);
    }
}

// libnsgif let a minimum code size of 12 through, and decoding then read past its dictionary; the
// patched library refuses it when it scans the file. 11 is the largest that works.
TEST(GifLoading, LzwMinimumCodeSizeAboveTheLimitIsRefused) {
    GifFrame overflow;
    overflow.width = overflow.height = 2;
    overflow.minCodeSize = 12;
    overflow.useRawData = true;
    // Clear, a literal, then the code just past the table: where the overflow happened.
    overflow.rawData = testsupport::PackCodes({{4096, 13}, {0, 13}, {4098, 13}, {4097, 13}});
    GifLoad load;
    BitmapImage image;
    load.Load(image, "lzw12.gif",
              GifBuilder(2, 2).Frame(GifFrame::Solid(2, 2, 1)).Frame(overflow).Build());
    ExpectPlaceholder(image);
    EXPECT_EQ(CountLog(Corrupt(load.path)), 1u);

    GifFrame widest = GifFrame::Solid(2, 2, 2);
    widest.minCodeSize = 11;
    BitmapImage fine;
    load.Load(fine, "lzw11.gif",
              GifBuilder(2, 2).Frame(GifFrame::Solid(2, 2, 1)).Frame(widest).Build());
    ASSERT_TRUE(fine.Snapshot().isAnimated);
    fine.Advance(0.2f);
    const standin::TextureInfo* info = standin::InspectTexture(fine.texture);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->rgba[0], 255);  // palette entry 2: red
    EXPECT_EQ(info->rgba[1], 0);
}

TEST(GifLoading, LoadingOverAnotherReleasesEverythingFirst) {
    auto frames = [](size_t count) {
        GifBuilder gif(3, 3);
        for (size_t i = 0; i < count; ++i)
            gif.Frame(GifFrame::Solid(3, 3, uint8_t(i % 4)));
        return gif.Build();
    };
    GifLoad load;
    const std::wstring three = load.Write("three.gif", frames(3));
    const std::wstring five = load.Write("five.gif", frames(5));
    const size_t baseline = standin::AllocatorStats().liveBlocks;
    {
        BitmapImage image;
        image.filePath = three.c_str();
        image.Init();
        image.Advance(0.25f);  // fills part of the cache
        const size_t withThree = standin::AllocatorStats().liveBlocks;

        image.filePath = five.c_str();
        image.Init();
        ASSERT_TRUE(image.Snapshot().isAnimated);
        EXPECT_EQ(image.Snapshot().delayCount, 5u);
        EXPECT_EQ(standin::LiveTextureCount(), 1u);

        image.filePath = three.c_str();
        image.Init();
        EXPECT_EQ(image.Snapshot().delayCount, 3u);
        EXPECT_EQ(image.Snapshot().currentFrame, 0u);
        EXPECT_EQ(standin::AllocatorStats().liveBlocks, withThree);
    }
    EXPECT_EQ(standin::AllocatorStats().liveBlocks, baseline);
    EXPECT_EQ(standin::LiveTextureCount(), 0u);
}

// Runs out of memory at every allocation of a load in turn. Each failure of the holder's own ends
// in a line of its own and the placeholder (or, for the texture, an animation without one), and
// nothing stays behind. A failure inside the host's own text handling may instead turn the load
// into a still image, which is the host's business.
TEST(GifLoading, EveryAllocationFailureIsReportedAndLeavesNothingBehind) {
    GifLoad load;
    const std::wstring path = load.Write("anim.gif", GifBuilder(4, 4)
                                                         .Frame(GifFrame::Solid(4, 4, 1))
                                                         .Frame(GifFrame::Solid(4, 4, 2))
                                                         .Frame(GifFrame::Solid(4, 4, 3))
                                                         .Build());
    const size_t baseline = standin::AllocatorStats().liveBlocks;
    std::vector<std::wstring> seen;
    for (long long n = 0;; ++n) {
        SCOPED_TRACE(n);
        ASSERT_LT(n, 100);
        standin::ClearLog();
        {
            BitmapImage image;
            image.filePath = path.c_str();
            const uint64_t failuresBefore = standin::AllocatorStats().failures;
            standin::FailAllocationAt(n);
            image.Init();
            const bool failed = standin::AllocatorStats().failures > failuresBefore;
            standin::ClearAllocationFailures();
            if (!failed) {
                EXPECT_TRUE(image.Snapshot().isAnimated);
                EXPECT_NE(image.texture, nullptr);
                break;
            }
            const standin::TextureInfo* info = standin::InspectTexture(image.texture);
            const bool still = !image.Snapshot().isAnimated && info && info->isStatic &&
                               info->createdFormat == GS_RGBA;
            const auto records = standin::LogRecords();
            if (!still) {
                ASSERT_FALSE(records.empty()) << "a failed allocation went unreported";
            }
            for (const auto& record : records) {
                EXPECT_EQ(record.text.rfind(L"BitmapImage: Warning, ", 0), 0u)
                    << standin::ToUtf8(record.text);
                seen.push_back(record.text);
            }
            if (!image.Snapshot().isAnimated && !still)
                ExpectPlaceholder(image);
            for (int step = 0; step < 10; ++step)
                image.Advance(0.1f);
        }
        EXPECT_EQ(standin::AllocatorStats().liveBlocks, baseline);
    }
    auto saw = [&](const wchar_t* part) {
        return std::any_of(seen.begin(), seen.end(), [&](const std::wstring& text) {
            return text.find(part) != std::wstring::npos;
        });
    };
    EXPECT_TRUE(saw(L"not enough memory to read gif"));
    EXPECT_TRUE(saw(L"not enough memory for a gif canvas"));
    EXPECT_TRUE(saw(L"not enough memory for the frame table"));
    EXPECT_TRUE(saw(L"not enough memory for the 3 frames"));
    EXPECT_TRUE(saw(L"not enough memory for the frame delays"));
    EXPECT_TRUE(saw(L"no texture could be made"));
}

// libnsgif's own collection of malformed files, copied into the build under plain names. Each one
// loads and plays for a while; the sanitizers and the allocator's count catch the rest.
TEST(GifLoading, LibnsgifMalformedCollectionLoadsAndPlays) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator("nsgif-samples"))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_GT(files.size(), 200u);
    const size_t baseline = standin::AllocatorStats().liveBlocks;
    size_t animated = 0;
    for (const auto& file : files) {
        SCOPED_TRACE(file.string());
        {
            BitmapImage image;
            image.filePath =
                standin::FromUtf8(std::filesystem::absolute(file).generic_string()).c_str();
            image.Init();
            if (image.Snapshot().isAnimated)
                ++animated;
            EXPECT_TRUE(image.Snapshot().isAnimated || image.texture);
            for (int step = 0; step < 100; ++step)
                image.Advance(0.037f);
            image.Advance(30.0f);
            image.Init();  // and once more over itself
            for (int step = 0; step < 20; ++step)
                image.Advance(0.05f);
        }
        ASSERT_EQ(standin::AllocatorStats().liveBlocks, baseline);
        ASSERT_EQ(standin::LiveTextureCount(), 0u);
    }
    EXPECT_GT(animated, 0u);
}

}  // namespace
