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

    EXPECT_EQ(Vote(source).Snapshot().image->fileMonitor, nullptr);
    EXPECT_EQ(std::wstring(tree.container->GetString(L"sceneGuid", L"")).size(), 38u);
    std::vector<std::wstring> logs = {L"BitmapImage::Init: Empty path", L"Using bitmap image"};
    EXPECT_EQ(testsupport::LogTexts(), logs);

    Vect2 size = source->QuerySize();
    EXPECT_EQ(size.x, 32.0f);
    EXPECT_EQ(size.y, 32.0f);

    // With only an effect given: drawn opaque and untinted at the host's rectangle, no command
    // having placed it; keyed, with the default key (white, similarity 10, blend 0).
    testsupport::TempDir dir;
    data->SetString(
        L"path",
        standin::FromUtf8(testsupport::WriteSolidPng(dir.File("a.png"), 4, 4, 0x102030FF)).c_str());
    source->ApplySettings();
    standin::ClearGraphicsEvents();
    source->Draw(Vect2(10, 20), Vect2(30, 40));
    std::vector<standin::GraphicsEvent> events = standin::GraphicsEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, standin::GraphicsEventKind::DrawSprite);
    EXPECT_EQ(events[0].color, 0xFFFFFFFFu);
    EXPECT_EQ(events[0].shader, nullptr);
    EXPECT_EQ(events[0].x, 10.0f);
    EXPECT_EQ(events[0].y, 20.0f);
    EXPECT_EQ(events[0].x2, 40.0f);
    EXPECT_EQ(events[0].y2, 60.0f);

    data->SetInt(L"useColorKey", 1);
    source->ApplySettings();
    standin::ClearGraphicsEvents();
    source->Draw(Vect2(10, 20), Vect2(30, 40));
    events = standin::GraphicsEvents();
    ASSERT_EQ(events.size(), 6u) << "the shader file should sit beside the tests";
    EXPECT_EQ(events[1].color, 0xFFFFFFFFu);
    EXPECT_EQ(events[2].value, 10.0f * 0.01f);
    EXPECT_EQ(events[3].value, 0.0f);
    EXPECT_EQ(events[4].color, 0xFFFFFFFFu);
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
        const VoteImageSource::State state = Vote(source).Snapshot();
        EXPECT_EQ(state.opacity, c.want) << "stored " << c.stored;
        EXPECT_EQ(state.keySimilarity, -7);
        EXPECT_TRUE(state.useColorKey);
        EXPECT_EQ(state.color, 0x12345678u);
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
        EXPECT_EQ(Vote(source).Snapshot().image->fileMonitor, nullptr) << "monitor " << monitor;
    }
    SourceTree tree;
    XElement* data = tree.AddSource(L"fx");
    data->SetString(L"path", png.c_str());
    data->SetInt(L"monitor", 1);
    SourcePtr source = Create(data);
    EXPECT_NE(Vote(source).Snapshot().image->fileMonitor, nullptr);
    size_t blocksWithWatch = standin::AllocatorStats().liveBlocks;

    source->ApplySettings();  // the old watch goes before a new one starts
    EXPECT_NE(Vote(source).Snapshot().image->fileMonitor, nullptr);
    EXPECT_EQ(standin::AllocatorStats().liveBlocks, blocksWithWatch);

    data->SetInt(L"monitor", 0);
    source->ApplySettings();
    EXPECT_EQ(Vote(source).Snapshot().image->fileMonitor, nullptr);
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
        EXPECT_EQ(Vote(source).Snapshot().commandMapping, nullptr);
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
        data->SetString(L"path", L"nothing-here.png");
        source->ApplySettings();
        data->SetString(L"path", L"");
        source->ApplySettings();
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
