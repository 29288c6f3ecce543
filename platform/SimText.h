#pragma once

// Text conversion for the simulated desktop: wide text (UTF-16 on Windows, UTF-32 elsewhere) to
// UTF-8 and back, through utfcpp, anything that is not a character becoming U+FFFD; and the ANSI
// code page the simulation assumes, Windows-1252.
#include <string>

namespace platform {

namespace sim {

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);
char16_t Cp1252ToUtf16(unsigned char byte);

}  // namespace sim

}  // namespace platform
