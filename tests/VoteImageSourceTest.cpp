#include <gtest/gtest.h>

#include <memory>

#include "plugin/PluginEntry.h"
#include "source/VoteImageSource.h"
#include "support/SourceTree.h"
#include "support/TestHost.h"

using testsupport::SourceTree;
using vantrel::VoteImageSource;

namespace {

struct DeleteSource {
    void operator()(ImageSource* source) const { delete source; }
};
using SourcePtr = std::unique_ptr<ImageSource, DeleteSource>;

SourcePtr Create(XElement* data) {
    return SourcePtr(vantrel::CreateBitmapSource(data));
}
VoteImageSource& Vote(const SourcePtr& source) {
    return *static_cast<VoteImageSource*>(source.get());
}

TEST(VoteImageSource, EmptyDataGivesTheDefaultsAndASceneIdentifier) {
    SourceTree tree;
    XElement* data = tree.AddSource(L"fx");
    SourcePtr source = Create(data);
    ASSERT_TRUE(source);
    VoteImageSource& vote = Vote(source);

    EXPECT_EQ(vote.opacity, 100);
    EXPECT_EQ(vote.color, 0xFFFFFFFFu);
    EXPECT_EQ(vote.keyColor, 0xFFFFFFFFu);
    EXPECT_FALSE(vote.useColorKey);
    EXPECT_EQ(vote.keySimilarity, 10);
    EXPECT_EQ(vote.keyBlend, 0);
    EXPECT_EQ(vote.bitmap.fileMonitor, nullptr);
    EXPECT_EQ(std::wstring(tree.container->GetString(L"sceneGuid", L"")).size(), 38u);
    std::vector<std::wstring> logs = {L"BitmapImage::Init: Empty path", L"Using bitmap image"};
    EXPECT_EQ(testsupport::LogTexts(), logs);

    Vect2 size = source->QuerySize();
    EXPECT_EQ(size.x, 32.0f);
    EXPECT_EQ(size.y, 32.0f);

    // No command seen yet.
    EXPECT_EQ(vote.effectId, 0);
    EXPECT_EQ(vote.lastCommandId, -1);
    EXPECT_EQ(vote.drawX, -1);
    EXPECT_EQ(vote.drawY, -1);
    EXPECT_EQ(vote.drawWidth, -1);
    EXPECT_EQ(vote.drawHeight, -1);
    EXPECT_EQ(vote.commandMapping, nullptr);
}

TEST(VoteImageSource, OnlyOpacityIsClamped) {
    struct Case {
        int stored;
        int want;
    } cases[] = {{100, 100}, {101, 100}, {-1, 100}, {0, 0}, {55, 55}};
    for (const Case& c : cases) {
        SourceTree tree;
        XElement* data = tree.AddSource(L"fx");
        data->SetInt(L"opacity", c.stored);
        data->SetInt(L"keySimilarity", -7);
        data->SetInt(L"useColorKey", 5);
        data->SetInt(L"color", 0x12345678);
        SourcePtr source = Create(data);
        EXPECT_EQ(Vote(source).opacity, c.want) << "stored " << c.stored;
        EXPECT_EQ(Vote(source).keySimilarity, -7);
        EXPECT_TRUE(Vote(source).useColorKey);
        EXPECT_EQ(Vote(source).color, 0x12345678u);
    }
}

TEST(VoteImageSource, OnlyMonitorOneWatchesAndEveryApplyStopsTheOldWatch) {
    testsupport::TempDir dir;
    const std::wstring png =
        standin::FromUtf8(testsupport::WriteSolidPng(dir.File("a.png"), 4, 4, 0xFF0000FF));
    for (int monitor : {0, 2, -1}) {
        SourceTree tree;
        XElement* data = tree.AddSource(L"fx");
        data->SetString(L"path", png.c_str());  // a file the host would watch
        data->SetInt(L"monitor", monitor);
        SourcePtr source = Create(data);
        EXPECT_EQ(Vote(source).bitmap.fileMonitor, nullptr) << "monitor " << monitor;
    }
    SourceTree tree;
    XElement* data = tree.AddSource(L"fx");
    data->SetString(L"path", png.c_str());
    data->SetInt(L"monitor", 1);
    SourcePtr source = Create(data);
    EXPECT_NE(Vote(source).bitmap.fileMonitor, nullptr);
    size_t blocksWithWatch = standin::AllocatorStats().liveBlocks;

    source->ApplySettings();  // the old watch goes before a new one starts
    EXPECT_NE(Vote(source).bitmap.fileMonitor, nullptr);
    EXPECT_EQ(standin::AllocatorStats().liveBlocks, blocksWithWatch);

    data->SetInt(L"monitor", 0);
    source->ApplySettings();
    EXPECT_EQ(Vote(source).bitmap.fileMonitor, nullptr);
}

TEST(VoteImageSource, ExistingSceneIdentifierIsKept) {
    SourceTree tree;
    tree.container->SetString(L"sceneGuid", L"my scene");
    SourcePtr source = Create(tree.AddSource(L"fx"));
    EXPECT_EQ(std::wstring(tree.container->GetString(L"sceneGuid")), L"my scene");
}

TEST(VoteImageSource, QuerySizeIsTheLoadedImageOrThePlaceholder) {
    testsupport::TempDir dir;
    SourceTree tree;
    XElement* data = tree.AddSource(L"fx");
    data->SetString(L"path", standin::FromUtf8(testsupport::WriteSolidPng(dir.File("wide.png"), 48,
                                                                          20, 0x00FF00FF))
                                 .c_str());
    SourcePtr source = Create(data);
    EXPECT_EQ(source->QuerySize().x, 48.0f);
    EXPECT_EQ(source->QuerySize().y, 20.0f);

    data->SetString(L"path", standin::FromUtf8(dir.File("missing.png")).c_str());
    source->ApplySettings();
    EXPECT_EQ(source->QuerySize().x, 32.0f);
    EXPECT_EQ(source->QuerySize().y, 32.0f);
}

TEST(VoteImageSource, SourceWithoutContainerHasNoSceneIdentifier) {
    standin::ConfigElement* lone = standin::NewConfigRoot(L"fx");
    XElement* data = standin::AsXElement(lone)->CreateElement(L"data");
    {
        SourcePtr source = Create(data);
        ASSERT_TRUE(source);
        source->Advance(0.05f);  // polls: no scene identifier, so nothing happens
        EXPECT_EQ(Vote(source).commandMapping, nullptr);
    }
    standin::DeleteConfigRoot(lone);
}

TEST(VoteImageSource, LoadReloadAndFailureLeaveNothingBehind) {
    testsupport::TempDir dir;
    std::string png = testsupport::WriteSolidPng(dir.File("a.png"), 8, 8, 0x102030FF);
    SourceTree tree;
    XElement* data = tree.AddSource(L"fx");
    data->SetString(L"path", standin::FromUtf8(png).c_str());
    data->SetInt(L"monitor", 1);
    tree.container->SetString(L"sceneGuid", L"scene");
    auto baseline = standin::AllocatorStats();
    size_t texturesBefore = standin::LiveTextureCount();
    {
        SourcePtr source = Create(data);
        source->ApplySettings();
        VoteImageSource& vote = Vote(source);
        vote.bitmap.filePath = L"nothing-here.png";
        vote.bitmap.Init();
        vote.bitmap.filePath = L"";
        vote.bitmap.Init();
    }
    EXPECT_EQ(standin::AllocatorStats().liveBlocks, baseline.liveBlocks);
    EXPECT_EQ(standin::AllocatorStats().liveBytes, baseline.liveBytes);
    EXPECT_EQ(standin::LiveTextureCount(), texturesBefore);
    EXPECT_EQ(standin::LiveShaderCount(), 0u);
}

TEST(VoteImageSource, NoMemoryForTheSourceIsReported) {
    SourceTree tree;
    XElement* data = tree.AddSource(L"fx");
    standin::FailAllocationAt(0);
    EXPECT_EQ(vantrel::CreateBitmapSource(data), nullptr);
    EXPECT_EQ(standin::LogRecords().size(), 1u);
}

}  // namespace
