// Playing an animation: frame timing, loop counts, lazy decoding into the cache, frames that fail,
// bad time from the host, and the reload after a file change.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "image/BitmapImage.h"
#include "image/WorkerLoad.h"
#include "support/GifBuilder.h"
#include "support/GifReference.h"
#include "support/TestHost.h"

using testsupport::Bytes;
using testsupport::CountLog;
using testsupport::GifBuilder;
using testsupport::GifFrame;
using testsupport::TempDir;

namespace {

// Palette entry k is (0x10 * (k + 1), 0x20, 0x30): frame k of the fixtures is all entry k, so the
// red byte of the texture tells which frame it shows.
std::vector<uint8_t> Palette() {
    std::vector<uint8_t> rgb;
    for (int k = 0; k < 8; ++k)
        rgb.insert(rgb.end(), {uint8_t(0x10 * (k + 1)), 0x20, 0x30});
    return rgb;
}

// An animation of 2 x 2 frames, frame k all palette entry k, with these delays. `loop` -1 leaves
// the looping extension out (libnsgif then reports a loop count of 1).
Bytes Animation(const std::vector<int>& delaysCs, int loop = 0) {
    GifBuilder gif(2, 2);
    gif.GlobalPalette(Palette());
    if (loop >= 0)
        gif.Loop(static_cast<uint16_t>(loop));
    for (size_t k = 0; k < delaysCs.size(); ++k)
        gif.Frame(GifFrame::Solid(2, 2, static_cast<uint8_t>(k), delaysCs[k]));
    return gif.Build();
}

// A GIF of 2 to 6 frames on a screen of up to 12 x 12 pixels, each frame with a random disposal,
// delay (0, 1, 2, 5 or 10 cs), palette (global or local, 2 to 16 colours), transparent index or
// none, interlaced or not, and a rectangle inside the screen or, now and then, sticking out of it.
// The loop count is 0 to 3, or absent.
Bytes RandomGif(std::mt19937& random) {
    auto pick = [&random](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    auto colours = [&pick](uint32_t entries) {
        std::vector<uint8_t> rgb(entries * 3);
        for (uint8_t& value : rgb)
            value = static_cast<uint8_t>(pick(256));
        return rgb;
    };
    const uint16_t width = static_cast<uint16_t>(1 + pick(12));
    const uint16_t height = static_cast<uint16_t>(1 + pick(12));
    const uint32_t globalColours = 2u << pick(4);
    GifBuilder gif(width, height);
    gif.GlobalPalette(colours(globalColours));
    if (pick(5) != 0)
        gif.Loop(static_cast<uint16_t>(pick(4)));
    const int delays[] = {0, 1, 2, 5, 10};
    for (uint32_t n = 2 + pick(5); n > 0; --n) {
        GifFrame frame;
        frame.width = static_cast<uint16_t>(1 + pick(width));
        frame.height = static_cast<uint16_t>(1 + pick(height));
        const bool outside = pick(8) == 0;
        frame.left = static_cast<uint16_t>(pick(outside ? width + 1 : width - frame.width + 1));
        frame.top = static_cast<uint16_t>(pick(outside ? height + 1 : height - frame.height + 1));
        uint32_t entries = globalColours;
        if (pick(3) == 0) {
            entries = 2u << pick(4);
            frame.localPalette = colours(entries);
        }
        frame.transparentIndex = pick(2) ? static_cast<int>(pick(entries)) : -1;
        for (size_t i = 0; i < size_t{frame.width} * frame.height; ++i)
            frame.indices.push_back(static_cast<uint8_t>(frame.transparentIndex >= 0 && pick(3) == 0
                                                             ? frame.transparentIndex
                                                             : pick(entries)));
        frame.disposal = static_cast<uint8_t>(pick(4));
        frame.interlaced = pick(3) == 0;
        frame.delayCs = delays[pick(5)];
        gif.Frame(frame);
    }
    return gif.Build();
}

// Where two pictures `width` pixels wide first differ, as have and want; empty when they are equal.
std::string Difference(const std::vector<uint8_t>& have, const std::vector<uint8_t>& want,
                       uint32_t width) {
    if (have.size() != want.size())
        return "sizes " + std::to_string(have.size()) + " and " + std::to_string(want.size());
    auto rgba = [](const uint8_t* p) {
        return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
    };
    for (size_t i = 0; i < have.size(); i += 4) {
        const uint32_t h = rgba(&have[i]), w = rgba(&want[i]);
        if (h != w)
            return (testing::Message() << "pixel " << i / 4 % width << "," << i / 4 / width
                                       << ": have RGBA " << std::hex << h << ", want " << w)
                .GetString();
    }
    return "";
}

// The frame whose colour the texture shows, or -1.
int Shown(const BitmapImage& image) {
    const standin::TextureInfo* info = standin::InspectTexture(image.texture);
    if (!info || info->rgba[3] != 255)
        return -1;
    return info->rgba[0] / 0x10 - 1;
}

class GifPlayback : public testing::Test {
protected:
    void Load(const Bytes& bytes, const std::string& name = "anim.gif") {
        path = standin::FromUtf8(dir.Write(name, bytes));
        image.filePath = path.c_str();
        image.Init();
        ASSERT_TRUE(image.Snapshot().isAnimated);
        decodesBefore = image.Snapshot().framesDecoded;
    }
    // Frames playback has decoded since the load or the last call.
    uint64_t Decodes() {
        const uint64_t now = image.Snapshot().framesDecoded;
        const uint64_t made = now - decodesBefore;
        decodesBefore = now;
        return made;
    }

    TempDir dir;
    std::wstring path;
    BitmapImage image;
    uint64_t decodesBefore = 0;
};

// The strict comparison: a frame stays while the gathered time only equals its delay.
TEST_F(GifPlayback, FrameStaysUntilItsDelayIsExceeded) {
    Load(Animation({0, 10, 10}));
    ASSERT_EQ(image.Snapshot().frameDelays[0], 0.1f);
    image.Advance(0.05f);
    image.Advance(0.05f);
    EXPECT_EQ(image.Snapshot().frameTime, 0.1f);
    EXPECT_EQ(image.Snapshot().currentFrame, 0u);
    EXPECT_EQ(Shown(image), 0);
    image.Advance(0.001f);
    EXPECT_EQ(image.Snapshot().currentFrame, 1u);
    EXPECT_EQ(Shown(image), 1);

    // 10 cs is 0.099999994: the same time exactly keeps the frame, and the remainder carries over.
    Load(Animation({10, 10, 10}));
    image.Advance(0.099999994f);
    EXPECT_EQ(image.Snapshot().currentFrame, 0u);
    image.Advance(0.05f);
    EXPECT_EQ(image.Snapshot().currentFrame, 1u);
    EXPECT_FLOAT_EQ(image.Snapshot().frameTime, 0.05f);
}

TEST_F(GifPlayback, LongCallWrapsAndCountsLoopsShowingOnlyTheFrameReached) {
    struct Case {
        int loop;
        float seconds;
        uint32_t frame, loops;
    } cases[] = {
        {0, 1.875f, 1, 0},  // endless: two passes and a half
        {3, 1.875f, 1, 2},  // two of three passes done
        {2, 1.875f, 2, 2},  // the second pass ends it on the last frame
        {1, 100.0f, 2, 1},  // once, however long the call
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "loop " << c.loop << ", " << c.seconds << " s");
        Load(Animation({25, 25, 25}, c.loop));
        const unsigned uploadsBefore = standin::InspectTexture(image.texture)->uploads;
        image.Advance(c.seconds);
        EXPECT_EQ(image.Snapshot().currentFrame, c.frame);
        EXPECT_EQ(image.Snapshot().loopsPlayed, c.loops);
        EXPECT_EQ(standin::InspectTexture(image.texture)->uploads, uploadsBefore + 1);
    }
}

TEST_F(GifPlayback, LoopCountOfOnePlaysOnceAndKeepsTheLastFrame) {
    Load(Animation({10, 10}, -1));
    EXPECT_EQ(image.Snapshot().loopCount, 1);
    image.Advance(0.15f);
    EXPECT_EQ(Shown(image), 1);
    image.Advance(0.1f);
    EXPECT_EQ(image.Snapshot().loopsPlayed, 1u);
    EXPECT_EQ(image.Snapshot().currentFrame, 1u);
    const float frozen = image.Snapshot().frameTime;
    for (int i = 0; i < 10; ++i)
        image.Advance(0.3f);
    EXPECT_EQ(image.Snapshot().currentFrame, 1u);
    EXPECT_EQ(image.Snapshot().frameTime, frozen);
    EXPECT_EQ(Shown(image), 1);
}

TEST_F(GifPlayback, LoopCountOfTwoShowsFrameZeroAgainThenStops) {
    Load(Animation({10, 10}, 2));
    std::vector<int> shown;
    for (int i = 0; i < 6; ++i) {
        image.Advance(0.125f);
        shown.push_back(Shown(image));
    }
    EXPECT_EQ(shown, (std::vector<int>{1, 0, 1, 1, 1, 1}));
    EXPECT_EQ(image.Snapshot().loopsPlayed, 2u);
}

TEST_F(GifPlayback, LoopCountsZeroAnd65535AreEndless) {
    for (int loop : {0, 65535}) {
        SCOPED_TRACE(loop);
        Load(Animation({10, 10}, loop));
        EXPECT_EQ(image.Snapshot().loopLimit, 0u);
        std::vector<int> shown;
        for (int i = 0; i < 40; ++i) {
            image.Advance(0.0625f);
            shown.push_back(Shown(image));
        }
        EXPECT_EQ(image.Snapshot().loopsPlayed, 0u);
        const auto zeros = std::count(shown.end() - 8, shown.end(), 0);  // still alternating
        EXPECT_GT(zeros, 0);
        EXPECT_LT(zeros, 8);
    }
    Load(Animation({10, 10}, 65534));
    EXPECT_EQ(image.Snapshot().loopLimit, 65534u);
}

// Frames are decoded on first use; the frames on the way are decoded but not cached.
TEST_F(GifPlayback, DecodesLazilyAndCachesOnlyTheFrameShown) {
    Load(Animation({25, 25, 25}));
    image.Advance(0.625f);  // past frame 1 onto frame 2
    EXPECT_EQ(image.Snapshot().currentFrame, 2u);
    EXPECT_EQ(Decodes(), 2u);
    EXPECT_EQ(image.Snapshot().frameCache[1], nullptr);
    EXPECT_NE(image.Snapshot().frameCache[2], nullptr);
    EXPECT_EQ(Shown(image), 2);

    image.Advance(0.25f);  // wraps to frame 0: decoded alone
    EXPECT_EQ(Shown(image), 0);
    EXPECT_EQ(Decodes(), 1u);
    image.Advance(0.25f);  // frame 1 now follows the last decoded frame
    EXPECT_EQ(Shown(image), 1);
    EXPECT_EQ(Decodes(), 1u);
    EXPECT_NE(image.Snapshot().frameCache[1], nullptr);

    // Every frame cached: each shows from its own place in the store, with only a copy.
    const unsigned uploadsBefore = standin::InspectTexture(image.texture)->uploads;
    std::vector<int> shown;
    for (int i = 0; i < 9; ++i) {
        image.Advance(0.25f);
        shown.push_back(Shown(image));
    }
    EXPECT_EQ(shown, (std::vector<int>{2, 0, 1, 2, 0, 1, 2, 0, 1}));
    EXPECT_EQ(Decodes(), 0u);
    EXPECT_EQ(standin::InspectTexture(image.texture)->uploads, uploadsBefore + 9);
}

// What a viewer sees: every texture the holder shows is the reference's picture of the frame the
// holder says it shows, on seeded random GIFs, played in steps that show every frame, that skip
// frames and come back to frames not yet cached, and that wrap through the loops.
TEST_F(GifPlayback, RandomGifsShowTheReferenceFrames) {
    std::mt19937 random(20240612);
    const float steps[] = {0.016f, 0.035f, 1.0f / 15, 0.3f};
    for (int n = 0; n < 300; ++n) {
        const Bytes file = RandomGif(random);
        const testsupport::ReferenceGif want = testsupport::ComposeGif(file);
        ASSERT_EQ(want.error, "") << "gif " << n;
        Load(file);
        ASSERT_EQ(image.width, static_cast<float>(want.width));
        ASSERT_EQ(image.height, static_cast<float>(want.height));
        ASSERT_EQ(image.Snapshot().frameCount, want.frames.size());
        for (float step : steps) {
            image.Init();
            for (int call = 0; call * step < 2.5f; ++call) {
                if (call > 0)
                    image.Advance(step);
                const std::string difference =
                    Difference(standin::InspectTexture(image.texture)->rgba,
                               want.frames[image.Snapshot().currentFrame], want.width);
                ASSERT_EQ(difference, "") << "gif " << n << ", steps of " << step << " s, call "
                                          << call << ", frame " << image.Snapshot().currentFrame;
            }
        }
    }
}

// The same through the background load with a budget of two to four frames, so that most GIFs play
// from a ring decoded again on every pass, in lockstep with a load at once: the same frame and
// loop count after every call. A frame due before the worker has it is held: the texture keeps
// what it showed or takes a frame due since, never one from before; once the worker has caught up,
// the texture is the reference's picture of the frame due.
TEST_F(GifPlayback, RingOfAFewFramesShowsTheReferenceFramesInOrder) {
    std::mt19937 random(20261207);
    const float steps[] = {0.016f, 0.035f, 1.0f / 15, 0.3f};
    int rings = 0;
    for (int n = 0; n < 120; ++n) {
        const Bytes file = RandomGif(random);
        const testsupport::ReferenceGif want = testsupport::ComposeGif(file);
        ASSERT_EQ(want.error, "") << "gif " << n;
        Load(file);
        const uint32_t frameBytes = want.width * want.height * 4u;
        BitmapImage ring;
        ring.filePath = path.c_str();
        ring.SetBackgroundLoad(true);
        ring.SetFrameCacheBytes(frameBytes * (2 + n % 3));
        rings += image.Snapshot().frameCount > 2 + static_cast<uint32_t>(n % 3);
        for (float step : steps) {
            image.Init();
            ring.Init();
            ring.WaitForBackgroundLoad();
            ring.SwapInBackgroundLoad();
            ASSERT_TRUE(ring.Snapshot().isAnimated);
            std::vector<uint8_t> shown = standin::InspectTexture(ring.texture)->rgba;
            for (int call = 1; call * step < 2.5f; ++call) {
                SCOPED_TRACE(testing::Message()
                             << "gif " << n << ", steps of " << step << " s, call " << call);
                const uint32_t from = ring.Snapshot().currentFrame;
                const uint64_t late = ring.Snapshot().lateFrames;
                image.Advance(step);
                ring.Advance(step);
                ASSERT_EQ(ring.Snapshot().currentFrame, image.Snapshot().currentFrame);
                ASSERT_EQ(ring.Snapshot().loopsPlayed, image.Snapshot().loopsPlayed);
                const std::vector<uint8_t>& held = standin::InspectTexture(ring.texture)->rgba;
                if (ring.Snapshot().lateFrames == late) {
                    ASSERT_EQ(
                        Difference(held, want.frames[ring.Snapshot().currentFrame], want.width),
                        "");
                } else {
                    // Every frame was due during a call longer than a pass.
                    float pass = 0.0f;
                    for (uint32_t f = 0; f < ring.Snapshot().frameCount; ++f)
                        pass += ring.Snapshot().frameDelays[f];
                    bool inOrder = held == shown;
                    for (uint32_t f = from, k = 0; !inOrder && k < ring.Snapshot().frameCount;
                         ++k) {
                        f = (f + 1) % ring.Snapshot().frameCount;
                        inOrder = held == want.frames[f];
                        if (f == ring.Snapshot().currentFrame && pass > step)
                            break;
                    }
                    ASSERT_TRUE(inOrder) << "a frame from before was shown";
                }
                ring.WaitForBackgroundLoad();
                ring.Advance(0.0f);
                shown = standin::InspectTexture(ring.texture)->rgba;
                ASSERT_EQ(Difference(shown, want.frames[ring.Snapshot().currentFrame], want.width),
                          "");
            }
        }
    }
    EXPECT_GT(rings, 60) << "most of them play from a ring";
}

// A ring of two frames for the animation loaded in `path`, swapped in and waited for.
void LoadRingOfTwo(BitmapImage& ring, const std::wstring& path, uint32_t frameBytes) {
    ring.filePath = path.c_str();
    ring.SetBackgroundLoad(true);
    ring.SetFrameCacheBytes(2 * frameBytes);
    ring.Init();
    ring.WaitForBackgroundLoad();
    ring.SwapInBackgroundLoad();
    ASSERT_EQ(ring.Snapshot().streamedSlots, 2u);
}

// A host at a steady rate that lets the worker finish before each frame, as the player does, sees
// the frames of a load at once, every one, also when one host frame spans the whole ring: eight
// frames of 2 cs from a ring of two, at 24 (two or three frames a call), 30 and 60 frames a
// second. A window anchored at the frame last shown fell one frame behind for good at 24.
TEST_F(GifPlayback, WaitingRunFromARingOfTwoShowsEveryFrameOfALoadAtOnce) {
    Load(Animation(std::vector<int>(8, 2)));
    for (int fps : {24, 30, 60}) {
        SCOPED_TRACE(testing::Message() << fps << " fps");
        image.Init();
        BitmapImage ring;
        LoadRingOfTwo(ring, path, 2 * 2 * 4);
        const float step = 1.0f / static_cast<float>(fps);
        int differ = 0;
        for (int frame = 0; frame < 96; ++frame) {
            ring.WaitForBackgroundLoad();
            image.Advance(step);
            ring.Advance(step);
            ASSERT_EQ(ring.Snapshot().currentFrame, image.Snapshot().currentFrame);
            differ += Shown(ring) != Shown(image) ? 1 : 0;
        }
        EXPECT_EQ(differ, 0);
        EXPECT_EQ(ring.Snapshot().lateFrames, 0u);
    }
}

// After the host's thread stalls for ten minutes (30,000 frames of 2 cs), the worker goes straight
// to the pass that is due instead of decoding every pass it missed.
TEST_F(GifPlayback, AfterAStallTheRingDecodesOnlyThePassThatIsDue) {
    Load(Animation(std::vector<int>(8, 2)));
    BitmapImage ring;
    LoadRingOfTwo(ring, path, 2 * 2 * 4);
    for (int frame = 0; frame < 10; ++frame) {
        ring.WaitForBackgroundLoad();
        image.Advance(1.0f / 60);
        ring.Advance(1.0f / 60);
    }
    ring.WaitForBackgroundLoad();
    const uint64_t before = WorkerFramesDecoded();
    image.Advance(600.0f);
    ring.Advance(600.0f);
    ring.WaitForBackgroundLoad();
    ring.Advance(0.0f);
    EXPECT_EQ(Shown(ring), Shown(image));
    EXPECT_LE(WorkerFramesDecoded() - before, 8u + 2u) << "one pass at most, and the ring";
}

// A frame that fails to decode is passed over: the frames after it are drawn over what libnsgif
// could make of it, so an endless animation keeps cycling. Stopping at it met it again at every
// call: with 1 cs delays and calls of 35 ms, frame 0 for good.
TEST_F(GifPlayback, BrokenFrameIsPassedOverAndNeverCached) {
    GifBuilder gif(2, 2);
    gif.GlobalPalette(Palette()).Loop(0);
    for (uint8_t k = 0; k < 4; ++k) {
        GifFrame frame = GifFrame::Solid(2, 2, k, 1);
        if (k == 2)
            frame.Broken();
        gif.Frame(frame);
    }
    Load(gif.Build());
    EXPECT_EQ(CountLog(L"BitmapImage: Warning, couldn't decode frame 2 of " + path), 1u);
    standin::ClearLog();
    std::vector<int> shown;
    for (int i = 0; i < 40; ++i) {
        image.Advance(0.035f);
        shown.push_back(Shown(image));
    }
    for (int frame : {0, 1, 3})
        EXPECT_GT(std::count(shown.begin(), shown.end(), frame), 0) << "frame " << frame;
    EXPECT_TRUE(standin::LogRecords().empty());

    // Frame by frame: when the broken frame is due the texture keeps the frame before, also when
    // it comes due again with libnsgif still holding its own failed attempt (the third pass).
    Load(gif.Build());
    for (int i = 0; i < 13; ++i) {
        image.Advance(0.01f);
        EXPECT_EQ(Shown(image), image.Snapshot().currentFrame == 2
                                    ? 1
                                    : static_cast<int>(image.Snapshot().currentFrame));
    }
    EXPECT_EQ(image.Snapshot().frameCache[2], nullptr);
    // Passed over on the way, the broken frame does not keep the due frame from being decoded.
    Load(gif.Build());
    image.Advance(0.035f);
    EXPECT_EQ(image.Snapshot().currentFrame, 3u);
    EXPECT_EQ(Shown(image), 3);
}

// The data never changes, so a frame that failed once fails again: it is never decoded again, on
// either path. Old faults: the host's thread decoded frames 1 to 7 again on every pass to retry a
// broken frame 7 (with the background load, from the first pass), and a broken frame 0, asked for
// again, was taken by libnsgif as decoded and cached half-drawn, so that its second pass differed.
TEST_F(GifPlayback, FrameThatFailedIsNeverDecodedAgain) {
    struct Case {
        int broken;
        std::vector<int> shown;  // after each step of a pass; -1: nothing opaque
    } cases[] = {{7, {1, 2, 3, 4, 5, 6, 6, 0}}, {0, {1, 2, 3, 4, 5, 6, 7, 7}}};
    for (bool background : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << "background " << background << ", broken " << c.broken);
            GifBuilder gif(2, 2);
            gif.GlobalPalette(Palette()).Loop(0);
            for (uint8_t k = 0; k < 8; ++k) {
                GifFrame frame = GifFrame::Solid(2, 2, k, 10);
                if (k == c.broken)
                    frame.Broken();
                gif.Frame(frame);
            }
            const std::wstring file = standin::FromUtf8(dir.Write("broken.gif", gif.Build()));
            BitmapImage fx;
            fx.filePath = file.c_str();
            fx.SetBackgroundLoad(background);
            fx.Init();
            fx.WaitForBackgroundLoad();
            fx.SwapInBackgroundLoad();
            ASSERT_TRUE(fx.Snapshot().isAnimated);
            for (int pass = 0; pass < 3; ++pass) {
                const uint64_t before = fx.Snapshot().framesDecoded;
                std::vector<int> shown;
                for (int step = 0; step < 8; ++step) {
                    fx.Advance(0.101f);
                    shown.push_back(Shown(fx));
                }
                EXPECT_EQ(shown, c.shown) << "pass " << pass;
                // The design path caches frames as it first shows them.
                const uint64_t want = background || pass > 0 ? 0 : 7;
                EXPECT_EQ(fx.Snapshot().framesDecoded - before, want) << "pass " << pass;
            }
        }
    }
}

TEST_F(GifPlayback, BadTimeFromTheHostCountsAsNone) {
    Load(Animation({10, 10}));
    image.fileMonitor = OSMonitorFileStart(image.filePath, false);
    image.Advance(0.05f);
    standin::TouchWatchedFile(standin::ResolvePath(path.c_str()));  // a reload counts down
    for (float bad :
         {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
          -std::numeric_limits<float>::infinity(), -1.0f, -0.0f}) {
        image.Advance(bad);
        EXPECT_EQ(image.Snapshot().frameTime, 0.05f);
        EXPECT_EQ(image.Snapshot().currentFrame, 0u);
        EXPECT_EQ(image.Snapshot().reloadCountdown, 1.0f);
    }
    image.Advance(0.125f);
    EXPECT_EQ(image.Snapshot().currentFrame, 1u);
}

// A stalled host may hand over hours at once: whole passes are counted without walking them.
TEST_F(GifPlayback, HugeStepsEndPromptlyWhereFrameByFrameWouldHaveLanded) {
    struct Case {
        int loop;
        float seconds;
        uint32_t frame, loops;
        float left;
    } cases[] = {
        {0, 100.375f, 1, 0, 0.125f},  // 100 passes of 1 s skipped
        {200, 100.375f, 1, 100, 0.125f},  {50, 100.375f, 3, 50, -1.0f},  // ends on the last frame
        {0, 1e30f, 0, 0, -1.0f},          {0, std::numeric_limits<float>::max(), 0, 0, -1.0f},
        {65534, 3.0e9f, 3, 65534, -1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "loop " << c.loop << ", " << c.seconds << " s");
        Load(Animation({25, 25, 25, 25}, c.loop));
        ASSERT_EQ(image.Snapshot().frameDelays[0], 0.25f);
        image.Advance(c.seconds);
        if (c.seconds < 1e6f) {
            EXPECT_EQ(image.Snapshot().currentFrame, c.frame);
        }
        EXPECT_LT(image.Snapshot().currentFrame, 4u);
        EXPECT_EQ(image.Snapshot().loopsPlayed, c.loops);
        EXPECT_TRUE(std::isfinite(image.Snapshot().frameTime));
        if (c.left >= 0.0f) {
            EXPECT_EQ(image.Snapshot().frameTime, c.left);
        }
        if (c.loop == 0) {
            EXPECT_LE(image.Snapshot().frameTime, 0.25f);
        }
    }
}

TEST_F(GifPlayback, AbsentTextureIsLeftAlone) {
    standin::SetTextureCreationFails(true);
    Load(Animation({10, 10, 10}));
    EXPECT_EQ(image.texture, nullptr);
    EXPECT_EQ(CountLog(L"BitmapImage: Warning, no texture could be made for gif " + path), 1u);
    for (int i = 0; i < 10; ++i)
        image.Advance(0.125f);
    EXPECT_NE(image.Snapshot().frameCache[1], nullptr);
    EXPECT_NE(image.Snapshot().frameCache[2], nullptr);
}

// A change report starts a countdown of one second from the next call; a second report restarts it.
// An animation that has finished playing is reloaded all the same.
TEST_F(GifPlayback, ReloadComesOneSecondAfterTheLastChangeReport) {
    Load(Animation({10, 10}, -1));
    image.fileMonitor = OSMonitorFileStart(image.filePath, false);
    const std::string resolved = standin::ResolvePath(path.c_str());
    image.Advance(0.125f);
    EXPECT_EQ(image.Snapshot().currentFrame, 1u);

    standin::TouchWatchedFile(resolved);
    image.Advance(0.0f);
    EXPECT_EQ(image.Snapshot().reloadCountdown, 1.0f);
    image.Advance(0.5f);
    EXPECT_EQ(image.Snapshot().reloadCountdown, 0.5f);
    standin::TouchWatchedFile(resolved);
    image.Advance(0.25f);
    EXPECT_EQ(image.Snapshot().reloadCountdown, 1.0f);
    image.Advance(0.75f);
    EXPECT_EQ(image.Snapshot().reloadCountdown, 0.25f);
    EXPECT_NE(image.Snapshot().frameTime, 0.0f);
    EXPECT_EQ(image.Snapshot().loopsPlayed, 1u);  // finished
    image.Advance(0.25f);
    EXPECT_EQ(image.Snapshot().reloadCountdown, 0.0f);
    EXPECT_EQ(image.Snapshot().currentFrame, 0u);  // reloaded: back at frame 0
    EXPECT_EQ(image.Snapshot().frameTime, 0.0f);
    EXPECT_NE(image.fileMonitor, nullptr);
}

TEST_F(GifPlayback, StillImageIsReloadedLikeAGif) {
    const std::string png = dir.File("still.png");
    ASSERT_TRUE(standin::WritePng(png, 8, 8, std::vector<uint8_t>(8 * 8 * 4, 0x40)));
    image.filePath = standin::FromUtf8(png).c_str();
    image.fileMonitor = OSMonitorFileStart(image.filePath, false);
    image.Init();
    EXPECT_EQ(image.width, 8.0f);

    ASSERT_TRUE(standin::WritePng(png, 16, 4, std::vector<uint8_t>(16 * 4 * 4, 0x40)));
    image.Advance(0.0f);
    EXPECT_EQ(image.Snapshot().reloadCountdown, 1.0f);
    image.Advance(0.5f);
    EXPECT_EQ(image.width, 8.0f);
    image.Advance(0.5f);
    EXPECT_EQ(image.width, 16.0f);
    EXPECT_EQ(image.height, 4.0f);
}

TEST_F(GifPlayback, ReloadOfAVanishedFileStopsTheAnimation) {
    Load(Animation({10, 10}));
    image.fileMonitor = OSMonitorFileStart(image.filePath, false);
    image.Advance(0.125f);
    standin::TouchWatchedFile(standin::ResolvePath(path.c_str()));
    image.Advance(0.0f);
    std::filesystem::remove(standin::ToUtf8(path));
    image.Advance(1.0f);
    EXPECT_FALSE(image.Snapshot().isAnimated);
    EXPECT_FALSE(image.Snapshot().holdsFile);
    EXPECT_EQ(image.width, 32.0f);
    EXPECT_EQ(CountLog(L"BitmapImage::Init: could not open gif file '" + path + L"'"), 1u);
    image.Advance(1.0f);  // idle: nothing more happens
    EXPECT_EQ(standin::LiveTextureCount(), 1u);
}

}  // namespace
