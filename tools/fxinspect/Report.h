#pragma once

// The report on one effect file: text for a person, JSON for a program.
#include <string>

#include "Inspection.h"

namespace fxinspect {

std::string TextReport(const Inspection& inspection);
// One line. Keeps the keys of the tool's first form ("state" ... "loopLimit", "shown"), so that
// what read those still finds them; the delays are now "delaysMs".
std::string JsonReport(const Inspection& inspection);

}  // namespace fxinspect
