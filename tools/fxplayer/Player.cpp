#include "Player.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>

#include "ConsoleSide.h"
#include "ContactSheet.h"
#include "Files.h"
#include "FrameTimes.h"
#include "ModuleLoader.h"
#include "Numbers.h"
#include "OutputFolder.h"
#include "Progress.h"
#include "TestPattern.h"
#include "Transcript.h"
#include "VideoWriter.h"
#include "host/ImageSource.h"
#include "host/Vect.h"
#include "host/XElement.h"
#include "standin/Standin.h"

namespace fxplayer {

namespace fs = std::filesystem;

namespace {

// The contact sheet shows at most this many frames, evenly spread over those kept.
constexpr long long kMaxContactFrames = 60;
// Keys that belong to the source element (the item's size in the scene), not to the settings.
const char* const kSourceElementKeys[] = {"cx", "cy", "orix", "oriy"};
// The scene item, named after its source element, as the host names items.
const wchar_t kSourceName[] = L"Effect";

// Where a fatal report from the host finds the run's working folder.
OutputFolder* activeOutput = nullptr;
// Where the host's compositing inside the module's calls is reported.
FrameTimes* activeTimes = nullptr;

void OnComposite(bool starting) {
    if (!activeTimes)
        return;
    if (starting) {
        activeTimes->EnterHostCompositing();
    } else {
        activeTimes->LeaveHostCompositing();
    }
}

[[noreturn]] void OnFatal(const std::wstring& text) {
    std::fprintf(stderr, "fxplayer: the host stopped on a fatal error: %s\n",
                 standin::ToUtf8(text).c_str());
    if (activeOutput)
        activeOutput->Discard();
    std::exit(1);
}

int Fail(const std::string& error) {
    std::fprintf(stderr, "fxplayer: %s\n", error.c_str());
    return 1;
}

std::wstring Wide(const std::string& text) {
    return standin::FromUtf8(text);
}

XElement* ChildOf(XElement* parent, const wchar_t* name) {
    XElement* child = parent->GetElement(name);
    return child ? child : parent->CreateElement(name);
}

double TimeOf(long long frame, int fps) {
    return static_cast<double>(frame) / fps;
}

bool ReadBackground(const Options& options, Image& canvas, std::string& error) {
    if (options.background.empty()) {
        canvas = MakeTestPattern(options.canvasWidth, options.canvasHeight);
        return true;
    }
    Image picture;
    if (!standin::ReadImage(options.background, picture.width, picture.height, picture.rgba) ||
        picture.width == 0 || picture.height == 0 ||
        picture.rgba.size() != static_cast<size_t>(picture.width) * picture.height * 4) {
        error = "cannot read the background " + options.background;
        return false;
    }
    canvas = picture.width == options.canvasWidth && picture.height == options.canvasHeight
                 ? std::move(picture)
                 : Scaled(picture, options.canvasWidth, options.canvasHeight);
    // The picture under the effect is opaque, whatever the file's alpha.
    for (size_t i = 3; i < canvas.rgba.size(); i += 4)
        canvas.rgba[i] = 255;
    return true;
}

// A configuration file given with --config must load now, before anything is written.
bool CheckConfig(const std::string& path, bool& exists, std::string& error) {
    std::error_code ec;
    fs::path file = PathFromUtf8(path);
    exists = fs::exists(file, ec);
    if (!exists) {
        fs::path folder = fs::absolute(file, ec).parent_path();
        if (!fs::is_directory(folder, ec)) {
            error = "cannot keep the configuration in " + path + ": its folder does not exist";
            return false;
        }
        return true;
    }
    standin::ConfigElement* trial = standin::NewConfigRoot(L"fxplayer");
    standin::ClearLog();
    bool loaded = standin::LoadConfig(standin::AsXElement(trial), path);
    standin::DeleteConfigRoot(trial);
    if (!loaded) {
        std::vector<standin::LogRecord> records = standin::LogRecords();
        error = "cannot read the configuration " + path;
        if (!records.empty())
            error += ": " + standin::ToUtf8(records.back().text);
        while (!error.empty() && (error.back() == '\n' || error.back() == '\r'))
            error.pop_back();
        return false;
    }
    return true;
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

// The host's side of one run, torn down in the right order however the run ends.
class Session {
public:
    explicit Session(const RunPlan& plan) : plan_(plan) {}
    ~Session();
    int Play();

private:
    bool Begin(std::string& error);
    bool ApplyEvent(const ScriptEvent& event, std::string& error);
    void RenderFrame();
    bool KeepFrame(long long frame, double seconds, std::string& error);
    bool Finish(std::string& error);
    // A line of the player's own, after whatever the console side has to say first.
    void Note(const char* kind, const std::string& text);

    const RunPlan& plan_;
    const int fps_ = plan_.options.fps;
    LoadedModule module_;
    OutputFolder output_;
    Transcript transcript_;
    std::unique_ptr<ConsoleSide> console_;
    bool consoleRunning_ = false;
    bool pluginLoaded_ = false;
    standin::ConfigElement* root_ = nullptr;
    XElement* sourceElement_ = nullptr;
    standin::StandinScene* scene_ = nullptr;
    ImageSource* source_ = nullptr;
    bool sceneRunning_ = false;
    std::unique_ptr<ContactSheet> sheet_;
    FrameTimes times_{plan_.options.fps, plan_.frameCount};
    VideoPreview video_;
    long long keptFrames_ = 0;
    long long contactStride_ = 1;
    size_t nextEvent_ = 0;
};

Session::~Session() {
    standin::SetLogListener(nullptr);
    standin::SetCompositeHook(nullptr);
    activeTimes = nullptr;
    delete source_;
    if (scene_) {
        standin::SetCurrentScene(nullptr);
        standin::DeleteScene(scene_);
    }
    if (root_)
        standin::DeleteConfigRoot(root_);
    if (pluginLoaded_)
        module_.Exports().UnloadPlugin();
    if (consoleRunning_) {
        std::string ignored;
        console_->Stop(ignored);
    }
    console_.reset();
    module_.Close();
    activeOutput = nullptr;
}

void Session::Note(const char* kind, const std::string& text) {
    if (console_)
        console_->Collect();
    transcript_.Add(kind, text);
}

int Session::Play() {
    std::string error;
    // Everything that can be refused is refused before the output folder is touched.
    if (!module_.Open(plan_.modulePath, error))
        return Fail(error);
    if (!output_.Prepare(plan_.options.out, error))
        return Fail(error);
    activeOutput = &output_;
    if (!transcript_.Open(output_.Path("transcript.txt")))
        return Fail("cannot write " + output_.Path("transcript.txt"));
    if (!times_.Open(output_.Path("frametimes.csv")))
        return Fail("cannot write " + output_.Path("frametimes.csv"));
    if (!video_.Begin(plan_.options, output_, error))
        return Fail(error);
    if (!Begin(error))
        return Fail(error);

    const long long every = plan_.options.every;
    const long long kept = (plan_.frameCount - 1) / every + 1;
    contactStride_ = (kept + kMaxContactFrames - 1) / kMaxContactFrames;
    Progress progress(plan_.frameCount);
    const float frameSeconds = 1.0f / static_cast<float>(fps_);
    const auto& events = plan_.script.events;
    for (long long frame = 0; frame < plan_.frameCount; ++frame) {
        double seconds = TimeOf(frame, fps_);
        transcript_.SetTime(seconds);
        while (nextEvent_ < events.size() &&
               FirstFrameAtOrAfter(events[nextEvent_].seconds, fps_) <= frame) {
            if (!ApplyEvent(events[nextEvent_++], error))
                return Fail(error);
        }
        // Frame 0 is time 0: no time has passed yet.
        if (sceneRunning_) {
            ModuleCall call(times_);
            source_->Advance(frame == 0 ? 0.0f : frameSeconds);
        }
        RenderFrame();
        times_.EndFrame();
        console_->Collect();
        if (!video_.Frame(standin::CanvasPixels(), error))
            return Fail(error);
        if (frame % every == 0 && !KeepFrame(frame, seconds, error))
            return Fail(error);
        progress.Update(frame, seconds);
    }
    progress.Done();
    if (!Finish(error))
        return Fail(error);

    std::string unplayed;
    if (nextEvent_ < events.size())
        unplayed = "; " + std::to_string(events.size() - nextEvent_) +
                   " script event(s) after the end were not played";
    std::string video = video_.Active() ? "; video " + video_.Target() : "";
    std::printf(
        "fxplayer: %lld frames (%.3f s at %d fps), %lld kept; wrote %s: frames/, "
        "contact.png, transcript.txt (%zu lines), config.json, frametimes.csv, frametimes.png%s; "
        "module time: %s%s\n",
        plan_.frameCount, TimeOf(plan_.frameCount, fps_), fps_, keptFrames_,
        output_.Target().c_str(), transcript_.Lines(), video.c_str(), times_.Summary().c_str(),
        unplayed.c_str());
    return 0;
}

bool Session::Begin(std::string& error) {
    standin::Install();
    standin::Reset();
    standin::SetLogEcho(false);
    standin::SetFatalHandler(&OnFatal);
    activeTimes = &times_;
    standin::SetCompositeHook(&OnComposite);
    console_ = MakeConsoleSide(transcript_, plan_.playerDirectory);
    standin::SetLogListener(
        [this](const standin::LogRecord& record) { Note("log", standin::ToUtf8(record.text)); });
    standin::SetCanvasSize(plan_.options.canvasWidth, plan_.options.canvasHeight);
    standin::SetOutputActive(false);
    // The host's folder, where shaders/ lies beside the module.
    standin::SetBaseDirectory(PathToUtf8(PathFromUtf8(plan_.modulePath).parent_path()));
    sheet_ = std::make_unique<ContactSheet>(plan_.options.canvasWidth, plan_.options.canvasHeight);

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
    if (plan_.loadConfig && !standin::LoadConfig(root, plan_.options.config)) {
        error = "cannot read the configuration " + plan_.options.config;
        return false;
    }
    // The container holds the scene's identifier, the source element the item's size, and its
    // "data" child the source's settings.
    XElement* container = ChildOf(root, L"scene");
    sourceElement_ = ChildOf(container, kSourceName);
    XElement* data = ChildOf(sourceElement_, L"data");
    ApplySettingsFromOptions(plan_.options, sourceElement_, data);

    scene_ = standin::NewScene();
    standin::AddSceneItem(scene_, sourceElement_);
    standin::SetCurrentScene(scene_);
    source_ = registered->create(data);
    if (!source_) {
        error = "the module's create callback made no source";
        return false;
    }
    // A new item takes its source's own size, as the host does when a source is added.
    if (!standin::HasKey(sourceElement_, L"cx") || !standin::HasKey(sourceElement_, L"cy")) {
        Vect2 size = source_->QuerySize();
        sourceElement_->SetInt(L"cx", static_cast<int>(size.x));
        sourceElement_->SetInt(L"cy", static_cast<int>(size.y));
    }

    const auto& events = plan_.script.events;
    while (nextEvent_ < events.size() &&
           FirstFrameAtOrAfter(events[nextEvent_].seconds, fps_) <= 0) {
        if (!ApplyEvent(events[nextEvent_++], error))
            return false;
    }
    Note("scene", "begin");
    source_->SceneBegin();
    sceneRunning_ = true;
    console_->Collect();
    return true;
}

bool Session::ApplyEvent(const ScriptEvent& event, std::string& error) {
    times_.Event(event);
    switch (event.kind) {
        case EventKind::Command: {
            std::string text = ResolveCommandPath(event.text, plan_.scriptDirectory);
            Note("command", text);
            if (!console_->WriteCommand(text, error)) {
                error = "script line " + std::to_string(event.line) + ": " + error;
                return false;
            }
            return true;
        }
        case EventKind::Output:
            Note("output", event.on ? "on" : "off");
            standin::SetOutputActive(event.on);
            return true;
        case EventKind::Scene:
            Note("scene", event.on ? "begin" : "end");
            if (event.on) {
                source_->SceneBegin();
            } else {
                source_->SceneEnd();
            }
            sceneRunning_ = event.on;
            console_->Collect();
            return true;
        case EventKind::Console:
            Note("console", event.on ? "on" : "off");
            if (!(event.on ? console_->Start(error) : console_->Stop(error))) {
                error = "script line " + std::to_string(event.line) + ": " + error;
                return false;
            }
            consoleRunning_ = event.on;
            return true;
    }
    return true;
}

void Session::RenderFrame() {
    standin::SetCanvasPixels(plan_.background.rgba);
    // While its scene is not running the host neither updates nor draws the source.
    if (!sceneRunning_)
        return;
    // The item sits at the canvas origin, at the size the scene keeps for it.
    Vect2 own = source_->QuerySize();
    Vect2 size(sourceElement_->GetFloat(L"cx", own.x), sourceElement_->GetFloat(L"cy", own.y));
    ModuleCall call(times_);
    source_->Draw(Vect2(0.0f, 0.0f), size);
}

bool Session::KeepFrame(long long frame, double seconds, std::string& error) {
    char name[40];
    std::snprintf(name, sizeof name, "frames/%05lld.png", frame);
    if (!standin::WriteCanvasPng(output_.Path(name))) {
        error = "cannot write " + output_.Path(name);
        return false;
    }
    if (keptFrames_ % contactStride_ == 0) {
        Image picture;
        picture.width = plan_.options.canvasWidth;
        picture.height = plan_.options.canvasHeight;
        picture.rgba = standin::CanvasPixels();
        sheet_->Add(picture, seconds, frame);
    }
    ++keptFrames_;
    return true;
}

bool Session::Finish(std::string& error) {
    // After the last frame the host stops: the scene ends and the source goes.
    transcript_.SetTime(TimeOf(plan_.frameCount, fps_));
    if (sceneRunning_) {
        Note("scene", "end");
        source_->SceneEnd();
        sceneRunning_ = false;
    }
    delete source_;
    source_ = nullptr;
    module_.Exports().UnloadPlugin();
    pluginLoaded_ = false;
    console_->Collect();
    standin::SetLogListener(nullptr);

    std::string configPath = output_.Path("config.json");
    if (!standin::SaveConfig(standin::AsXElement(root_), configPath)) {
        error = "cannot write " + configPath;
        return false;
    }
    Image sheet = sheet_->Build();
    if (!standin::WritePng(output_.Path("contact.png"), sheet.width, sheet.height, sheet.rgba)) {
        error = "cannot write " + output_.Path("contact.png");
        return false;
    }
    if (!transcript_.Close()) {
        error = "cannot write " + output_.Path("transcript.txt");
        return false;
    }
    if (!times_.Finish(output_.Path("frametimes.png"), error) || !video_.Finish(error))
        return false;
    if (!output_.Commit(error) || !video_.Place(error))
        return false;
    // Kept for the next run; written last, since the file may lie in the folder just replaced.
    if (!plan_.options.config.empty() &&
        !CopyFileAtomically(PathToUtf8(PathFromUtf8(output_.Target()) / "config.json"),
                            plan_.options.config, error))
        return false;
    return true;
}

}  // namespace

bool PlanRun(const Options& options, RunPlan& plan, std::string& error) {
    // The host's log goes to the transcript, never to the terminal.
    standin::SetLogEcho(false);
    plan.options = options;
    plan.playerDirectory = ExecutableDirectory();
    std::error_code ec;
    if (!options.script.empty()) {
        if (!LoadScript(options.script, plan.script, error))
            return false;
        plan.scriptDirectory =
            PathToUtf8(fs::absolute(PathFromUtf8(options.script), ec).parent_path());
    } else {
        plan.scriptDirectory = PathToUtf8(fs::current_path(ec));
    }

    double seconds = options.seconds;
    if (seconds <= 0.0) {
        double last = plan.script.events.empty() ? 0.0 : plan.script.events.back().seconds;
        seconds = std::max(5.0, last + 1.0);
    }
    plan.frameCount = std::max(1LL, std::llround(seconds * options.fps));

    plan.modulePath = options.module.empty()
                          ? PathToUtf8(PathFromUtf8(plan.playerDirectory) / DefaultModuleName())
                          : options.module;
    if (!fs::is_regular_file(PathFromUtf8(plan.modulePath), ec)) {
        error = "cannot find the module " + plan.modulePath;
        return false;
    }
    for (const ScriptEvent& event : plan.script.events) {
        if (event.kind == EventKind::Console && !ConsoleAvailable(plan.playerDirectory, error))
            return false;
    }
    if (!CheckVideoOptions(options, error))
        return false;
    if (!ReadBackground(options, plan.background, error))
        return false;
    if (!options.config.empty() && !CheckConfig(options.config, plan.loadConfig, error))
        return false;
    return true;
}

int Run(const RunPlan& plan) {
    Session session(plan);
    return session.Play();
}

}  // namespace fxplayer
