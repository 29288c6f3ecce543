#pragma once

// The tools' command lines, read one way: options with their values next or after '=' (--fps 30,
// --fps=30), flags, options given again (each time handed on), positional arguments, and numbers
// read whole within their range. What cannot be used is refused in one line, without the program's
// name.
#include <functional>
#include <string>
#include <vector>

namespace cli {

// A decimal whole number from `min` to `max`: an optional '-' and digits only, never overflowing.
bool ReadWhole(const std::string& text, long long min, long long max, long long& value);
template <typename T>
bool ReadWhole(const std::string& text, long long min, long long max, T& value) {
    long long number = 0;
    const bool read = ReadWhole(text, min, max, number);
    value = read ? static_cast<T>(number) : value;
    return read;
}

// Digits with at most one point ("2", "1.5", ".5") from `min` to `max`: no sign, exponent, hex,
// infinity or NaN, which strtod alone takes.
bool ReadDecimal(const std::string& text, double min, double max, double& value);

// WIDTHxHEIGHT, each side a whole number from 1 to `maxSide`.
bool ReadSize(const std::string& text, long long maxSide, unsigned& width, unsigned& height);

// "NAME takes WHAT, not 'TEXT'".
std::string Refusal(const std::string& name, const std::string& what, const std::string& text);

// A program's arguments after its name, as given (on Windows, in the ANSI code page).
std::vector<std::string> Arguments(int argc, char** argv);
// The same as UTF-8: on Windows from the wide command line, so that any path survives.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

enum class Outcome { Run, Help, Refused };

class CommandLine {
public:
    // Each returns its refusal, or nothing when it took what it was given.
    using TakeValues = std::function<std::string(const std::vector<std::string>& values)>;
    using Take = std::function<std::string(const std::string& value)>;

    // `unknownHint` follows "unknown option 'X'", like " (see --help)".
    explicit CommandLine(std::string unknownHint) : hint_(std::move(unknownHint)) {}

    CommandLine& Option(const std::string& name, size_t values, TakeValues take);
    CommandLine& Option(const std::string& name, Take take);
    CommandLine& Flag(const std::string& name, bool& target, bool value = true);
    // A text that must not be empty (a path, mostly).
    CommandLine& Text(const std::string& name, std::string& target);
    // `what` by default: "a whole number from MIN to MAX".
    template <typename T>
    CommandLine& Whole(const std::string& name, long long min, long long max, T& target,
                       std::string what = "");
    // With `aboveMin`, `min` itself is refused.
    CommandLine& Decimal(const std::string& name, double min, double max, const std::string& what,
                         double& target, bool aboveMin = false);
    // Arguments that are not options, and all after "--"; without this each is an unknown option.
    CommandLine& Positional(Take take);

    // --help or -h anywhere (before "--") wins over everything else; otherwise the arguments are
    // taken in order up to the first refusal, which is `error`.
    Outcome Parse(const std::vector<std::string>& args, std::string& error) const;
    // The same for a program's own command line: false with the status to end with, after the
    // usage on standard output (0) or "PROGRAM: ERROR" on standard error (2).
    bool Parse(const std::vector<std::string>& args, const char* program, const char* usage,
               int& status) const;

private:
    struct Known {
        std::string name;
        size_t values;
        TakeValues take;
    };
    std::string hint_;
    std::vector<Known> options_;
    Take positional_;
};

template <typename T>
CommandLine& CommandLine::Whole(const std::string& name, long long min, long long max, T& target,
                                std::string what) {
    if (what.empty())
        what = "a whole number from " + std::to_string(min) + " to " + std::to_string(max);
    return Option(name, [=, &target](const std::string& text) {
        return ReadWhole(text, min, max, target) ? std::string() : Refusal(name, what, text);
    });
}

}  // namespace cli
