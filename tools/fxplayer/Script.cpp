#include "Script.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "CommandLine.h"
#include "Files.h"
#include "TextCodec.h"

namespace fxplayer {

namespace {

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

// A file name: a word, or the text between double quotes (which may hold blanks). False when a
// quote is not closed.
bool NextName(const std::string& line, size_t& pos, std::string& name) {
    while (pos < line.size() && IsBlank(line[pos]))
        ++pos;
    if (pos < line.size() && line[pos] == '"') {
        size_t close = line.find('"', pos + 1);
        if (close == std::string::npos)
            return false;
        name = line.substr(pos + 1, close - pos - 1);
        pos = close + 1;
        return true;
    }
    name = NextWord(line, pos);
    return true;
}

// Nothing but blanks or a comment from `pos` on; else `problem` names what follows `after`.
bool NothingAfter(const std::string& line, size_t pos, const std::string& after,
                  std::string& problem) {
    std::string rest = Rest(line, pos);
    if (rest.empty() || rest[0] == '#')
        return true;
    problem = "unexpected '" + rest + "' after '" + after + "'";
    return false;
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
    std::string expected = std::string("'") + onWord + "' or '" + offWord + "'";
    if (word == onWord) {
        on = true;
    } else if (word == offWord) {
        on = false;
    } else {
        problem = "expected " + expected + (word.empty() ? "" : ", not '" + word + "'");
        return false;
    }
    return NothingAfter(line, pos, word, problem);
}

// "X Y W H": the item's top-left corner and its size, whole canvas pixels.
bool ReadItem(const std::string& line, size_t pos, ScriptEvent& event, std::string& problem) {
    const char* names[] = {"X", "Y", "W", "H"};
    long long* values[] = {&event.x, &event.y, &event.width, &event.height};
    std::string last;
    for (int i = 0; i < 4; ++i) {
        std::string word = NextWord(line, pos);
        long long min = i < 2 ? -kMaxItemPixels : 0;
        if (!cli::ReadWhole(word, min, kMaxItemPixels, *values[i])) {
            problem = std::string("'item X Y W H' takes whole canvas pixels, ") + names[i] +
                      " from " + std::to_string(min) + " to " + std::to_string(kMaxItemPixels) +
                      (word.empty() ? "" : ", not '" + word + "'");
            return false;
        }
        last = word;
    }
    return NothingAfter(line, pos, last, problem);
}

const char* FileChangeForm(EventKind kind) {
    switch (kind) {
        case EventKind::Replace:
            return "'replace FILE with OTHER'";
        case EventKind::Write:
            return "'write FILE garbage|truncate N'";
        case EventKind::Delete:
            return "'delete FILE'";
        default:
            return "'touch FILE'";
    }
}

// Far beyond any effect file, and within every file system's sizes.
constexpr long long kMaxFileBytes = 1LL << 40;

// "garbage" or "truncate N", after the file of a write.
bool ReadWrite(const std::string& line, size_t& pos, ScriptEvent& event, std::string& last,
               std::string& problem) {
    const std::string form = FileChangeForm(event.kind);
    std::string how = NextWord(line, pos);
    if (how == "garbage") {
        last = how;
        return true;
    }
    std::string bytes = NextWord(line, pos);
    if (how != "truncate" || !cli::ReadWhole(bytes, 0, kMaxFileBytes, event.keepBytes)) {
        problem = form + " needs 'garbage', or 'truncate' and the bytes to keep";
        return false;
    }
    last = bytes;
    return true;
}

// "FILE with OTHER", "FILE garbage", "FILE truncate N" or "FILE".
bool ReadFileChange(const std::string& line, size_t pos, ScriptEvent& event, std::string& problem) {
    const std::string form = FileChangeForm(event.kind);
    if (!NextName(line, pos, event.text) || event.text.empty()) {
        problem = form + " needs a file name (in double quotes if it holds blanks)";
        return false;
    }
    std::string last = event.text;
    if (event.kind == EventKind::Replace) {
        std::string with = NextWord(line, pos);
        if (with != "with" || !NextName(line, pos, event.other) || event.other.empty()) {
            problem = form + " needs 'with' and a second file name";
            return false;
        }
        last = event.other;
    }
    if (event.kind == EventKind::Write && !ReadWrite(line, pos, event, last, problem))
        return false;
    return NothingAfter(line, pos, last, problem);
}

// "on", "off" or "kill" (which ends the console's process as it stands).
bool ReadConsoleSwitch(const std::string& line, size_t pos, ScriptEvent& event,
                       std::string& problem) {
    size_t after = pos;
    if (NextWord(line, after) == "kill") {
        event.kill = true;
        event.on = false;
        return NothingAfter(line, after, "kill", problem);
    }
    if (ReadSwitch(line, pos, "on", "off", event.on, problem))
        return true;
    problem += problem.compare(0, 8, "expected") == 0 ? " (or 'kill')" : "";
    return false;
}

bool ParseLine(const std::string& line, int number, ScriptState& state, double previous,
               ScriptEvent& event, std::string& error) {
    size_t pos = 0;
    std::string time = NextWord(line, pos);
    if (!cli::ReadDecimal(time, 0, kMaxRunSeconds, event.seconds))
        return Fail(number,
                    "'" + time + "' is not a time in seconds from 0 to " +
                        std::to_string(kMaxRunSeconds) + " (like 0, 2 or 1.5)",
                    error);
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
            return Fail(number,
                        "the command text does not fit the command block: it takes " +
                            std::to_string(units) + " UTF-16 units, the block holds " +
                            std::to_string(kMaxCommandUnits) + " and a null",
                        error);
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
        if (!ReadConsoleSwitch(line, pos, event, problem))
            return Fail(number, problem, error);
        if (event.on == state.console)
            return Fail(number, std::string("the console is already ") + (event.on ? "on" : "off"),
                        error);
        state.console = event.on;
        return true;
    }
    if (verb == "source") {
        std::string which = NextWord(line, pos);
        if (!cli::ReadWhole(which, 1, kMaxSources, event.source))
            return Fail(number,
                        "'source N' takes a source from 1 to " + std::to_string(kMaxSources) +
                            (which.empty() ? "" : ", not '" + which + "'"),
                        error);
        verb = NextWord(line, pos);
        if (verb != "set" && verb != "item")
            return Fail(number,
                        "'source " + which + "' is followed by 'set' or 'item'" +
                            (verb.empty() ? "" : ", not '" + verb + "'"),
                        error);
    }
    if (verb == "set") {
        event.kind = EventKind::Set;
        event.text = Rest(line, pos);
        if (!ParseSetting(event.text, event.setting, problem))
            return Fail(number, problem, error);
        return true;
    }
    if (verb == "item") {
        event.kind = EventKind::Item;
        if (!ReadItem(line, pos, event, problem))
            return Fail(number, problem, error);
        return true;
    }
    if (verb == "replace" || verb == "touch" || verb == "delete" || verb == "write") {
        event.kind = verb == "replace"  ? EventKind::Replace
                     : verb == "touch"  ? EventKind::Touch
                     : verb == "delete" ? EventKind::Delete
                                        : EventKind::Write;
        if (!ReadFileChange(line, pos, event, problem))
            return Fail(number, problem, error);
        return true;
    }
    if (verb.empty())
        return Fail(number, "a time with nothing to do", error);
    return Fail(
        number,
        "unknown event '" + verb +
            "' (command, output, scene, console, set, item, replace, touch, delete, write or "
            "source)",
        error);
}

}  // namespace

bool ParseScript(const std::string& text, Script& script, std::string& error) {
    script = Script();
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
        script.sources = std::max(script.sources, event.source);
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
    FILE* file = OpenFile(path, "rb");
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
