// One run: the frame loop that keeps the host's side (HostScene), the console's side (ConsoleSide)
// and the script in step, and writes what it sees into the output folder.
#include "Player.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "ConsoleSide.h"
#include "Files.h"
#include "FrameKeeper.h"
#include "HostScene.h"
#include "ModuleLoader.h"
#include "OutputFolder.h"
#include "Progress.h"
#include "Transcript.h"
#include "standin/Standin.h"

namespace fxplayer {

namespace {

// Where a fatal report from the host finds the run's working folder.
OutputFolder* activeOutput = nullptr;

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

double TimeOf(long long frame, int fps) {
    return static_cast<double>(frame) / fps;
}

class Session {
public:
    explicit Session(const RunPlan& plan) : plan_(plan) {}
    ~Session();
    int Play();

private:
    bool Begin(std::string& error);
    // Applies the script's events due before `frame`.
    bool ApplyEventsBefore(long long frame, std::string& error);
    bool ApplyEvent(const ScriptEvent& event, std::string& error);
    bool Finish(std::string& error);
    // A line of the player's own, after whatever the console side has to say first.
    void Note(const char* kind, const std::string& text);

    // Members are destroyed in reverse: the host's side goes before the console and the module.
    const RunPlan& plan_;
    const int fps_ = plan_.options.fps;
    LoadedModule module_;
    OutputFolder output_;
    Transcript transcript_;
    std::unique_ptr<ConsoleSide> console_;
    bool consoleRunning_ = false;
    std::unique_ptr<HostScene> host_;
    std::unique_ptr<FrameKeeper> frames_;
    size_t nextEvent_ = 0;
};

Session::~Session() {
    host_.reset();
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
    if (!Begin(error))
        return Fail(error);

    Progress progress(plan_.frameCount);
    const float frameSeconds = 1.0f / static_cast<float>(fps_);
    for (long long frame = 0; frame < plan_.frameCount; ++frame) {
        double seconds = TimeOf(frame, fps_);
        transcript_.SetTime(seconds);
        if (!ApplyEventsBefore(frame, error))
            return Fail(error);
        // Frame 0 is time 0: no time has passed yet.
        host_->Advance(frame == 0 ? 0.0f : frameSeconds);
        host_->Draw(plan_.background.rgba);
        console_->Collect();
        if (frames_->Wanted(frame) && !frames_->Keep(frame, seconds, error))
            return Fail(error);
        progress.Update(frame, seconds);
    }
    progress.Done();
    if (!Finish(error))
        return Fail(error);

    const auto& events = plan_.script.events;
    std::string unplayed;
    if (nextEvent_ < events.size())
        unplayed = "; " + std::to_string(events.size() - nextEvent_) +
                   " script event(s) after the end were not played";
    std::printf(
        "fxplayer: %lld frames (%.3f s at %d fps), %lld kept; wrote %s: frames/, "
        "contact.png, transcript.txt (%zu lines), config.json%s\n",
        plan_.frameCount, TimeOf(plan_.frameCount, fps_), fps_, frames_->Kept(),
        output_.Target().c_str(), transcript_.Lines(), unplayed.c_str());
    return 0;
}

bool Session::Begin(std::string& error) {
    standin::Install();
    standin::Reset();
    standin::SetLogEcho(false);
    standin::SetFatalHandler(&OnFatal);
    console_ = MakeConsoleSide(transcript_, plan_.playerDirectory);
    frames_ = std::make_unique<FrameKeeper>(output_, plan_.options.canvasWidth,
                                            plan_.options.canvasHeight, plan_.frameCount,
                                            plan_.options.every);
    host_ = std::make_unique<HostScene>(
        module_, [this](const char* kind, const std::string& text) { Note(kind, text); });
    if (!host_->Open(plan_, error))
        return false;
    // Events at 0 come before the scene starts.
    if (!ApplyEventsBefore(0, error))
        return false;
    host_->BeginScene();
    console_->Collect();
    return true;
}

bool Session::ApplyEventsBefore(long long frame, std::string& error) {
    const auto& events = plan_.script.events;
    while (nextEvent_ < events.size() &&
           FirstFrameAtOrAfter(events[nextEvent_].seconds, fps_) <= frame) {
        if (!ApplyEvent(events[nextEvent_++], error))
            return false;
    }
    return true;
}

bool Session::ApplyEvent(const ScriptEvent& event, std::string& error) {
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
            if (event.on) {
                host_->BeginScene();
            } else {
                host_->EndScene();
            }
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

bool Session::Finish(std::string& error) {
    transcript_.SetTime(TimeOf(plan_.frameCount, fps_));
    std::string configPath = output_.Path("config.json");
    bool closed = host_->Close(configPath, error);
    console_->Collect();
    if (!closed || !frames_->Finish(error))
        return false;
    if (!transcript_.Close()) {
        error = "cannot write " + output_.Path("transcript.txt");
        return false;
    }
    if (!output_.Commit(error))
        return false;
    // Kept for the next run; written last, since the file may lie in the folder just replaced.
    if (!plan_.options.config.empty() &&
        !CopyFileAtomically(PathToUtf8(PathFromUtf8(output_.Target()) / "config.json"),
                            plan_.options.config, error))
        return false;
    return true;
}

}  // namespace

int Run(const RunPlan& plan) {
    Session session(plan);
    return session.Play();
}

}  // namespace fxplayer
