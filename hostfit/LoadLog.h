#pragma once

// The check's result as the module logs it at load: one short line per difference, or one line
// that says it fits. ASCII and mangled names only (the module has no demangler).
#include <string>
#include <vector>

#include "FitRules.h"

namespace hostfit {

std::vector<std::string> LoadLogLines(const FitResult& result, const HostLibrary& library);

}  // namespace hostfit
