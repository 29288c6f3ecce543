// The host's log: every Log, AppWarning and DumpError becomes a record that tests and tools read,
// goes to the listener, and is echoed to standard error as UTF-8 when echo is on.
#include "host/Log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "standin/Internal.h"
#include "standin/Standin.h"

namespace {

using standin::LogKind;
using standin::LogRecord;

[[noreturn]] void DefaultFatal(const std::wstring& text) {
    std::fprintf(stderr, "fatal: %s\n", standin::ToUtf8(text).c_str());
    std::fflush(stderr);
    std::abort();
}

struct LogState {
    std::mutex mutex;
    std::vector<LogRecord> records;
    standin::LogListener listener;
    bool echo = true;
    standin::FatalHandler fatal = &DefaultFatal;
};

LogState& State() {
    static LogState* state = new LogState;  // leaked: logging works until the process ends
    return *state;
}

void Echo(LogKind kind, const std::wstring& text) {
    std::string line = standin::ToUtf8(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    const char* prefix = kind == LogKind::Warning ? "warning: "
                         : kind == LogKind::Error ? "error: "
                                                  : "";
    std::fprintf(stderr, "%s%s\n", prefix, line.c_str());
}

void Record(LogKind kind, std::wstring text) {
    LogState& state = State();
    standin::LogListener listener;
    bool echo;
    LogRecord record{kind, std::move(text)};
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.records.push_back(record);
        listener = state.listener;
        echo = state.echo;
    }
    if (echo)
        Echo(kind, record.text);
    // Outside the lock, so that a listener may log or read the records itself.
    if (listener)
        listener(record);
}

void RecordFormatted(LogKind kind, const wchar_t* format, va_list args) {
    std::wstring text;
    try {
        text = standin::FormatV(format, args);
    } catch (const std::bad_alloc&) {
        return;  // a log line is not worth failing the caller for
    }
    Record(kind, std::move(text));
}

}  // namespace

void Log(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    RecordFormatted(LogKind::Log, format, args);
    va_end(args);
}

void AppWarning(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    RecordFormatted(LogKind::Warning, format, args);
    va_end(args);
}

void DumpError(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = standin::FormatV(format, args);
    va_end(args);
    Record(LogKind::Error, text);
    standin::FatalHandler fatal;
    {
        std::lock_guard<std::mutex> lock(State().mutex);
        fatal = State().fatal;
    }
    fatal(text);
    std::abort();  // a handler that returns breaks its contract
}

namespace standin {

std::vector<LogRecord> LogRecords() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().records;
}

void ClearLog() {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().records.clear();
}

void SetLogListener(LogListener listener) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().listener = std::move(listener);
}

void SetLogEcho(bool echo) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().echo = echo;
}

void SetFatalHandler(FatalHandler handler) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().fatal = handler ? handler : &DefaultFatal;
}

namespace detail {
void ResetLog() {
    ClearLog();
}
}  // namespace detail

}  // namespace standin
