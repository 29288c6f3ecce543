// The built module as a host meets it: loaded from its file, four exports found by name, and its
// source class registered with the host it shares.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "support/GifBuilder.h"
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

// A host that unloads the module while background loads are in flight, one of them for a source
// it has not destroyed yet: UnloadPlugin returns once no worker runs the module's code, the host
// destroys its source and unloads the library, and goes on running; then it can load the module
// again and use it. On Windows the library is really unmapped, so a worker still in it would crash
// the process.
TEST(ModuleLoad, UnloadedWithBackgroundLoadsInFlightTheHostGoesOn) {
    testsupport::TempDir dir;
    testsupport::GifBuilder gif(128, 128);
    gif.Loop(0);
    for (int i = 0; i < 48; ++i)
        gif.Frame(testsupport::GifFrame::Solid(128, 128, static_cast<uint8_t>(i % 4), 2));
    const std::wstring path = standin::FromUtf8(dir.Write("fx.gif", gif.Build()));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        {
            testsupport::ModuleLoader module(testsupport::ModuleFileName());
            ASSERT_TRUE(module.Loaded()) << module.Error();
            ASSERT_TRUE(module.FindAs<LoadPluginFn>("LoadPlugin")());
            const auto classes = standin::SourceClasses();
            ASSERT_FALSE(classes.empty());
            testsupport::SourceTree tree;
            ImageSource* sources[3] = {};
            for (int i = 0; i < 3; ++i) {
                XElement* data = tree.AddSource((L"fx" + std::to_wstring(i)).c_str());
                data->SetInt(L"backgroundLoad", 1);
                data->SetInt(L"frameCacheMB", 0);  // a ring of two: the worker always has work
                data->SetString(L"path", path.c_str());
                sources[i] = classes.back().create(data);
                ASSERT_NE(sources[i], nullptr);
            }
            for (int frame = 0; frame < 5; ++frame)
                for (ImageSource* source : sources)
                    source->Advance(0.03f);
            delete sources[0];  // its worker stops after the frame it is in
            module.FindAs<UnloadPluginFn>("UnloadPlugin")();
            delete sources[1];
            delete sources[2];
            standin::Reset();  // the host forgets the class with the module
        }
#if defined(_WIN32)
        EXPECT_EQ(GetModuleHandleW(L"VantrelEffect.dll"), nullptr) << "the library is unmapped";
#endif
        // Time for a worker that had outlived the unload to return into the unmapped code.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

}  // namespace
