#include "Report.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

namespace bench {

namespace {

std::string Time(double seconds) {
    if (seconds < 0.0)
        return "-";
    char text[32];
    if (seconds < 1e-6)
        std::snprintf(text, sizeof(text), "%.1f ns", seconds * 1e9);
    else if (seconds < 1e-3)
        std::snprintf(text, sizeof(text), "%.2f us", seconds * 1e6);
    else if (seconds < 1.0)
        std::snprintf(text, sizeof(text), "%.2f ms", seconds * 1e3);
    else
        std::snprintf(text, sizeof(text), "%.3f s", seconds);
    return text;
}

}  // namespace

void Collector::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        if (run.run_type != Run::RT_Iteration)
            continue;
        Measured& m = measured_[run.run_name.function_name];
        ++m.repetitions;
        if (run.error_occurred) {
            m.error = run.error_message;
            std::fprintf(stderr, "\n%s: %s\n", run.run_name.function_name.c_str(),
                         run.error_message.c_str());
            continue;
        }
        const double seconds =
            run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        if (m.seconds < 0.0 || seconds < m.seconds)
            m.seconds = seconds;
        for (const auto& [name, counter] : run.counters) {
            auto at = m.highestCounter.find(name);
            if (at == m.highestCounter.end() || counter.value > at->second)
                m.highestCounter[name] = counter.value;
        }
        if (verbose_)
            continue;
        ++runs_;
        if (isatty(fileno(stderr)))
            std::fprintf(stderr, "\r%d runs done", runs_);
        if (m.repetitions < run.repetitions)
            continue;
        std::printf("\r%-52s %11s  (fastest of %d)", run.run_name.function_name.c_str(),
                    Time(m.seconds).c_str(), m.repetitions);
        for (const auto& [name, value] : m.highestCounter)
            std::printf("  %s %g", name.c_str(), value);
        std::printf("\n");
        std::fflush(stdout);
    }
    if (verbose_)
        ConsoleReporter::ReportRuns(runs);
}

const Measured* Collector::Find(const std::string& name) const {
    auto at = measured_.find(name);
    return at == measured_.end() || at->second.seconds < 0.0 ? nullptr : &at->second;
}

namespace {

enum class Verdict { Met, Missed, NoTarget, NotMeasured };

struct Outcome {
    double figure = -1.0, floor = -1.0, ratio = -1.0, allocs = -1.0;
    Verdict verdict = Verdict::NotMeasured;
};

Outcome Evaluate(const Row& row, const Collector& results) {
    Outcome out;
    const Measured* figure = results.Find(row.figure);
    if (!figure)
        return out;
    out.figure = figure->seconds;
    if (!row.allocCounter.empty()) {
        auto at = figure->highestCounter.find(row.allocCounter);
        if (at != figure->highestCounter.end())
            out.allocs = at->second;
    }
    const Measured* floor = row.floor.empty() ? nullptr : results.Find(row.floor);
    if (floor && floor->seconds > 0.0) {
        out.floor = floor->seconds;
        out.ratio = out.figure / out.floor;
    }
    const bool ratioTarget = row.maxRatio > 0.0;
    const bool allocTarget = row.maxAllocs >= 0.0;
    if (!ratioTarget && !allocTarget) {
        out.verdict = Verdict::NoTarget;
        return out;
    }
    if ((ratioTarget && out.ratio < 0.0) || (allocTarget && out.allocs < 0.0))
        return out;  // a part of the target was not measured
    bool met = true;
    if (ratioTarget && out.ratio > row.maxRatio)
        met = false;
    if (allocTarget && out.allocs > row.maxAllocs)
        met = false;
    out.verdict = met ? Verdict::Met : Verdict::Missed;
    return out;
}

std::string Number(double value, const char* format) {
    if (value < 0.0)
        return "-";
    char text[32];
    std::snprintf(text, sizeof(text), format, value);
    return text;
}

std::string Target(const Row& row) {
    std::string text;
    if (row.maxRatio > 0.0)
        text = "<= " + Number(row.maxRatio, "%.2f");
    if (row.maxAllocs >= 0.0) {
        if (!text.empty())
            text += ", ";
        text += Number(row.maxAllocs, "%.0f") + " alloc";
    }
    return text.empty() ? "-" : text;
}

const char* VerdictText(Verdict verdict) {
    switch (verdict) {
        case Verdict::Met:
            return "met";
        case Verdict::Missed:
            return "MISSED";
        case Verdict::NoTarget:
            return "-";
        case Verdict::NotMeasured:
            break;
    }
    return "not run";
}

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string JsonNumber(double value, const char* format) {
    return value < 0.0 ? "null" : Number(value, format);
}

}  // namespace

bool PrintTable(const std::vector<Row>& rows, const Collector& results) {
    bool allMet = true;
    std::printf("\n%-46s %11s  %-12s %11s %7s  %-16s %-14s %s\n", "figure", "time", "floor", "time",
                "ratio", "target", "allocations", "met");
    for (const Row& row : rows) {
        const Outcome out = Evaluate(row, results);
        if (out.verdict == Verdict::Missed)
            allMet = false;
        std::string allocs = "-";
        if (out.allocs >= 0.0)
            allocs = Number(out.allocs, "%.3g") + " /" + row.allocUnit;
        std::printf("%-46s %11s  %-12s %11s %7s  %-16s %-14s %s\n", row.label.c_str(),
                    Time(out.figure).c_str(), row.floorLabel.empty() ? "-" : row.floorLabel.c_str(),
                    Time(out.floor).c_str(), Number(out.ratio, "%.3f").c_str(), Target(row).c_str(),
                    allocs.c_str(), VerdictText(out.verdict));
    }
    std::printf("(times are CPU time per %s, at the fastest repetition)\n",
                "iteration: one call, one load, or one pass over every frame");
    return allMet;
}

bool WriteJson(const std::vector<Row>& rows, const Collector& results, const std::string& path) {
    std::ostringstream json;
    const std::time_t now = std::time(nullptr);
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
    json << "{\n  \"date\": " << JsonText(stamp) << ",\n";
    json << "  \"time\": \"CPU seconds per iteration, fastest repetition\",\n";
    json << "  \"rows\": [\n";
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const Outcome out = Evaluate(row, results);
        json << "    {\"figure\": " << JsonText(row.label)
             << ", \"benchmark\": " << JsonText(row.figure)
             << ", \"seconds\": " << JsonNumber(out.figure, "%.9g")
             << ", \"per\": " << JsonText(row.unit)
             << ", \"floor\": " << (row.floorLabel.empty() ? "null" : JsonText(row.floorLabel))
             << ", \"floor_benchmark\": " << (row.floor.empty() ? "null" : JsonText(row.floor))
             << ", \"floor_seconds\": " << JsonNumber(out.floor, "%.9g")
             << ", \"ratio\": " << JsonNumber(out.ratio, "%.4f")
             << ", \"target\": " << JsonText(Target(row))
             << ", \"target_ratio\": " << (row.maxRatio > 0.0 ? Number(row.maxRatio, "%g") : "null")
             << ", \"allocations\": " << JsonNumber(out.allocs, "%g") << ", \"allocations_per\": "
             << (row.allocUnit.empty() ? "null" : JsonText(row.allocUnit)) << ", \"met\": "
             << (out.verdict == Verdict::Met      ? "true"
                 : out.verdict == Verdict::Missed ? "false"
                                                  : "null")
             << "}" << (i + 1 < rows.size() ? "," : "") << "\n";
    }
    json << "  ]\n}\n";
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << json.str();
    return static_cast<bool>(file);
}

}  // namespace bench
