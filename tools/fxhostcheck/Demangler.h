#pragma once

// Microsoft C++ names as text, for the report: UnDecorateSymbolName on Windows, llvm-undname
// (VANTREL_LLVM_UNDNAME, default llvm-undname-14) elsewhere; a name neither reads stays as it is.
#include <map>
#include <string>
#include <vector>

namespace fxhostcheck {

std::map<std::string, std::string> Demangle(const std::vector<std::string>& names);

}  // namespace fxhostcheck
