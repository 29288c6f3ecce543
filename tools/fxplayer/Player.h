#pragma once

// One run of the player: the host's side (module, configuration, scene, frames, canvas) and the
// console's side (the script) in step, with everything written into the output folder.
#include <string>

#include "Options.h"
#include "Pictures.h"
#include "Script.h"

namespace fxplayer {

// What a run needs, checked and read before anything is written.
struct RunPlan {
    Options options;
    Script script;
    std::string scriptDirectory;  // relative effect paths in commands are taken from here
    std::string modulePath;
    std::string playerDirectory;
    Image background;  // canvas-sized
    long long frameCount = 0;
    int sources = 1;          // effect sources in the scene
    bool loadConfig = false;  // options.config names an existing file
};

// Checks the options and reads the script and background. False with a one-line `error`.
bool PlanRun(const Options& options, RunPlan& plan, std::string& error);

// Runs the plan and writes the output folder. Returns the process's exit code; on failure the one
// line on standard error has been written and the output folder is as it was. Interrupted by
// SIGINT or SIGTERM, it cleans up and ends the process as the signal would.
int Run(const RunPlan& plan);

}  // namespace fxplayer
