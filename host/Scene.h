#pragma once

// The item that shows one source in a scene. Items are named after their source elements.
class SceneItem {
public:
    // Makes the item take up the size ("cx", "cy") now stored on its source element.
    virtual void Update() = 0;

protected:
    ~SceneItem() = default;
};

class Scene {
public:
    // The item of the source of that name, or null. Owned by the scene.
    virtual SceneItem* GetSceneItem(const wchar_t* name) = 0;
    // Tells the scene that its items' stored sizes may have changed, so that it lays them out
    // again before it next draws. Items updated afterwards take their new size at once.
    virtual void RefreshLayout() = 0;

protected:
    ~Scene() = default;
};
