#pragma once

// The table the benchmarks end with: each figure beside its floor from the same run, their ratio,
// the target, and whether it was met. Figure and floor are taken at their fastest repetition (CPU
// time of the benchmark's thread), the least disturbed by whatever else the machine was doing;
// allocation counts at their highest.
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace bench {

struct Row {
    std::string label;       // what is measured, as the table shows it
    std::string figure;      // name of the benchmark of the figure
    std::string floorLabel;  // what the floor is; empty: the figure stands alone
    std::string floor;       // name of the benchmark of the floor
    double maxRatio = 0.0;   // the target: figure / floor at most this; 0: no ratio target
    // A counter of the figure's benchmark holding module allocations, and what it counts per.
    std::string allocCounter;
    std::string allocUnit;
    double maxAllocs = -1.0;  // allocations allowed; below 0: reported only
    std::string unit;         // the figure's unit in words ("per call", "per loop", ...)
};

struct Measured {
    double seconds = -1.0;  // per iteration, at the fastest repetition
    std::map<std::string, double> highestCounter;
    int repetitions = 0;
    std::string error;
};

// Keeps what the table needs. Verbose, it prints benchmark's usual line for every repetition;
// otherwise one line per benchmark once its last repetition is in, and a count of the runs so far
// on a terminal.
class Collector : public benchmark::ConsoleReporter {
public:
    explicit Collector(bool verbose) : verbose_(verbose) {}
    void ReportRuns(const std::vector<Run>& runs) override;
    const Measured* Find(const std::string& name) const;

private:
    bool verbose_;
    int runs_ = 0;
    std::map<std::string, Measured> measured_;
};

// Prints the table; returns false when any target with a measurement was missed.
bool PrintTable(const std::vector<Row>& rows, const Collector& results);
bool WriteJson(const std::vector<Row>& rows, const Collector& results, const std::string& path);

}  // namespace bench
