#pragma once

// A program started with pipes for its standard input and output, for tests that need a second
// process (fxconsole, blockreader) under Windows or Wine.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testwindows {

inline constexpr auto kPatience = std::chrono::seconds(20);

inline std::wstring ProgramPath(const wchar_t* name) {
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + name;
}

// Its output is gathered line by line on a thread of its own, so that a test can wait for a line
// with a time limit.
class Child {
public:
    explicit Child(const std::wstring& commandLine) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE outRead = nullptr, outWrite = nullptr, inRead = nullptr, inWrite = nullptr;
        if (!CreatePipe(&outRead, &outWrite, &inherit, 0) ||
            !CreatePipe(&inRead, &inWrite, &inherit, 0)) {
            return;
        }
        SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = inRead;
        startup.hStdOutput = outWrite;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        std::wstring line = commandLine;
        PROCESS_INFORMATION info = {};
        started_ = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &info) != 0;
        CloseHandle(outWrite);
        CloseHandle(inRead);
        input_ = inWrite;
        if (!started_) {
            CloseHandle(outRead);
            return;
        }
        process_ = info.hProcess;
        threadId_ = info.dwThreadId;
        CloseHandle(info.hThread);
        reader_ = std::thread([this, outRead] { Gather(outRead); });
    }

    ~Child() {
        CloseInput();
        if (process_ != nullptr) {
            if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
                TerminateProcess(process_, 99);
            }
            WaitForSingleObject(process_, 10000);
            CloseHandle(process_);
        }
        if (reader_.joinable()) {
            reader_.join();
        }
    }

    bool Started() const { return started_; }
    HANDLE Process() const { return process_; }
    // The program's first thread.
    DWORD ThreadId() const { return threadId_; }

    void Write(const std::string& text) {
        DWORD written = 0;
        WriteFile(input_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }

    void CloseInput() {
        if (input_ != nullptr) {
            CloseHandle(input_);
            input_ = nullptr;
        }
    }

    // Waits for a line equal to `want`; false when none came in time or the output ended first.
    bool WaitForLine(const std::string& want) {
        std::unique_lock<std::mutex> lock(lock_);
        changed_.wait_for(lock, kPatience, [&] { return HasLine(want) || ended_; });
        return HasLine(want);
    }

    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> guard(lock_);
        return lines_;
    }

    // The exit code, once the program has ended; -1 when it did not end in time.
    long ExitCode() {
        if (process_ == nullptr || WaitForSingleObject(process_, 20000) != WAIT_OBJECT_0) {
            return -1;
        }
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        return static_cast<long>(code);
    }

private:
    bool HasLine(const std::string& want) {
        for (const std::string& line : lines_) {
            if (line == want) {
                return true;
            }
        }
        return false;
    }

    void Gather(HANDLE output) {
        std::string pending;
        char buffer[1024];
        DWORD got = 0;
        while (ReadFile(output, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            pending.append(buffer, got);
            std::lock_guard<std::mutex> guard(lock_);
            for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
                std::string line = pending.substr(0, end);
                if (!line.empty() && line.back() == '\r') {
                    line.pop_back();
                }
                lines_.push_back(line);
                pending.erase(0, end + 1);
            }
            changed_.notify_all();
        }
        CloseHandle(output);
        std::lock_guard<std::mutex> guard(lock_);
        if (!pending.empty()) {
            lines_.push_back(pending);
        }
        ended_ = true;
        changed_.notify_all();
    }

    bool started_ = false;
    HANDLE process_ = nullptr;
    DWORD threadId_ = 0;
    HANDLE input_ = nullptr;
    std::thread reader_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    bool ended_ = false;
};

}  // namespace testwindows
