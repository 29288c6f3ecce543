#pragma once

// What the module costs the host's thread, frame by frame: the thread CPU time spent inside the
// module's calls of each frame (Advance and Draw), written as frametimes.csv while the run goes
// and drawn as frametimes.png at its end. CPU time of this thread, not wall time, so that other
// programs on the machine (and the video encoder's threads) do not show up as the module's cost.
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "FrameChart.h"
#include "Script.h"

namespace fxplayer {

// The CPU time the calling thread has used, in seconds. On Windows it advances in the scheduler's
// ticks (about 15.6 ms), so single frames there read as 0 or a whole tick.
double ThreadCpuSeconds();

// One script event, as the frame times name it: "command 2: banner.gif", "output on".
std::string DescribeEvent(const ScriptEvent& event);

// What the module reports it did on the host's thread (its HostThreadWork export), in the
// export's order, each with its column's name in frametimes.csv.
constexpr unsigned kWorkCounts = 12;
extern const char* const kWorkNames[kWorkCounts];
using WorkCounts = std::array<unsigned long long, kWorkCounts>;
using WorkReader = unsigned (*)(unsigned long long* counts, unsigned capacity);
// "1: loads_started=1 uploads=1 upload_bytes=8294400; 2: uploads=1 upload_bytes=8294400": the
// work of each source that did any (`perSource[0]` is work outside any source's call).
std::string DescribeWork(const std::vector<WorkCounts>& perSource);

// The column of the chart: the worst frame among those drawn in one pixel column.
struct ChartColumn {
    double ms = -1.0;  // below 0: no frame here
};

struct ChartEvent {
    long long frame = 0;
    std::string text;
};

class FrameTimes {
public:
    // The chart keeps `chartColumns` columns whatever the run's length, so memory stays flat.
    FrameTimes(int fps, long long frameCount, unsigned chartColumns = kFrameChartColumns);
    ~FrameTimes();
    FrameTimes(const FrameTimes&) = delete;
    FrameTimes& operator=(const FrameTimes&) = delete;

    // Starts frametimes.csv with its header.
    bool Open(const std::string& csvPath);
    // The module's record of its work on the host's thread, read around each call; without it the
    // work columns stay empty.
    void ReadWorkWith(WorkReader reader) { workReader_ = reader; }
    // The source the calls that follow are made for (0: none).
    void SetSource(int source) { source_ = source < 0 ? 0 : source; }

    // A script event applied before the frame that is about to run.
    void Event(const ScriptEvent& event);
    // Frames of a background load that came due, during the frame that ran, before the worker had
    // them: an event of that frame ("2 late frames").
    void LateFrames(unsigned long long count);

    // Around each call into the module. Time the host spends compositing inside a call (the
    // stand-in draws sprites on the CPU, a host on its GPU) is left out between the two Host calls.
    void EnterModule();
    void LeaveModule();
    void EnterHostCompositing();
    void LeaveHostCompositing();

    // Ends the frame that was running: writes its row.
    void EndFrame();

    // Closes the CSV and writes the chart. False with `error` when either could not be written.
    bool Finish(const std::string& pngPath, std::string& error);

    // "worst 612 ms at 3.500 s (command 2: banner.gif); 41 frames over 16.7 ms"
    std::string Summary() const;

    long long Frames() const { return frame_; }
    int Fps() const { return fps_; }
    long long FrameCount() const { return frameCount_; }
    double BudgetMs() const { return 1000.0 / fps_; }
    double WorstMs() const { return worstMs_; }
    long long WorstFrame() const { return worstFrame_; }
    const std::string& WorstWhat() const { return worstWhat_; }
    long long OverBudget() const { return overBudget_; }
    unsigned long long Late() const { return late_; }
    const std::vector<ChartColumn>& Columns() const { return columns_; }
    const std::vector<ChartEvent>& Events() const { return events_; }

private:
    const int fps_;
    const long long frameCount_;
    std::vector<ChartColumn> columns_;
    std::vector<ChartEvent> events_;
    FILE* csv_ = nullptr;
    bool writeFailed_ = false;

    long long frame_ = 0;        // the frame now running
    double frameSeconds_ = 0.0;  // module time of it so far
    double callStart_ = -1.0;    // set while inside a module call
    double compositeStart_ = -1.0;
    std::string frameEvents_;  // "; "-joined descriptions of the running frame's events
    WorkReader workReader_ = nullptr;
    int source_ = 0;
    WorkCounts workAtEntry_{};
    std::vector<WorkCounts> frameWork_;  // per source, the running frame's work so far

    long long overBudget_ = 0;
    unsigned long long late_ = 0;
    long long worstFrame_ = -1;
    std::string worstWork_;  // what the module did on the worst frame
    double worstMs_ = -1.0;
    std::string worstWhat_;  // what happened on or before the worst frame
};

// Keeps a FrameTimes (if any) informed of a call into the module for as long as it lives.
class ModuleCall {
public:
    explicit ModuleCall(FrameTimes* times) : times_(times) {
        if (times_)
            times_->EnterModule();
    }
    ~ModuleCall() {
        if (times_)
            times_->LeaveModule();
    }
    ModuleCall(const ModuleCall&) = delete;
    ModuleCall& operator=(const ModuleCall&) = delete;

private:
    FrameTimes* times_;
};

}  // namespace fxplayer
