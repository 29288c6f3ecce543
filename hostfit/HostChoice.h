#pragma once

// Which of several libraries is the host's API library: the same choice for the libraries loaded
// in the host's process and for the DLLs of a host's folder on disk.
#include <string>
#include <vector>

#include "HostExports.h"

namespace hostfit {

struct Candidate {
    std::string fileName;  // as the loader would look it up (compared without case)
    std::string folder;    // where it lies; the same for every module loaded in one process
    const HostExports* exports = nullptr;
};

// An executable of the host and the libraries it imports by file name (ordinary and delay-load).
struct Executable {
    std::string folder;
    std::vector<std::string> imports;
};

// A library is a candidate when it exports the three globals and String's constructor from wide
// text, as the module's machine names them.
bool ExportsHostEssentials(const HostExports& exports, Machine machine);

struct HostChoice {
    int index = -1;   // into the candidates; -1 when none qualifies
    std::string why;  // one short ASCII line
};

// Among the candidates that qualify: the one an executable imports from its own folder (the
// loader looks there first), then the one that exports every name the module uses, then the
// first. `names` are the module's needs.
HostChoice ChooseHostLibrary(const std::vector<Candidate>& candidates,
                             const std::vector<Executable>& executables,
                             const std::vector<std::string>& names, Machine machine);

}  // namespace hostfit
