// The image holder's states outside GIF animation: the placeholder, still images, the choice of the
// GIF path by extension, and what a reload or the destruction gives back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/BitmapImage.h"
#include "support/TestHost.h"

using testsupport::CountLog;
using testsupport::TempDir;

namespace {

std::wstring Wide(const std::string& path) {
    return standin::FromUtf8(path);
}

// A PNG of that size, every pixel the same colour.
std::string WritePng(const TempDir& dir, const std::string& name, unsigned width, unsigned height) {
    std::string path = dir.File(name);
    std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4, 0x80);
    EXPECT_TRUE(standin::WritePng(path, width, height, rgba));
    return path;
}

void ExpectPlaceholder(const BitmapImage& image) {
    EXPECT_FALSE(image.Snapshot().isAnimated);
    EXPECT_EQ(image.width, 32.0f);
    EXPECT_EQ(image.height, 32.0f);
    EXPECT_FALSE(image.Snapshot().holdsFile);
    const standin::TextureInfo* info = standin::InspectTexture(image.texture);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->width, 32u);
    EXPECT_EQ(info->height, 32u);
    EXPECT_EQ(info->createdFormat, GS_BGRA);
    EXPECT_TRUE(info->isStatic);
    // Bytes FF 00 00 FF in B,G,R,A order: opaque blue.
    for (size_t at = 0; at < info->rgba.size(); at += 4) {
        ASSERT_EQ(info->rgba[at + 0], 0x00) << "pixel " << at / 4;
        ASSERT_EQ(info->rgba[at + 1], 0x00) << "pixel " << at / 4;
        ASSERT_EQ(info->rgba[at + 2], 0xFF) << "pixel " << at / 4;
        ASSERT_EQ(info->rgba[at + 3], 0xFF) << "pixel " << at / 4;
    }
}

TEST(BitmapImage, EmptyPathWarnsAndShowsThePlaceholder) {
    BitmapImage image;
    image.Init();
    ExpectPlaceholder(image);
    auto records = standin::LogRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, standin::LogKind::Warning);
    EXPECT_EQ(records[0].text, L"BitmapImage::Init: Empty path");

    image.filePath = L"";
    image.Init();
    ExpectPlaceholder(image);
    EXPECT_EQ(standin::LiveTextureCount(), 1u);
}

// The extension alone picks the path: a GIF is opened by the holder itself, anything else goes to
// the host's loader. The files do not exist, so each path shows its own failure.
TEST(BitmapImage, ExtensionGifInAnyCaseTakesTheGifPath) {
    TempDir dir;
    struct Case {
        const char* name;
        bool gifPath;
    } cases[] = {{"a.gif", true},  {"b.GIF", true},   {"c.GiF", true},
                 {"d.png", false}, {"e", false},      {"f.gif.png", false},
                 {"gif", false},   {"h.gifx", false}, {"i.jpg", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        standin::ClearLog();
        BitmapImage image;
        std::wstring path = Wide(dir.File(c.name));
        image.filePath = path.c_str();
        image.Init();
        ExpectPlaceholder(image);
        std::wstring open = L"BitmapImage::Init: could not open gif file '" + path + L"'";
        std::wstring create = L"BitmapImage::Init: could not create texture '" + path + L"'";
        EXPECT_EQ(CountLog(open), c.gifPath ? 1u : 0u);
        EXPECT_EQ(CountLog(create), c.gifPath ? 0u : 1u);
        ASSERT_EQ(standin::LogRecords().size(), 1u);
        EXPECT_EQ(standin::LogRecords()[0].kind, standin::LogKind::Warning);
    }
}

TEST(BitmapImage, StillImageTakesTheTextureSize) {
    TempDir dir;
    BitmapImage image;
    image.filePath = Wide(WritePng(dir, "still.png", 40, 24)).c_str();
    image.Init();
    EXPECT_FALSE(image.Snapshot().isAnimated);
    EXPECT_EQ(image.width, 40.0f);
    EXPECT_EQ(image.height, 24.0f);
    const standin::TextureInfo* info = standin::InspectTexture(image.texture);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->width, 40u);
    EXPECT_TRUE(standin::LogRecords().empty());
}

TEST(BitmapImage, UnreadableStillWarnsAndShowsThePlaceholder) {
    TempDir dir;
    std::string path = dir.Write("broken.png", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'});
    BitmapImage image;
    image.filePath = Wide(path).c_str();
    image.Init();
    ExpectPlaceholder(image);
    EXPECT_EQ(CountLog(L"BitmapImage::Init: could not create texture '" + Wide(path) + L"'"), 1u);
}

TEST(BitmapImage, ReloadReleasesTheOldTextureAndAFailureLeavesThePlaceholder) {
    TempDir dir;
    BitmapImage image;
    image.filePath = Wide(WritePng(dir, "one.png", 8, 8)).c_str();
    image.Init();
    image.filePath = Wide(WritePng(dir, "two.png", 16, 4)).c_str();
    image.Init();
    EXPECT_EQ(standin::LiveTextureCount(), 1u);
    EXPECT_EQ(image.width, 16.0f);
    EXPECT_EQ(image.height, 4.0f);

    image.filePath = Wide(dir.File("gone.png")).c_str();
    image.Init();
    EXPECT_EQ(standin::LiveTextureCount(), 1u);
    ExpectPlaceholder(image);
}

TEST(BitmapImage, TextureCreationFailureStillGivesAPlaceholderSize) {
    standin::SetTextureCreationFails(true);
    BitmapImage image;
    image.Init();
    EXPECT_EQ(image.texture, nullptr);
    EXPECT_EQ(image.width, 32.0f);
    EXPECT_EQ(image.height, 32.0f);
}

TEST(BitmapImage, PlaceholderWithoutMemoryLogsAndLeavesNoTexture) {
    BitmapImage image;
    standin::FailAllocationAt(0);
    image.Init();
    standin::ClearAllocationFailures();
    EXPECT_EQ(image.texture, nullptr);
    EXPECT_EQ(image.width, 32.0f);
    EXPECT_EQ(CountLog(L"BitmapImage: Warning, not enough memory for the placeholder texture"), 1u);
}

// Whatever the holder showed, destroying it gives back every block and texture, its path and its
// file watch included.
TEST(BitmapImage, DestructionReleasesEverything) {
    TempDir dir;
    std::string png = WritePng(dir, "still.png", 8, 8);
    const size_t baseline = standin::AllocatorStats().liveBlocks;
    for (const std::string& path : {std::string(), png, dir.File("missing.png")}) {
        SCOPED_TRACE(path);
        {
            BitmapImage image;
            image.filePath = Wide(path).c_str();
            image.fileMonitor = OSMonitorFileStart(image.filePath, false);
            image.Init();
            image.Advance(0.5f);
            EXPECT_EQ(standin::LiveTextureCount(), 1u);
        }
        EXPECT_EQ(standin::LiveTextureCount(), 0u);
        EXPECT_EQ(standin::AllocatorStats().liveBlocks, baseline);
    }
}

}  // namespace
