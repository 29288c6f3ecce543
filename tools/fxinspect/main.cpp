// fxinspect: what the module makes of one effect file, and what it costs on the host's render
// thread. Loads the file through the module's own image holder on the stand-in host and reports
// the canvas, frames, delays and loop behaviour as the module plays them, the memory it holds, the
// measured load and first-pass times and what they mean at a host frame rate, and warnings where
// the effect will surprise its author. Text by default, JSON with --json.
//
// Exit status: 0 when the module shows the file, 1 when it shows its placeholder instead (missing
// file, folder, unreadable or corrupt file), 2 for a bad command line.
#include <cstdio>
#include <string>

#include "CommandLine.h"
#include "Inspection.h"
#include "Report.h"
#include "standin/Standin.h"

namespace {

constexpr int kUsageError = 2;
constexpr double kMaxFps = 1000.0;
constexpr long long kMaxSteps = 1000000;

const char kUsage[] =
    "usage: fxinspect FILE [--json] [--fps N] [--step SECONDS] [--steps N] [--no-real-time]\n"
    "       fxinspect --help\n"
    "\n"
    "Loads FILE (a GIF, an animated WebP or a still picture) through the module's image holder\n"
    "and reports what it shows and what it costs: canvas, frames and delays, loop behaviour,\n"
    "memory, load and first-pass times, and frames dropped at a host frame rate, with warnings\n"
    "where the effect will surprise its author.\n"
    "\n"
    "  --json            the report as one JSON object\n"
    "  --fps N           the host's frame rate for the dropped frames (default 60)\n"
    "  --step SECONDS    after the report, play a fresh load in steps of SECONDS and list the\n"
    "                    frame shown after each, with the SHA-256 of the texture's pixels\n"
    "  --steps N         that many steps (default 1 with --step; without --step, N steps each\n"
    "                    just long enough to reach the next frame)\n"
    "  --no-real-time    skip playing one pass in wall time with the background load (up to\n"
    "                    10 s): its late frames are then not measured\n"
    "\n"
    "Exit status: 0 when the module shows the file, 1 when it shows its placeholder instead,\n"
    "2 for a bad command line.\n";

}  // namespace

int main(int argc, char** argv) {
    fxinspect::Options o;
    double step = -1.0;
    cli::CommandLine line(" (fxinspect --help lists them)");
    line.Flag("--json", o.json)
        .Flag("--no-real-time", o.realTime, false)
        .Decimal("--fps", 0, kMaxFps, "frames per second above 0 and at most 1000", o.fps, true)
        .Decimal("--step", 0, 3600, "seconds from 0 to 3600", step)
        .Whole("--steps", 0, kMaxSteps, o.steps)
        .Positional([&](const std::string& file) {
            if (!o.file.empty())
                return "one effect file at a time: '" + o.file + "' and '" + file + "' given";
            o.file = file;
            return std::string();
        });
    int status = 0;
    if (!line.Parse(cli::Arguments(argc, argv), "fxinspect", kUsage, status))
        return status;
    o.hasStep = step >= 0.0;
    o.step = static_cast<float>(step);
    if (o.file.empty()) {
        std::fputs("fxinspect: no effect file given (fxinspect --help shows the usage)\n", stderr);
        return kUsageError;
    }
    standin::Install();
    // The module's log lines are part of the report.
    standin::SetLogEcho(false);
    const fxinspect::Inspection inspection = fxinspect::Inspect(o);
    const std::string report =
        o.json ? fxinspect::JsonReport(inspection) + "\n" : fxinspect::TextReport(inspection);
    std::fputs(report.c_str(), stdout);
    return inspection.Shows() ? 0 : 1;
}
