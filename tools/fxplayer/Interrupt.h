#pragma once

// Ctrl-C (SIGINT) and termination requests (SIGTERM) during a run. The handler only notes the
// signal; the frame loop sees it before the next frame, the run cleans up after itself (the
// working folder, the files the script changed, the console) and the player then ends as the
// signal would have ended it. A second signal while it cleans up ends it at once.
namespace fxplayer {

void CatchInterrupts();
// The signal caught, or 0.
int InterruptSignal();
// Ends the process as the caught signal does by default (status 128 + N in a POSIX shell).
[[noreturn]] void EndAsInterrupted();

}  // namespace fxplayer
