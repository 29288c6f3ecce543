#pragma once

// UTF-8 and UTF-16 conversions at the player's edges: script texts are UTF-8, the console's blocks
// hold UTF-16, the transcript is UTF-8. Invalid input becomes U+FFFD rather than being dropped.
#include <string>

namespace fxplayer {

std::u16string Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const std::u16string& text);
// The number of UTF-16 units that UTF-8 text takes; -1 when it is not valid UTF-8.
long long Utf16Length(const std::string& text);

}  // namespace fxplayer
