// A large frame store that an animation loaded on the host's thread holds in the host's allocator:
// let go with "backgroundLoad" 1, it goes back a slice per frame, not all in the frame that lets
// it go; with the setting off, at once, as the design has it.
#include <gtest/gtest.h>

#include <string>

#include "image/BitmapImage.h"
#include "support/GifBuilder.h"
#include "support/TestHost.h"

using testsupport::GifBuilder;
using testsupport::GifFrame;
using testsupport::TempDir;

namespace {

constexpr uint16_t kSide = 1024;
constexpr size_t kFrames = 10;
constexpr size_t kStoreBytes = kFrames * kSide * kSide * 4;  // 40 MiB
// What the holder gives back per frame at most: four slices of 8 MiB.
constexpr size_t kMostPerFrame = size_t{4} * (8u << 20);

std::wstring Gif(const TempDir& dir, const std::string& name, uint16_t side, size_t frames) {
    GifBuilder gif(side, side);
    gif.Loop(0);
    for (size_t i = 0; i < frames; ++i)
        gif.Frame(GifFrame::Solid(side, side, static_cast<uint8_t>(i % 4), 10));
    return standin::FromUtf8(dir.Write(name, gif.Build()));
}

size_t LiveBytes() {
    return standin::AllocatorStats().liveBytes;
}

TEST(StoreRetirement, LetGoWithTheBackgroundLoadItGoesBackASliceAtATime) {
    TempDir dir;
    const std::wstring large = Gif(dir, "large.gif", kSide, kFrames);
    const std::wstring small = Gif(dir, "small.gif", 2, 2);
    const size_t baseline = LiveBytes();
    for (bool background : {false, true}) {
        SCOPED_TRACE(background ? "backgroundLoad 1" : "backgroundLoad 0");
        BitmapImage image;
        image.filePath = large.c_str();
        image.Init();
        ASSERT_TRUE(image.Snapshot().isAnimated);
        ASSERT_GE(LiveBytes(), baseline + kStoreBytes);

        image.SetBackgroundLoad(background);
        image.filePath = small.c_str();
        image.Init();
        image.WaitForBackgroundLoad();
        image.SwapInBackgroundLoad();
        ASSERT_TRUE(image.Snapshot().isAnimated);
        if (!background) {
            EXPECT_LT(LiveBytes(), baseline + kStoreBytes / 4) << "freed at once";
            continue;
        }
        const size_t atSwap = LiveBytes();
        EXPECT_GE(atSwap, baseline + kStoreBytes) << "nothing given back in the swap's frame";
        // Four slices of 8 MiB a frame at most: 40 MiB take two frames at least, more when the
        // budget of time runs out first.
        int frames = 0;
        for (size_t live = atSwap; live > atSwap - kStoreBytes && frames < 40;) {
            image.Advance(0.001f);
            ++frames;
            const size_t now = LiveBytes();
            EXPECT_LT(now, live) << "frame " << frames << " gave nothing back";
            EXPECT_LE(live - now, kMostPerFrame) << "frame " << frames;
            live = now;
        }
        EXPECT_GE(frames, 2);
        EXPECT_EQ(LiveBytes(), atSwap - kStoreBytes);
    }
    EXPECT_EQ(LiveBytes(), baseline);
}

// A second store let go while the first still goes back waits its turn: neither is freed whole
// in a frame, and both are gone within the frames their slices take.
TEST(StoreRetirement, TwoStoresLetGoInTurnBothGoBackInSlices) {
    TempDir dir;
    constexpr size_t kStoreBytes = 3 * kSide * kSide * 4;  // 12 MiB: two slices
    const std::wstring large = Gif(dir, "large.gif", kSide, 3);
    const std::wstring small = Gif(dir, "small.gif", 2, 2);
    const size_t baseline = LiveBytes();
    {
        BitmapImage image;
        for (int store = 0; store < 2; ++store) {
            image.SetBackgroundLoad(false);
            image.filePath = large.c_str();
            image.Init();
            ASSERT_TRUE(image.Snapshot().isAnimated);
            image.SetBackgroundLoad(true);
            image.filePath = small.c_str();
            image.Init();
            image.WaitForBackgroundLoad();
            image.SwapInBackgroundLoad();
        }
        const size_t atSwap = LiveBytes();
        EXPECT_GE(atSwap, baseline + 2 * kStoreBytes) << "both still held after the second swap";
        int frames = 0;
        for (size_t live = atSwap; live > atSwap - 2 * kStoreBytes && frames < 80;) {
            image.Advance(0.001f);
            ++frames;
            const size_t now = LiveBytes();
            EXPECT_LE(live - now, kMostPerFrame) << "frame " << frames;
            live = now;
        }
        EXPECT_EQ(LiveBytes(), atSwap - 2 * kStoreBytes);
    }
    EXPECT_EQ(LiveBytes(), baseline);
}

// A holder destroyed with a store still going back frees the rest at once.
TEST(StoreRetirement, DestructionFreesWhatIsLeft) {
    TempDir dir;
    const std::wstring large = Gif(dir, "large.gif", kSide, 3);
    const std::wstring small = Gif(dir, "small.gif", 2, 2);
    const size_t baseline = LiveBytes();
    {
        BitmapImage image;
        image.filePath = large.c_str();
        image.Init();
        image.SetBackgroundLoad(true);
        image.filePath = small.c_str();
        image.Init();
        image.WaitForBackgroundLoad();
        image.SwapInBackgroundLoad();
        image.Advance(0.001f);
    }
    EXPECT_EQ(LiveBytes(), baseline);
}

}  // namespace
