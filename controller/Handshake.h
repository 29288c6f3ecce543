#pragma once

#include "host/String.h"

namespace vantrel {

// Tells the console about a source: through the handshake block and kHandshakeMessage when the
// console's window exists, otherwise by launching the console with the same identifiers. Calls
// less than 2 calendar seconds after the previous call (skipped or not) do nothing and return -1;
// the first call of the process always goes on. A call with an empty identifier is refused with a
// log line and -1, and does not count as a call.
// Returns 0 when the handshake was made or attempted, or the launch started, and the platform's
// last error after a failed launch. Runs on a host thread; calls must not overlap.
int NotifyController(const String& sourceId, const String& sceneId);

// Forgets the handshake block and the time of the last call (tests only; handles are not closed,
// since the simulated desktop they belonged to is reset first).
void ResetHandshakeStateForTests();

}  // namespace vantrel
