// fxinspect: what the module makes of one effect file, and what it costs on the host's render
// thread. Loads the file through the module's own image holder on the stand-in host and reports
// the canvas, frames, delays and loop behaviour as the module plays them, the memory it holds, the
// measured load and first-pass times and what they mean at a host frame rate, and warnings where
// the effect will surprise its author. Text by default, JSON with --json.
//
// Exit status: 0 when the module shows the file, 1 when it shows its placeholder instead (missing
// file, folder, unreadable or corrupt file), 2 for a bad command line.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Inspection.h"
#include "Report.h"
#include "standin/Standin.h"

namespace {

constexpr int kUsageError = 2;
constexpr double kMaxFps = 1000.0;
constexpr long kMaxSteps = 1000000;

const char kUsage[] =
    "usage: fxinspect FILE [--json] [--fps N] [--step SECONDS] [--steps N] [--no-real-time]\n"
    "       fxinspect --help\n"
    "\n"
    "Loads FILE through the module's image holder and reports what it shows and what it costs:\n"
    "canvas, frames and delays, loop behaviour, memory, load and first-pass times, and frames\n"
    "dropped at a host frame rate, with warnings where the effect will surprise its author.\n"
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

struct Parsed {
    fxinspect::Options options;
    bool help = false;
    std::string error;  // one line, without the program's name
};

bool ReadFloat(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == 0 && std::isfinite(value);
}

Parsed Parse(int argc, char** argv) {
    Parsed p;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        const bool isOption = !optionsEnded && arg.size() > 1 && arg[0] == '-';
        if (isOption && arg == "--") {
            optionsEnded = true;
        } else if (isOption && (arg == "--help" || arg == "-h")) {
            p.help = true;
        } else if (isOption && arg == "--json") {
            p.options.json = true;
        } else if (isOption && arg == "--no-real-time") {
            p.options.realTime = false;
        } else if (isOption && (arg == "--fps" || arg == "--step" || arg == "--steps")) {
            if (!value) {
                p.error = arg + " needs a value";
                return p;
            }
            ++i;
            double number = 0.0;
            const bool isNumber = ReadFloat(value, number);
            if (arg == "--fps") {
                if (!isNumber || number <= 0.0 || number > kMaxFps) {
                    p.error = "--fps takes frames per second above 0 and at most 1000, not '" +
                              std::string(value) + "'";
                    return p;
                }
                p.options.fps = number;
            } else if (arg == "--step") {
                if (!isNumber || number < 0.0 || number > 3600.0) {
                    p.error =
                        "--step takes seconds from 0 to 3600, not '" + std::string(value) + "'";
                    return p;
                }
                p.options.hasStep = true;
                p.options.step = static_cast<float>(number);
            } else {
                if (!isNumber || number < 0.0 || number > kMaxSteps ||
                    number != std::floor(number)) {
                    p.error = "--steps takes a whole number from 0 to 1000000, not '" +
                              std::string(value) + "'";
                    return p;
                }
                p.options.steps = static_cast<long>(number);
            }
        } else if (isOption) {
            p.error = "unknown option '" + arg + "' (fxinspect --help lists them)";
            return p;
        } else if (p.options.file.empty()) {
            p.options.file = arg;
        } else {
            p.error = "one effect file at a time: '" + p.options.file + "' and '" + arg + "' given";
            return p;
        }
    }
    if (!p.help && p.options.file.empty())
        p.error = "no effect file given (fxinspect --help shows the usage)";
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    const Parsed parsed = Parse(argc, argv);
    if (parsed.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "fxinspect: %s\n", parsed.error.c_str());
        return kUsageError;
    }
    standin::Install();
    // The module's log lines are part of the report.
    standin::SetLogEcho(false);
    const fxinspect::Inspection inspection = fxinspect::Inspect(parsed.options);
    const std::string report = parsed.options.json ? fxinspect::JsonReport(inspection) + "\n"
                                                   : fxinspect::TextReport(inspection);
    std::fputs(report.c_str(), stdout);
    return inspection.Shows() ? 0 : 1;
}
