// Wide text to UTF-8 and back, through utfcpp. wchar_t is UTF-16 on Windows and UTF-32 elsewhere;
// anything that is not a valid character (a lone surrogate, a broken byte sequence, an overlong
// form, a value past Unicode) becomes U+FFFD.
#include <utf8cpp/utf8.h>

#include <cstdint>
#include <iterator>
#include <string>

#include "standin/Standin.h"

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

bool IsSurrogate(uint32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

}  // namespace

namespace standin {

std::string ToUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    auto to = std::back_inserter(out);
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = static_cast<uint32_t>(text[i]);
        // wchar_t is UTF-16 on Windows: join surrogate pairs; a lone half is no character.
        if (sizeof(wchar_t) == 2) {
            c &= 0xFFFF;
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
                const uint32_t low = static_cast<uint32_t>(text[i + 1]) & 0xFFFF;
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        to = utf8::append(c > 0x10FFFF || IsSurrogate(c) ? kReplacement : c, to);
    }
    return out;
}

std::wstring FromUtf8(const std::string& text) {
    std::string valid;
    valid.reserve(text.size());
    utf8::replace_invalid(text.begin(), text.end(), std::back_inserter(valid), kReplacement);
    std::wstring out;
    out.reserve(valid.size());
    if (sizeof(wchar_t) == 2)
        utf8::utf8to16(valid.begin(), valid.end(), std::back_inserter(out));
    else
        utf8::utf8to32(valid.begin(), valid.end(), std::back_inserter(out));
    return out;
}

}  // namespace standin
