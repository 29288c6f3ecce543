// The built module as a host meets it: loaded from its file, four exports found by name, and its
// source class registered with the host it shares.
#include <gtest/gtest.h>

#include "support/ModuleLoader.h"
#include "support/SourceTree.h"
#include "support/TestHost.h"

namespace {

using LoadPluginFn = bool (*)();
using UnloadPluginFn = void (*)();
using TextFn = const wchar_t* (*)();

TEST(ModuleLoad, ExportsFourEntryPointsAndRegistersItsClass) {
    testsupport::ModuleLoader module(testsupport::ModuleFileName());
    ASSERT_TRUE(module.Loaded()) << module.Error();
    auto load = module.FindAs<LoadPluginFn>("LoadPlugin");
    auto unload = module.FindAs<UnloadPluginFn>("UnloadPlugin");
    auto name = module.FindAs<TextFn>("GetPluginName");
    auto description = module.FindAs<TextFn>("GetPluginDescription");
    ASSERT_TRUE(load && unload && name && description);
    // Nothing of the module's own code is reachable by name.
    EXPECT_EQ(module.Find("_ZN7vantrel10LoadPluginEv"), nullptr);

    EXPECT_EQ(std::wstring(name()), L"Vantrel特效插件(zidi)");
    EXPECT_EQ(std::wstring(description())
                  .find(L"Vantrel提供用于随机抽取观众弹幕并显示在直播画面的插件。"),
              0u);

    EXPECT_TRUE(load());
    auto classes = standin::SourceClasses();
    ASSERT_EQ(classes.size(), 1u);
    EXPECT_EQ(classes[0].className, L"Vantrel特效插件(zidi)");
    EXPECT_EQ(classes[0].displayName, L"Vantrel特效插件(zidi)");

    // A source made through the registered callback lives and dies in the host's memory.
    testsupport::SourceTree tree;
    XElement* data = tree.AddSource(L"fx");
    tree.container->SetString(L"sceneGuid", L"scene");
    auto before = standin::AllocatorStats();
    ImageSource* source = classes[0].create(data);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->QuerySize().x, 32.0f);
    source->Advance(0.05f);
    source->Draw(Vect2(0, 0), Vect2(32, 32));
    delete source;
    EXPECT_EQ(standin::AllocatorStats().liveBlocks, before.liveBlocks);
    unload();
}

}  // namespace
