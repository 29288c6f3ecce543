#pragma once

// The player's command line.
#include <string>
#include <utility>
#include <vector>

#include "SourceSettings.h"

namespace fxplayer {

struct Options {
    std::string module;  // empty: VantrelEffect beside the player
    std::string script;  // empty: no console side, the source just runs
    std::string out = "out/fxplayer";
    std::string background;  // empty: the generated test pattern
    std::string config;      // empty: a fresh configuration tree each run
    double seconds = 0.0;    // 0: until a second after the script's last event (at least 5 s)
    int fps = 60;
    int every = 15;
    unsigned canvasWidth = 1920;
    unsigned canvasHeight = 1080;
    std::vector<Setting> settings;  // --set KEY=VALUE, in order, for every source
    int sources = 0;                // 0: as many as the script names, at least 1
    std::string video;              // empty: no video preview
    unsigned videoWidth = 0;        // 0: the canvas's size
    unsigned videoHeight = 0;
    // Frames at the run's rate in wall time, so that a load in the background takes as many frames
    // as on a host; otherwise the player lets such a load finish before the next frame.
    bool realtime = false;
    bool help = false;
};

// False with `error` (one line) for an unknown option, a missing or bad value. --help anywhere
// sets `help` and makes the rest not matter.
bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

// The text of --help.
const char* UsageText();

}  // namespace fxplayer
