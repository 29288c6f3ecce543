#include "Files.h"

#include <system_error>

namespace fxplayer {

namespace fs = std::filesystem;

fs::path PathFromUtf8(const std::string& text) {
#if defined(_WIN32)
    return fs::u8path(text);
#else
    return fs::path(text);
#endif
}

std::string PathToUtf8(const fs::path& path) {
#if defined(_WIN32)
    return path.u8string();
#else
    return path.string();
#endif
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
#if defined(_WIN32)
    const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(PathFromUtf8(path).c_str(), wideMode.c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

std::string AbsoluteAgainst(const std::string& path, const std::string& base) {
    bool drive = path.size() >= 2 && path[1] == ':' &&
                 ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    if (path.empty() || drive || path[0] == '/' || path[0] == '\\')
        return path;
    fs::path resolved = PathFromUtf8(base) / PathFromUtf8(path);
    std::error_code ec;
    fs::path absolute = fs::absolute(resolved, ec);
    return PathToUtf8((ec ? resolved : absolute).lexically_normal());
}

bool CopyFileAtomically(const std::string& from, const std::string& to, std::string& error) {
    fs::path target = PathFromUtf8(to);
    fs::path temporary = target;
    temporary += ".fxplayer-new";
    std::error_code ec;
    fs::copy_file(PathFromUtf8(from), temporary, fs::copy_options::overwrite_existing, ec);
    if (!ec)
        fs::rename(temporary, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        error = "cannot write " + to + ": " + ec.message();
        return false;
    }
    return true;
}

}  // namespace fxplayer
