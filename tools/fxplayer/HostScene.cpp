#include "HostScene.h"

#include "Files.h"
#include "ModuleLoader.h"
#include "Numbers.h"
#include "Player.h"
#include "host/ImageSource.h"
#include "host/XElement.h"

namespace fxplayer {

namespace {

// Keys that belong to the source element (the item's size in the scene), not to the settings.
const char* const kSourceElementKeys[] = {"cx", "cy", "orix", "oriy"};
// The scene item, named after its source element, as the host names items.
const wchar_t kSourceName[] = L"Effect";

std::wstring Wide(const std::string& text) {
    return standin::FromUtf8(text);
}

XElement* ChildOf(XElement* parent, const wchar_t* name) {
    XElement* child = parent->GetElement(name);
    return child ? child : parent->CreateElement(name);
}

// Source settings from --set: whole numbers (decimal or 0x hex) as integers, the rest as text.
void ApplySettingsFromOptions(const Options& options, XElement* source, XElement* data) {
    for (const auto& setting : options.settings) {
        XElement* element = data;
        for (const char* key : kSourceElementKeys)
            if (setting.first == key)
                element = source;
        std::wstring key = Wide(setting.first);
        int32_t number = 0;
        if (ParseSettingInteger(setting.second, number)) {
            element->SetInt(key.c_str(), number);
        } else if (setting.first == "path") {
            // The host resolves relative paths against its own folder; the user meant ours.
            element->SetString(key.c_str(), Wide(AbsoluteAgainst(setting.second, ".")).c_str());
        } else {
            element->SetString(key.c_str(), Wide(setting.second).c_str());
        }
    }
}

}  // namespace

HostScene::HostScene(LoadedModule& module, Note note) : module_(module), note_(std::move(note)) {}

HostScene::~HostScene() {
    Teardown();
}

void HostScene::Teardown() {
    standin::SetLogListener(nullptr);
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

bool HostScene::Open(const RunPlan& plan, std::string& error) {
    standin::SetLogListener(
        [this](const standin::LogRecord& record) { note_("log", standin::ToUtf8(record.text)); });
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
    if (!registered || !registered->create) {
        error = "the module registered no source class under its plug-in name";
        return false;
    }

    root_ = standin::NewConfigRoot(L"fxplayer");
    XElement* root = standin::AsXElement(root_);
    if (plan.loadConfig && !standin::LoadConfig(root, plan.options.config)) {
        error = "cannot read the configuration " + plan.options.config;
        return false;
    }
    // The container holds the scene's identifier, the source element the item's size, and its
    // "data" child the source's settings.
    XElement* container = ChildOf(root, L"scene");
    scene_ = standin::NewScene();
    standin::SetCurrentScene(scene_);

    Source source;
    source.element = ChildOf(container, kSourceName);
    source.data = ChildOf(source.element, L"data");
    ApplySettingsFromOptions(plan.options, source.element, source.data);
    standin::AddSceneItem(scene_, source.element);
    source.source = registered->create(source.data);
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
    return true;
}

void HostScene::BeginScene() {
    note_("scene", "begin");
    for (Source& source : sources_)
        source.source->SceneBegin();
    sceneRunning_ = true;
}

void HostScene::EndScene() {
    note_("scene", "end");
    for (Source& source : sources_)
        source.source->SceneEnd();
    sceneRunning_ = false;
}

void HostScene::Advance(float seconds) {
    if (!sceneRunning_)
        return;
    for (Source& source : sources_)
        source.source->Advance(seconds);
}

void HostScene::Draw(const std::vector<uint8_t>& background) {
    standin::SetCanvasPixels(background);
    // While its scene is not running the host neither updates nor draws the source.
    if (!sceneRunning_)
        return;
    for (Source& source : sources_) {
        // The item's place, at the size the scene keeps for it.
        Vect2 own = source.source->QuerySize();
        Vect2 size(source.element->GetFloat(L"cx", own.x), source.element->GetFloat(L"cy", own.y));
        source.source->Draw(source.position, size);
    }
}

bool HostScene::Close(const std::string& configPath, std::string& error) {
    // After the last frame the host stops: the scene ends and the sources go.
    if (sceneRunning_)
        EndScene();
    for (Source& source : sources_) {
        delete source.source;
        source.source = nullptr;
    }
    module_.Exports().UnloadPlugin();
    pluginLoaded_ = false;
    standin::SetLogListener(nullptr);
    if (!standin::SaveConfig(standin::AsXElement(root_), configPath)) {
        error = "cannot write " + configPath;
        return false;
    }
    return true;
}

}  // namespace fxplayer
