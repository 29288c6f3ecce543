#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "controller/ConsoleProtocol.h"
#include "platform/Platform.h"

// The thin link to the console through the platform now in use: finding its window, sending it
// messages, the two named blocks and its launch.
namespace vantrel {

// The console's window, looked up afresh: the console may have closed or restarted since the last
// lookup, so a handle is never kept. Null when the console is not running.
platform::WindowHandle FindConsoleWindow();

// Sends one message and waits until the console has handled it, but never longer than
// kConsoleMessageTimeoutMs and not at all for a console that has stopped answering. The caller
// passes a signed 32-bit effect id as `wParam`, which sign-extends it to the width of wParam.
// False when the message was not handled (the window closed, hung or timed out).
bool SendToConsole(platform::WindowHandle window, uint32_t code, intptr_t wParam, intptr_t lParam);

// The command block, created with kCommandBlockSize bytes or opened. Null on failure.
platform::MappingHandle OpenCommandBlock();
// A view of its first kCommandBlockSize bytes; null on failure (the block may be smaller, when
// another program made it). Give it back with UnmapCommandView.
const void* MapCommandView(platform::MappingHandle mapping);
void UnmapCommandView(const void* view);
// Lets go of the command block.
void CloseCommandBlock(platform::MappingHandle mapping);

// Copies the command text at the start of `view` (`viewBytes` long), its null included, into
// `out` (kCommandTextCapacity units). False, with `out` empty, when there is no null within the
// first kCommandTextCapacity units or within the view: such a text is no command. Reads nothing
// beyond `viewBytes`, and needs no alignment of the view.
bool CopyCommandText(const void* view, size_t viewBytes, char16_t* out);
// Two copies of the command text agree: the same units up to and including the first's null. A
// copy taken while the console still wrote, shorter than the next and a prefix of it, does not.
// Inline: it runs on every poll.
inline bool SameCommandText(const char16_t* first, const char16_t* second) {
    size_t length = 0;
    while (first[length] != 0)
        ++length;
    return std::memcmp(first, second, (length + 1) * sizeof(char16_t)) == 0;
}

// The handshake block, created with kHandshakeBlockSize bytes or opened. Null on failure.
platform::MappingHandle OpenHandshakeBlock();
// A view of kHandshakeViewSize bytes; null unless the block is at least that large.
void* MapHandshakeView(platform::MappingHandle mapping);

// Starts the console program with these parameters; returns the shell's result value.
intptr_t LaunchConsole(const char* parameters);
// Whether a shell result value means the launch was started.
inline bool LaunchSucceeded(intptr_t result) {
    return static_cast<uint32_t>(result) > 32;
}

}  // namespace vantrel
