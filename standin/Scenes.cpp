// Scenes of the stand-in: items named after their source elements, each taking the size stored on
// its element when updated. Scene-level calls are recorded in order as text.
//
// An item reads its source element when it is updated; the element must outlive the scene.
#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/Scene.h"
#include "host/XElement.h"
#include "standin/Internal.h"
#include "standin/Standin.h"

namespace standin {

class StandinScene;

namespace {

struct SceneState {
    std::mutex mutex;
    std::vector<StandinScene*> scenes;
    StandinScene* current = nullptr;
    std::vector<std::wstring> events;
};

SceneState& State() {
    static SceneState* state = new SceneState;  // leaked: scenes are plain host state
    return *state;
}

void RecordEvent(std::wstring event) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().events.push_back(std::move(event));
}

class Item final : public SceneItem {
public:
    Item(XElement* source, std::wstring name) : source_(source), name_(std::move(name)) {}

    void Update() override {
        state_.cx = source_->GetFloat(L"cx", 32.0f);
        state_.cy = source_->GetFloat(L"cy", 32.0f);
        ++state_.updates;
        RecordEvent(L"update " + name_ + L" " + detail::FloatText(state_.cx) + L" " +
                    detail::FloatText(state_.cy));
    }

    const std::wstring& Name() const { return name_; }
    const SceneItemState& Inspect() const { return state_; }

private:
    XElement* source_;
    std::wstring name_;
    SceneItemState state_;
};

}  // namespace

class StandinScene final : public Scene {
public:
    SceneItem* GetSceneItem(const wchar_t* name) override {
        RecordEvent(L"item " + std::wstring(name ? name : L""));
        return Find(name);
    }

    void RefreshLayout() override {
        ++refreshes_;
        RecordEvent(L"refresh");
    }

    Item* Find(const wchar_t* name) {
        if (!name)
            return nullptr;
        for (auto& item : items_)
            if (item->Name() == name)
                return item.get();
        return nullptr;
    }

    void Add(XElement* source) {
        const wchar_t* name = source->GetName();
        items_.push_back(std::make_unique<Item>(source, name ? name : L""));
    }

    unsigned Refreshes() const { return refreshes_; }

private:
    std::vector<std::unique_ptr<Item>> items_;
    unsigned refreshes_ = 0;
};

namespace {

bool IsLive(StandinScene* scene) {
    auto& scenes = State().scenes;
    return std::find(scenes.begin(), scenes.end(), scene) != scenes.end();
}

}  // namespace

StandinScene* NewScene() {
    auto* scene = new StandinScene;
    std::lock_guard<std::mutex> lock(State().mutex);
    State().scenes.push_back(scene);
    return scene;
}

void DeleteScene(StandinScene* scene) {
    {
        std::lock_guard<std::mutex> lock(State().mutex);
        auto& scenes = State().scenes;
        auto it = std::find(scenes.begin(), scenes.end(), scene);
        if (it == scenes.end())
            return;  // null, or already gone with Reset
        scenes.erase(it);
        if (State().current == scene)
            State().current = nullptr;
    }
    delete scene;
}

Scene* AsScene(StandinScene* scene) {
    return scene;
}

void AddSceneItem(StandinScene* scene, XElement* sourceElement) {
    if (!scene || !sourceElement)
        return;
    scene->Add(sourceElement);
}

void SetCurrentScene(StandinScene* scene) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().current = scene && IsLive(scene) ? scene : nullptr;
}

bool InspectSceneItem(StandinScene* scene, const wchar_t* name, SceneItemState& state) {
    if (!scene)
        return false;
    Item* item = scene->Find(name);
    if (!item)
        return false;
    state = item->Inspect();
    return true;
}

unsigned SceneRefreshCount(StandinScene* scene) {
    return scene ? scene->Refreshes() : 0;
}

std::vector<std::wstring> SceneEvents() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().events;
}

namespace detail {

Scene* CurrentStandinScene() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().current;
}

void ClearSceneEvents() {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().events.clear();
}

void ResetScenes() {
    std::vector<StandinScene*> scenes;
    {
        std::lock_guard<std::mutex> lock(State().mutex);
        scenes.swap(State().scenes);
        State().current = nullptr;
        State().events.clear();
    }
    for (StandinScene* scene : scenes)
        delete scene;
}

}  // namespace detail

}  // namespace standin
