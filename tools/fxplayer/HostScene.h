#pragma once

// The host's side of a run: the stand-in host with the module loaded into it, the class the module
// registered, the configuration tree, and one scene holding the effect sources, each shown by an
// item at a place and a size on the canvas.
#include <functional>
#include <string>
#include <vector>

#include "host/Vect.h"
#include "standin/Standin.h"

class ImageSource;

namespace fxplayer {

class FrameTimes;
class LoadedModule;
struct RunPlan;
struct Setting;

class HostScene {
public:
    // What the host has to say goes to `note` as transcript lines ("log", the text). `calling` is
    // told which source the host is about to call into (from 1), and 0 once it is done with them,
    // so that the lines in between can name the source.
    using Note = std::function<void(const char* kind, const std::string& text)>;
    using Calling = std::function<void(int source)>;

    // `times`, when given, is told of every call into the module while the run goes (creating the
    // sources, scene changes, settings, Advance and Draw), so that it counts as the frame's cost.
    HostScene(LoadedModule& module, Note note, Calling calling, FrameTimes* times = nullptr);
    ~HostScene();
    HostScene(const HostScene&) = delete;
    HostScene& operator=(const HostScene&) = delete;

    // Sets the stand-in up as the plan says, has the module register its class, loads or makes the
    // configuration tree and puts the plan's sources into the scene (which has not begun yet).
    // False with a one-line `error`.
    bool Open(const RunPlan& plan, std::string& error);
    int Sources() const { return static_cast<int>(sources_.size()); }
    // True when the module's LoadPlugin registered no source class at all, as a module does that
    // refuses its host: the scene then holds no source, and the run plays the canvas alone.
    bool ModuleRegisteredNothing() const { return unregistered_; }

    void BeginScene();
    void EndScene();
    bool SceneRunning() const { return sceneRunning_; }

    // The streamer changes a setting of source `source` (from 1): the host stores it and has the
    // source apply its settings. A relative path is taken from `folder`.
    void ChangeSetting(int source, const Setting& setting, const std::string& folder);
    // Moves the source's item to (x, y) and sizes it w x h, canvas pixels.
    void PlaceItem(int source, float x, float y, int width, int height);

    // One frame's update of every source; the host updates no source while the scene is stopped.
    void Advance(float seconds);
    // Waits until every source's background load has finished, so that the next Advance shows it
    // (the module's export for host programs; nothing when the module lacks it).
    void WaitForBackgroundLoads();
    // Frames of every source that came due before its background load's worker had them (0 when
    // the module lacks the export).
    unsigned long long LateFrames();
    // Puts `background` on the canvas and draws every source over it at its item, in order.
    void Draw(const std::vector<uint8_t>& background);

    // What the host's allocator held just before the first source was made, and just after the
    // last was destroyed (by Close); they match when the sources leave nothing behind.
    const standin::AllocStats& AllocatorBeforeSources() const { return beforeSources_; }
    const standin::AllocStats& AllocatorAfterSources() const { return afterSources_; }

    // Ends the scene if it runs, lets the sources go, unloads the module and writes the
    // configuration tree to `configPath`. False with `error` when the file cannot be written.
    bool Close(const std::string& configPath, std::string& error);

private:
    struct Source {
        XElement* element = nullptr;  // the source element: the item's size
        XElement* data = nullptr;     // its "data" child: the settings
        ImageSource* source = nullptr;
        Vect2 position;  // the item's top-left corner on the canvas
    };

    void Teardown();
    Source* Find(int source);

    LoadedModule& module_;
    Note note_;
    Calling calling_;
    FrameTimes* times_;
    bool pluginLoaded_ = false;
    bool unregistered_ = false;
    standin::ConfigElement* root_ = nullptr;
    standin::StandinScene* scene_ = nullptr;
    std::vector<Source> sources_;
    bool sceneRunning_ = false;
    standin::AllocStats beforeSources_;
    standin::AllocStats afterSources_;
};

// Stores `setting` on the source element (cx, cy, orix, oriy) or on its "data" child, as the tree
// holds it; a relative path is made absolute against `folder`.
void StoreSetting(const Setting& setting, XElement* sourceElement, XElement* data,
                  const std::string& folder);

}  // namespace fxplayer
