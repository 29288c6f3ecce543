#pragma once

// The offline report: the host's library, every name the module takes from it, each class's
// slots against the host's, what was taken on trust, and the verdict.
#include <map>
#include <string>

#include "HostSearch.h"
#include "hostfit/FitRules.h"

namespace fxhostcheck {

struct ReportInput {
    std::string module;  // as printed, with what the suite's record says of it
    std::string arch;
    const HostSearch* search = nullptr;
    const hostfit::ModuleNeeds* needs = nullptr;
    const hostfit::FitResult* result = nullptr;
    std::map<std::string, std::string> texts;  // mangled names to their demangled text
    std::string checkAgain;                    // the command that runs the check again
};

std::string Report(const ReportInput& in);

}  // namespace fxhostcheck
