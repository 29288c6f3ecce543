#pragma once

// Number reading shared by the command line and the script: whole texts only, so that "1.5x" or
// "12 " is refused instead of half read.
#include <string>

namespace fxplayer {

// A finite decimal number of seconds from 0 to `max`. No exponents, no hex, no sign.
bool ParseSeconds(const std::string& text, double max, double& seconds);

// A decimal whole number from `min` to `max`.
bool ParseWholeNumber(const std::string& text, long long min, long long max, long long& value);

}  // namespace fxplayer
