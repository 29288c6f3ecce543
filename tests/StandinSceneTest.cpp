// Scenes and the host's API object: items named after source elements, updates taking "cx" and
// "cy", the recorded sequence of scene calls, the registry, the output flag, and Reset.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/APIInterface.h"
#include "host/ImageSource.h"
#include "host/Scene.h"
#include "host/XElement.h"
#include "standin/Standin.h"

namespace {

ImageSource* CreateNothing(XElement*) {
    return nullptr;
}
bool ConfigureNothing(XElement*, bool) {
    return true;
}

TEST(StandinScene, ItemsAreNamedAfterTheirSourceElements) {
    standin::ConfigElement* root = standin::NewConfigRoot(L"sources");
    XElement* sources = standin::AsXElement(root);
    XElement* sized = sources->CreateElement(L"\x7279\x6548");
    sized->SetFloat(L"cx", 200.0f);
    sized->SetInt(L"cy", 100);
    XElement* unsized = sources->CreateElement(L"plain");

    standin::StandinScene* scene = standin::NewScene();
    standin::AddSceneItem(scene, sized);
    standin::AddSceneItem(scene, unsized);
    EXPECT_EQ(API->CurrentScene(), nullptr);
    standin::SetCurrentScene(scene);
    Scene* current = API->CurrentScene();
    ASSERT_EQ(current, standin::AsScene(scene));

    current->RefreshLayout();
    SceneItem* item = current->GetSceneItem(L"\x7279\x6548");
    ASSERT_NE(item, nullptr);
    item->Update();
    EXPECT_EQ(current->GetSceneItem(L"missing"), nullptr);
    current->GetSceneItem(L"plain")->Update();  // no size stored: 32 by 32

    EXPECT_EQ(
        standin::SceneEvents(),
        (std::vector<std::wstring>{L"refresh", L"item \x7279\x6548", L"update \x7279\x6548 200 100",
                                   L"item missing", L"item plain", L"update plain 32 32"}));
    standin::SceneItemState state;
    ASSERT_TRUE(standin::InspectSceneItem(scene, L"\x7279\x6548", state));
    EXPECT_EQ(state.cx, 200.0f);
    EXPECT_EQ(state.cy, 100.0f);
    EXPECT_EQ(state.updates, 1u);
    EXPECT_FALSE(standin::InspectSceneItem(scene, L"missing", state));
    EXPECT_EQ(standin::SceneRefreshCount(scene), 1u);

    standin::DeleteScene(scene);
    EXPECT_EQ(API->CurrentScene(), nullptr);
    standin::DeleteConfigRoot(root);
}

TEST(StandinScene, HostStateAndResetForgetsIt) {
    EXPECT_TRUE(
        API->RegisterSourceClass(L"Vantrel", L"Vantrel effect", &CreateNothing, &ConfigureNothing));
    EXPECT_FALSE(API->RegisterSourceClass(nullptr, L"x", &CreateNothing, nullptr));
    auto classes = standin::SourceClasses();
    ASSERT_EQ(classes.size(), 1u);
    EXPECT_EQ(classes[0].className, L"Vantrel");
    EXPECT_EQ(classes[0].displayName, L"Vantrel effect");
    EXPECT_EQ(classes[0].create, &CreateNothing);

    EXPECT_FALSE(API->IsOutputActive());
    standin::SetOutputActive(true);
    EXPECT_TRUE(API->IsOutputActive());
    standin::SetCanvasSize(1280, 720);
    standin::StandinScene* scene = standin::NewScene();
    standin::SetCurrentScene(scene);
    API->CurrentScene()->RefreshLayout();

    standin::Reset();
    EXPECT_TRUE(standin::SourceClasses().empty());
    EXPECT_FALSE(API->IsOutputActive());
    EXPECT_EQ(API->CurrentScene(), nullptr);  // and the scene is gone
    EXPECT_TRUE(standin::SceneEvents().empty());
    uint32_t width, height;
    API->GetCanvasSize(width, height);
    EXPECT_EQ(width, 1920u);
    EXPECT_EQ(height, 1080u);
    standin::DeleteScene(scene);  // already gone: ignored
}

}  // namespace
