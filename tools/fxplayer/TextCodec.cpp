#include "TextCodec.h"

#include <utf8cpp/utf8.h>

#include <cstdint>
#include <iterator>

namespace fxplayer {

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

}  // namespace

std::u16string Utf8ToUtf16(const std::string& text) {
    // Broken sequences, overlong forms, surrogates and values past Unicode each become U+FFFD.
    std::string valid;
    utf8::replace_invalid(text.begin(), text.end(), std::back_inserter(valid), kReplacement);
    std::u16string out;
    utf8::utf8to16(valid.begin(), valid.end(), std::back_inserter(out));
    return out;
}

long long Utf16Length(const std::string& text) {
    if (!utf8::is_valid(text.begin(), text.end()))
        return -1;
    long long units = 0;
    for (auto it = text.begin(); it != text.end();)
        units += utf8::next(it, text.end()) >= 0x10000 ? 2 : 1;
    return units;
}

std::string Utf16ToUtf8(const std::u16string& text) {
    // utfcpp refuses a lone surrogate; here it becomes U+FFFD, as the console would show it.
    std::string out;
    auto to = std::back_inserter(out);
    for (size_t i = 0; i < text.size(); ++i) {
        const uint32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            to = utf8::append(0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00u), to);
            ++i;
        } else {
            to = utf8::append(unit >= 0xD800 && unit <= 0xDFFF ? kReplacement : unit, to);
        }
    }
    return out;
}

}  // namespace fxplayer
