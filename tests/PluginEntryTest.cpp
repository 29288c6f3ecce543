#include <gtest/gtest.h>

#include "identity/Guid.h"
#include "platform/SimPlatform.h"
#include "plugin/PluginEntry.h"
#include "support/SourceTree.h"
#include "support/TestHost.h"

using testsupport::SourceTree;

namespace {

std::wstring Text(const String& s) {
    return s.IsEmpty() ? std::wstring() : std::wstring(s.Array());
}

TEST(FormatGuid, ZeroGuidIsThirtyEightCharacters) {
    platform::Guid zero = {};
    EXPECT_EQ(Text(vantrel::FormatGuid(zero)), L"{00000000-0000-0000-0000-000000000000}");
}

TEST(FormatGuid, FieldsInOrderWithUppercaseHex) {
    platform::Guid guid = {
        0x0abcdef1u, 0x2a3bu, 0xc4d5u, {0xe6, 0xf7, 0x08, 0x19, 0x2a, 0x3b, 0x4c, 0xfd}};
    EXPECT_EQ(Text(vantrel::FormatGuid(guid)), L"{0ABCDEF1-2A3B-C4D5-E6F7-08192A3B4CFD}");
}

TEST(EnsureGuid, MakesStoresAndKeepsAnIdentifier) {
    SourceTree tree;
    XElement* data = tree.AddSource(L"fx");
    String first = vantrel::EnsureGuid(data, L"guid");
    ASSERT_EQ(first.Length(), 38u);
    EXPECT_EQ(std::wstring(data->GetString(L"guid")), Text(first));
    EXPECT_EQ(Text(vantrel::EnsureGuid(data, L"guid")), Text(first));
}

TEST(EnsureGuid, NonEmptyTextIsNeverReplacedAndEmptyCountsAsMissing) {
    SourceTree tree;
    XElement* data = tree.AddSource(L"fx");
    data->SetString(L"guid", L"not a guid at all");
    EXPECT_EQ(Text(vantrel::EnsureGuid(data, L"guid")), L"not a guid at all");
    // Not even when its copy gets no memory: the text is there, only the copy is missing.
    standin::FailAllocationAt(0);
    EXPECT_TRUE(vantrel::EnsureGuid(data, L"guid").IsEmpty());
    EXPECT_EQ(std::wstring(data->GetString(L"guid")), L"not a guid at all");
    EXPECT_EQ(standin::LogRecords().size(), 1u);
    data->SetString(L"guid", L"");
    EXPECT_EQ(vantrel::EnsureGuid(data, L"guid").Length(), 38u);
}

TEST(EnsureGuid, NoGuidOrNoMemoryForItsTextStoresNothingAndRetriesLater) {
    for (bool noMemory : {false, true}) {
        SCOPED_TRACE(noMemory ? "no memory" : "no guid");
        standin::ClearLog();
        SourceTree tree;
        XElement* data = tree.AddSource(L"fx");
        if (noMemory)
            standin::FailAllocationAt(0);
        else
            platform::Simulation().SetGuidFails(true);
        EXPECT_TRUE(vantrel::EnsureGuid(data, L"guid").IsEmpty());
        EXPECT_FALSE(standin::HasKey(data, L"guid"));
        EXPECT_EQ(standin::LogRecords().size(), 1u);
        platform::Simulation().SetGuidFails(false);
        EXPECT_EQ(vantrel::EnsureGuid(data, L"guid").Length(), 38u);
    }
}

TEST(LoadNotification, StoresTheHandleOnProcessAttachOnly) {
    int marker = 0;
    for (unsigned long reason : {0ul, 2ul, 3ul})
        EXPECT_TRUE(vantrel::OnModuleLoad(&marker, reason));
    EXPECT_NE(vantrel::ModuleHandle(), &marker);
    EXPECT_TRUE(vantrel::OnModuleLoad(&marker, 1));
    EXPECT_EQ(vantrel::ModuleHandle(), &marker);
}

TEST(LoadPlugin, RegistersOneClassUnderThePluginName) {
    int marker = 0;
    vantrel::OnModuleLoad(&marker, 1);
    EXPECT_TRUE(vantrel::LoadPlugin());
    EXPECT_EQ(standin::ColorControlHandle(), &marker);
    auto classes = standin::SourceClasses();
    ASSERT_EQ(classes.size(), 1u);
    EXPECT_EQ(classes[0].className, L"Vantrel特效插件(zidi)");
    EXPECT_EQ(classes[0].displayName, L"Vantrel特效插件(zidi)");
    EXPECT_EQ(classes[0].create, &vantrel::CreateBitmapSource);
    EXPECT_EQ(classes[0].configure, &vantrel::ConfigureBitmapSource);
    EXPECT_EQ(std::wstring(vantrel::GetPluginName()), classes[0].className);
    EXPECT_EQ(std::wstring(vantrel::GetPluginDescription())
                  .rfind(L"Vantrel提供用于随机抽取观众弹幕并显示在直播画面的插件。", 0),
              0u);
}

TEST(CreateBitmapSource, NullElementOrNoMemoryGivesNoSource) {
    auto before = standin::AllocatorStats();
    EXPECT_EQ(vantrel::CreateBitmapSource(nullptr), nullptr);
    EXPECT_EQ(standin::AllocatorStats().allocations, before.allocations);

    SourceTree tree;
    XElement* data = tree.AddSource(L"fx");
    standin::FailAllocationAt(0);
    EXPECT_EQ(vantrel::CreateBitmapSource(data), nullptr);
}

TEST(ConfigureBitmapSource, CreatesDataAndIdentifiersAndNotifiesTheConsoleWithThem) {
    SourceTree tree;
    XElement* source = tree.container->CreateElement(L"fx");
    auto& sim = platform::Simulation();
    // No identifier can be made yet: the console is not told of a source it could not address,
    // and the next try, a second later, is not held back by the guard.
    sim.SetCalendarSeconds(999);
    sim.SetGuidFails(true);
    EXPECT_TRUE(vantrel::ConfigureBitmapSource(source, true));
    EXPECT_TRUE(sim.Launches().empty());
    sim.SetGuidFails(false);
    sim.SetCalendarSeconds(1000);

    EXPECT_TRUE(vantrel::ConfigureBitmapSource(source, true));
    XElement* data = source->GetElement(L"data");
    ASSERT_NE(data, nullptr);
    std::wstring guid = data->GetString(L"guid", L"");
    std::wstring sceneGuid = tree.container->GetString(L"sceneGuid", L"");
    EXPECT_EQ(guid.size(), 38u);
    EXPECT_EQ(sceneGuid.size(), 38u);
    // No console runs: it is launched with the scene identifier first, then the source's.
    auto launches = sim.Launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_NE(launches[0].parameters.find(standin::ToUtf8(sceneGuid) + " " + standin::ToUtf8(guid)),
              std::string::npos);

    // A second configure, later, makes nothing new and passes the same two texts.
    sim.SetCalendarSeconds(1010);
    EXPECT_TRUE(vantrel::ConfigureBitmapSource(source, false));
    EXPECT_EQ(std::wstring(data->GetString(L"guid")), guid);
    EXPECT_EQ(std::wstring(tree.container->GetString(L"sceneGuid")), sceneGuid);
    ASSERT_EQ(sim.Launches().size(), 2u);
    EXPECT_EQ(sim.Launches()[1].parameters, launches[0].parameters);
}

TEST(ConfigureBitmapSource, TwoSourcesShareTheSceneIdentifier) {
    SourceTree tree;
    XElement* a = tree.container->CreateElement(L"a");
    XElement* b = tree.container->CreateElement(L"b");
    EXPECT_TRUE(vantrel::ConfigureBitmapSource(a, true));
    EXPECT_TRUE(vantrel::ConfigureBitmapSource(b, true));
    std::wstring guidA = a->GetElement(L"data")->GetString(L"guid");
    std::wstring guidB = b->GetElement(L"data")->GetString(L"guid");
    EXPECT_NE(guidA, guidB);
    EXPECT_EQ(std::wstring(tree.container->GetString(L"sceneGuid")).size(), 38u);
}

TEST(ConfigureBitmapSource, NullOrParentlessElementIsRefusedWithAWarning) {
    EXPECT_FALSE(vantrel::ConfigureBitmapSource(nullptr, false));
    EXPECT_EQ(testsupport::CountLog(L"ConfigureBitmapSource: NULL element"), 1u);

    standin::ConfigElement* lone = standin::NewConfigRoot(L"lone");
    EXPECT_FALSE(vantrel::ConfigureBitmapSource(standin::AsXElement(lone), false));
    EXPECT_EQ(standin::AsXElement(lone)->GetElement(L"data"), nullptr);
    EXPECT_TRUE(platform::Simulation().Launches().empty());
    standin::DeleteConfigRoot(lone);
}

}  // namespace
