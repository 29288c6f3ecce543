#include "Options.h"

#include "Numbers.h"
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
    "                      output on|off, scene begin|end, console on|off, set KEY=VALUE,\n"
    "                      item X Y W H, replace FILE with OTHER, touch FILE; 'source N' before\n"
    "                      set or item addresses source N (see docs/fxplayer.md)\n"
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

bool ParseCanvas(const std::string& text, unsigned& width, unsigned& height) {
    size_t x = text.find('x');
    if (x == std::string::npos)
        return false;
    long long w = 0, h = 0;
    if (!ParseWholeNumber(text.substr(0, x), 1, kMaxCanvasSide, w) ||
        !ParseWholeNumber(text.substr(x + 1), 1, kMaxCanvasSide, h))
        return false;
    // A leading sign is not part of a size.
    if (text[0] == '+' || text[x + 1] == '+')
        return false;
    width = static_cast<unsigned>(w);
    height = static_cast<unsigned>(h);
    return true;
}

}  // namespace

const char* UsageText() {
    return kUsage;
}

bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error) {
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            return true;
        }
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--realtime") {
            options.realtime = true;
            continue;
        }
        static const char* const kTakesValue[] = {
            "--module", "--script", "--out", "--background", "--config", "--seconds",   "--fps",
            "--every",  "--canvas", "--set", "--sources",    "--video",  "--video-size"};
        bool known = false;
        for (const char* option : kTakesValue)
            known = known || name == option;
        if (!known) {
            error = "unknown option '" + name + "' (see --help)";
            return false;
        }
        if (i + 1 >= args.size()) {
            error = name + " needs a value";
            return false;
        }
        const std::string& value = args[++i];
        long long number = 0;
        bool isPath = name == "--module" || name == "--script" || name == "--out" ||
                      name == "--background" || name == "--config" || name == "--video";
        if (isPath && value.empty()) {
            error = name + " needs a non-empty value";
            return false;
        }
        if (name == "--module") {
            options.module = value;
        } else if (name == "--script") {
            options.script = value;
        } else if (name == "--out") {
            options.out = value;
        } else if (name == "--background") {
            options.background = value;
        } else if (name == "--config") {
            options.config = value;
        } else if (name == "--seconds") {
            if (!ParseSeconds(value, kMaxRunSeconds, options.seconds) || options.seconds <= 0.0) {
                error = "--seconds takes a time from above 0 to " + std::to_string(kMaxRunSeconds) +
                        ", not '" + value + "'";
                return false;
            }
        } else if (name == "--fps") {
            if (!ParseWholeNumber(value, 1, 240, number) || value[0] == '+') {
                error = "--fps takes a whole number from 1 to 240, not '" + value + "'";
                return false;
            }
            options.fps = static_cast<int>(number);
        } else if (name == "--every") {
            if (!ParseWholeNumber(value, 1, 1000000, number) || value[0] == '+') {
                error = "--every takes a whole number of frames from 1, not '" + value + "'";
                return false;
            }
            options.every = static_cast<int>(number);
        } else if (name == "--canvas") {
            if (!ParseCanvas(value, options.canvasWidth, options.canvasHeight)) {
                error = "--canvas takes WIDTHxHEIGHT, each 1 to 8192, not '" + value + "'";
                return false;
            }
        } else if (name == "--video") {
            options.video = value;
        } else if (name == "--video-size") {
            // The video's colours are stored at half size across and down.
            if (!ParseCanvas(value, options.videoWidth, options.videoHeight) ||
                options.videoWidth % 2 != 0 || options.videoHeight % 2 != 0) {
                error =
                    "--video-size takes WIDTHxHEIGHT, each an even number from 2 to 8192, "
                    "not '" +
                    value + "'";
                return false;
            }
        } else if (name == "--set") {
            Setting setting;
            if (!ParseSetting(value, setting, error)) {
                error = "--set: " + error;
                return false;
            }
            options.settings.push_back(setting);
        } else if (name == "--sources") {
            if (!ParseWholeNumber(value, 1, kMaxSources, number) || value[0] == '+') {
                error = "--sources takes a whole number from 1 to " + std::to_string(kMaxSources) +
                        ", not '" + value + "'";
                return false;
            }
            options.sources = static_cast<int>(number);
        }
    }
    if (options.videoWidth != 0 && options.video.empty() && !options.help) {
        error = "--video-size needs --video";
        return false;
    }
    return true;
}

}  // namespace fxplayer
