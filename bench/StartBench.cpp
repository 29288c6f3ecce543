// Starting an effect as the host's thread lives it, frame by frame: the frame that applies the
// command, the frames while a background load runs, the swap, and the first pass of the animation,
// on the design's path (everything on the host's thread) and with "backgroundLoad" 1. Every host
// frame is timed on its own, in CPU time of the host's thread; the table gives the worst frame of
// each kind against the budget of one frame at 60 fps, which the background path must meet. A
// 1920x1080 still starts the same way; the table counts the pixels handed to textures on the
// command's and the swap's frames (the frames between play the effect that showed before).
// Two sources that read the one command block, each playing a 1920x1080 GIF from a ring whose
// worker is decoding ahead, are then given a new command naming a GIF of that size, and a new
// colour key: the frame that applies it, and the frame that swaps both new loads in.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
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
// What replacing a 1920x1080 effect on two sources may cost the host's thread in any one frame
// (or 1.2 times a copy of a frame, where that alone takes longer).
constexpr double kReplacementTarget = 0.002;
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
    uint64_t made = 0;     // the most textures made on a replacement's swap frames
    double copyFloor = -1.0;  // a replacement: the fastest frame-sized copy, CPU seconds
    std::string path;         // the table's path column, when not the design's or the background's
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
    // A frame cache below 0 leaves the setting out (its default).
    explicit Rig(bool background, int frameCacheMB = -1) {
        root_ = standin::NewConfigRoot(L"scenes");
        XElement* container = standin::AsXElement(root_)->CreateElement(L"sources");
        data = container->CreateElement(L"fx")->CreateElement(L"data");
        data->SetInt(L"backgroundLoad", background ? 1 : 0);
        if (frameCacheMB >= 0)
            data->SetInt(L"frameCacheMB", frameCacheMB);
        source = static_cast<vantrel::VoteImageSource*>(vantrel::CreateBitmapSource(data));
    }
    ~Rig() {
        delete source;
        standin::DeleteConfigRoot(root_);
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    // One host frame, timed.
    Frame Advance(float seconds = kFrame) {
        const double wall = threadclock::WallSeconds();
        const double cpu = threadclock::ThreadCpuSeconds();
        source->Advance(seconds);
        return {threadclock::ThreadCpuSeconds() - cpu, threadclock::WallSeconds() - wall};
    }

    vantrel::VoteImageSource* source = nullptr;
    XElement* data = nullptr;

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

// What replaces the effect on both sources: a command naming the GIF again, or a colour key set on
// each (the settings are applied again, which loads the effect again: the design's rule).
enum class Replacement { Command, SetColor };

// Host frames of both sources, timed together, as the host's thread lives them.
Frame AdvanceBoth(Rig& a, Rig& b, float seconds = kFrame) {
    const Frame first = a.Advance(seconds);
    const Frame second = b.Advance(seconds);
    return {first.cpu + second.cpu, first.wall + second.wall};
}

bool Shows(const Rig& rig, const GifCase& gif) {
    const BitmapImage::State image = rig.source->Snapshot().image->Snapshot();
    return image.isAnimated && image.canvasWidth == gif.recipe.width &&
           !rig.source->Snapshot().image->BackgroundLoadPending();
}

// Plays both sources until both have just moved on to a new frame in the same host frame, which
// wakes their workers to decode the next one into the ring: the replacement then meets workers in
// the middle of a decode, and its frame moves neither animation on. The swaps, one a frame, leave
// the second source a frame of 1 ms behind the first.
bool PlayUntilWorkersDecode(Rig& a, Rig& b) {
    auto current = [](Rig& rig) { return rig.source->Snapshot().image->Snapshot().currentFrame; };
    for (int i = 0; i < kMaxFrames; ++i) {
        const uint32_t beforeA = current(a), beforeB = current(b);
        AdvanceBoth(a, b);
        if (current(a) != beforeA && current(b) != beforeB)
            return true;
        std::this_thread::sleep_for(std::chrono::microseconds(16667));
    }
    return false;
}

// One replacement on both sources: the frame (or the settings calls) that starts both loads, then,
// once both can be swapped in (waited for outside the timing, as the effect player does), the two
// frames that swap them in, one a frame.
bool ReplaceOnBoth(Rig& a, Rig& b, int commandId, Replacement how, const GifCase& gif,
                   StartFigures* figures) {
    if (!PlayUntilWorkersDecode(a, b))
        return false;
    Frame start;
    if (how == Replacement::SetColor) {
        // Each time another colour, as a streamer trying colours would set it.
        const int color = static_cast<int>(0xFF000000u | static_cast<uint32_t>(commandId * 40503));
        for (Rig* rig : {&a, &b}) {
            rig->data->SetInt(L"keyColor", color);
            const double wall = threadclock::WallSeconds();
            const double cpu = threadclock::ThreadCpuSeconds();
            rig->source->ApplySettings();
            start.cpu += threadclock::ThreadCpuSeconds() - cpu;
            start.wall += threadclock::WallSeconds() - wall;
        }
    } else {
        WriteCommand(std::to_wstring(commandId) + L"|" + gif.path + L"|0|0|x|" +
                     std::to_wstring(5 + commandId % 2) + L"|25|40");
        // A frame of 21 ms finds the command (the sources poll every 20 ms) and, just after a
        // frame change, moves no animation of 40 ms frames on: the frame is the command's alone.
        start = AdvanceBoth(a, b, 0.021f);
        if (a.source->Snapshot().lastCommandId != commandId ||
            b.source->Snapshot().lastCommandId != commandId)
            return false;
    }
    const BitmapImage& imageA = *a.source->Snapshot().image;
    const BitmapImage& imageB = *b.source->Snapshot().image;
    if (!imageA.BackgroundLoadPending() || !imageB.BackgroundLoadPending())
        return false;
    a.source->WaitForBackgroundLoad();
    b.source->WaitForBackgroundLoad();
    const uint64_t uploadsBefore = PlainTextureUploads();
    const uint64_t madeBefore = PlainTexturesMade();
    // Frames too short to move either animation on: the swaps' alone, one in each.
    const Frame first = AdvanceBoth(a, b, 0.001f);
    if (Shows(b, gif))
        return false;  // both swapped in one frame
    const Frame second = AdvanceBoth(a, b, 0.001f);
    if (!Shows(a, gif) || !Shows(b, gif))
        return false;
    const Frame swap = first.cpu > second.cpu ? first : second;
    if (figures) {
        figures->worst[kCommand].cpu = std::max(figures->worst[kCommand].cpu, start.cpu);
        figures->worst[kCommand].wall = std::max(figures->worst[kCommand].wall, start.wall);
        figures->worst[kSwap].cpu = std::max(figures->worst[kSwap].cpu, swap.cpu);
        figures->worst[kSwap].wall = std::max(figures->worst[kSwap].wall, swap.wall);
        figures->worstPerStart.push_back(std::max(start.cpu, swap.cpu));
        figures->uploads = std::max(figures->uploads, PlainTextureUploads() - uploadsBefore);
        figures->made = std::max(figures->made, PlainTexturesMade() - madeBefore);
        ++figures->starts;
    }
    standin::ClearLog();
    platform::Simulation().ClearMessages();
    return true;
}

// What a swap cannot go below: frame 0 copied into the texture. A copy of a frame's bytes from
// frames the cache no longer holds into a frame-sized buffer, fastest of 10.
double CopyFloor(const GifCase& gif) {
    const size_t bytes = size_t{gif.recipe.width} * gif.recipe.height * 4;
    std::vector<std::vector<uint8_t>> frames(6, std::vector<uint8_t>(bytes, 1));
    std::vector<uint8_t> texture(bytes, 0);
    double fastest = 1e9;
    for (int i = 0; i < 10; ++i) {
        const double cpu = threadclock::ThreadCpuSeconds();
        std::memcpy(texture.data(), frames[i % 6].data(), bytes);
        fastest = std::min(fastest, threadclock::ThreadCpuSeconds() - cpu);
        benchmark::DoNotOptimize(texture.data());
    }
    return fastest;
}

void ReplaceEffect(benchmark::State& state, GifCase* gif, Replacement how) {
    GraphicsScope plain(PlainGraphics());
    WriteCommand(L"");
    // A ring of two frames: the worker decodes every frame again on every pass, always just ahead.
    Rig a(true, 0), b(true, 0);
    const std::string label = how == Replacement::Command ? "new command" : "set keyColor";
    StartFigures& figures = Figures()[gif->name + " x2 " + label];
    figures.gif = gif->name + " x2";
    figures.background = true;
    figures.path = label;
    static int commandId = 1000;
    WriteCommand(std::to_wstring(++commandId) + L"|" + gif->path + L"|0|0|x|5|25|40");
    for (int i = 0; i < kMaxFrames && !(Shows(a, *gif) && Shows(b, *gif)); ++i) {
        a.source->WaitForBackgroundLoad();
        b.source->WaitForBackgroundLoad();
        AdvanceBoth(a, b, 0.001f);
    }
    if (!Shows(a, *gif) || !Shows(b, *gif)) {
        state.SkipWithError("the effect did not show");
        figures.error = "the effect did not show";
        return;
    }
    for (auto _ : state) {
        for (int i = 0; i < kStartsPerRepetition; ++i) {
            if (!ReplaceOnBoth(a, b, ++commandId, how, *gif, &figures)) {
                state.SkipWithError("a replacement went wrong");
                figures.error = "a replacement went wrong";
                return;
            }
        }
    }
    const double floor = CopyFloor(*gif);
    if (figures.copyFloor < 0.0 || floor < figures.copyFloor)
        figures.copyFloor = floor;
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

// The background path's target. A start: every frame within the budget, and a still costs the
// host's thread one texture made from the worker's pixels. Replacing an effect on both sources: no
// more than starting the loads, and one upload in each of the two swap frames: within 2 ms at
// 1920x1080, or 1.2 times what a copy of a frame costs where the machine cannot copy that fast.
bool TargetMet(const StartFigures& f) {
    const double target =
        f.path.empty() ? kBudget : std::max(kReplacementTarget, 1.2 * f.copyFloor);
    return f.error.empty() && f.starts > 0 && WorstFrame(f) <= target &&
           (f.gif.rfind("still", 0) != 0 || f.uploads <= 1);
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
        if (c.recipe.width != 1920 || c.recipe.frames == 0 || c.name.rfind("webp", 0) == 0)
            continue;
        for (Replacement how : {Replacement::Command, Replacement::SetColor}) {
            benchmark::RegisterBenchmark(("start/" + c.name + "/two-sources/" +
                                          (how == Replacement::Command ? "command" : "set-color"))
                                             .c_str(),
                                         ReplaceEffect, &c, how)
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
    std::printf("%-18s %-12s %5s %11s %11s %11s %11s %11s %11s %7s  %-6s %s\n", "effect", "path",
                "starts", "command", "loading", "swap", "first pass", "worst", "median", "uploads",
                "met", "load (wall, frames)");
    for (const auto& [name, f] : Figures()) {
        const double worst = WorstFrame(f);
        const char* verdict = "-";
        if (f.background) {
            const bool ok = TargetMet(f);
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
        if (!f.path.empty())
            load = std::to_string(f.made) + " textures made on the swaps; a copy's floor " +
                   Ms(f.copyFloor);
        const std::string path = !f.path.empty() ? f.path : f.background ? "background" : "design";
        std::printf("%-18s %-12s %5d %11s %11s %11s %11s %11s %11s %7llu  %-6s %s%s\n",
                    f.gif.c_str(), path.c_str(), f.starts, Ms(f.worst[kCommand].cpu).c_str(),
                    Ms(f.worst[kLoading].cpu).c_str(), Ms(f.worst[kSwap].cpu).c_str(),
                    Ms(f.worst[kFirstPass].cpu).c_str(), Ms(worst).c_str(),
                    Ms(Median(f.worstPerStart)).c_str(), static_cast<unsigned long long>(f.uploads),
                    verdict, load.c_str(), f.error.empty() ? "" : ("  " + f.error).c_str());
    }
    std::printf(
        "(median: the median over starts of each start's worst frame; uploads: the most textures "
        "given pixels on a start's command and swap frames, a texture made from a file "
        "included; load: median wall time and host frames from the command to the swap; x2: two "
        "sources, each frame both sources' calls, the target 2 ms or 1.2 times a copy's "
        "floor)\n");
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
             << (!f.path.empty() ? f.path
                 : f.background  ? "background"
                                 : "design")
             << "\", \"starts\": " << f.starts;
        for (int p = 0; p < kPhases; ++p)
            json << ", \"" << kPhaseNames[p] << "\": " << f.worst[p].cpu << ", \"" << kPhaseNames[p]
                 << " wall\": " << f.worst[p].wall;
        json << ", \"uploads\": " << f.uploads << ", \"worst\": " << WorstFrame(f)
             << ", \"median_worst\": " << Median(f.worstPerStart)
             << ", \"load_wall_median\": " << Median(f.loadSeconds)
             << ", \"textures_made_on_swap\": " << f.made << ", \"copy_floor\": " << f.copyFloor
             << ", \"met\": " << (f.background ? (TargetMet(f) ? "true" : "false") : "null") << "}"
             << (++i < Figures().size() ? "," : "") << "\n";
    }
    json << "  ]\n}\n";
    return static_cast<bool>(json);
}

}  // namespace bench
