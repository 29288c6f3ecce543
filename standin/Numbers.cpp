// Numbers as text and back, independent of the C locale, and checked conversions between them.
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <string>

#include "standin/Internal.h"

namespace standin::detail {

namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || (c >= L'\t' && c <= L'\r');
}

}  // namespace

std::wstring FloatText(float value) {
    if (std::isnan(value))
        return L"nan";
    if (std::isinf(value))
        return value < 0 ? L"-inf" : L"inf";
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
    return std::wstring(buffer, result.ptr);
}

int SaturatingInt(double value) {
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (value <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(value);
}

float SaturatingFloat(double value) {
    if (std::isnan(value))
        return static_cast<float>(value);
    if (value > FLT_MAX)
        return INFINITY;
    if (value < -FLT_MAX)
        return -INFINITY;
    return static_cast<float>(value);
}

int ParseIntText(const wchar_t* text) {
    if (!text)
        return 0;
    while (IsBlank(*text))
        ++text;
    bool negative = false;
    if (*text == L'+' || *text == L'-')
        negative = *text++ == L'-';
    long long value = 0;  // stays within [0, INT_MAX + 1]
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        value = value * 10 + (*text - L'0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        return static_cast<int>(-value);  // -(INT_MAX + 1) is INT_MIN
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

float ParseFloatText(const wchar_t* text) {
    if (!text)
        return 0.0f;
    while (IsBlank(*text))
        ++text;
    // Copy the characters a number can hold; from_chars stops at the first that does not fit.
    std::string narrow;
    bool negative = false;
    if (*text == L'+' || *text == L'-')
        negative = *text++ == L'-';
    for (; *text && narrow.size() < 1024; ++text) {
        wchar_t c = *text;
        bool numberish = (c >= L'0' && c <= L'9') || c == L'.' || c == L'e' || c == L'E' ||
                         c == L'+' || c == L'-' || (c >= L'a' && c <= L'z') ||
                         (c >= L'A' && c <= L'Z');
        if (!numberish)
            break;
        narrow += static_cast<char>(c);
    }
    if (!narrow.empty() && (narrow[0] == '+' || narrow[0] == '-'))
        return 0.0f;  // two signs
    double value = 0.0;
    const char* first = narrow.data();
    const char* last = first + narrow.size();
    auto result = std::from_chars(first, last, value);
    if (result.ec == std::errc::result_out_of_range) {
        // Too large gives infinity, too small zero, as the C library does.
        std::string digits(first, result.ptr);
        auto e = digits.find_first_of("eE");
        bool tiny = e != std::string::npos && digits.find('-', e) != std::string::npos;
        value = tiny ? 0.0 : INFINITY;
    } else if (result.ec != std::errc()) {
        value = 0.0;
    }
    return SaturatingFloat(negative ? -value : value);
}

}  // namespace standin::detail
