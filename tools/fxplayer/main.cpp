// fxplayer: the effect module in a stand-in host, driven by a script of the console's side.
// See --help, and docs/fxplayer.md for the script format.
#include <cstdio>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Options.h"
#include "Player.h"

int main(int argc, char** argv) {
    fxplayer::Options options;
    std::string error;
    if (!fxplayer::ParseOptions(cli::Utf8Arguments(argc, argv), options, error)) {
        std::fprintf(stderr, "fxplayer: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(fxplayer::UsageText(), stdout);
        return 0;
    }
    fxplayer::RunPlan plan;
    if (!fxplayer::PlanRun(options, plan, error)) {
        std::fprintf(stderr, "fxplayer: %s\n", error.c_str());
        return 1;
    }
    return fxplayer::Run(plan);
}
