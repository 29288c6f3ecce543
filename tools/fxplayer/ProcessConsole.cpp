// The console on Windows: a real fxconsole process beside the player. Commands go to its standard
// input as "0 <text>" lines (written at once); what it prints ("msg ...", "handshake ...") comes
// back through a pipe. fxconsole prints a message's line before its window procedure returns, so
// the line is in the pipe by the time the module's SendMessage returns, and reading the pipe
// before each log line keeps the transcript in order.
#include <windows.h>

#include <string>

#include "ConsoleSide.h"
#include "controller/ConsoleProtocol.h"

namespace fxplayer {

namespace {

// How long fxconsole may take to start, to echo a command, or to quit.
constexpr DWORD kStartTimeoutMs = 15000;
constexpr DWORD kReplyTimeoutMs = 5000;
constexpr DWORD kQuitTimeoutMs = 5000;

std::wstring Widen(const std::string& text) {
    if (text.empty())
        return std::wstring();
    int units =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(units > 0 ? units : 0), L'\0');
    if (units > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], units);
    return out;
}

std::string ConsolePath(const std::string& playerDirectory) {
    return playerDirectory + "\\fxconsole.exe";
}

class ProcessConsole : public ConsoleSide {
public:
    ProcessConsole(Transcript& transcript, const std::string& playerDirectory)
        : transcript_(transcript), program_(ConsolePath(playerDirectory)) {}

    ~ProcessConsole() override {
        std::string ignored;
        if (process_)
            Stop(ignored);
    }

    bool Start(std::string& error) override {
        SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE childInput = nullptr, childOutput = nullptr;
        if (!CreatePipe(&childInput, &input_, &inherit, 0) ||
            !CreatePipe(&output_, &childOutput, &inherit, 0)) {
            error =
                "cannot make pipes for fxconsole (error " + std::to_string(GetLastError()) + ")";
            CloseAll();
            return false;
        }
        // Our ends stay ours.
        SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);

        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childInput;
        startup.hStdOutput = childOutput;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        std::wstring commandLine = L"\"" + Widen(program_) + L"\" --script -";
        PROCESS_INFORMATION info = {};
        BOOL started = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info);
        DWORD startError = GetLastError();
        CloseHandle(childInput);
        CloseHandle(childOutput);
        if (!started) {
            error = "cannot start " + program_ + " (error " + std::to_string(startError) + ")";
            CloseAll();
            return false;
        }
        CloseHandle(info.hThread);
        process_ = info.hProcess;
        if (!WaitForLine("ready", kStartTimeoutMs)) {
            error = program_ + " did not become ready";
            TerminateProcess(process_, 1);
            CloseAll();
            return false;
        }
        return true;
    }

    bool Stop(std::string& error) override {
        if (!process_)
            return true;
        // Closing its window ends fxconsole's message loop; it then lets go of its blocks.
        if (HWND window = FindWindowW(nullptr, vantrel::kConsoleTitle))
            PostMessageW(window, WM_CLOSE, 0, 0);
        bool quit = WaitForSingleObject(process_, kQuitTimeoutMs) == WAIT_OBJECT_0;
        Collect();
        if (!quit)
            TerminateProcess(process_, 1);
        CloseAll();
        if (!quit)
            error = "fxconsole did not quit when its window was closed";
        return quit;
    }

    bool Kill(std::string& error) override {
        if (!process_)
            return true;
        TerminateProcess(process_, 1);
        bool ended = WaitForSingleObject(process_, kQuitTimeoutMs) == WAIT_OBJECT_0;
        Collect();
        CloseAll();
        if (!ended)
            error = "fxconsole did not end when it was killed";
        return ended;
    }

    bool WriteCommand(const std::string& text, std::string& error) override {
        std::string line = "0 " + text + "\n";
        DWORD written = 0;
        if (!input_ ||
            !WriteFile(input_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
            written != line.size()) {
            error = "cannot write to fxconsole";
            return false;
        }
        // Wait for the echo, so that the command is in the block before the next frame.
        if (!WaitForLine("command ", kReplyTimeoutMs)) {
            error = "fxconsole did not write the command";
            return false;
        }
        return true;
    }

    void Collect() override {
        std::string line;
        while (ReadAvailableLine(line))
            Record(line);
    }

    void FollowRunTime(double) override {}

private:
    void Record(const std::string& line) {
        size_t space = line.find(' ');
        std::string kind = line.substr(0, space);
        std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
        // Our own transcript already has the command; "ready" is ours to wait for.
        if (kind == "msg" || kind == "handshake")
            transcript_.Add(kind.c_str(), rest);
    }

    // Takes one whole line if the pipe holds one, without blocking.
    bool ReadAvailableLine(std::string& line) {
        for (;;) {
            size_t newline = pending_.find('\n');
            if (newline != std::string::npos) {
                line = pending_.substr(0, newline);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                pending_.erase(0, newline + 1);
                return true;
            }
            DWORD available = 0;
            if (!output_ || !PeekNamedPipe(output_, nullptr, 0, nullptr, &available, nullptr) ||
                available == 0)
                return false;
            char buffer[4096];
            DWORD got = 0;
            if (!ReadFile(output_, buffer, available < sizeof buffer ? available : sizeof buffer,
                          &got, nullptr) ||
                got == 0)
                return false;
            pending_.append(buffer, got);
        }
    }

    // Records lines until one starts with `prefix`; false when none comes in time or fxconsole
    // ends.
    bool WaitForLine(const char* prefix, DWORD timeoutMs) {
        ULONGLONG deadline = GetTickCount64() + timeoutMs;
        std::string line;
        for (;;) {
            while (ReadAvailableLine(line)) {
                if (line.compare(0, std::string(prefix).size(), prefix) == 0)
                    return true;
                Record(line);
            }
            ULONGLONG now = GetTickCount64();
            if (now >= deadline)
                return false;
            // Sleeps on the process: wakes early only if fxconsole ends.
            if (WaitForSingleObject(process_, 2) == WAIT_OBJECT_0) {
                while (ReadAvailableLine(line))
                    if (line.compare(0, std::string(prefix).size(), prefix) == 0)
                        return true;
                return false;
            }
        }
    }

    void CloseAll() {
        for (HANDLE* handle : {&input_, &output_, &process_}) {
            if (*handle)
                CloseHandle(*handle);
            *handle = nullptr;
        }
        pending_.clear();
    }

    Transcript& transcript_;
    std::string program_;
    HANDLE process_ = nullptr;
    HANDLE input_ = nullptr;   // fxconsole's standard input, our end
    HANDLE output_ = nullptr;  // fxconsole's standard output, our end
    std::string pending_;      // read but not yet a whole line
};

}  // namespace

std::unique_ptr<ConsoleSide> MakeConsoleSide(Transcript& transcript,
                                             const std::string& playerDirectory) {
    return std::make_unique<ProcessConsole>(transcript, playerDirectory);
}

bool ConsoleAvailable(const std::string& playerDirectory, std::string& error) {
    std::string path = ConsolePath(playerDirectory);
    DWORD attributes = GetFileAttributesW(Widen(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = "the script starts the console, but " + path + " is missing";
        return false;
    }
    return true;
}

}  // namespace fxplayer
