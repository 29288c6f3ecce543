#include "SourceSettings.h"

#include "CommandLine.h"

namespace fxplayer {

namespace {

enum class Kind { Text, Switch, Whole, Colour };

struct KnownKey {
    const char* key;
    Kind kind;
    long long min, max;  // Whole
    bool onSourceElement;
};

// 16384 is the largest picture side the host takes; an item or an effect larger than that is a
// typo. Similarity and blend are hundredths of a distance of at most about 1.73, so above 200 they
// only mean "everything".
constexpr KnownKey kKeys[] = {
    {"path", Kind::Text, 0, 0, false},
    {"monitor", Kind::Switch, 0, 1, false},
    {"opacity", Kind::Whole, 0, 100, false},
    {"color", Kind::Colour, 0, 0, false},
    {"useColorKey", Kind::Switch, 0, 1, false},
    {"keyColor", Kind::Colour, 0, 0, false},
    {"keySimilarity", Kind::Whole, 0, 200, false},
    {"keyBlend", Kind::Whole, 0, 200, false},
    {"backgroundLoad", Kind::Switch, 0, 1, false},
    // MiB; a mebibyte more than a tebibyte is a typo.
    {"frameCacheMB", Kind::Whole, 0, 1048576, false},
    {"cx", Kind::Whole, 0, 16384, true},
    {"cy", Kind::Whole, 0, 16384, true},
    {"orix", Kind::Whole, 1, 16384, true},
    {"oriy", Kind::Whole, 1, 16384, true},
};

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameIgnoringCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return i == a.size() && !b[i];
}

std::string KnownKeys() {
    std::string list;
    for (const KnownKey& known : kKeys)
        list += std::string(list.empty() ? "" : ", ") + known.key;
    return list;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// 0x followed by hex digits, or decimal digits; either way at most 0xFFFFFFFF.
bool ParseColour(const std::string& text, uint32_t& colour) {
    unsigned long long value = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        for (size_t i = 2; i < text.size(); ++i) {
            int digit = HexValue(text[i]);
            if (digit < 0)
                return false;
            value = value * 16 + static_cast<unsigned>(digit);
            if (value > 0xFFFFFFFFull)
                return false;
        }
    } else {
        if (text[0] == '-' || !cli::ReadWhole(text, 0, 0xFFFFFFFFll, value))
            return false;
    }
    colour = static_cast<uint32_t>(value);
    return true;
}

// The same 32 bits as the tree's signed integer, without an implementation-defined conversion.
int32_t AsStoredInteger(uint32_t bits) {
    return bits <= 0x7FFFFFFFu ? static_cast<int32_t>(bits) : -static_cast<int32_t>(~bits) - 1;
}

}  // namespace

bool ParseSetting(const std::string& assignment, Setting& setting, std::string& error) {
    size_t equals = assignment.find('=');
    if (equals == std::string::npos || equals == 0) {
        error = "a setting is KEY=VALUE, not '" + assignment + "'";
        return false;
    }
    const std::string key = assignment.substr(0, equals);
    const std::string value = assignment.substr(equals + 1);
    const KnownKey* known = nullptr;
    for (const KnownKey& candidate : kKeys)
        if (key == candidate.key)
            known = &candidate;
    if (!known) {
        error = "unknown setting '" + key + "'";
        for (const KnownKey& candidate : kKeys)
            if (SameIgnoringCase(key, candidate.key))
                error += " (did you mean '" + std::string(candidate.key) + "'?)";
        error += "; the settings are " + KnownKeys();
        return false;
    }

    setting = Setting();
    setting.key = key;
    setting.onSourceElement = known->onSourceElement;
    const std::string refused = key + " takes ";
    const std::string given = ", not '" + value + "'";
    uint32_t colour = 0;
    switch (known->kind) {
        case Kind::Text:
            setting.isText = true;
            setting.text = value;
            return true;
        case Kind::Switch:
            if (value != "0" && value != "1") {
                error = refused + "0 (off) or 1 (on)" + given;
                return false;
            }
            setting.number = value == "1" ? 1 : 0;
            return true;
        case Kind::Whole:
            if (!cli::ReadWhole(value, known->min, known->max, setting.number)) {
                error = refused + "a whole number from " + std::to_string(known->min) + " to " +
                        std::to_string(known->max) + given;
                return false;
            }
            return true;
        case Kind::Colour:
            if (!ParseColour(value, colour)) {
                error = refused +
                        "a colour as 0xAARRGGBB (like 0xFF00FF00, opaque green) or a decimal from "
                        "0 to 4294967295" +
                        given;
                return false;
            }
            setting.number = AsStoredInteger(colour);
            return true;
    }
    return false;
}

}  // namespace fxplayer
