#include "controller/Handshake.h"

#include <cstdint>
#include <cstring>

#include "controller/ConsoleLink.h"
#include "controller/ConsoleProtocol.h"
#include "log/ModuleLog.h"
#include "platform/Platform.h"

namespace vantrel {

namespace {

// Module-wide, shared by every source. The block and its view are made at the first handshake
// that finds the console and kept for the life of the process.
platform::MappingHandle handshakeMapping = nullptr;
void* handshakeView = nullptr;
// Calendar seconds of the previous call, truncated to 32 bits; compared wrap-safe. Meaningless
// until the first call: that one always goes on, whatever the clock says (from 2038 on, seconds
// since 1970 read as negative in 32 bits).
int32_t lastHandshakeTime = 0;
bool handshakeCalled = false;

constexpr int32_t kHandshakeIntervalSeconds = 2;

// The two block errors go to the process's standard output rather than the host's log.
template <LogText line>
void PrintError(platform::System& system, uint32_t error) {
    wchar_t text[96];
    FormatLog<line>(text, sizeof(text) / sizeof(text[0]), static_cast<int>(error));
    system.PrintToStdout(text);
}

int Handshake(platform::System& system, platform::WindowHandle window, const String& sourceId,
              const String& sceneId) {
    if (!handshakeMapping) {
        handshakeMapping = OpenHandshakeBlock();
        if (!handshakeMapping) {
            PrintError<LogText::HandshakeMappingFailed>(system, system.LastError());
            return 0;
        }
    }
    if (!handshakeView) {
        handshakeView = MapHandshakeView(handshakeMapping);
        if (!handshakeView) {
            // Usually our own 128-byte block, made before the console made its own: start afresh
            // next time.
            PrintError<LogText::HandshakeViewFailed>(system, system.LastError());
            system.CloseHandle(handshakeMapping);
            handshakeMapping = nullptr;
            return 0;
        }
    }

    char16_t text[kHandshakeTextCapacity];
    const size_t length = FormatHandshakeText(system.ProcessId(), sceneId, sourceId, text,
                                              kHandshakeTextCapacity, system);
    if (length == 0)
        return 0;  // refused and logged; the block keeps the previous text
    // With its null, so that a shorter text leaves no tail of the previous one.
    std::memcpy(handshakeView, text, (length + 1) * sizeof(char16_t));
    SendToConsole(window, kHandshakeMessage, 0, 0);
    return 0;
}

int Launch(platform::System& system, const String& sourceId, const String& sceneId) {
    char parameters[kLaunchParametersCapacity];
    if (!FormatLaunchParameters(system.ProcessId(), sceneId, sourceId, parameters,
                                sizeof(parameters))) {
        return 0;  // refused and logged
    }
    const intptr_t result = LaunchConsole(parameters);
    if (LaunchSucceeded(result)) {
        WriteLog<LogText::ConsoleLaunched>();
        return 0;
    }
    // Read once, before logging could disturb it.
    const int error = static_cast<int>(system.LastError());
    WriteLog<LogText::LaunchResult>(static_cast<int>(static_cast<uint32_t>(result)));
    WriteLog<LogText::LaunchLastError>(error);
    return error;
}

}  // namespace

int NotifyController(const String& sourceId, const String& sceneId) {
    // An empty identifier would shift the console's fields ("9 4242 {SCENE}  2", "pid|scene|").
    // Such a call is not one the guard counts, so the retry once both exist is not held back.
    if (sourceId.IsEmpty() || sceneId.IsEmpty()) {
        WriteLog<LogText::NoIdentifierYet>();
        return -1;
    }
    platform::System& system = platform::Current();

    const int32_t now = WrapToSigned32(static_cast<uint32_t>(system.CalendarSeconds()));
    const int32_t elapsed =
        WrapToSigned32(static_cast<uint32_t>(now) - static_cast<uint32_t>(lastHandshakeTime));
    const bool first = !handshakeCalled;
    // Every call counts, skipped or not: a burst of calls goes on once, at its start.
    lastHandshakeTime = now;
    handshakeCalled = true;
    if (!first && elapsed < kHandshakeIntervalSeconds)
        return -1;

    const platform::WindowHandle window = FindConsoleWindow();
    if (window)
        return Handshake(system, window, sourceId, sceneId);
    return Launch(system, sourceId, sceneId);
}

void ResetHandshakeStateForTests() {
    handshakeMapping = nullptr;
    handshakeView = nullptr;
    lastHandshakeTime = 0;
    handshakeCalled = false;
}

}  // namespace vantrel
