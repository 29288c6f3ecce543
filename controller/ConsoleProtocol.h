#pragma once

#include <cstddef>
#include <cstdint>

#include "host/String.h"
#include "platform/Platform.h"

// Every form shared with the controller console: its window title, the messages we send it, the
// two named blocks and the command line that starts it. The operations here read and write those
// forms and touch no platform state (the one exception, the ANSI conversion of the handshake text,
// goes through the System it is given).
namespace vantrel {

// The console counts as running exactly when a top-level window has this title.
// "Vantrel特效插件控制台", spelled with escapes so that every compiler reads the same text.
constexpr wchar_t kConsoleTitle[] = L"Vantrel\u7279\u6548\u63D2\u4EF6\u63A7\u5236\u53F0";

// Window messages (WM_USER + 21, + 32, + 33).
constexpr uint32_t kHandshakeMessage = 1045;  // wParam 0, lParam 0: the handshake text is written
constexpr uint32_t kPlayStateMessage = 1056;  // wParam effect id; lParam 0 started, -1 stopped
constexpr uint32_t kLiveStateMessage = 1057;  // wParam 0; lParam 1 when the output is active
// How long one message may hold the calling thread before we give up on the console.
constexpr uint32_t kConsoleMessageTimeoutMs = 500;

// The command block: written by the console, only read by the sources.
constexpr wchar_t kCommandBlockName[] = L"PFGlintora";
constexpr uint32_t kCommandBlockSize = 8192;  // created with, and viewed at
// The copy of the command text: at most 1023 UTF-16 units and a null.
constexpr size_t kCommandTextCapacity = 1024;
// A command has eight fields; more are allowed and ignored.
constexpr size_t kCommandFieldCount = 8;

// The handshake block: written by us, read by the console after kHandshakeMessage. We create it
// with 128 bytes but view 8192, so only a block the console made itself can be written.
constexpr wchar_t kHandshakeBlockName[] = L"VantrelFace";
constexpr uint32_t kHandshakeBlockSize = 128;
constexpr uint32_t kHandshakeViewSize = 8192;
// The longest handshake text the view holds, in UTF-16 units, its null included.
constexpr size_t kHandshakeTextCapacity = kHandshakeViewSize / sizeof(char16_t);

// How the console is started when no window of it exists. The path is relative to the host's
// current directory.
constexpr char kConsoleProgram[] = "plugins\\DezGlintora\\Glintora.exe";
constexpr char kConsoleOperation[] = "open";
constexpr int kConsoleShowCommand = 5;  // SW_SHOW
constexpr size_t kLaunchParametersCapacity = 1024;

// One console command, fields in text order (field 4 is a placeholder and not kept).
struct EffectCommand {
    int32_t commandId;  // negative: clear the effect
    wchar_t effectPath[kCommandTextCapacity];
    int32_t width;
    int32_t height;
    int32_t effectId;
    int32_t xPercent;
    int32_t yPercent;
};

// The same 32 bits read as a signed number (two's complement), without relying on
// implementation-defined conversions.
constexpr int32_t WrapToSigned32(uint32_t value) {
    return value <= 0x7FFFFFFFu ? static_cast<int32_t>(value) : -static_cast<int32_t>(~value) - 1;
}

// Parses a copied command text (null-terminated; at most kCommandTextCapacity units are looked
// at). Runs of '|' separate fields and empty fields do not count. False, with `command` zeroed,
// when the text has fewer than eight fields.
bool ParseCommand(const char16_t* text, EffectCommand& command);

// Reads a number the way the runtime's _wtoi does: leading white space, an optional sign, then
// digits up to the first other character; anything else reads 0. Values beyond 32 bits saturate.
int32_t ReadCommandInteger(const char16_t* field);

// A canvas coordinate from a percentage, in unsigned 32-bit arithmetic as the console expects:
// percentages outside 0..100 give large positive coordinates (-10% of 1920 is 42949480), never
// negative ones.
int32_t PlacementFromPercent(int32_t percent, uint32_t canvasSize);

// Writes "<pid>|<scene>|<source>" as UTF-16 with a null after it into `out`. The identifiers go
// through UTF-8 read in the system's ANSI code page, the same bytes the launch line carries.
// Returns the length without the null; 0, with a log line, when the text does not fit in
// `outCapacity` units with its null (an identifier is never cut) or cannot be built.
size_t FormatHandshakeText(uint32_t processId, const String& sceneId, const String& sourceId,
                           char16_t* out, size_t outCapacity, platform::System& system);

// Writes the console's launch parameters, "9 <pid> <scene> <source> 2", with the identifiers in
// UTF-8. False, with `out` emptied and a log line, when they do not fit in `outCapacity` bytes
// with the null (an identifier is never cut) or cannot be built.
bool FormatLaunchParameters(uint32_t processId, const String& sceneId, const String& sourceId,
                            char* out, size_t outCapacity);

}  // namespace vantrel
