// Everything a run needs, checked and read before anything is written: the script, the module's
// file, the background and the configuration file.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>
#include <system_error>

#include "ConsoleSide.h"
#include "Files.h"
#include "ModuleLoader.h"
#include "Pictures.h"
#include "Player.h"
#include "VideoWriter.h"
#include "standin/Standin.h"

namespace fxplayer {

namespace fs = std::filesystem;

namespace {

bool ReadBackground(const Options& options, Image& canvas, std::string& error) {
    if (options.background.empty()) {
        canvas = MakeTestPattern(options.canvasWidth, options.canvasHeight);
        return true;
    }
    Image picture;
    if (!standin::ReadImage(options.background, picture.width, picture.height, picture.rgba) ||
        picture.width == 0 || picture.height == 0 ||
        picture.rgba.size() != static_cast<size_t>(picture.width) * picture.height * 4) {
        error = "cannot read the background " + options.background;
        return false;
    }
    canvas = picture.width == options.canvasWidth && picture.height == options.canvasHeight
                 ? std::move(picture)
                 : Scaled(picture, options.canvasWidth, options.canvasHeight);
    // The picture under the effect is opaque, whatever the file's alpha.
    for (size_t i = 3; i < canvas.rgba.size(); i += 4)
        canvas.rgba[i] = 255;
    return true;
}

// A configuration file given with --config must load now, before anything is written.
bool CheckConfig(const std::string& path, bool& exists, std::string& error) {
    std::error_code ec;
    fs::path file = PathFromUtf8(path);
    exists = fs::exists(file, ec);
    if (!exists) {
        fs::path folder = fs::absolute(file, ec).parent_path();
        if (!fs::is_directory(folder, ec)) {
            error = "cannot keep the configuration in " + path + ": its folder does not exist";
            return false;
        }
        return true;
    }
    standin::ConfigElement* trial = standin::NewConfigRoot(L"fxplayer");
    standin::ClearLog();
    bool loaded = standin::LoadConfig(standin::AsXElement(trial), path);
    standin::DeleteConfigRoot(trial);
    if (!loaded) {
        std::vector<standin::LogRecord> records = standin::LogRecords();
        error = "cannot read the configuration " + path;
        if (!records.empty())
            error += ": " + standin::ToUtf8(records.back().text);
        while (!error.empty() && (error.back() == '\n' || error.back() == '\r'))
            error.pop_back();
        return false;
    }
    return true;
}

// The files that replace others must be there to read, and a touched file must exist by then.
bool CheckFileChanges(const Script& script, const std::string& folder, std::string& error) {
    std::set<std::string> made;
    for (const ScriptEvent& event : script.events) {
        if (event.kind != EventKind::Replace && event.kind != EventKind::Touch)
            continue;
        std::string where = "script line " + std::to_string(event.line) + ": ";
        std::error_code ec;
        fs::path file = PathFromUtf8(AbsoluteAgainst(event.text, folder));
        if (fs::is_directory(file, ec)) {
            error = where + event.text + " is a folder";
            return false;
        }
        if (event.kind == EventKind::Replace) {
            if (!fs::is_regular_file(PathFromUtf8(AbsoluteAgainst(event.other, folder)), ec)) {
                error = where + "cannot find " + event.other;
                return false;
            }
            if (!fs::is_directory(file.parent_path(), ec)) {
                error = where + "the folder of " + event.text + " does not exist";
                return false;
            }
            made.insert(PathToUtf8(file));
        } else if (!fs::is_regular_file(file, ec) && !made.count(PathToUtf8(file))) {
            error = where + "cannot find " + event.text + " to touch";
            return false;
        }
    }
    return true;
}

}  // namespace

bool PlanRun(const Options& options, RunPlan& plan, std::string& error) {
    // The host's log goes to the transcript, never to the terminal.
    standin::SetLogEcho(false);
    plan.options = options;
    plan.playerDirectory = ExecutableDirectory();
    std::error_code ec;
    if (!options.script.empty()) {
        if (!LoadScript(options.script, plan.script, error))
            return false;
        plan.scriptDirectory =
            PathToUtf8(fs::absolute(PathFromUtf8(options.script), ec).parent_path());
    } else {
        plan.scriptDirectory = PathToUtf8(fs::current_path(ec));
    }

    double seconds = options.seconds;
    if (seconds <= 0.0) {
        double last = plan.script.events.empty() ? 0.0 : plan.script.events.back().seconds;
        seconds = std::min<double>(kMaxRunSeconds, std::max(5.0, last + 1.0));
    }
    plan.frameCount = std::max(1LL, std::llround(seconds * options.fps));

    plan.sources = options.sources > 0 ? options.sources : plan.script.sources;
    if (plan.script.sources > plan.sources) {
        error = "the script names source " + std::to_string(plan.script.sources) +
                ", but --sources is " + std::to_string(plan.sources);
        return false;
    }
    if (!CheckFileChanges(plan.script, plan.scriptDirectory, error))
        return false;

    plan.modulePath = options.module.empty()
                          ? PathToUtf8(PathFromUtf8(plan.playerDirectory) / DefaultModuleName())
                          : options.module;
    if (!fs::is_regular_file(PathFromUtf8(plan.modulePath), ec)) {
        error = "cannot find the module " + plan.modulePath;
        return false;
    }
    for (const ScriptEvent& event : plan.script.events) {
        if (event.kind == EventKind::Console && !ConsoleAvailable(plan.playerDirectory, error))
            return false;
    }
    if (!CheckVideoOptions(options, error))
        return false;
    if (!ReadBackground(options, plan.background, error))
        return false;
    if (!options.config.empty() && !CheckConfig(options.config, plan.loadConfig, error))
        return false;
    return true;
}

}  // namespace fxplayer
