#pragma once

// Paths as the player handles them: UTF-8 text on the command line and in scripts, converted at
// the file system's edge (on Windows its paths are wide).
#include <cstdio>
#include <filesystem>
#include <string>

namespace fxplayer {

std::filesystem::path PathFromUtf8(const std::string& text);
std::string PathToUtf8(const std::filesystem::path& path);

// std::fopen for a UTF-8 path: on Windows a narrow path would be read in the system's code page,
// and a folder named in any other script could not be written to.
std::FILE* OpenFile(const std::string& path, const char* mode);

// `path` made absolute against `base` when it is relative. Drive-letter paths (D:/fx/a.gif)
// count as absolute everywhere: they are the console's, whatever system plays them.
std::string AbsoluteAgainst(const std::string& path, const std::string& base);

// Copies `from` over `to` through a temporary file beside `to`, so that `to` is never half written.
bool CopyFileAtomically(const std::string& from, const std::string& to, std::string& error);

}  // namespace fxplayer
