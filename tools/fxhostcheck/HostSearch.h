#pragma once

// The host's API library: the file HOST names, or the one chosen among the DLLs of HOST and its
// direct subfolders by the rules the module uses among the libraries loaded with it.
#include <memory>
#include <string>
#include <vector>

#include "Files.h"
#include "hostfit/HostExports.h"
#include "hostfit/ImageReader.h"
#include "hostfit/ModuleNeeds.h"
#include "hostfit/PeImage.h"

namespace fxhostcheck {

// A library read from disk, kept whole: its image reads its bytes.
struct LibraryFile {
    Path path;
    std::string fileName;  // the DLL's file name (an import library: the DLL it names)
    bool importLibrary = false;
    hostfit::Machine machine = hostfit::Machine::Unknown;
    std::string machineText;
    std::vector<unsigned char> bytes;
    std::unique_ptr<hostfit::FileImage> reader;
    hostfit::PeImage image;
    hostfit::HostExports exports;
};

// Reads a DLL (or an import library, by its .lib extension); false with `error`.
bool ReadLibrary(const Path& path, std::unique_ptr<LibraryFile>& library, std::string& error);

struct HostSearch {
    std::unique_ptr<LibraryFile> library;
    std::string note;                  // how it was found, for the report
    std::vector<std::string> skipped;  // folders that could not be listed, files not read
};

// False with `error` (the check cannot be made) when there is no such file or folder, or no
// library that could be the host's.
bool FindHostLibrary(const Path& host, const Path& module, const hostfit::ModuleNeeds& needs,
                     HostSearch& search, std::string& error);

}  // namespace fxhostcheck
