// Starting an effect as the host's thread lives it, frame by frame: the frame that applies the
// command, the frames while a background load runs, the swap, and the first pass of the animation,
// on the design's path (everything on the host's thread) and with "backgroundLoad" 1. Every host
// frame is timed on its own, in CPU time of the host's thread; the table gives the worst frame of
// each kind against the budget of one frame at 60 fps, which the background path must meet. A
// 1920x1080 still starts the same way; the table counts the pixels handed to textures on the
// command's and the swap's frames (the frames between play the effect that showed before).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "BenchCases.h"
#include "PlainGraphics.h"
#include "ThreadClock.h"
#include "controller/ConsoleProtocol.h"
#include "platform/SimPlatform.h"
#include "plugin/PluginEntry.h"
#include "source/VoteImageSource.h"
#include "standin/Standin.h"

namespace bench {

namespace {

constexpr double kBudget = 1.0 / 60.0;
constexpr float kFrame = 1.0f / 60.0f;
constexpr int kRepetitions = 3;
constexpr int kStartsPerRepetition = 2;
// Far more host frames than any start takes; a start that needs more is reported as an error.
constexpr int kMaxFrames = 20000;

enum Phase { kCommand, kLoading, kSwap, kFirstPass, kPhases };
const char* const kPhaseNames[kPhases] = {"command", "loading", "swap", "first pass"};

struct Frame {
    double cpu = 0.0;
    double wall = 0.0;
};

// What all the starts of one GIF on one path gave.
struct StartFigures {
    std::string gif;
    bool background = false;
    int starts = 0;
    Frame worst[kPhases];               // the worst frame of each phase, over all starts
    std::vector<double> worstPerStart;  // CPU time of the worst frame of each start
    std::vector<double> loadSeconds;    // command to swap, wall time (background only)
    std::vector<int> loadFrames;        // host frames from the command to the swap
    uint64_t uploads = 0;  // the most texture uploads of one start, on its command and swap frames
    std::string error;
};

std::map<std::string, StartFigures>& Figures() {
    static auto* figures = new std::map<std::string, StartFigures>;
    return *figures;
}

void WriteCommand(const std::wstring& text) {
    platform::Simulation().WriteBlockText(vantrel::kCommandBlockName,
                                          std::u16string(text.begin(), text.end()));
}

// One source in the host's configuration tree, with the setting on or off.
class Rig {
public:
    explicit Rig(bool background) {
        root_ = standin::NewConfigRoot(L"scenes");
        XElement* container = standin::AsXElement(root_)->CreateElement(L"sources");
        XElement* data = container->CreateElement(L"fx")->CreateElement(L"data");
        data->SetInt(L"backgroundLoad", background ? 1 : 0);
        source = static_cast<vantrel::VoteImageSource*>(vantrel::CreateBitmapSource(data));
    }
    ~Rig() {
        delete source;
        standin::DeleteConfigRoot(root_);
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    // One host frame, timed.
    Frame Advance() {
        const double wall = threadclock::WallSeconds();
        const double cpu = threadclock::ThreadCpuSeconds();
        source->Advance(kFrame);
        return {threadclock::ThreadCpuSeconds() - cpu, threadclock::WallSeconds() - wall};
    }

    vantrel::VoteImageSource* source = nullptr;

private:
    standin::ConfigElement* root_ = nullptr;
};

// A command for the GIF, then host frames until its first pass is over (frame 0 shows again).
// While a background load runs, frames come at the host's pace of 60 a second, as they would on
// a host: they play the effect that showed before. Returns false when the start went wrong.
bool StartAndPlay(Rig& rig, int commandId, const GifCase& gif, StartFigures* figures) {
    vantrel::VoteImageSource& s = *rig.source;
    const BitmapImage& image = *s.Snapshot().image;
    WriteCommand(std::to_wstring(commandId) + L"|" + gif.path + L"|0|0|x|" +
                 std::to_wstring(5 + commandId % 2) + L"|25|40");
    const double commandWall = threadclock::WallSeconds();
    double worst = 0.0;
    auto note = [&](Phase phase, const Frame& frame) {
        worst = std::max(worst, frame.cpu);
        if (!figures)
            return;
        figures->worst[phase].cpu = std::max(figures->worst[phase].cpu, frame.cpu);
        figures->worst[phase].wall = std::max(figures->worst[phase].wall, frame.wall);
    };

    const bool still = gif.recipe.frames == 0;
    uint64_t uploads = 0;
    int frames = 0;
    bool wasPending = false;
    auto nextTick = std::chrono::steady_clock::now();
    // Until the new effect shows: the command's frame, then (background) the load's frames.
    for (;; ++frames) {
        if (frames > kMaxFrames)
            return false;
        const bool applied = s.Snapshot().lastCommandId == commandId;
        const uint64_t uploadsBefore = PlainTextureUploads();
        const Frame frame = rig.Advance();
        const uint64_t uploadsNow = PlainTextureUploads() - uploadsBefore;
        const bool pending = image.BackgroundLoadPending();
        if (!applied && s.Snapshot().lastCommandId == commandId) {
            note(kCommand, frame);
            uploads += uploadsNow;
            wasPending = pending;
            if (!pending)
                break;
        } else if (applied && wasPending && !pending) {
            note(kSwap, frame);
            uploads += uploadsNow;
            break;
        } else {
            note(applied ? kLoading : kCommand, frame);
        }
        if (applied || pending) {
            nextTick += std::chrono::microseconds(16667);
            std::this_thread::sleep_until(nextTick);
        }
    }
    if (figures && wasPending) {
        figures->loadSeconds.push_back(threadclock::WallSeconds() - commandWall);
        figures->loadFrames.push_back(frames + 1);
    }
    if (figures)
        figures->uploads = std::max(figures->uploads, uploads);
    if (still) {
        const bool shown = !image.Snapshot().isAnimated && image.width == gif.recipe.width;
        if (figures && shown) {
            figures->worstPerStart.push_back(worst);
            ++figures->starts;
        }
        standin::ClearLog();
        platform::Simulation().ClearMessages();
        return shown;
    }
    if (!image.Snapshot().isAnimated || image.Snapshot().frameCount != gif.recipe.frames ||
        image.Snapshot().currentFrame)
        return false;
    // The first pass, at the host's frame rate but without waiting: CPU time is what counts.
    bool left = false;
    for (int i = 0; i < kMaxFrames; ++i) {
        note(kFirstPass, rig.Advance());
        left = left || image.Snapshot().currentFrame != 0;
        if (left && image.Snapshot().currentFrame == 0)
            break;
    }
    if (figures) {
        figures->worstPerStart.push_back(worst);
        ++figures->starts;
    }
    standin::ClearLog();
    platform::Simulation().ClearMessages();
    return left;
}

void StartEffect(benchmark::State& state, GifCase* gif, bool background) {
    GraphicsScope plain(PlainGraphics());
    WriteCommand(L"");
    Rig rig(background);
    StartFigures& figures = Figures()[gif->name + (background ? " background" : " design")];
    figures.gif = gif->name;
    figures.background = background;
    static int commandId = 1;
    // The effect that shows before each start: the same GIF, started once without being timed.
    if (!StartAndPlay(rig, ++commandId, *gif, nullptr)) {
        state.SkipWithError("the first start went wrong");
        figures.error = "the first start went wrong";
        return;
    }
    for (auto _ : state) {
        for (int i = 0; i < kStartsPerRepetition; ++i) {
            if (!StartAndPlay(rig, ++commandId, *gif, &figures)) {
                state.SkipWithError("a start went wrong");
                figures.error = "a start went wrong";
                return;
            }
        }
    }
    WriteCommand(L"");
}

std::string Ms(double seconds) {
    if (seconds <= 0.0)
        return "-";
    char text[32];
    std::snprintf(text, sizeof(text), "%.2f ms", seconds * 1e3);
    return text;
}

double Median(std::vector<double> values) {
    if (values.empty())
        return -1.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double WorstFrame(const StartFigures& f) {
    double worst = 0.0;
    for (const Frame& frame : f.worst)
        worst = std::max(worst, frame.cpu);
    return worst;
}

}  // namespace

void RegisterStartBenchmarks(std::vector<GifCase>& cases, GifCase& still) {
    std::vector<GifCase*> starts;
    for (GifCase& c : cases)
        starts.push_back(&c);
    starts.push_back(&still);
    for (GifCase* start : starts) {
        GifCase& c = *start;
        for (bool background : {false, true}) {
            benchmark::RegisterBenchmark(
                ("start/" + c.name + (background ? "/background" : "/design")).c_str(), StartEffect,
                &c, background)
                ->Iterations(1)
                ->Repetitions(kRepetitions)
                ->Unit(benchmark::kMillisecond);
        }
    }
}

bool PrintStartTable() {
    bool met = true;
    std::printf(
        "\nHost-thread frames of a start: CPU time of the host's thread per frame, the worst "
        "of each kind\nover all starts; budget %.1f ms (one frame at 60 fps), the target "
        "of the background path\n",
        kBudget * 1e3);
    std::printf("%-18s %-10s %5s %11s %11s %11s %11s %11s %11s %7s  %-6s %s\n", "effect", "path",
                "starts", "command", "loading", "swap", "first pass", "worst", "median", "uploads",
                "met", "load (wall, frames)");
    for (const auto& [name, f] : Figures()) {
        const double worst = WorstFrame(f);
        const char* verdict = "-";
        if (f.background) {
            // A still costs the host's thread one texture made from the worker's pixels.
            const bool ok = f.error.empty() && f.starts > 0 && worst <= kBudget &&
                            (f.gif.rfind("still", 0) != 0 || f.uploads <= 1);
            verdict = ok ? "met" : "MISSED";
            met = met && ok;
        }
        std::string load = "-";
        if (!f.loadSeconds.empty()) {
            char text[64];
            std::snprintf(text, sizeof(text), "%.2f s, %d frames", Median(f.loadSeconds),
                          f.loadFrames[f.loadFrames.size() / 2]);
            load = text;
        }
        std::printf("%-18s %-10s %5d %11s %11s %11s %11s %11s %11s %7llu  %-6s %s%s\n",
                    f.gif.c_str(), f.background ? "background" : "design", f.starts,
                    Ms(f.worst[kCommand].cpu).c_str(), Ms(f.worst[kLoading].cpu).c_str(),
                    Ms(f.worst[kSwap].cpu).c_str(), Ms(f.worst[kFirstPass].cpu).c_str(),
                    Ms(worst).c_str(), Ms(Median(f.worstPerStart)).c_str(),
                    static_cast<unsigned long long>(f.uploads), verdict, load.c_str(),
                    f.error.empty() ? "" : ("  " + f.error).c_str());
    }
    std::printf(
        "(median: the median over starts of each start's worst frame; uploads: the most textures "
        "given pixels on a start's command and swap frames, a texture made from a file "
        "included; load: median wall time and host frames from the command to the swap)\n");
    return met;
}

bool WriteStartJson(const std::string& path) {
    std::ofstream json(path, std::ios::binary | std::ios::trunc);
    json << "{\n  \"time\": \"CPU seconds of the host's thread per frame, worst over all "
            "starts\",\n  \"budget_seconds\": "
         << kBudget << ",\n  \"rows\": [\n";
    size_t i = 0;
    for (const auto& [name, f] : Figures()) {
        json << "    {\"effect\": \"" << f.gif << "\", \"path\": \""
             << (f.background ? "background" : "design") << "\", \"starts\": " << f.starts;
        for (int p = 0; p < kPhases; ++p)
            json << ", \"" << kPhaseNames[p] << "\": " << f.worst[p].cpu << ", \"" << kPhaseNames[p]
                 << " wall\": " << f.worst[p].wall;
        json << ", \"uploads\": " << f.uploads << ", \"worst\": " << WorstFrame(f)
             << ", \"median_worst\": " << Median(f.worstPerStart)
             << ", \"load_wall_median\": " << Median(f.loadSeconds) << ", \"met\": "
             << (f.background ? (WorstFrame(f) <= kBudget && f.error.empty() ? "true" : "false")
                              : "null")
             << "}" << (++i < Figures().size() ? "," : "") << "\n";
    }
    json << "  ]\n}\n";
    return static_cast<bool>(json);
}

}  // namespace bench
