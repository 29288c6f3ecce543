// fxconsole: a controller console for trying the effect module on Windows (and Wine) without the
// real one. It owns the console's window title, creates the command and handshake blocks, writes
// command texts into the command block on a schedule and prints, one line each, every message its
// window receives and every handshake text.
//
// Output lines (UTF-8, one per event, flushed at once):
//   ready                          the window and both blocks exist
//   msg <code> <wParam> <lParam>   a message of WM_USER or above (signed decimal numbers)
//   handshake <text>               after message 1045: the handshake block's text
//   command <text>                 a command text has just been written
// Errors go to standard error.

// clang-format off
#include <windows.h>  // first: the other system headers rely on it
#include <fcntl.h>
#include <io.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CommandLine.h"
#include "controller/ConsoleProtocol.h"

namespace {

using vantrel::kCommandBlockName;
using vantrel::kConsoleTitle;
using vantrel::kHandshakeBlockName;
using vantrel::kHandshakeMessage;

// The console makes both blocks this large; the module views both at this size.
constexpr DWORD kBlockSize = vantrel::kCommandBlockSize;
static_assert(vantrel::kCommandBlockSize == vantrel::kHandshakeViewSize,
              "both blocks are made at the size the module views");
constexpr size_t kBlockUnits = kBlockSize / sizeof(wchar_t);

const char kUsage[] =
    "usage: fxconsole [--command TEXT]... [--interval SECONDS] [--script FILE|-]\n"
    "                 [--quit-after SECONDS] [--stall-on CODE SECONDS]\n"
    "  --command TEXT       write TEXT into the command block; several are written --interval\n"
    "                       seconds apart (default 0.5), the first at once\n"
    "  --script FILE        lines '<seconds> <text>': write each text that many seconds after\n"
    "                       start; '-' reads standard input, the default without --command\n"
    "                       or --script; empty lines and lines starting with # are skipped\n"
    "  --quit-after SECONDS close the console after that many seconds\n"
    "  --stall-on CODE SECONDS  take that long over each message CODE (a console that is slow\n"
    "                       to answer, to see that its callers do not wait for good); a line\n"
    "                       on standard input ends the stall early; 'stall released' or\n"
    "                       'stall over' follows the message's line\n";

struct Command {
    ULONGLONG due;  // GetTickCount64 time
    std::wstring text;
};

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) {
        return std::string();
    }
    int length = static_cast<int>(text.size());
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(std::max(bytes, 0)), '\0');
    if (bytes > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), length, &out[0], bytes, nullptr, nullptr);
    }
    return out;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    int length = static_cast<int>(text.size());
    int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    std::wstring out(static_cast<size_t>(std::max(units, 0)), L'\0');
    if (units > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), length, &out[0], units);
    }
    return out;
}

void PrintLine(const std::string& line) {
    std::string out = line + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

void PrintError(const std::wstring& line) {
    std::string out = "fxconsole: " + ToUtf8(line) + "\n";
    std::fwrite(out.data(), 1, out.size(), stderr);
    std::fflush(stderr);
}

// The longest time the console takes, in seconds.
constexpr double kMaxSeconds = 1e7;

ULONGLONG Milliseconds(double seconds) {
    return static_cast<ULONGLONG>(seconds * 1000.0 + 0.5);
}

// Seconds as a count of milliseconds; false for anything but a decimal number from 0 to 10^7.
bool ParseSeconds(const std::wstring& text, ULONGLONG& milliseconds) {
    double seconds = 0.0;
    const bool read = cli::ReadDecimal(ToUtf8(text), 0, kMaxSeconds, seconds);
    milliseconds = Milliseconds(seconds);
    return read;
}

// One "<seconds> <text>" line. False for a malformed one; `skip` for an empty or comment line.
bool ParseScriptLine(std::wstring line, ULONGLONG& offset, std::wstring& text, bool& skip) {
    while (!line.empty() && (line.back() == L'\r' || line.back() == L'\n')) {
        line.pop_back();
    }
    size_t start = line.find_first_not_of(L" \t");
    skip = start == std::wstring::npos || line[start] == L'#';
    if (skip) {
        return true;
    }
    size_t gap = line.find_first_of(L" \t", start);
    if (gap == std::wstring::npos || !ParseSeconds(line.substr(start, gap - start), offset)) {
        return false;
    }
    size_t textStart = line.find_first_not_of(L" \t", gap);
    if (textStart == std::wstring::npos) {
        return false;
    }
    text = line.substr(textStart);
    return true;
}

// ----------------------------------------------------------------------------- the console

class Console {
public:
    bool Open();
    void Close();
    void StallOn(UINT code, DWORD milliseconds) {
        stallCode_ = code;
        stallMilliseconds_ = milliseconds;
    }
    // From now on the schedule's seconds count.
    ULONGLONG Start() { return start_ = GetTickCount64(); }
    // Pumps messages and writes due commands until the window closes or the quit time passes.
    int Run(ULONGLONG quitAt);

    void Schedule(Command command);
    void ReadStandardInput();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT code, WPARAM wParam, LPARAM lParam);
    bool MakeBlock(const wchar_t* name, HANDLE& mapping, void*& view);
    void OnMessage(UINT code, WPARAM wParam, LPARAM lParam);
    void WriteCommand(const std::wstring& text);
    void TakeStandardInput();

    HWND window_ = nullptr;
    ULONGLONG start_ = 0;
    UINT stallCode_ = 0;
    DWORD stallMilliseconds_ = 0;
    HANDLE commandMapping_ = nullptr;
    void* commandView_ = nullptr;
    HANDLE handshakeMapping_ = nullptr;
    void* handshakeView_ = nullptr;
    std::deque<Command> pending_;  // by due time

    // Lines from the standard-input reader thread, handed over under the lock.
    HANDLE inputEvent_ = nullptr;
    std::mutex inputLock_;
    std::vector<std::wstring> inputLines_;
    bool inputEnded_ = false;
};

// Made once and never destroyed: the standard-input reader may still be blocked in a read when the
// program ends.
Console* theConsole = nullptr;
HWND theWindow = nullptr;

bool Console::MakeBlock(const wchar_t* name, HANDLE& mapping, void*& view) {
    mapping =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBlockSize, name);
    if (mapping == nullptr) {
        PrintError(std::wstring(L"could not create the block ") + name + L" (error " +
                   std::to_wstring(GetLastError()) + L")");
        return false;
    }
    view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, kBlockSize);
    if (view == nullptr) {
        // Someone else made the block smaller than we need.
        PrintError(std::wstring(L"could not map the block ") + name + L" at " +
                   std::to_wstring(kBlockSize) + L" bytes (error " +
                   std::to_wstring(GetLastError()) + L")");
        return false;
    }
    return true;
}

bool Console::Open() {
    // Both blocks before the window: a module that finds the window makes the handshake block
    // itself when it does not exist yet, at a size our view of it would then be refused.
    if (!MakeBlock(kCommandBlockName, commandMapping_, commandView_) ||
        !MakeBlock(kHandshakeBlockName, handshakeMapping_, handshakeView_)) {
        return false;
    }
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = &Console::WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"VantrelFxConsole";
    if (RegisterClassW(&windowClass) == 0) {
        PrintError(L"could not register the window class (error " +
                   std::to_wstring(GetLastError()) + L")");
        return false;
    }
    // Top-level and hidden: FindWindowW finds it by its title all the same.
    window_ = CreateWindowExW(0, windowClass.lpszClassName, kConsoleTitle, WS_OVERLAPPEDWINDOW,
                              CW_USEDEFAULT, CW_USEDEFAULT, 320, 200, nullptr, nullptr, instance,
                              nullptr);
    if (window_ == nullptr) {
        PrintError(L"could not create the window (error " + std::to_wstring(GetLastError()) + L")");
        return false;
    }
    theWindow = window_;
    inputEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return inputEvent_ != nullptr;
}

void Console::Close() {
    if (window_ != nullptr) {
        theWindow = nullptr;
        DestroyWindow(window_);
        window_ = nullptr;
    }
    for (void* view : {commandView_, handshakeView_}) {
        if (view != nullptr) {
            UnmapViewOfFile(view);
        }
    }
    for (HANDLE handle : {commandMapping_, handshakeMapping_, inputEvent_}) {
        if (handle != nullptr) {
            CloseHandle(handle);
        }
    }
    commandView_ = handshakeView_ = nullptr;
    commandMapping_ = handshakeMapping_ = inputEvent_ = nullptr;
}

LRESULT CALLBACK Console::WindowProc(HWND window, UINT code, WPARAM wParam, LPARAM lParam) {
    // Messages of WM_USER and above are the application's (registered ones, 0xC000 and up, are
    // system broadcasts).
    if (code >= WM_USER && code < 0xC000 && theConsole != nullptr) {
        theConsole->OnMessage(code, wParam, lParam);
        return 0;
    }
    if (code == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, code, wParam, lParam);
}

void Console::OnMessage(UINT code, WPARAM wParam, LPARAM lParam) {
    char line[96];
    std::snprintf(line, sizeof line, "msg %u %lld %lld", code,
                  static_cast<long long>(static_cast<INT_PTR>(wParam)),
                  static_cast<long long>(lParam));
    PrintLine(line);
    if (code == stallCode_) {
        // Let go early by a line on standard input, so that a test can hold the message for as
        // long as it needs to see its sender give up, and no longer.
        const bool released = WaitForSingleObject(inputEvent_, stallMilliseconds_) == WAIT_OBJECT_0;
        if (released) {
            SetEvent(inputEvent_);  // the line is still the loop's to take
        }
        PrintLine(released ? "stall released" : "stall over");
    }
    if (code != kHandshakeMessage) {
        return;
    }
    // The handshake text: UTF-16 from offset 0 up to its null, or to the end of the block.
    const wchar_t* block = static_cast<const wchar_t*>(handshakeView_);
    size_t length = 0;
    while (length < kBlockUnits && block[length] != L'\0') {
        ++length;
    }
    PrintLine("handshake " + ToUtf8(std::wstring(block, length)));
}

void Console::WriteCommand(const std::wstring& text) {
    if (text.size() >= kBlockUnits) {
        PrintError(L"command too long for the block, not written: " + text.substr(0, 64) + L"...");
        return;
    }
    // The text, then its null; the sources read the block without a lock.
    wchar_t* block = static_cast<wchar_t*>(commandView_);
    std::copy(text.begin(), text.end(), block);
    block[text.size()] = L'\0';
    PrintLine("command " + ToUtf8(text));
}

void Console::Schedule(Command command) {
    // Stable: commands due at the same time keep their order.
    auto later =
        std::upper_bound(pending_.begin(), pending_.end(), command.due,
                         [](ULONGLONG due, const Command& other) { return due < other.due; });
    pending_.insert(later, std::move(command));
}

// Runs on its own thread: a blocking read of standard input must not stop the message pump.
void Console::ReadStandardInput() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::string pendingBytes;
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (input == nullptr || input == INVALID_HANDLE_VALUE ||
            !ReadFile(input, buffer, sizeof buffer, &got, nullptr) || got == 0) {
            break;
        }
        pendingBytes.append(buffer, got);
        size_t newline;
        std::vector<std::wstring> lines;
        while ((newline = pendingBytes.find('\n')) != std::string::npos) {
            lines.push_back(FromUtf8(pendingBytes.substr(0, newline)));
            pendingBytes.erase(0, newline + 1);
        }
        if (!lines.empty()) {
            std::lock_guard<std::mutex> lock(inputLock_);
            inputLines_.insert(inputLines_.end(), lines.begin(), lines.end());
            SetEvent(inputEvent_);
        }
    }
    std::lock_guard<std::mutex> lock(inputLock_);
    if (!pendingBytes.empty()) {
        inputLines_.push_back(FromUtf8(pendingBytes));
    }
    inputEnded_ = true;
    SetEvent(inputEvent_);
}

void Console::TakeStandardInput() {
    std::vector<std::wstring> lines;
    {
        std::lock_guard<std::mutex> lock(inputLock_);
        lines.swap(inputLines_);
    }
    for (const std::wstring& line : lines) {
        ULONGLONG offset = 0;
        std::wstring text;
        bool skip = false;
        if (!ParseScriptLine(line, offset, text, skip)) {
            PrintError(L"not a '<seconds> <text>' line, skipped: " + line);
        } else if (!skip) {
            // Standard input's seconds count from the start, as a script's do; a time already
            // past means at once.
            Schedule(Command{start_ + offset, text});
        }
    }
}

int Console::Run(ULONGLONG quitAt) {
    for (;;) {
        TakeStandardInput();
        ULONGLONG now = GetTickCount64();
        while (!pending_.empty() && pending_.front().due <= now) {
            Command command = std::move(pending_.front());
            pending_.pop_front();
            WriteCommand(command.text);
        }
        if (quitAt != 0 && now >= quitAt) {
            return 0;
        }
        // Sleep until a message, a line of input, the next command or the quit time.
        ULONGLONG wait = INFINITE;
        if (!pending_.empty()) {
            wait = std::min(wait, pending_.front().due - now);
        }
        if (quitAt != 0) {
            wait = std::min(wait, quitAt - now);
        }
        MsgWaitForMultipleObjects(1, &inputEvent_, FALSE, static_cast<DWORD>(wait), QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                return static_cast<int>(message.wParam);
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

BOOL WINAPI OnConsoleControl(DWORD) {
    // Ctrl+C and friends: close the window, so that the pump ends and the blocks are released.
    HWND window = theWindow;
    if (window != nullptr) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return TRUE;
    }
    return FALSE;
}

struct Options {
    std::vector<std::pair<ULONGLONG, std::wstring>> planned;  // offset, text
    bool readStandardInput = false;
    double quitAfter = -1.0;  // seconds; below 0: never
    UINT stallCode = 0;
    double stall = 0.0;  // seconds
};

bool LoadScript(const std::wstring& path, Options& options) {
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) {
        PrintError(L"cannot open the script " + path);
        return false;
    }
    std::string bytes;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.append(buffer, got);
    }
    std::fclose(file);
    std::wstring text = FromUtf8(bytes);
    size_t start = 0;
    int lineNumber = 0;
    bool good = true;
    while (start <= text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        ++lineNumber;
        ULONGLONG offset = 0;
        std::wstring commandText;
        bool skip = false;
        if (!ParseScriptLine(text.substr(start, end - start), offset, commandText, skip)) {
            PrintError(path + L":" + std::to_wstring(lineNumber) +
                       L": not a '<seconds> <text>' line");
            good = false;
        } else if (!skip) {
            options.planned.emplace_back(offset, commandText);
        }
        start = end + 1;
    }
    return good;
}

// False with the status to end with when the command line is not one to run.
bool ParseOptions(const std::vector<std::string>& args, Options& options, int& status) {
    std::vector<std::string> commands, scripts;
    double interval = 0.5;
    cli::CommandLine line(" (see --help)");
    line.Option("--command",
                [&](const std::string& text) {
                    commands.push_back(text);
                    return std::string();
                })
        .Option("--script",
                [&](const std::string& path) {
                    scripts.push_back(path);
                    return std::string();
                })
        .Decimal("--interval", 0, kMaxSeconds, "seconds", interval)
        .Decimal("--quit-after", 0, kMaxSeconds, "seconds", options.quitAfter)
        .Option("--stall-on", 2, [&](const std::vector<std::string>& values) {
            return cli::ReadWhole(values[0], WM_USER, 0xBFFF, options.stallCode) &&
                           cli::ReadDecimal(values[1], 0, 60, options.stall)
                       ? std::string()
                       : "--stall-on takes a message code from 1024 and at most 60 seconds";
        });
    if (!line.Parse(args, "fxconsole", kUsage, status)) {
        return false;
    }
    options.readStandardInput = commands.empty() && scripts.empty();
    for (const std::string& script : scripts) {
        options.readStandardInput = options.readStandardInput || script == "-";
        if (script != "-" && !LoadScript(FromUtf8(script), options)) {
            status = 2;
            return false;
        }
    }
    for (size_t i = 0; i < commands.size(); ++i) {
        options.planned.emplace_back(Milliseconds(interval) * i, FromUtf8(commands[i]));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Our lines end in "\n" alone, whatever reads them.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);

    Options options;
    int status = 0;
    if (!ParseOptions(cli::Utf8Arguments(argc, argv), options, status)) {
        return status;
    }

    theConsole = new Console;
    if (!theConsole->Open()) {
        theConsole->Close();
        return 1;
    }
    theConsole->StallOn(options.stallCode, static_cast<DWORD>(Milliseconds(options.stall)));
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
    ULONGLONG start = theConsole->Start();
    PrintLine("ready");
    for (auto& planned : options.planned) {
        theConsole->Schedule(Command{start + planned.first, std::move(planned.second)});
    }
    if (options.readStandardInput) {
        std::thread([] { theConsole->ReadStandardInput(); }).detach();
    }
    int result =
        theConsole->Run(options.quitAfter < 0 ? 0 : start + Milliseconds(options.quitAfter));
    theConsole->Close();
    return result;
}
