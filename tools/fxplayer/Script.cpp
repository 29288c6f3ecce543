#include "Script.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "Files.h"
#include "Numbers.h"
#include "TextCodec.h"

namespace fxplayer {

namespace {

// A script may run for a day at most; longer is a typo.
constexpr double kMaxScriptSeconds = 86400.0;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// The next blank-separated word from `pos`, which moves past it.
std::string NextWord(const std::string& line, size_t& pos) {
    while (pos < line.size() && IsBlank(line[pos]))
        ++pos;
    size_t start = pos;
    while (pos < line.size() && !IsBlank(line[pos]))
        ++pos;
    return line.substr(start, pos - start);
}

std::string Rest(const std::string& line, size_t pos) {
    while (pos < line.size() && IsBlank(line[pos]))
        ++pos;
    size_t end = line.size();
    while (end > pos && IsBlank(line[end - 1]))
        --end;
    return line.substr(pos, end - pos);
}

// What the script has switched so far, to refuse events that change nothing.
struct ScriptState {
    bool output = false;
    bool scene = true;
    bool console = false;
};

bool Fail(int line, const std::string& what, std::string& error) {
    error = "line " + std::to_string(line) + ": " + what;
    return false;
}

// Reads the on/off word of an output, scene or console line (and nothing after it but a comment).
bool ReadSwitch(const std::string& line, size_t pos, const char* onWord, const char* offWord,
                bool& on, std::string& problem) {
    std::string word = NextWord(line, pos);
    std::string after = Rest(line, pos);
    std::string expected = std::string("'") + onWord + "' or '" + offWord + "'";
    if (word == onWord) {
        on = true;
    } else if (word == offWord) {
        on = false;
    } else {
        problem = "expected " + expected + (word.empty() ? "" : ", not '" + word + "'");
        return false;
    }
    if (!after.empty() && after[0] != '#') {
        problem = "unexpected '" + after + "' after '" + word + "'";
        return false;
    }
    return true;
}

bool ParseLine(const std::string& line, int number, ScriptState& state, double previous,
               ScriptEvent& event, std::string& error) {
    size_t pos = 0;
    std::string time = NextWord(line, pos);
    if (!ParseSeconds(time, kMaxScriptSeconds, event.seconds))
        return Fail(number, "'" + time + "' is not a time in seconds (like 0, 2 or 1.5)", error);
    if (event.seconds < previous)
        return Fail(number, "time " + time + " is earlier than the line before", error);
    event.line = number;

    std::string verb = NextWord(line, pos);
    std::string problem;
    if (verb == "command") {
        event.kind = EventKind::Command;
        event.text = Rest(line, pos);
        if (event.text.empty())
            return Fail(number, "'command' needs the text to write", error);
        long long units = Utf16Length(event.text);
        if (units < 0)
            return Fail(number, "the command text is not valid UTF-8", error);
        if (units > static_cast<long long>(kMaxCommandUnits))
            return Fail(number, "the command text does not fit the command block", error);
        if (!state.console)
            return Fail(number, "'command' while the console is off", error);
        return true;
    }
    if (verb == "output") {
        event.kind = EventKind::Output;
        if (!ReadSwitch(line, pos, "on", "off", event.on, problem))
            return Fail(number, problem, error);
        if (event.on == state.output)
            return Fail(number, std::string("the output is already ") + (event.on ? "on" : "off"),
                        error);
        state.output = event.on;
        return true;
    }
    if (verb == "scene") {
        event.kind = EventKind::Scene;
        if (!ReadSwitch(line, pos, "begin", "end", event.on, problem))
            return Fail(number, problem, error);
        if (event.seconds == 0.0)
            return Fail(number, "the scene starts after the events at 0; give a later time", error);
        if (event.on == state.scene)
            return Fail(number,
                        std::string("the scene has already ") + (event.on ? "begun" : "ended"),
                        error);
        state.scene = event.on;
        return true;
    }
    if (verb == "console") {
        event.kind = EventKind::Console;
        if (!ReadSwitch(line, pos, "on", "off", event.on, problem))
            return Fail(number, problem, error);
        if (event.on == state.console)
            return Fail(number, std::string("the console is already ") + (event.on ? "on" : "off"),
                        error);
        state.console = event.on;
        return true;
    }
    if (verb.empty())
        return Fail(number, "a time with nothing to do", error);
    return Fail(number, "unknown event '" + verb + "' (command, output, scene or console)", error);
}

}  // namespace

bool ParseScript(const std::string& text, Script& script, std::string& error) {
    script.events.clear();
    ScriptState state;
    double previous = 0.0;
    size_t start = 0;
    // A byte-order mark from an editor is not part of the first line.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        start = 3;
    int number = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        std::string first = Rest(line, 0);
        if (first.empty() || first[0] == '#')
            continue;
        if (line.find('\0') != std::string::npos)
            return Fail(number, "holds a null byte", error);
        ScriptEvent event;
        if (!ParseLine(line, number, state, previous, event, error))
            return false;
        previous = event.seconds;
        script.events.push_back(event);
    }
    return true;
}

long long FirstFrameAtOrAfter(double seconds, int fps) {
    // A little slack, so that 0.1 s at 30 fps is frame 3 and not 4 through rounding.
    return static_cast<long long>(std::ceil(seconds * fps - 1e-6));
}

std::string ResolveCommandPath(const std::string& command, const std::string& base) {
    // The first two non-empty fields.
    size_t starts[2] = {0, 0}, ends[2] = {0, 0};
    size_t found = 0, pos = 0;
    while (found < 2 && pos < command.size()) {
        while (pos < command.size() && command[pos] == '|')
            ++pos;
        if (pos == command.size())
            break;
        starts[found] = pos;
        while (pos < command.size() && command[pos] != '|')
            ++pos;
        ends[found++] = pos;
    }
    if (found < 2)
        return command;
    // Leading white space and a sign, as the module reads the id.
    size_t id = starts[0];
    while (id < ends[0] && (command[id] == ' ' || command[id] == '\t'))
        ++id;
    if (id < ends[0] && command[id] == '-')
        return command;
    std::string path = command.substr(starts[1], ends[1] - starts[1]);
    return command.substr(0, starts[1]) + AbsoluteAgainst(path, base) + command.substr(ends[1]);
}

bool LoadScript(const std::string& path, Script& script, std::string& error) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = "cannot read the script " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string text;
    char buffer[4096];
    size_t got;
    // Scripts are a few lines; anything this large is not one.
    const size_t kMaxScriptBytes = 16u << 20;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, got);
        if (text.size() > kMaxScriptBytes)
            break;
    }
    bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (readError) {
        error = "cannot read the script " + path;
        return false;
    }
    if (text.size() > kMaxScriptBytes) {
        error = "the script " + path + " is too large to be a script";
        return false;
    }
    if (!ParseScript(text, script, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

}  // namespace fxplayer
