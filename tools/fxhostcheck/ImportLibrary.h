#pragma once

// An import library (.lib) as the Visual Studio route has it: the DLL it names and the names it
// imports from it, from its short import members. Names only: no addresses, so no slot orders.
#include <string>
#include <vector>

#include "hostfit/PeImage.h"

namespace fxhostcheck {

struct ImportLibrary {
    std::string dll;
    hostfit::Machine machine = hostfit::Machine::Unknown;
    std::string machineText;
    std::vector<hostfit::Export> exports;
};

// False with `error` when the bytes are no import library of one DLL in the short format.
bool ReadImportLibrary(const std::vector<unsigned char>& bytes, ImportLibrary& library,
                       std::string& error);

}  // namespace fxhostcheck
