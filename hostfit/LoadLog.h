#pragma once

// The check's result as the module logs it at load: one short text per difference, or one that
// says what was proven when it fits; the module's log lines put the library's name before each.
// ASCII and mangled names only (the module has no demangler).
#include <string>
#include <vector>

#include "FitRules.h"

namespace hostfit {

std::vector<std::string> LoadLogLines(const FitResult& result);

}  // namespace hostfit
