#pragma once

// The module's log lines by name. Their texts are in LogLines.def, the one place that holds them.
//
//   WriteLog<LogText::GifCorrupt>(path)  on the host's thread: the host's Log or AppWarning with
//                                        the entry's format, as a call with the text written out
//                                        would make it (nothing formatted or allocated here)
//   FormatLog<...>(buffer, capacity, ...) into the caller's buffer, allocating nothing: what the
//                                        background worker keeps and the standard-output lines
//   LogLineText<...>(...)                the same as a std::wstring (the worker; may throw
//                                        std::bad_alloc)
//
// Every call's arguments are checked against its format when it compiles: %d takes an int, %u an
// unsigned, %llu an unsigned long long and %s wide text, exactly, so that the host's printf and
// the worker's formatter read the same values on every platform.
#include <cstddef>
#include <string>

#include "host/Log.h"

enum class LogChannel { Log, AppWarning, Stdout };

enum class LogText : unsigned {
#define LOG_LINE(name, channel, text) name,
#include "log/LogLines.def"
#undef LOG_LINE
};

struct LogEntry {
    LogChannel channel;
    const wchar_t* format;
};

inline constexpr LogEntry kLogEntries[] = {
#define LOG_LINE(name, channel, text) {LogChannel::channel, text},
#include "log/LogLines.def"
#undef LOG_LINE
};

constexpr const LogEntry& LogEntryOf(LogText line) {
    return kLogEntries[static_cast<size_t>(line)];
}

namespace logdetail {

enum class ArgKind : unsigned char { End, Int, Unsigned, UnsignedLongLong, WideText };

// The argument types the texts take; any other type fails to compile.
template <class T>
struct KindOf;
template <>
struct KindOf<int> {
    static constexpr ArgKind value = ArgKind::Int;
};
template <>
struct KindOf<unsigned> {
    static constexpr ArgKind value = ArgKind::Unsigned;
};
template <>
struct KindOf<unsigned long long> {
    static constexpr ArgKind value = ArgKind::UnsignedLongLong;
};
template <>
struct KindOf<const wchar_t*> {
    static constexpr ArgKind value = ArgKind::WideText;
};
template <>
struct KindOf<wchar_t*> {
    static constexpr ArgKind value = ArgKind::WideText;
};

template <class... Args>
inline constexpr ArgKind kKinds[] = {KindOf<Args>::value..., ArgKind::End};

// The conversion that starts at `at` (just past a '%'): its kind and its length in characters.
// End for "%%", and for a conversion the module's texts do not use (length 0).
struct Conversion {
    ArgKind kind;
    size_t length;
};
constexpr Conversion ConversionAt(const wchar_t* at) {
    if (at[0] == L'd')
        return {ArgKind::Int, 1};
    if (at[0] == L'u')
        return {ArgKind::Unsigned, 1};
    if (at[0] == L's')
        return {ArgKind::WideText, 1};
    if (at[0] == L'l' && at[1] == L'l' && at[2] == L'u')
        return {ArgKind::UnsignedLongLong, 3};
    if (at[0] == L'%')
        return {ArgKind::End, 1};
    return {ArgKind::End, 0};
}

// The format takes exactly `kinds` (ended by End), in order, and nothing the formatter does not
// know.
constexpr bool Takes(const wchar_t* format, const ArgKind* kinds) {
    for (const wchar_t* at = format; *at; ++at) {
        if (*at != L'%')
            continue;
        const Conversion conversion = ConversionAt(at + 1);
        if (conversion.length == 0)
            return false;
        at += conversion.length;
        if (conversion.kind == ArgKind::End)
            continue;
        if (*kinds != conversion.kind)
            return false;
        ++kinds;
    }
    return *kinds == ArgKind::End;
}

// Every text uses only the conversions above, whether or not a call names it yet.
constexpr bool EveryTextKnown() {
    for (const LogEntry& entry : kLogEntries) {
        for (const wchar_t* at = entry.format; *at; ++at) {
            if (*at != L'%')
                continue;
            const Conversion conversion = ConversionAt(at + 1);
            if (conversion.length == 0)
                return false;
            at += conversion.length;
        }
    }
    return true;
}
static_assert(EveryTextKnown(),
              "a text in LogLines.def uses a conversion other than %d %u %llu %s");

struct Arg {
    ArgKind kind;
    union {
        long long number;
        unsigned long long unsignedNumber;
        const wchar_t* text;
    };
    Arg(int value) : kind(ArgKind::Int), number(value) {}
    Arg(unsigned value) : kind(ArgKind::Unsigned), unsignedNumber(value) {}
    Arg(unsigned long long value) : kind(ArgKind::UnsignedLongLong), unsignedNumber(value) {}
    Arg(const wchar_t* value) : kind(ArgKind::WideText), text(value) {}
};

// Formats like the host's printf for the conversions above (a null text reads "(null)"). Writes
// at most capacity - 1 characters and a null, when capacity is not 0, and returns the length of
// the whole line, as snprintf does.
size_t Format(const wchar_t* format, const Arg* args, wchar_t* out, size_t capacity);

}  // namespace logdetail

template <LogText line, class... Args>
void WriteLog(Args... args) {
    constexpr LogEntry entry = LogEntryOf(line);
    static_assert(entry.channel != LogChannel::Stdout, "a line for standard output: FormatLog");
    static_assert(logdetail::Takes(entry.format, logdetail::kKinds<Args...>),
                  "the arguments do not match the line's format in LogLines.def");
    if constexpr (entry.channel == LogChannel::AppWarning)
        AppWarning(entry.format, args...);
    else
        Log(entry.format, args...);
}

template <LogText line, class... Args>
size_t FormatLog(wchar_t* out, size_t capacity, Args... args) {
    constexpr LogEntry entry = LogEntryOf(line);
    static_assert(logdetail::Takes(entry.format, logdetail::kKinds<Args...>),
                  "the arguments do not match the line's format in LogLines.def");
    const logdetail::Arg list[] = {args..., 0};
    return logdetail::Format(entry.format, list, out, capacity);
}

template <LogText line, class... Args>
std::wstring LogLineText(Args... args) {
    const size_t length = FormatLog<line>(nullptr, 0, args...);
    std::wstring text(length, L'\0');
    FormatLog<line>(text.data(), length + 1, args...);
    return text;
}
