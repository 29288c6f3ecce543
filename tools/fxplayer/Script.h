#pragma once

// The player's script: the console's side of a run and what the streamer does, one timed event
// per line.
//
//   <seconds> command <text>          the console writes <text> into the command block
//   <seconds> output on|off           what the host answers when asked whether its output runs
//   <seconds> scene end|begin         the scene that holds the sources ends or starts again
//   <seconds> console on|off|kill     the console starts (window and both blocks) or quits;
//                                     killed, its process ends without closing anything itself
//   <seconds> set KEY=VALUE           the streamer changes a setting of the source; the host
//                                     stores it and has the source apply its settings
//   <seconds> item X Y W H            the source's item moves to (X, Y) on the canvas and takes
//                                     the size W x H, in canvas pixels
//   <seconds> replace FILE with OTHER FILE's bytes become OTHER's, as when an effect is saved anew
//   <seconds> touch FILE              FILE's modification time becomes now
//   <seconds> delete FILE             FILE is removed
//   <seconds> write FILE garbage      FILE's bytes become as many bytes of noise (the same noise
//                                     on every run)
//   <seconds> write FILE truncate N   FILE keeps its first N bytes
//   <seconds> source N set|item ...   the same, for source N of the scene (1 without it)
//   # ...                             a comment; blank lines are skipped too
//
// Times are seconds from the start, never decreasing from one line to the next, and at most the
// longest run. A command's text and a setting's value run to the end of the line; file names are
// words, in double quotes when they hold blanks, taken from the script's folder when relative. The
// console and the output start off and the scene runs from time 0; an event that would not change
// anything (output on while on, a second scene begin, a command with no console running) is an
// error, since the script then says something other than what its author meant.
#include <string>
#include <vector>

#include "SourceSettings.h"

namespace fxplayer {

// The longest run, and so the latest time a script may name: an hour. The module's timers repeat
// within seconds, so an hour holds every pattern a script can show, and it is already 216,000
// frames at 60 fps (about 14,400 kept frames by default); a longer run is a typo, not a test.
constexpr int kMaxRunSeconds = 3600;
// The most effect sources a scene of the player holds.
constexpr int kMaxSources = 8;
// Item places and sizes, in canvas pixels: as far as the host's largest picture side.
constexpr long long kMaxItemPixels = 16384;

enum class EventKind { Command, Output, Scene, Console, Set, Item, Replace, Touch, Delete, Write };

struct ScriptEvent {
    double seconds = 0.0;
    EventKind kind = EventKind::Command;
    bool on = false;    // output on, scene begin, console on
    bool kill = false;  // console kill (and `on` false)
    std::string text;   // command: the text as written (UTF-8); replace, touch, delete, write: the
                        // file
    long long keepBytes = -1;  // write: the bytes truncate keeps; -1 for garbage
    std::string other;         // replace: the file whose bytes it takes
    Setting setting;           // set
    int source = 1;            // set, item: the source, from 1
    long long x = 0, y = 0, width = 0, height = 0;  // item
    int line = 0;                                   // where it stands in the script, from 1
};

struct Script {
    std::vector<ScriptEvent> events;  // in time order
    int sources = 1;                  // the highest source number the events name
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
