// One run: the frame loop that keeps the host's side (HostScene), the console's side (ConsoleSide)
// and the script in step, and writes what it sees into the output folder.
#include "Player.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>

#include "ConsoleSide.h"
#include "FileChanges.h"
#include "Files.h"
#include "FrameKeeper.h"
#include "FrameTimes.h"
#include "HostScene.h"
#include "Interrupt.h"
#include "MemorySamples.h"
#include "ModuleLoader.h"
#include "OutputFolder.h"
#include "Progress.h"
#include "Transcript.h"
#include "VideoWriter.h"
#include "standin/Standin.h"

namespace fxplayer {

namespace {

// A run that keeps at least this many frames, or about this many bytes, says so before it starts.
constexpr long long kLargeRunFrames = 500;
constexpr double kLargeRunBytes = 250e6;

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

// And the files the script changed, to put back.
FileChanges* activeFiles = nullptr;

[[noreturn]] void OnFatal(const std::wstring& text) {
    std::fprintf(stderr, "fxplayer: the host stopped on a fatal error: %s\n",
                 standin::ToUtf8(text).c_str());
    if (activeOutput)
        activeOutput->Discard();
    std::string ignored;
    if (activeFiles)
        activeFiles->Restore(ignored);
    std::exit(1);
}

// Nothing but the signal's own report: the caller ends the process.
constexpr int kInterrupted = -1;

std::string Bytes(double bytes) {
    char text[32];
    if (bytes >= 1e9) {
        std::snprintf(text, sizeof text, "%.1f GB", bytes / 1e9);
    } else {
        std::snprintf(text, sizeof text, "%.0f MB", bytes / 1e6);
    }
    return text;
}

int Fail(const std::string& error) {
    std::fprintf(stderr, "fxplayer: %s\n", error.c_str());
    return 1;
}

double TimeOf(long long frame, int fps) {
    return static_cast<double>(frame) / fps;
}

std::string FormatSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

class Session {
public:
    explicit Session(const RunPlan& plan) : plan_(plan) {}
    ~Session();
    int Play();

private:
    bool Begin(std::string& error);
    // Says before a large run how much it will write.
    void AnnounceLargeRun();
    // Applies the script's events due before `frame`.
    bool ApplyEventsBefore(long long frame, std::string& error);
    bool ApplyEvent(const ScriptEvent& event, std::string& error);
    // replace, touch, delete, write: the file changes, and the watches see it at this frame.
    bool ChangeFile(const ScriptEvent& event, std::string& error);
    bool Finish(std::string& error);
    // A line of the player's own, after whatever the console side has to say first.
    void Note(const char* kind, const std::string& text);
    // The host is about to call into source `source` (0: done with the sources).
    void Calling(int source);
    // Paced in wall time: the frames that came late on the frame that ran, as its event.
    void NoteLateFrames();
    int Interrupted();

    // Members are destroyed in reverse: the host's side goes before the console and the module.
    const RunPlan& plan_;
    const int fps_ = plan_.options.fps;
    LoadedModule module_;
    OutputFolder output_;
    Transcript transcript_;
    std::unique_ptr<ConsoleSide> console_;
    bool consoleRunning_ = false;
    FileChanges files_;
    std::unique_ptr<HostScene> host_;
    std::unique_ptr<FrameKeeper> frames_;
    FrameTimes times_{plan_.options.fps, plan_.frameCount};
    MemorySamples memory_;
    VideoPreview video_;
    size_t nextEvent_ = 0;
    unsigned long long lateFrames_ = 0;
};

void Session::NoteLateFrames() {
    const unsigned long long late = host_->LateFrames();
    times_.LateFrames(late - lateFrames_);
    lateFrames_ = late;
}

Session::~Session() {
    host_.reset();
    standin::SetCompositeHook(nullptr);
    activeTimes = nullptr;
    if (consoleRunning_) {
        std::string ignored;
        console_->Stop(ignored);
    }
    console_.reset();
    module_.Close();
    activeOutput = nullptr;
    activeFiles = nullptr;
}

void Session::Note(const char* kind, const std::string& text) {
    if (console_)
        console_->Collect();
    transcript_.Add(kind, text);
}

void Session::Calling(int source) {
    times_.SetSource(source);
    // With one source every line is its own; naming it would only make the lines longer.
    if (plan_.sources == 1)
        return;
    // What came before belongs to the source called before.
    console_->Collect();
    transcript_.SetSource(source);
}

int Session::Interrupted() {
    std::fprintf(stderr, "\nfxplayer: interrupted; %s was left as it was\n",
                 plan_.options.out.c_str());
    return kInterrupted;
}

int Session::Play() {
    std::string error;
    // Everything that can be refused is refused before the output folder is touched.
    if (!module_.Open(plan_.modulePath, error))
        return Fail(error);
    times_.ReadWorkWith(module_.Exports().HostThreadWork);
    if (!output_.Prepare(plan_.options.out, error))
        return Fail(error);
    activeOutput = &output_;
    activeFiles = &files_;
    if (!transcript_.Open(output_.Path("transcript.txt")))
        return Fail("cannot write " + output_.Path("transcript.txt"));
    if (!times_.Open(output_.Path("frametimes.csv")))
        return Fail("cannot write " + output_.Path("frametimes.csv"));
    if (!memory_.Open(output_.Path("memory.csv")))
        return Fail("cannot write " + output_.Path("memory.csv"));
    if (!video_.Begin(plan_.options, output_, error))
        return Fail(error);
    if (!Begin(error))
        return Fail(error);

    AnnounceLargeRun();
    Progress progress(plan_.frameCount);
    const float frameSeconds = 1.0f / static_cast<float>(fps_);
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    for (long long frame = 0; frame < plan_.frameCount; ++frame) {
        if (InterruptSignal())
            return Interrupted();
        double seconds = TimeOf(frame, fps_);
        transcript_.SetTime(seconds);
        console_->FollowRunTime(seconds);
        if (!ApplyEventsBefore(frame, error))
            return Fail(error);
        if (plan_.options.realtime) {
            // Each frame at its time from the start; a late frame is followed at once by the next
            // until the run is on time again, as the host's clock goes on while it is busy.
            std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                                      std::chrono::duration<double>(seconds)));
        } else {
            // A load in the background finishes before the frame, wherever the machine's speed:
            // the run repeats exactly, and the frame that swaps it in shows the swap's cost.
            host_->WaitForBackgroundLoads();
        }
        // Frame 0 is time 0: no time has passed yet.
        host_->Advance(frame == 0 ? 0.0f : frameSeconds);
        host_->Draw(plan_.background.rgba);
        if (plan_.options.realtime)
            NoteLateFrames();
        times_.EndFrame();
        console_->Collect();
        if (!video_.Frame(standin::CanvasPixels(), error))
            return Fail(error);
        // What the host and the desktop recorded this frame is in the transcript by now; kept,
        // it would grow with every frame of a long run.
        standin::ClearRecords();
        if (frames_->Wanted(frame) && !frames_->Keep(frame, seconds, error))
            return Fail(error);
        if (frame % fps_ == 0)
            memory_.Sample(FormatSeconds(seconds));
        progress.Update(frame, seconds);
    }
    progress.Done();
    if (!Finish(error))
        return InterruptSignal() ? Interrupted() : Fail(error);

    const auto& events = plan_.script.events;
    std::string unplayed;
    if (nextEvent_ < events.size())
        unplayed = "; " + std::to_string(events.size() - nextEvent_) +
                   " script event(s) after the end were not played";
    std::string video = video_.Active() ? "; video " + video_.Target() : "";
    // The frames a load took depend on the machine and its load at the time.
    std::string paced = plan_.options.realtime ? " (paced in wall time: not repeatable)" : "";
    std::printf(
        "fxplayer: %lld frames (%.3f s at %d fps), %lld kept; wrote %s: frames/, "
        "contact.png, transcript.txt (%zu lines), config.json, frametimes.csv, frametimes.png, "
        "memory.csv%s; "
        "module time: %s%s%s\n",
        plan_.frameCount, TimeOf(plan_.frameCount, fps_), fps_, frames_->Kept(),
        output_.Target().c_str(), transcript_.Lines(), video.c_str(), times_.Summary().c_str(),
        paced.c_str(), unplayed.c_str());
    return 0;
}

bool Session::Begin(std::string& error) {
    standin::Install();
    standin::Reset();
    standin::SetLogEcho(false);
    standin::SetFatalHandler(&OnFatal);
    // Files change only as the script says, at the frame it says: runs repeat exactly.
    standin::SetFileWatchesPollDisk(false);
    activeTimes = &times_;
    standin::SetCompositeHook(&OnComposite);
    console_ = MakeConsoleSide(transcript_, plan_.playerDirectory);
    frames_ = std::make_unique<FrameKeeper>(output_, plan_.options.canvasWidth,
                                            plan_.options.canvasHeight, plan_.frameCount,
                                            plan_.options.every);
    host_ = std::make_unique<HostScene>(
        module_, [this](const char* kind, const std::string& text) { Note(kind, text); },
        [this](int source) { Calling(source); }, &times_);
    if (!host_->Open(plan_, error))
        return false;
    if (host_->ModuleRegisteredNothing()) {
        // Said once: the frames show the canvas alone, and the console's commands go unanswered.
        std::fprintf(stderr,
                     "fxplayer: the module registered no source class; the run goes on without "
                     "sources (the host's log lines are in the transcript)\n");
        Note("sources", "none: the module registered no source class");
    }
    // Events at 0 come before the scene starts.
    if (!ApplyEventsBefore(0, error))
        return false;
    host_->BeginScene();
    console_->Collect();
    return true;
}

void Session::AnnounceLargeRun() {
    const long long frames = frames_->ToKeep();
    // Uncompressed pixels bound a PNG's size from above (near enough): below both marks there is
    // nothing to say, and no need to measure.
    const double raw = 4.0 * plan_.options.canvasWidth * plan_.options.canvasHeight * frames;
    if (frames < kLargeRunFrames && raw < kLargeRunBytes)
        return;
    // A kept frame is about as large as the picture under the effect, as a PNG.
    std::string probe = output_.Path("size-probe.png");
    double bytesPerFrame = 0.0;
    std::error_code ec;
    if (standin::WritePng(probe, plan_.options.canvasWidth, plan_.options.canvasHeight,
                          plan_.background.rgba))
        bytesPerFrame = static_cast<double>(std::filesystem::file_size(PathFromUtf8(probe), ec));
    std::filesystem::remove(PathFromUtf8(probe), ec);
    const double bytes = bytesPerFrame * static_cast<double>(frames);
    if (frames < kLargeRunFrames && bytes < kLargeRunBytes)
        return;
    std::fprintf(stderr,
                 "fxplayer: %lld frames to run, %lld of them written as %ux%u PNGs, about %s "
                 "(--every keeps fewer)\n",
                 plan_.frameCount, frames, plan_.options.canvasWidth, plan_.options.canvasHeight,
                 Bytes(bytes).c_str());
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
            if (event.on) {
                host_->BeginScene();
            } else {
                host_->EndScene();
            }
            console_->Collect();
            return true;
        case EventKind::Console:
            Note("console", event.on ? "on" : event.kill ? "kill" : "off");
            if (!(event.on     ? console_->Start(error)
                  : event.kill ? console_->Kill(error)
                               : console_->Stop(error))) {
                error = "script line " + std::to_string(event.line) + ": " + error;
                return false;
            }
            consoleRunning_ = event.on;
            return true;
        case EventKind::Set: {
            std::string text = event.text;
            if (event.setting.isText && event.setting.key == "path" && !event.setting.text.empty())
                text = "path=" + AbsoluteAgainst(event.setting.text, plan_.scriptDirectory);
            Calling(event.source);
            Note("set", text);
            host_->ChangeSetting(event.source, event.setting, plan_.scriptDirectory);
            // Without sources the host called none, and the lines after are no source's either.
            Calling(0);
            console_->Collect();
            return true;
        }
        case EventKind::Item:
            Calling(event.source);
            Note("item", std::to_string(event.x) + " " + std::to_string(event.y) + " " +
                             std::to_string(event.width) + " " + std::to_string(event.height));
            Calling(0);
            host_->PlaceItem(event.source, static_cast<float>(event.x), static_cast<float>(event.y),
                             static_cast<int>(event.width), static_cast<int>(event.height));
            return true;
        case EventKind::Replace:
        case EventKind::Touch:
        case EventKind::Delete:
        case EventKind::Write:
            return ChangeFile(event, error);
    }
    return true;
}

bool Session::ChangeFile(const ScriptEvent& event, std::string& error) {
    std::string file = AbsoluteAgainst(event.text, plan_.scriptDirectory);
    bool changed = false;
    switch (event.kind) {
        case EventKind::Replace: {
            std::string other = AbsoluteAgainst(event.other, plan_.scriptDirectory);
            Note("replace", file + " with " + other);
            changed = files_.Replace(file, other, error);
            break;
        }
        case EventKind::Delete:
            Note("delete", file);
            changed = files_.Delete(file, error);
            break;
        case EventKind::Write:
            if (event.keepBytes < 0) {
                Note("write", file + " garbage");
                changed = files_.Garbage(file, error);
            } else {
                Note("write", file + " truncate " + std::to_string(event.keepBytes));
                changed = files_.Truncate(file, event.keepBytes, error);
            }
            break;
        default:
            Note("touch", file);
            changed = files_.Touch(file, error);
            break;
    }
    if (!changed) {
        error = "script line " + std::to_string(event.line) + ": " + error;
        return false;
    }
    // The watches follow the script, not the disk: the change is seen at this frame.
    standin::TouchWatchedFile(standin::ResolvePath(standin::FromUtf8(file).c_str()));
    return true;
}

bool Session::Finish(std::string& error) {
    transcript_.SetTime(TimeOf(plan_.frameCount, fps_));
    std::string configPath = output_.Path("config.json");
    bool closed = host_->Close(configPath, error);
    console_->Collect();
    if (!closed || !frames_->Finish(error))
        return false;
    memory_.Allocator("sources made", host_->AllocatorBeforeSources());
    memory_.Allocator("sources gone", host_->AllocatorAfterSources());
    if (!memory_.Close()) {
        error = "cannot write " + output_.Path("memory.csv");
        return false;
    }
    if (!transcript_.Close()) {
        error = "cannot write " + output_.Path("transcript.txt");
        return false;
    }
    if (!files_.Restore(error))
        return false;
    if (!times_.Finish(output_.Path("frametimes.png"), error) || !video_.Finish(error))
        return false;
    // Past this point the output is put in place: an interruption now still leaves the old one.
    if (InterruptSignal())
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

int Run(const RunPlan& plan) {
    CatchInterrupts();
    int status = 0;
    {
        Session session(plan);
        status = session.Play();
    }
    // The session has cleaned up after itself by now.
    if (status == kInterrupted)
        EndAsInterrupted();
    return status;
}

}  // namespace fxplayer
