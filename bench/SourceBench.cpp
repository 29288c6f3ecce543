// The effect source: its per-frame update between commands, its drawing, and a new command applied
// end to end.
#include <benchmark/benchmark.h>

#include <string>

#include "BenchCases.h"
#include "PlainGraphics.h"
#include "controller/ConsoleProtocol.h"
#include "platform/SimPlatform.h"
#include "plugin/PluginEntry.h"
#include "source/VoteImageSource.h"
#include "standin/Standin.h"

namespace bench {

namespace {

constexpr int kRepetitions = 5;
constexpr float kPollingFrame = 0.025f;     // every call polls
constexpr float kFrameAt60 = 1.0f / 60.0f;  // every second call polls

// One source in the host's configuration tree (container, source element, data), made by the
// module's create callback.
class SourceRig {
public:
    SourceRig(const std::wstring& path, bool colorKey) {
        root_ = standin::NewConfigRoot(L"scenes");
        XElement* container = standin::AsXElement(root_)->CreateElement(L"sources");
        XElement* data = container->CreateElement(L"fx")->CreateElement(L"data");
        data->SetString(L"path", path.c_str());
        data->SetInt(L"useColorKey", colorKey ? 1 : 0);
        data->SetInt(L"keyColor", static_cast<int>(0xFF00FF00u));
        source = static_cast<vantrel::VoteImageSource*>(vantrel::CreateBitmapSource(data));
    }
    ~SourceRig() {
        delete source;
        standin::DeleteConfigRoot(root_);
    }
    SourceRig(const SourceRig&) = delete;
    SourceRig& operator=(const SourceRig&) = delete;

    vantrel::VoteImageSource* source = nullptr;

private:
    standin::ConfigElement* root_ = nullptr;
};

void WriteCommand(const std::wstring& text) {
    platform::Simulation().WriteBlockText(vantrel::kCommandBlockName,
                                          std::u16string(text.begin(), text.end()));
}

std::wstring Command(int commandId, const std::wstring& path, int size, int effectId) {
    return std::to_wstring(commandId) + L"|" + path + L"|" + std::to_wstring(size) + L"|" +
           std::to_wstring(size) + L"|x|" + std::to_wstring(effectId) + L"|25|40";
}

uint64_t Allocations() {
    return standin::AllocatorStats().allocations;
}

// A source showing a still effect whose command stays in the block: every poll maps the view,
// copies and parses the text, finds the same command id, and unmaps.
void SteadyAdvance(benchmark::State& state, const std::wstring* still, float seconds) {
    GraphicsScope plain(PlainGraphics());
    WriteCommand(Command(1, *still, 200, 7));
    SourceRig rig(*still, false);
    if (!rig.source) {
        state.SkipWithError("no source");
        return;
    }
    rig.source->Advance(kPollingFrame);
    if (rig.source->Snapshot().lastCommandId != 1) {
        state.SkipWithError("the command was not applied");
        return;
    }
    const uint64_t before = Allocations();
    for (auto _ : state)
        rig.source->Advance(seconds);
    const double calls = static_cast<double>(state.iterations());
    const double polls = seconds > 0.020f ? calls : calls / 2;
    state.counters["allocs_per_poll"] = static_cast<double>(Allocations() - before) / polls;
    standin::ClearLog();
    platform::Simulation().ClearMessages();
}

void SourceDraw(benchmark::State& state, const std::wstring* still, bool colorKey) {
    GraphicsScope plain(PlainGraphics());
    WriteCommand(Command(1, *still, 200, 7));
    SourceRig rig(*still, colorKey);
    if (!rig.source) {
        state.SkipWithError("no source");
        return;
    }
    rig.source->Advance(kPollingFrame);
    if (colorKey && !rig.source->Snapshot().colorKeyShader) {
        state.SkipWithError("no colour-key shader");
        return;
    }
    const Vect2 pos(100.0f, 50.0f);
    const Vect2 size(200.0f, 200.0f);
    const uint64_t sprites = PlainSpriteCount();
    const uint64_t before = Allocations();
    for (auto _ : state)
        rig.source->Draw(pos, size);
    state.counters["allocs_per_call"] =
        static_cast<double>(Allocations() - before) / static_cast<double>(state.iterations());
    if (PlainSpriteCount() - sprites != static_cast<uint64_t>(state.iterations()))
        state.SkipWithError("Draw drew no sprite");
    standin::ClearLog();
    platform::Simulation().ClearMessages();
}

// Each iteration the console writes a new command naming the GIF; the next update parses it, sends
// the stop of the previous effect, reloads, logs and sends the start.
void ApplyCommand(benchmark::State& state, GifCase* gif) {
    GraphicsScope plain(PlainGraphics());
    WriteCommand(L"");
    SourceRig rig(L"", false);
    if (!rig.source) {
        state.SkipWithError("no source");
        return;
    }
    int commandId = 100;
    for (auto _ : state) {
        state.PauseTiming();
        ++commandId;
        WriteCommand(Command(commandId, gif->path, gif->recipe.width, 5 + commandId % 2));
        standin::ClearLog();
        platform::Simulation().ClearMessages();
        state.ResumeTiming();
        rig.source->Advance(kPollingFrame);
        state.PauseTiming();
        const bool applied = rig.source->Snapshot().lastCommandId == commandId &&
                             rig.source->Snapshot().image->Snapshot().isAnimated;
        state.ResumeTiming();
        if (!applied) {
            state.SkipWithError("the command was not applied");
            break;
        }
    }
    WriteCommand(L"");
}

}  // namespace

void RegisterSourceBenchmarks(GifCase& command, const std::wstring& stillPath,
                              std::vector<Row>& rows) {
    static std::wstring still;
    still = stillPath;

    benchmark::RegisterBenchmark("steady/advance_every_call_polls", SteadyAdvance, &still,
                                 kPollingFrame)
        ->MinTime(0.2)
        ->Repetitions(kRepetitions);
    benchmark::RegisterBenchmark("steady/advance_at_60fps", SteadyAdvance, &still, kFrameAt60)
        ->MinTime(0.2)
        ->Repetitions(kRepetitions);
    benchmark::RegisterBenchmark("steady/draw_plain", SourceDraw, &still, false)
        ->MinTime(0.2)
        ->Repetitions(kRepetitions);
    benchmark::RegisterBenchmark("steady/draw_color_key", SourceDraw, &still, true)
        ->MinTime(0.2)
        ->Repetitions(kRepetitions);
    // About 0.1 s a command: the reload decodes every frame once.
    benchmark::RegisterBenchmark(("command/apply_" + command.name).c_str(), ApplyCommand, &command)
        ->Iterations(3)
        ->Repetitions(kRepetitions)
        ->Unit(benchmark::kMillisecond);

    Row poll;
    poll.label = "Advance, same command (every call polls)";
    poll.figure = "steady/advance_every_call_polls";
    poll.allocCounter = "allocs_per_poll";
    poll.allocUnit = "poll";
    poll.maxAllocs = 1.0;  // the design allows one copy of the text per poll
    poll.unit = "call";
    rows.push_back(poll);

    Row at60 = poll;
    at60.label = "Advance, same command (60 fps)";
    at60.figure = "steady/advance_at_60fps";
    rows.push_back(at60);

    Row plainDraw;
    plainDraw.label = "Draw, plain";
    plainDraw.figure = "steady/draw_plain";
    plainDraw.allocCounter = "allocs_per_call";
    plainDraw.allocUnit = "call";
    plainDraw.maxAllocs = 0.0;
    plainDraw.unit = "call";
    rows.push_back(plainDraw);

    Row keyedDraw = plainDraw;
    keyedDraw.label = "Draw, colour key";
    keyedDraw.figure = "steady/draw_color_key";
    rows.push_back(keyedDraw);

    Row apply;
    apply.label = "new command applied " + command.name;
    apply.figure = "command/apply_" + command.name;
    apply.floorLabel = "libnsgif";
    apply.floor = LoadFloorName(command);
    apply.unit = "command";
    rows.push_back(apply);
}

}  // namespace bench
