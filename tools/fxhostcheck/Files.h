#pragma once

// The files fxhostcheck reads, by any name the system allows: folders listed, files read whole,
// names printed whatever their bytes.
#include <filesystem>
#include <string>
#include <vector>

namespace fxhostcheck {

using Path = std::filesystem::path;

// A path from the command line (UTF-8 on Windows, the bytes as given elsewhere).
Path PathFromArgument(const std::string& text);
// A path as the report prints it: UTF-8, with every byte or unit that is not text escaped.
std::string Show(const Path& path);
// The file name alone, as text the loader would compare (UTF-8 on Windows).
std::string FileNameText(const Path& path);

struct Entry {
    Path path;
    bool folder = false;
};
// A folder's entries sorted by name; false with `error` when it cannot be listed.
bool ListFolder(const Path& folder, std::vector<Entry>& entries, std::string& error);
// A file's bytes, up to `limit`; false with `error` when it cannot be read or is larger.
bool ReadWhole(const Path& file, std::vector<unsigned char>& bytes, std::string& error,
               size_t limit);
bool SameFile(const Path& a, const Path& b);

}  // namespace fxhostcheck
