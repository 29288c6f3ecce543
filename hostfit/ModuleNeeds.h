#pragma once

// What the module needs of the host's library, read from the module's own image (loaded, or the
// DLL on disk): every name it takes from the library, and its slot layout of host/'s classes.
#include <string>
#include <vector>

#include "Layout.h"
#include "PeImage.h"

namespace hostfit {

struct ModuleNeeds {
    Machine machine = Machine::Unknown;
    // The file name the module's table gives the host's library: only a label, the module binds
    // to whichever loaded library exports the names.
    std::string hostLabel;
    bool delayLoaded = false;
    std::vector<std::string> names;  // sorted, each once; the three globals among them
    Layout layout;
    bool hasLayout = false;
    std::string layoutError;  // why there is none, when there is none
};

// The host's names come from the delay-load table (the descriptors that hold String's constructor,
// or the only descriptor), else from the ordinary import table's library that gives that
// constructor. False with `error` when the module takes nothing from a host library.
bool ReadModuleNeeds(const PeImage& module, ModuleNeeds& needs, std::string& error);

}  // namespace hostfit
