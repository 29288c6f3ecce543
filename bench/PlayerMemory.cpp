// vantrel_bench_memory: the effect player's memory over a long run. It plays the colour-key
// example (the keyed path records the most host calls per frame) twice, for a short and a long
// simulated time, in the player's own process, and takes each run's peak resident size from the
// system. Flat memory shows as the same peak for both; what the long run adds, spread over the
// minutes between them, is the growth per minute.
//
//   vantrel_bench_memory [--json=PATH] [--quick]
//
// --quick plays 1 and 2 minutes instead of 1 and 6 (a check that it runs, not a measurement).
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CommandLine.h"

namespace {

// A keyed run grew by about 1.3 MB a minute while the player kept every record; flat memory
// varies by a few kilobytes with the allocator.
constexpr double kMaxGrowthKbPerMinute = 100.0;
constexpr const char* kCanvas = "320x180";

struct Peak {
    long kilobytes = -1;
    double seconds = 0.0;  // wall time of the run
};

// Runs the player for `minutes` of simulated time, quietly, and returns its peak resident size.
Peak PlayFor(int minutes, const std::string& out) {
    Peak peak;
    const std::string seconds = std::to_string(minutes * 60);
    const std::string script = std::string(VANTREL_EXAMPLES) + "/colorkey.script";
    timespec start{}, end{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t child = fork();
    if (child == 0) {
        if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr))
            _exit(126);
        // The settings scripts/demo plays the example with; no frames kept but the first.
        execl(FXPLAYER_PATH, FXPLAYER_PATH, "--script", script.c_str(), "--out", out.c_str(),
              "--seconds", seconds.c_str(), "--every", "1000000", "--canvas", kCanvas, "--set",
              "useColorKey=1", "--set", "keyColor=0xFF00FF00", "--set", "opacity=85", "--set",
              "cx=400", "--set", "cy=400", "--set", "orix=160", "--set", "oriy=160",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    if (child < 0)
        return peak;
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "vantrel_bench_memory: the %d-minute run failed (status %d)\n",
                     minutes, status);
        return peak;
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    peak.kilobytes = usage.ru_maxrss;  // Linux reports kilobytes
    peak.seconds = static_cast<double>(end.tv_sec - start.tv_sec) +
                   static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9;
    return peak;
}

std::string Megabytes(long kilobytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(kilobytes) / 1024.0);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    std::string jsonPath;
    bool quick = false;
    cli::CommandLine line("");
    line.Text("--json", jsonPath).Flag("--quick", quick);
    int status = 0;
    if (!line.Parse(cli::Arguments(argc, argv), "vantrel_bench_memory",
                    "usage: vantrel_bench_memory [--json=PATH] [--quick]\n", status))
        return status;
    char pattern[] = "/tmp/vantrel-bench-memory-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::fprintf(stderr, "vantrel_bench_memory: no temporary folder\n");
        return 1;
    }
    const std::string workspace = pattern;
    const int shortMinutes = 1, longMinutes = quick ? 2 : 6;

    std::printf("player memory: a keyed run of %d and of %d minutes at 60 fps on %s\n",
                shortMinutes, longMinutes, kCanvas);
    std::fflush(stdout);
    const Peak shortRun = PlayFor(shortMinutes, workspace + "/short");
    const Peak longRun = PlayFor(longMinutes, workspace + "/long");
    std::error_code ignored;
    std::filesystem::remove_all(workspace, ignored);
    if (shortRun.kilobytes < 0 || longRun.kilobytes < 0)
        return 1;

    const double growth = static_cast<double>(longRun.kilobytes - shortRun.kilobytes) /
                          static_cast<double>(longMinutes - shortMinutes);
    const bool met = growth <= kMaxGrowthKbPerMinute;
    char target[32], growthText[32];
    std::snprintf(target, sizeof target, "<= %.0f KB/min", kMaxGrowthKbPerMinute);
    std::snprintf(growthText, sizeof growthText, "%+.0f KB/min", growth);
    std::printf("\n%-40s %12s %12s %14s  %-15s %s\n", "figure", "peak short", "peak long", "growth",
                "target", "met");
    std::printf("%-40s %12s %12s %14s  %-15s %s\n", "player, keyed run, peak resident size",
                Megabytes(shortRun.kilobytes).c_str(), Megabytes(longRun.kilobytes).c_str(),
                growthText, target, met ? "met" : "MISSED");
    std::printf("(runs took %.1f s and %.1f s)\n", shortRun.seconds, longRun.seconds);

    if (!jsonPath.empty()) {
        std::ofstream json(jsonPath, std::ios::binary | std::ios::trunc);
        const std::time_t now = std::time(nullptr);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
        json << "{\n  \"date\": \"" << stamp << "\",\n  \"rows\": [\n"
             << "    {\"figure\": \"player, keyed run, peak resident size\", \"canvas\": \""
             << kCanvas << "\", \"short_minutes\": " << shortMinutes
             << ", \"short_peak_kb\": " << shortRun.kilobytes
             << ", \"long_minutes\": " << longMinutes << ", \"long_peak_kb\": " << longRun.kilobytes
             << ", \"growth_kb_per_minute\": " << growth
             << ", \"target_kb_per_minute\": " << kMaxGrowthKbPerMinute
             << ", \"met\": " << (met ? "true" : "false") << "}\n  ]\n}\n";
        if (!json) {
            std::fprintf(stderr, "vantrel_bench_memory: could not write %s\n", jsonPath.c_str());
            return 1;
        }
        std::printf("row written to %s\n", jsonPath.c_str());
    }
    return 0;
}
