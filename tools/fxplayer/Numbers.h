#pragma once

// Number reading shared by the command line and the script: whole texts only, so that "1.5x" or
// "12 " is refused instead of half read.
#include <cstdint>
#include <string>

namespace fxplayer {

// A finite decimal number of seconds from 0 to `max`. No exponents, no hex, no sign.
bool ParseSeconds(const std::string& text, double max, double& seconds);

// A decimal whole number from `min` to `max`.
bool ParseWholeNumber(const std::string& text, long long min, long long max, long long& value);

// A setting's integer: a signed decimal that fits 32 bits, or 0x followed by up to eight hex
// digits (colours: 0xFF00FF00 is stored as the same 32 bits, a negative int).
bool ParseSettingInteger(const std::string& text, int32_t& value);

}  // namespace fxplayer
