#include "CommandLine.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#if defined(_WIN32)
#include <windows.h>
// shellapi.h needs windows.h before it.
#include <shellapi.h>
#endif

namespace cli {

namespace {
const char kDigits[] = "0123456789";
}  // namespace

bool ReadWhole(const std::string& text, long long min, long long max, long long& value) {
    const size_t first = !text.empty() && text[0] == '-' ? 1 : 0;
    if (first == text.size() || text.find_first_not_of(kDigits, first) != std::string::npos)
        return false;
    // A magnitude that stays below 2^62, checked before each step: checked after, 2^64 + 1 would
    // wrap to 1 and pass.
    unsigned long long magnitude = 0;
    for (size_t i = first; i < text.size(); ++i) {
        if (magnitude > (1ull << 62) / 10)
            return false;
        magnitude = magnitude * 10 + static_cast<unsigned>(text[i] - '0');
    }
    const long long result = static_cast<long long>(magnitude) * (first ? -1 : 1);
    if (result < min || result > max)
        return false;
    value = result;
    return true;
}

bool ReadDecimal(const std::string& text, double min, double max, double& value) {
    if (text.find_first_not_of(".0123456789") != std::string::npos ||
        text.find_first_of(kDigits) == std::string::npos || text.find('.') != text.rfind('.'))
        return false;
    // Only digits and a point: finite unless it overflows, which the range refuses.
    const double result = std::strtod(text.c_str(), nullptr);
    if (!(result >= min && result <= max))
        return false;
    value = result;
    return true;
}

bool ReadSize(const std::string& text, long long maxSide, unsigned& width, unsigned& height) {
    const size_t x = text.find('x');
    return x != std::string::npos && ReadWhole(text.substr(0, x), 1, maxSide, width) &&
           ReadWhole(text.substr(x + 1), 1, maxSide, height);
}

std::string Refusal(const std::string& name, const std::string& what, const std::string& text) {
    return name + " takes " + what + ", not '" + text + "'";
}

std::vector<std::string> Arguments(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
#if defined(_WIN32)
    (void)argc, (void)argv;
    std::vector<std::string> args;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; wide && i < count; ++i) {
        // At most 3 bytes for each UTF-16 unit; an unpaired surrogate becomes U+FFFD.
        std::string arg(3 * std::wcslen(wide[i]) + 1, '\0');
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &arg[0],
                                              static_cast<int>(arg.size()), nullptr, nullptr);
        arg.resize(bytes > 0 ? static_cast<size_t>(bytes) - 1 : 0);
        args.push_back(arg);
    }
    LocalFree(wide);
    return args;
#else
    return Arguments(argc, argv);
#endif
}

CommandLine& CommandLine::Option(const std::string& name, size_t values, TakeValues take) {
    options_.push_back(Known{name, values, std::move(take)});
    return *this;
}

CommandLine& CommandLine::Option(const std::string& name, Take take) {
    return Option(name, 1,
                  [take](const std::vector<std::string>& values) { return take(values[0]); });
}

CommandLine& CommandLine::Flag(const std::string& name, bool& target, bool value) {
    return Option(name, 0, [&target, value](const std::vector<std::string>&) {
        target = value;
        return std::string();
    });
}

CommandLine& CommandLine::Text(const std::string& name, std::string& target) {
    return Option(name, [name, &target](const std::string& text) {
        target = text;
        return text.empty() ? name + " needs a non-empty value" : std::string();
    });
}

CommandLine& CommandLine::Decimal(const std::string& name, double min, double max,
                                  const std::string& what, double& target, bool aboveMin) {
    return Option(name, [=, &target](const std::string& text) {
        const bool read = ReadDecimal(text, min, max, target) && !(aboveMin && target == min);
        return read ? std::string() : Refusal(name, what, text);
    });
}

CommandLine& CommandLine::Positional(Take take) {
    positional_ = std::move(take);
    return *this;
}

Outcome CommandLine::Parse(const std::vector<std::string>& args, std::string& error) const {
    for (const std::string& arg : args) {
        if (arg == "--" && positional_)
            break;
        if (arg == "--help" || arg == "-h")
            return Outcome::Help;
    }
    bool optionsEnded = false;
    error.clear();
    for (size_t i = 0; i < args.size() && error.empty(); ++i) {
        const std::string& arg = args[i];
        const bool isOption = !optionsEnded && arg.size() > 1 && arg[0] == '-';
        const size_t equals = isOption ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, equals);
        const Known* option = nullptr;
        for (const Known& known : options_)
            option = isOption && known.name == name ? &known : option;
        std::vector<std::string> values;
        if (equals != std::string::npos)
            values.push_back(arg.substr(equals + 1));
        while (option && values.size() < option->values && i + 1 < args.size())
            values.push_back(args[++i]);
        if (isOption && arg == "--" && positional_)
            optionsEnded = true;
        else if (!option && !isOption && positional_)
            error = positional_(arg);
        else if (!option)
            error = "unknown option '" + arg + "'" + hint_;
        else if (values.size() > option->values)
            error = name + " takes no value";
        else if (values.size() < option->values)
            error = name + " needs " +
                    (option->values == 1 ? "a value" : std::to_string(option->values) + " values");
        else
            error = option->take(values);
    }
    return error.empty() ? Outcome::Run : Outcome::Refused;
}

bool CommandLine::Parse(const std::vector<std::string>& args, const char* program,
                        const char* usage, int& status) const {
    std::string error;
    const Outcome outcome = Parse(args, error);
    if (outcome == Outcome::Help)
        std::fputs(usage, stdout);
    else if (outcome == Outcome::Refused)
        std::fprintf(stderr, "%s: %s\n", program, error.c_str());
    status = outcome == Outcome::Refused ? 2 : 0;
    return outcome == Outcome::Run;
}

}  // namespace cli
