#include "HostScene.h"

#include "Files.h"
#include "FrameTimes.h"
#include "ModuleLoader.h"
#include "Player.h"
#include "SourceSettings.h"
#include "host/ImageSource.h"
#include "host/XElement.h"

namespace fxplayer {

namespace {

// The first source element's name; the host names items after their source elements, and a
// second source of the same kind gets a number.
const wchar_t kSourceName[] = L"Effect";

std::wstring Wide(const std::string& text) {
    return standin::FromUtf8(text);
}

XElement* ChildOf(XElement* parent, const wchar_t* name) {
    XElement* child = parent->GetElement(name);
    return child ? child : parent->CreateElement(name);
}

std::wstring SourceName(int source) {
    return source == 1 ? kSourceName : kSourceName + (L" " + std::to_wstring(source));
}

}  // namespace

void StoreSetting(const Setting& setting, XElement* sourceElement, XElement* data,
                  const std::string& folder) {
    XElement* element = setting.onSourceElement ? sourceElement : data;
    std::wstring key = Wide(setting.key);
    if (!setting.isText) {
        element->SetInt(key.c_str(), setting.number);
        return;
    }
    // The host resolves relative paths against its own folder; the user meant ours.
    std::string text = setting.key == "path" && !setting.text.empty()
                           ? AbsoluteAgainst(setting.text, folder)
                           : setting.text;
    element->SetString(key.c_str(), Wide(text).c_str());
}

HostScene::HostScene(LoadedModule& module, Note note, Calling calling, FrameTimes* times)
    : module_(module), note_(std::move(note)), calling_(std::move(calling)), times_(times) {}

HostScene::~HostScene() {
    Teardown();
}

void HostScene::Teardown() {
    standin::SetLogListener(nullptr);
    standin::SetFileReadListener(nullptr);
    for (Source& source : sources_)
        delete source.source;
    sources_.clear();
    if (scene_) {
        standin::SetCurrentScene(nullptr);
        standin::DeleteScene(scene_);
        scene_ = nullptr;
    }
    if (root_) {
        standin::DeleteConfigRoot(root_);
        root_ = nullptr;
    }
    if (pluginLoaded_)
        module_.Exports().UnloadPlugin();
    pluginLoaded_ = false;
    sceneRunning_ = false;
}

HostScene::Source* HostScene::Find(int source) {
    return source >= 1 && source <= Sources() ? &sources_[static_cast<size_t>(source - 1)]
                                              : nullptr;
}

bool HostScene::Open(const RunPlan& plan, std::string& error) {
    standin::SetLogListener(
        [this](const standin::LogRecord& record) { note_("log", standin::ToUtf8(record.text)); });
    standin::SetFileReadListener([this](const std::string& path) { note_("read", path); });
    standin::SetCanvasSize(plan.options.canvasWidth, plan.options.canvasHeight);
    standin::SetOutputActive(false);
    // The host's folder, where shaders/ lies beside the module.
    standin::SetBaseDirectory(PathToUtf8(PathFromUtf8(plan.modulePath).parent_path()));

    const PluginExports& exports = module_.Exports();
    pluginLoaded_ = true;
    if (!exports.LoadPlugin()) {
        error = "the module's LoadPlugin failed";
        return false;
    }
    const wchar_t* name = exports.GetPluginName();
    const standin::SourceClassRecord* registered = nullptr;
    std::vector<standin::SourceClassRecord> classes = standin::SourceClasses();
    for (const auto& record : classes)
        if (name && record.className == name)
            registered = &record;
    // A module that registered nothing has refused its host (its reasons are in the host's log):
    // the host goes on without it, and so does the run, with the canvas alone.
    unregistered_ = classes.empty();
    if (!unregistered_ && (!registered || !registered->create)) {
        error = "the module registered no source class under its plug-in name";
        return false;
    }

    root_ = standin::NewConfigRoot(L"fxplayer");
    XElement* root = standin::AsXElement(root_);
    if (plan.loadConfig && !standin::LoadConfig(root, plan.options.config)) {
        error = "cannot read the configuration " + plan.options.config;
        return false;
    }
    // The container holds the scene's identifier, each source element its item's size, and its
    // "data" child the source's settings.
    XElement* container = ChildOf(root, L"scene");
    scene_ = standin::NewScene();
    standin::SetCurrentScene(scene_);
    beforeSources_ = standin::AllocatorStats();
    const int sources = unregistered_ ? 0 : plan.sources;
    for (int number = 1; number <= sources; ++number) {
        Source source;
        source.element = ChildOf(container, SourceName(number).c_str());
        source.data = ChildOf(source.element, L"data");
        for (const Setting& setting : plan.options.settings)
            StoreSetting(setting, source.element, source.data, ".");
        standin::AddSceneItem(scene_, source.element);
        calling_(number);
        {
            ModuleCall call(times_);
            source.source = registered->create(source.data);
        }
        calling_(0);
        if (!source.source) {
            error = "the module's create callback made no source";
            return false;
        }
        sources_.push_back(source);
        // A new item takes its source's own size, as the host does when a source is added.
        if (!standin::HasKey(source.element, L"cx") || !standin::HasKey(source.element, L"cy")) {
            Vect2 size = source.source->QuerySize();
            source.element->SetInt(L"cx", static_cast<int>(size.x));
            source.element->SetInt(L"cy", static_cast<int>(size.y));
        }
    }
    return true;
}

void HostScene::BeginScene() {
    note_("scene", "begin");
    for (int number = 1; number <= Sources(); ++number) {
        calling_(number);
        ModuleCall call(times_);
        Find(number)->source->SceneBegin();
    }
    calling_(0);
    sceneRunning_ = true;
}

void HostScene::EndScene() {
    note_("scene", "end");
    for (int number = 1; number <= Sources(); ++number) {
        calling_(number);
        ModuleCall call(times_);
        Find(number)->source->SceneEnd();
    }
    calling_(0);
    sceneRunning_ = false;
}

void HostScene::ChangeSetting(int number, const Setting& setting, const std::string& folder) {
    Source* source = Find(number);
    if (!source)
        return;
    StoreSetting(setting, source->element, source->data, folder);
    calling_(number);
    {
        ModuleCall call(times_);
        source->source->ApplySettings();
    }
    calling_(0);
}

void HostScene::PlaceItem(int number, float x, float y, int width, int height) {
    Source* source = Find(number);
    if (!source)
        return;
    source->position = Vect2(x, y);
    source->element->SetInt(L"cx", width);
    source->element->SetInt(L"cy", height);
}

void HostScene::Advance(float seconds) {
    if (!sceneRunning_)
        return;
    for (int number = 1; number <= Sources(); ++number) {
        calling_(number);
        ModuleCall call(times_);
        Find(number)->source->Advance(seconds);
    }
    calling_(0);
}

void HostScene::WaitForBackgroundLoads() {
    // The load's cost is the worker's, not the host thread's: not timed as the module's.
    auto wait = module_.Exports().WaitForBackgroundLoad;
    if (!wait)
        return;
    for (Source& source : sources_)
        wait(source.source);
}

unsigned long long HostScene::LateFrames() {
    auto late = module_.Exports().LateFrames;
    unsigned long long total = 0;
    if (late)
        for (Source& source : sources_)
            total += late(source.source);
    return total;
}

void HostScene::Draw(const std::vector<uint8_t>& background) {
    standin::SetCanvasPixels(background);
    // While its scene is not running the host neither updates nor draws the sources.
    if (!sceneRunning_)
        return;
    for (int number = 1; number <= Sources(); ++number) {
        Source& source = *Find(number);
        calling_(number);
        ModuleCall call(times_);
        // The item's place, at the size the scene keeps for it.
        Vect2 own = source.source->QuerySize();
        Vect2 size(source.element->GetFloat(L"cx", own.x), source.element->GetFloat(L"cy", own.y));
        source.source->Draw(source.position, size);
    }
    calling_(0);
}

bool HostScene::Close(const std::string& configPath, std::string& error) {
    // After the last frame the host stops: the scene ends and the sources go.
    if (sceneRunning_)
        EndScene();
    for (int number = 1; number <= Sources(); ++number) {
        calling_(number);
        delete Find(number)->source;
        Find(number)->source = nullptr;
    }
    calling_(0);
    afterSources_ = standin::AllocatorStats();
    module_.Exports().UnloadPlugin();
    pluginLoaded_ = false;
    standin::SetLogListener(nullptr);
    standin::SetFileReadListener(nullptr);
    if (!standin::SaveConfig(standin::AsXElement(root_), configPath)) {
        error = "cannot write " + configPath;
        return false;
    }
    return true;
}

}  // namespace fxplayer
