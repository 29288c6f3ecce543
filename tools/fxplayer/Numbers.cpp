#include "Numbers.h"

#include <cmath>
#include <cstdlib>

namespace fxplayer {

namespace {
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

bool ParseSeconds(const std::string& text, double max, double& seconds) {
    // Digits, at most one point, at least one digit: strtod alone would take "inf", "1e3", " 1".
    size_t digits = 0, points = 0;
    for (char c : text) {
        if (IsDigit(c)) {
            ++digits;
        } else if (c == '.') {
            ++points;
        } else {
            return false;
        }
    }
    if (digits == 0 || points > 1)
        return false;
    double value = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(value) || value > max)
        return false;
    seconds = value;
    return true;
}

bool ParseWholeNumber(const std::string& text, long long min, long long max, long long& value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    if (i == text.size())
        return false;
    // Accumulated as a magnitude with a bound that keeps it far from overflow.
    const unsigned long long limit = 1ull << 62;
    unsigned long long magnitude = 0;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i]))
            return false;
        magnitude = magnitude * 10 + static_cast<unsigned>(text[i] - '0');
        if (magnitude > limit)
            return false;
    }
    long long result =
        negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    if (result < min || result > max)
        return false;
    value = result;
    return true;
}

}  // namespace fxplayer
