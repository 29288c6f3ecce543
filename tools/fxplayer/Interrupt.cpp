#include "Interrupt.h"

#include <csignal>
#include <cstdlib>

namespace fxplayer {

namespace {

volatile std::sig_atomic_t caught = 0;

void OnSignal(int signal) {
    if (caught != 0) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    caught = signal;
    // Windows resets the handler on delivery; put it back so that the second signal is seen too.
    std::signal(signal, OnSignal);
}

}  // namespace

void CatchInterrupts() {
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
}

int InterruptSignal() {
    return caught;
}

void EndAsInterrupted() {
    const int signal = caught != 0 ? caught : SIGINT;
#if defined(_WIN32)
    // What Windows reports for a program ended by Ctrl-C (STATUS_CONTROL_C_EXIT).
    (void)signal;
    std::_Exit(-1073741510);
#else
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal);  // not reached: the default action ends the process
#endif
}

}  // namespace fxplayer
