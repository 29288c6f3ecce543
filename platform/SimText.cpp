#include "platform/SimText.h"

#include <utf8cpp/utf8.h>

#include <cstdint>
#include <iterator>

namespace platform {

namespace sim {

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

bool IsSurrogate(uint32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

}  // namespace

// Windows-1252 in 0x80..0x9F; the five bytes it leaves undefined map to the same code point, as
// MultiByteToWideChar does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t Cp1252ToUtf16(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F) {
        return kCp1252High[byte - 0x80];
    }
    return byte;
}

std::string ToUtf8(const std::wstring& text) {
    std::string out;
    auto to = std::back_inserter(out);
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = static_cast<uint32_t>(text[i]);
        // wchar_t is UTF-16 on Windows: join surrogate pairs.
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            const uint32_t low = static_cast<uint32_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        to = utf8::append(c > 0x10FFFF || IsSurrogate(c) ? kReplacement : c, to);
    }
    return out;
}

std::wstring FromUtf8(const std::string& text) {
    // Broken sequences, overlong forms, surrogates and values past Unicode each become U+FFFD.
    std::string valid;
    utf8::replace_invalid(text.begin(), text.end(), std::back_inserter(valid), kReplacement);
    std::wstring out;
    if (sizeof(wchar_t) == 2)
        utf8::utf8to16(valid.begin(), valid.end(), std::back_inserter(out));
    else
        utf8::utf8to32(valid.begin(), valid.end(), std::back_inserter(out));
    return out;
}

}  // namespace sim

}  // namespace platform
