// Paths and whole-file access. Paths inside the stand-in are UTF-8 with "/" separators; on Windows
// they reach the system through the wide path.
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>

#include "standin/Internal.h"
#include "standin/Standin.h"

namespace fs = std::filesystem;

namespace {

struct PathState {
    std::mutex mutex;
    std::string baseDirectory;  // empty: the current directory
};

PathState& State() {
    static PathState* state = new PathState;  // leaked: used until the process ends
    return *state;
}

fs::path SystemPath(const std::string& utf8) {
    return fs::u8path(utf8);
}

bool IsAbsolute(const std::string& path) {
    if (!path.empty() && path[0] == '/')
        return true;
    // A drive letter: "C:" (absolute enough for our purposes on either system).
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

}  // namespace

namespace standin {

void SetBaseDirectory(const std::string& directory) {
    std::string cleaned = directory;
    for (char& c : cleaned)
        if (c == '\\')
            c = '/';
    while (cleaned.size() > 1 && cleaned.back() == '/')
        cleaned.pop_back();
    std::lock_guard<std::mutex> lock(State().mutex);
    State().baseDirectory = cleaned;
}

std::string ResolvePath(const wchar_t* path) {
    if (!path || !*path)
        return std::string();
    std::string text = ToUtf8(path);
    for (char& c : text)
        if (c == '\\')
            c = '/';
    if (IsAbsolute(text))
        return text;
    std::lock_guard<std::mutex> lock(State().mutex);
    const std::string& base = State().baseDirectory;
    if (base.empty())
        return text;
    if (base.back() == '/')
        return base + text;
    return base + "/" + text;
}

namespace detail {

FILE* OpenFile(const std::string& path, const char* mode) {
    if (path.empty() || !mode)
        return nullptr;
#ifdef _WIN32
    std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(SystemPath(path).c_str(), wideMode.c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

bool ReadWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>& bytes) {
    bytes.clear();
    FileStamp stamp = StampOf(path);
    if (!stamp.isRegular || stamp.size > limit)
        return false;
    FILE* file = OpenFile(path, "rb");
    if (!file)
        return false;
    bool ok = true;
    try {
        bytes.resize(static_cast<size_t>(stamp.size));
        size_t got = bytes.empty() ? 0 : std::fread(bytes.data(), 1, bytes.size(), file);
        bytes.resize(got);
        ok = std::ferror(file) == 0;
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    std::fclose(file);
    if (!ok)
        bytes.clear();
    return ok;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t size) {
    if (path.empty())
        return false;
    std::string temporary = path + ".tmp";
    FILE* file = OpenFile(temporary, "wb");
    if (!file)
        return false;
    bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
    ok = std::fclose(file) == 0 && ok;
    std::error_code error;
    if (ok)
        fs::rename(SystemPath(temporary), SystemPath(path), error);
    if (!ok || error) {
        fs::remove(SystemPath(temporary), error);
        return false;
    }
    return true;
}

FileStamp StampOf(const std::string& path) {
    FileStamp stamp;
    if (path.empty())
        return stamp;
    std::error_code error;
    fs::path systemPath = SystemPath(path);
    fs::file_status status = fs::status(systemPath, error);
    if (error || !fs::exists(status))
        return stamp;
    stamp.exists = true;
    stamp.isRegular = fs::is_regular_file(status);
    if (stamp.isRegular) {
        uintmax_t size = fs::file_size(systemPath, error);
        if (!error)
            stamp.size = size;
    }
    auto modified = fs::last_write_time(systemPath, error);
    if (!error)
        stamp.modified = static_cast<int64_t>(modified.time_since_epoch().count());
    return stamp;
}

}  // namespace detail

}  // namespace standin
