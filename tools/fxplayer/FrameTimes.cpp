#include "FrameTimes.h"

#include <algorithm>

#include "Files.h"
#include "FrameChart.h"
#include "ThreadClock.h"
#include "standin/Standin.h"

namespace fxplayer {

namespace {

// The fields of a command as the module splits them: runs of '|' separate.
std::vector<std::string> CommandFields(const std::string& text) {
    std::vector<std::string> fields;
    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && text[pos] == '|')
            ++pos;
        size_t start = pos;
        while (pos < text.size() && text[pos] != '|')
            ++pos;
        if (pos > start)
            fields.push_back(text.substr(start, pos - start));
    }
    return fields;
}

std::string Trimmed(const std::string& text) {
    size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos)
        return std::string();
    return text.substr(start, text.find_last_not_of(" \t") - start + 1);
}

// A CSV field, quoted when it holds a separator, a quote or a line break.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// The last part of a path, as the host's file names come in either form of separator.
std::string FileName(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Milliseconds(double ms) {
    char text[32];
    std::snprintf(text, sizeof text,
                  ms >= 100.0  ? "%.0f ms"
                  : ms >= 10.0 ? "%.1f ms"
                               : "%.2f ms",
                  ms);
    return text;
}

}  // namespace

std::string DescribeEvent(const ScriptEvent& event) {
    // What the streamer does to one source names it when the scene may hold more than one.
    const std::string source =
        event.source != 1 ? "source " + std::to_string(event.source) + " " : std::string();
    switch (event.kind) {
        case EventKind::Command: {
            std::vector<std::string> fields = CommandFields(event.text);
            if (fields.size() < 2)
                return "command " + event.text;
            std::string id = Trimmed(fields[0]);
            if (!id.empty() && id[0] == '-')
                return "command " + id + ": clear";
            return "command " + id + ": " + FileName(fields[1]);
        }
        case EventKind::Output:
            return event.on ? "output on" : "output off";
        case EventKind::Scene:
            return event.on ? "scene begin" : "scene end";
        case EventKind::Console:
            return event.on ? "console on" : "console off";
        case EventKind::Set: {
            // A path is long and its folder says little: the file's name is enough.
            if (event.setting.isText && !event.setting.text.empty())
                return source + "set " + event.setting.key + "=" + FileName(event.setting.text);
            return source + "set " + event.text;
        }
        case EventKind::Item:
            return source + "item " + std::to_string(event.x) + " " + std::to_string(event.y) +
                   " " + std::to_string(event.width) + " " + std::to_string(event.height);
        case EventKind::Replace:
            return "replace " + FileName(event.text) + " with " + FileName(event.other);
        case EventKind::Touch:
            return "touch " + FileName(event.text);
        default:
            return "script line " + std::to_string(event.line);
    }
}

const char* const kWorkNames[kWorkCounts] = {
    "loads_now",     "loads_started",      "decoded",
    "textures_made", "texture_bytes_made", "uploads",
    "upload_bytes",  "textures_deleted",   "texture_bytes_deleted",
    "blocks_freed",  "bytes_freed",        "worker_waits"};

std::string DescribeWork(const std::vector<WorkCounts>& perSource) {
    std::string text;
    for (size_t source = 0; source < perSource.size(); ++source) {
        std::string one;
        for (unsigned i = 0; i < kWorkCounts; ++i) {
            if (perSource[source][i] == 0)
                continue;
            one += (one.empty() ? "" : " ") + std::string(kWorkNames[i]) + "=" +
                   std::to_string(perSource[source][i]);
        }
        if (!one.empty())
            text += (text.empty() ? "" : "; ") + std::to_string(source) + ": " + one;
    }
    return text;
}

FrameTimes::FrameTimes(int fps, long long frameCount, unsigned chartColumns)
    : fps_(fps > 0 ? fps : 1),
      frameCount_(frameCount > 0 ? frameCount : 1),
      columns_(std::max(1u, chartColumns)) {}

FrameTimes::~FrameTimes() {
    if (csv_)
        std::fclose(csv_);
}

bool FrameTimes::Open(const std::string& csvPath) {
    csv_ = OpenFile(csvPath, "wb");
    if (!csv_)
        return false;
    std::string header = "frame,time,module_ms,events";
    for (const char* name : kWorkNames)
        header += std::string(",") + name;
    header += ",work\n";
    writeFailed_ = std::fputs(header.c_str(), csv_) < 0;
    return true;
}

void FrameTimes::Event(const ScriptEvent& event) {
    std::string text = DescribeEvent(event);
    if (!frameEvents_.empty())
        frameEvents_ += "; ";
    frameEvents_ += text;
    events_.push_back({frame_, text});
}

void FrameTimes::LateFrames(unsigned long long count) {
    if (count == 0)
        return;
    late_ += count;
    const std::string text = std::to_string(count) + (count == 1 ? " late frame" : " late frames");
    if (!frameEvents_.empty())
        frameEvents_ += "; ";
    frameEvents_ += text;
    events_.push_back({frame_, text});
}

void FrameTimes::EnterModule() {
    // Read before the clock starts and after it stops: the reading is the player's, not the
    // module's.
    if (workReader_)
        workReader_(workAtEntry_.data(), kWorkCounts);
    callStart_ = threadclock::ThreadCpuSeconds();
}

void FrameTimes::LeaveModule() {
    if (callStart_ < 0.0)
        return;
    frameSeconds_ += threadclock::ThreadCpuSeconds() - callStart_;
    callStart_ = -1.0;
    if (!workReader_)
        return;
    WorkCounts now{};
    workReader_(now.data(), kWorkCounts);
    if (frameWork_.size() <= static_cast<size_t>(source_))
        frameWork_.resize(static_cast<size_t>(source_) + 1, WorkCounts{});
    for (unsigned i = 0; i < kWorkCounts; ++i)
        frameWork_[static_cast<size_t>(source_)][i] += now[i] - workAtEntry_[i];
}

void FrameTimes::EnterHostCompositing() {
    if (callStart_ >= 0.0)
        compositeStart_ = threadclock::ThreadCpuSeconds();
}

void FrameTimes::LeaveHostCompositing() {
    if (compositeStart_ < 0.0)
        return;
    frameSeconds_ -= threadclock::ThreadCpuSeconds() - compositeStart_;
    compositeStart_ = -1.0;
}

void FrameTimes::EndFrame() {
    const double ms = std::max(0.0, frameSeconds_ * 1000.0);
    const std::string work = DescribeWork(frameWork_);
    if (csv_ && !writeFailed_) {
        std::string events = CsvField(frameEvents_);
        // Empty without the module's record, so that no work reads as no record.
        std::string totals;
        for (unsigned i = 0; i < kWorkCounts; ++i) {
            unsigned long long sum = 0;
            for (const WorkCounts& counts : frameWork_)
                sum += counts[i];
            totals += "," + (workReader_ ? std::to_string(sum) : std::string());
        }
        writeFailed_ = std::fprintf(csv_, "%lld,%.3f,%.3f,%s%s,%s\n", frame_,
                                    static_cast<double>(frame_) / fps_, ms, events.c_str(),
                                    totals.c_str(), CsvField(work).c_str()) < 0;
    }
    if (ms > BudgetMs())
        ++overBudget_;
    if (ms > worstMs_) {
        worstMs_ = ms;
        worstFrame_ = frame_;
        worstWork_ = work;
        if (!frameEvents_.empty()) {
            worstWhat_ = frameEvents_;
        } else if (!events_.empty()) {
            // Nothing of the script on the frame itself: say how long after the last event it came.
            long long after = frame_ - events_.back().frame;
            std::string text;
            for (const ChartEvent& event : events_)
                if (event.frame == events_.back().frame)
                    text += (text.empty() ? "" : "; ") + event.text;
            worstWhat_ =
                std::to_string(after) + (after == 1 ? " frame" : " frames") + " after " + text;
        } else {
            worstWhat_.clear();
        }
    }
    // The frame covers the columns from its start to the next frame's start (at least one).
    const size_t count = columns_.size();
    size_t first = static_cast<size_t>(frame_ * static_cast<long long>(count) / frameCount_);
    size_t last = static_cast<size_t>((frame_ + 1) * static_cast<long long>(count) / frameCount_);
    first = std::min(first, count - 1);
    last = std::max(first + 1, std::min(last, count));
    for (size_t c = first; c < last; ++c)
        columns_[c].ms = std::max(columns_[c].ms, ms);

    ++frame_;
    frameSeconds_ = 0.0;
    frameEvents_.clear();
    frameWork_.clear();
}

bool FrameTimes::Finish(const std::string& pngPath, std::string& error) {
    if (csv_) {
        if (std::fclose(csv_) != 0)
            writeFailed_ = true;
        csv_ = nullptr;
    }
    if (writeFailed_) {
        error = "cannot write frametimes.csv";
        return false;
    }
    Image chart = DrawFrameChart(*this);
    if (!standin::WritePng(pngPath, chart.width, chart.height, chart.rgba)) {
        error = "cannot write " + pngPath;
        return false;
    }
    return true;
}

std::string FrameTimes::Summary() const {
    if (worstFrame_ < 0)
        return "no frames";
    char at[48];
    std::snprintf(at, sizeof at, " at %.3f s", static_cast<double>(worstFrame_) / fps_);
    std::string text = "worst " + Milliseconds(worstMs_) + at;
    if (!worstWhat_.empty() || !worstWork_.empty())
        text += " (" + worstWhat_ + (worstWhat_.empty() || worstWork_.empty() ? "" : "; ") +
                (worstWork_.empty() ? "" : "the module: " + worstWork_) + ")";
    char budget[32];
    std::snprintf(budget, sizeof budget, "%.1f ms", BudgetMs());
    text += "; " + std::to_string(overBudget_) + (overBudget_ == 1 ? " frame" : " frames") +
            " over " + budget;
    if (late_)
        text += "; " + std::to_string(late_) + (late_ == 1 ? " frame" : " frames") +
                " late (due before the background load's worker had decoded them)";
    return text;
}

}  // namespace fxplayer
