// Floating-point std::from_chars for our libc++ 14 build (libc++ 14 implements only the integer
// overloads; Microsoft's library has all of them). It finds the longest prefix of [first, last)
// that matches the pattern of the requested chars_format (no leading whitespace, no '+', no "0x"
// for hex), then converts exactly that prefix with the C runtime in the "C" locale, which rounds
// correctly: _strtof_l for float (rounding through double first could round twice), _strtod_l
// otherwise (long double is double here). Out-of-range results leave the value untouched.
#include <locale.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>

_LIBCPP_BEGIN_NAMESPACE_STD

namespace {

_locale_t c_locale() {
    static _locale_t loc = _create_locale(LC_ALL, "C");
    return loc;
}

bool is_digit(char c, bool hex) {
    return (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
}

bool match_word(const char* p, const char* last, const char* word) {  // case-insensitive
    for (; *word; ++p, ++word)
        if (p == last || (*p | 0x20) != *word)
            return false;
    return true;
}

// Returns the end of the matched subject sequence, or nullptr when nothing matches.
const char* scan(const char* first, const char* last, chars_format fmt) {
    const char* p = first;
    if (p != last && *p == '-')
        ++p;
    if (match_word(p, last, "inf"))
        return match_word(p, last, "infinity") ? p + 8 : p + 3;
    if (match_word(p, last, "nan")) {
        p += 3;
        if (p != last && *p == '(') {  // nan(n-char-sequence)
            const char* q = p + 1;
            while (q != last && (is_digit(*q, true) || (*q >= 'a' && *q <= 'z') ||
                                 (*q >= 'A' && *q <= 'Z') || *q == '_'))
                ++q;
            if (q != last && *q == ')')
                p = q + 1;
        }
        return p;
    }
    const bool hex = fmt == chars_format::hex;
    int digits = 0;
    while (p != last && is_digit(*p, hex))
        ++p, ++digits;
    if (p != last && *p == '.') {
        ++p;
        while (p != last && is_digit(*p, hex))
            ++p, ++digits;
    }
    if (digits == 0)
        return nullptr;
    const char e = hex ? 'p' : 'e';
    bool has_exp = false;
    if (fmt != chars_format::fixed && p != last && (*p | 0x20) == e) {
        const char* q = p + 1;
        if (q != last && (*q == '+' || *q == '-'))
            ++q;
        if (q != last && *q >= '0' && *q <= '9') {
            while (q != last && *q >= '0' && *q <= '9')
                ++q;
            p = q;
            has_exp = true;
        }
    }
    if (fmt == chars_format::scientific && !has_exp)
        return nullptr;
    return p;
}

template <class T>
from_chars_result parse(const char* first, const char* last, T& value, chars_format fmt) {
    const char* end = scan(first, last, fmt);
    if (!end)
        return {first, errc::invalid_argument};
    std::string text(first, end);
    const size_t digits_at = text[0] == '-' ? 1 : 0;
    if (fmt == chars_format::hex && (is_digit(text[digits_at], true) || text[digits_at] == '.'))
        text.insert(digits_at, "0x");  // not for inf/nan
    errno = 0;
    char* stop = nullptr;
    double d = is_same<T, float>::value ? _strtof_l(text.c_str(), &stop, c_locale())
                                        : _strtod_l(text.c_str(), &stop, c_locale());
    bool range = errno == ERANGE;
    T result = static_cast<T>(d);
    // Overflow to infinity or underflow to zero (also for float's narrower range) is out of range;
    // a subnormal result is still a value.
    if ((range && (std::isinf(d) || d == 0)) || (std::isinf(result) && !std::isinf(d)) ||
        (result == 0 && d != 0))
        return {end, errc::result_out_of_range};
    value = result;
    return {end, errc()};
}

}  // namespace

from_chars_result from_chars(const char* first, const char* last, float& value, chars_format fmt) {
    return parse(first, last, value, fmt);
}
from_chars_result from_chars(const char* first, const char* last, double& value, chars_format fmt) {
    return parse(first, last, value, fmt);
}
from_chars_result from_chars(const char* first, const char* last, long double& value,
                             chars_format fmt) {
    return parse(first, last, value, fmt);
}

_LIBCPP_END_NAMESPACE_STD
