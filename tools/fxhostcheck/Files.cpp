#include "Files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "hostfit/Text.h"

namespace fxhostcheck {

namespace fs = std::filesystem;

Path PathFromArgument(const std::string& text) {
#if defined(_WIN32)
    return fs::u8path(text);
#else
    return Path(text);
#endif
}

std::string Show(const Path& path) {
#if defined(_WIN32)
    // UTF-16 that may hold lone surrogates, which no UTF-8 can carry: those as \uXXXX.
    const std::wstring& w = path.native();
    std::string out;
    for (size_t i = 0; i < w.size(); ++i) {
        const uint32_t c = static_cast<uint16_t>(w[i]);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < w.size() && w[i + 1] >= 0xDC00 &&
            w[i + 1] < 0xE000) {
            hostfit::AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (w[i + 1] - 0xDC00));
            ++i;
        } else if ((c >= 0xD800 && c < 0xE000) || c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
            out += escaped;
        } else {
            hostfit::AppendUtf8(out, c);
        }
    }
    return out;
#else
    return hostfit::Printable(path.native());
#endif
}

std::string FileNameText(const Path& path) {
#if defined(_WIN32)
    return Show(path.filename());
#else
    return path.filename().native();
#endif
}

bool ListFolder(const Path& folder, std::vector<Entry>& entries, std::string& error) {
    entries.clear();
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        error = ec.message();
        return false;
    }
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec)
            break;
        std::error_code kind;
        entries.push_back(Entry{it->path(), it->is_directory(kind)});
    }
    if (ec) {
        error = ec.message();
        return false;
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.path < b.path; });
    return true;
}

bool ReadWhole(const Path& file, std::vector<unsigned char>& bytes, std::string& error,
               size_t limit) {
    bytes.clear();
#if defined(_WIN32)
    FILE* f = _wfopen(file.c_str(), L"rb");
#else
    FILE* f = std::fopen(file.c_str(), "rb");
#endif
    if (!f) {
        error = std::strerror(errno);
        return false;
    }
    unsigned char chunk[1 << 16];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        if (bytes.size() + got > limit) {
            std::fclose(f);
            error = "larger than " + std::to_string(limit >> 20) + " MB";
            return false;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed)
        error = "a read failed";
    return !failed;
}

bool SameFile(const Path& a, const Path& b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

}  // namespace fxhostcheck
