#pragma once

// The player's script: the console's side of a run, one timed event per line.
//
//   <seconds> command <text>     the console writes <text> into the command block
//   <seconds> output on|off      what the host answers when asked whether its output runs
//   <seconds> scene end|begin    the scene that holds the source ends or starts again
//   <seconds> console on|off     the console starts (window and both blocks) or quits
//   # ...                        a comment; blank lines are skipped too
//
// Times are seconds from the start, never decreasing from one line to the next. The console and
// the output start off and the scene runs from time 0; an event that would not change anything
// (output on while on, a second scene begin, a command with no console running) is an error, since
// the script then says something other than what its author meant.
#include <string>
#include <vector>

namespace fxplayer {

enum class EventKind { Command, Output, Scene, Console };

struct ScriptEvent {
    double seconds = 0.0;
    EventKind kind = EventKind::Command;
    bool on = false;   // output on, scene begin, console on
    std::string text;  // command: the text as written in the script (UTF-8)
    int line = 0;      // where it stands in the script, from 1
};

struct Script {
    std::vector<ScriptEvent> events;  // in time order
};

// Parses the whole text of a script. False with `error` as "line N: what is wrong".
bool ParseScript(const std::string& text, Script& script, std::string& error);

// A command's effect path (its second field) made absolute against `base` when it is relative, so
// that the module finds the file wherever the host's working directory is, as with the full paths
// the real console writes. Fields are split as the module splits them (runs of '|'); clearing
// commands (a negative first field) and texts with fewer than two fields are left as they are.
std::string ResolveCommandPath(const std::string& command, const std::string& base);

// The frame before which an event at `seconds` takes effect: the first frame at or after its time,
// frame n being at n / fps seconds.
long long FirstFrameAtOrAfter(double seconds, int fps);

// Reads and parses a script file. False with `error` naming the file and, for a bad line, the line.
bool LoadScript(const std::string& path, Script& script, std::string& error);

// The longest command text the console can write: its block holds 8192 bytes of UTF-16 with a null.
constexpr size_t kMaxCommandUnits = 4095;

}  // namespace fxplayer
