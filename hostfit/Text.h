#pragma once

// Texts as the check reports them: UTF-8 from the UTF-16 of Windows' names and resources, and
// any bytes made printable.
#include <cstdint>
#include <string>

namespace hostfit {

// UTF-16 code units to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const uint16_t* units, size_t count);
void AppendUtf8(std::string& out, uint32_t codePoint);
// Bytes as they may be printed: valid UTF-8 as it is (controls escaped), every other byte as
// \xNN, so that a file name of any bytes prints on one line.
std::string Printable(const std::string& bytes);

}  // namespace hostfit
