#pragma once

// The controller console's side of a run, as the script plays it. On Linux the console lives in
// the simulated desktop that the module shares with the player; on Windows it is a real fxconsole
// process. Either way what the console receives (messages, handshake texts) and what the module
// does on the desktop (launches, its standard output) ends up in the transcript.
#include <memory>
#include <string>

#include "Transcript.h"

namespace fxplayer {

class ConsoleSide {
public:
    virtual ~ConsoleSide() = default;

    // The console starts: its window exists and it has made both blocks at 8192 bytes.
    virtual bool Start(std::string& error) = 0;
    // The console quits: its window is gone and it has let go of its blocks.
    virtual bool Stop(std::string& error) = 0;
    // The console's process is killed: it ends at once, closing nothing itself (its window goes,
    // and its blocks with its handles, as the system closes them).
    virtual bool Kill(std::string& error) = 0;
    // The console writes `text` (UTF-8) into the command block, with its null.
    virtual bool WriteCommand(const std::string& text, std::string& error) = 0;
    // Moves what has happened on the console's side since the last call into the transcript.
    // Called before every log line, so that lines keep the order in which things happened.
    virtual void Collect() = 0;
    // The run has reached `seconds`: the simulated desktop's calendar clock moves with it (whole
    // seconds from where it stood when the run began), so that what the module times by the
    // calendar (a handshake at most every 2 s) goes as on a real desktop. A real desktop keeps its
    // own clock.
    virtual void FollowRunTime(double seconds) = 0;
};

// `playerDirectory` is where the player's binary lives (fxconsole is looked for there).
std::unique_ptr<ConsoleSide> MakeConsoleSide(Transcript& transcript,
                                             const std::string& playerDirectory);

// Whether a console can be started here: checked before a run that needs one writes anything.
bool ConsoleAvailable(const std::string& playerDirectory, std::string& error);

}  // namespace fxplayer
