#include "OutputFolder.h"

#include <filesystem>
#include <system_error>

#include "Files.h"

#if defined(_WIN32)
#include <process.h>
#include <windows.h>
#define FXPLAYER_GETPID _getpid
#else
#include <signal.h>
#include <unistd.h>

#include <cerrno>
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

bool ProcessAlive(long long pid) {
#if defined(_WIN32)
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process)
        return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    bool alive = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return alive;
#else
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
#endif
}

// The process id in the name of a working or set-aside folder of `target`'s (".NAME.partial-PID",
// ".NAME.old-PID"), or 0 when `name` is no such folder.
long long LeftoverOwner(const std::string& name, const std::string& target) {
    for (const char* what : {".partial-", ".old-"}) {
        std::string prefix = "." + target + what;
        if (name.compare(0, prefix.size(), prefix) != 0 || name.size() == prefix.size() ||
            name.size() - prefix.size() > 10)
            continue;
        long long pid = 0;
        for (size_t i = prefix.size(); i < name.size(); ++i) {
            if (name[i] < '0' || name[i] > '9')
                return 0;
            pid = pid * 10 + (name[i] - '0');
        }
        return pid;
    }
    return 0;
}

// What runs that died before they could clean up (killed, or the machine went down) left beside
// `target`. A folder whose process still runs is another run's, and stays.
void RemoveDeadLeftovers(const fs::path& target) {
    std::error_code ec;
    const std::string name = PathToUtf8(target.filename());
    const long long self = FXPLAYER_GETPID();
    for (fs::directory_iterator it(target.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        long long pid = LeftoverOwner(PathToUtf8(it->path().filename()), name);
        if (pid <= 0 || pid == self || ProcessAlive(pid))
            continue;
        std::error_code ignored;
        fs::remove_all(it->path(), ignored);
    }
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
    RemoveDeadLeftovers(folder);
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
