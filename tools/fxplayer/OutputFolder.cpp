#include "OutputFolder.h"

#include <filesystem>
#include <system_error>

#include "Files.h"

#if defined(_WIN32)
#include <process.h>
#define FXPLAYER_GETPID _getpid
#else
#include <unistd.h>
#define FXPLAYER_GETPID getpid
#endif

namespace fxplayer {

namespace fs = std::filesystem;

namespace {
// What an earlier run of the player leaves in its folder.
bool LooksLikeOurOutput(const fs::path& folder) {
    std::error_code ec;
    if (fs::is_empty(folder, ec) && !ec)
        return true;
    return fs::is_regular_file(folder / "transcript.txt", ec) &&
           fs::is_regular_file(folder / "contact.png", ec);
}

// A hidden sibling of `target` named for this process.
fs::path Sibling(const fs::path& target, const char* what) {
    fs::path name = target.filename();
    return target.parent_path() /
           ("." + PathToUtf8(name) + "." + what + "-" + std::to_string(FXPLAYER_GETPID()));
}
}  // namespace

OutputFolder::~OutputFolder() {
    if (!committed_)
        Discard();
}

bool OutputFolder::Prepare(const std::string& target, std::string& error) {
    std::error_code ec;
    fs::path folder = fs::absolute(PathFromUtf8(target), ec).lexically_normal();
    if (ec) {
        error = "cannot use the output folder " + target + ": " + ec.message();
        return false;
    }
    // "out/demo/" names the folder demo, not an empty last part.
    if (folder.filename().empty())
        folder = folder.parent_path();
    if (fs::exists(folder, ec)) {
        if (!fs::is_directory(folder, ec)) {
            error = "the output folder " + target + " is a file";
            return false;
        }
        if (!LooksLikeOurOutput(folder)) {
            error = "refusing to replace " + target +
                    ": it is not empty and not an earlier output of fxplayer";
            return false;
        }
    }
    fs::create_directories(folder.parent_path(), ec);
    fs::path working = Sibling(folder, "partial");
    fs::remove_all(working, ec);
    fs::create_directories(working / "frames", ec);
    if (ec) {
        error = "cannot make a folder beside " + target + ": " + ec.message();
        return false;
    }
    target_ = PathToUtf8(folder);
    working_ = PathToUtf8(working);
    committed_ = false;
    return true;
}

std::string OutputFolder::Path(const std::string& name) const {
    return PathToUtf8(PathFromUtf8(working_) / PathFromUtf8(name));
}

bool OutputFolder::Commit(std::string& error) {
    fs::path target = PathFromUtf8(target_);
    fs::path working = PathFromUtf8(working_);
    fs::path old = Sibling(target, "old");
    std::error_code ec;
    bool hadTarget = fs::exists(target, ec);
    if (hadTarget) {
        fs::remove_all(old, ec);
        fs::rename(target, old, ec);
        if (ec) {
            error = "cannot move the earlier " + target_ + " aside: " + ec.message();
            return false;
        }
    }
    fs::rename(working, target, ec);
    if (ec) {
        std::error_code ignored;
        if (hadTarget)
            fs::rename(old, target, ignored);
        error = "cannot put the output in place at " + target_ + ": " + ec.message();
        return false;
    }
    committed_ = true;
    if (hadTarget)
        fs::remove_all(old, ec);
    return true;
}

void OutputFolder::Discard() {
    if (working_.empty())
        return;
    std::error_code ec;
    fs::remove_all(PathFromUtf8(working_), ec);
    working_.clear();
}

}  // namespace fxplayer
