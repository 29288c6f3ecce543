#include "Options.h"

#include "CommandLine.h"
#include "Script.h"

namespace fxplayer {

namespace {

const char kUsage[] =
    "usage: fxplayer [--script FILE] [--out DIR] [--seconds S] [--fps N] [--every N]\n"
    "                [--canvas WxH] [--background FILE] [--set KEY=VALUE]... [--sources N]\n"
    "                [--config FILE] [--video FILE.mp4 [--video-size WxH]] [--realtime]\n"
    "                [--module PATH]\n"
    "       fxplayer --help\n"
    "Runs the effect module in a stand-in host: effect sources in a scene, frames at a fixed\n"
    "rate, the console's side and what the streamer does played from a script. Writes\n"
    "frames/NNNNN.png, contact.png, transcript.txt, config.json, frametimes.csv and\n"
    "frametimes.png (the module's time on each frame) into the output folder.\n"
    "Every option is optional.\n"
    "\n"
    "  --script FILE       timed events, one '<seconds> <event>' line each: command TEXT,\n"
    "                      output on|off, scene begin|end, console on|off|kill, set KEY=VALUE,\n"
    "                      item X Y W H, replace FILE with OTHER, touch FILE, delete FILE,\n"
    "                      write FILE garbage, write FILE truncate N; 'source N' before set or\n"
    "                      item addresses source N (see docs/fxplayer.md)\n"
    "  --out DIR           output folder (default out/fxplayer), replaced as a whole\n"
    "  --seconds S         how long to run, up to 3600 (default: 1 s past the script's last\n"
    "                      event, at least 5)\n"
    "  --fps N             frames per second, 1 to 240 (default 60)\n"
    "  --every N           keep every N-th frame as a PNG (default 15)\n"
    "  --canvas WxH        canvas size (default 1920x1080)\n"
    "  --background FILE   picture under the effect, stretched to the canvas (default: a\n"
    "                      generated test pattern)\n"
    "  --set KEY=VALUE     a source setting, for every source (repeatable): path, monitor 0|1,\n"
    "                      opacity 0-100, color and keyColor 0xAARRGGBB, useColorKey 0|1,\n"
    "                      keySimilarity and keyBlend 0-200, backgroundLoad 0|1, frameCacheMB\n"
    "                      (MiB); cx, cy, orix, oriy go to the item\n"
    "  --sources N         effect sources in the scene, 1 to 8 (default: as many as the script\n"
    "                      names, at least 1)\n"
    "  --config FILE       keep the configuration tree (settings, identifiers) in FILE across\n"
    "                      runs\n"
    "  --video FILE.mp4    also write every frame as H.264 video at the run's rate\n"
    "  --video-size WxH    the video's size, even numbers (default: the canvas's)\n"
    "  --realtime          pace frames at the run's rate in wall time, so that an effect loading\n"
    "                      in the background (backgroundLoad=1) takes as many frames as on a\n"
    "                      host; such runs do not repeat exactly. Without it the player lets a\n"
    "                      load finish before the next frame\n"
    "  --module PATH       the module to load (default: VantrelEffect beside fxplayer)\n"
    "  --help              this text\n";

// The canvas the stand-in composites is held in memory whole; past 8K it is not a canvas.
constexpr long long kMaxCanvasSide = 8192;

}  // namespace

const char* UsageText() {
    return kUsage;
}

bool ParseOptions(const std::vector<std::string>& args, Options& o, std::string& error) {
    cli::CommandLine line(" (see --help)");
    line.Text("--module", o.module)
        .Text("--script", o.script)
        .Text("--out", o.out)
        .Text("--background", o.background)
        .Text("--config", o.config)
        .Text("--video", o.video)
        .Flag("--realtime", o.realtime)
        .Decimal("--seconds", 0, kMaxRunSeconds,
                 "a time from above 0 to " + std::to_string(kMaxRunSeconds), o.seconds, true)
        .Whole("--fps", 1, 240, o.fps)
        .Whole("--every", 1, 1000000, o.every, "a whole number of frames from 1")
        .Whole("--sources", 1, kMaxSources, o.sources)
        .Option("--canvas",
                [&](const std::string& text) {
                    return cli::ReadSize(text, kMaxCanvasSide, o.canvasWidth, o.canvasHeight)
                               ? std::string()
                               : cli::Refusal("--canvas", "WIDTHxHEIGHT, each 1 to 8192", text);
                })
        .Option("--video-size",
                [&](const std::string& text) {
                    // The video's colours are stored at half size across and down.
                    unsigned &w = o.videoWidth, &h = o.videoHeight;
                    return cli::ReadSize(text, kMaxCanvasSide, w, h) && w % 2 == 0 && h % 2 == 0
                               ? std::string()
                               : cli::Refusal("--video-size",
                                              "WIDTHxHEIGHT, each an even number from 2 to 8192",
                                              text);
                })
        .Option("--set", [&](const std::string& text) {
            Setting setting;
            std::string why;
            if (!ParseSetting(text, setting, why))
                return "--set: " + why;
            o.settings.push_back(setting);
            return std::string();
        });
    const cli::Outcome outcome = line.Parse(args, error);
    o.help = outcome == cli::Outcome::Help;
    if (outcome != cli::Outcome::Run)
        return o.help;
    if (o.videoWidth != 0 && o.video.empty()) {
        error = "--video-size needs --video";
        return false;
    }
    return true;
}

}  // namespace fxplayer
