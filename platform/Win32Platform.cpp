// The platform on Windows: each call is the Win32 call of the same purpose.

// clang-format off
#include <windows.h>  // first: the other system headers rely on it
#include <objbase.h>
#include <shellapi.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>

#include "platform/Platform.h"

namespace platform {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t is UTF-16 on Windows");

class Win32System : public System {
public:
    MappingHandle CreateOrOpenMapping(const wchar_t* name, uint32_t size) override {
        // Backed by the paging file. An existing block is opened as it is (last error 183) and
        // keeps the size it was made with.
        return ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name);
    }

    void* MapView(MappingHandle mapping, uint32_t size) override {
        return ::MapViewOfFile(static_cast<HANDLE>(mapping), FILE_MAP_ALL_ACCESS, 0, 0, size);
    }

    void UnmapView(void* view) override { ::UnmapViewOfFile(view); }

    void CloseHandle(MappingHandle mapping) override {
        ::CloseHandle(static_cast<HANDLE>(mapping));
    }

    uint32_t LastError() override { return ::GetLastError(); }

    WindowHandle FindWindowByTitle(const wchar_t* title) override {
        return ::FindWindowW(nullptr, title);
    }

    bool SendMessageTo(WindowHandle window, uint32_t code, uintptr_t wParam, intptr_t lParam,
                       uint32_t timeoutMs) override {
        // Still synchronous: the window procedure has run when this returns. SMTO_NORMAL lets
        // this thread answer messages sent to its own windows meanwhile, as SendMessageW does, so
        // a console that calls back cannot deadlock us; SMTO_ABORTIFHUNG gives up at once on a
        // window whose thread has stopped pumping, and the timeout bounds a slow one.
        DWORD_PTR result = 0;
        LRESULT handled = ::SendMessageTimeoutW(static_cast<HWND>(window), code, wParam, lParam,
                                                SMTO_NORMAL | SMTO_ABORTIFHUNG, timeoutMs, &result);
        return handled != 0;
    }

    intptr_t OpenWithShell(const char* operation, const char* file, const char* parameters,
                           int showCommand) override {
        HINSTANCE result =
            ::ShellExecuteA(nullptr, operation, file, parameters, nullptr, showCommand);
        return reinterpret_cast<intptr_t>(result);
    }

    uint32_t ProcessId() override { return ::GetCurrentProcessId(); }

    int64_t CalendarSeconds() override { return _time64(nullptr); }

    bool NewGuid(Guid& guid) override {
        GUID made;
        if (::CoCreateGuid(&made) != S_OK) {
            return false;
        }
        guid.Data1 = made.Data1;
        guid.Data2 = made.Data2;
        guid.Data3 = made.Data3;
        for (int i = 0; i < 8; ++i) {
            guid.Data4[i] = made.Data4[i];
        }
        return true;
    }

    int AnsiToUtf16(const char* text, char16_t* out, int outCount) override {
        return ::MultiByteToWideChar(CP_ACP, 0, text, -1, reinterpret_cast<wchar_t*>(out),
                                     outCount);
    }

    void PrintToStdout(const wchar_t* text) override {
        if (text == nullptr || *text == L'\0') {
            return;
        }
        HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
        DWORD mode = 0;
        int length = static_cast<int>(wcslen(text));
        if (out != nullptr && out != INVALID_HANDLE_VALUE && ::GetConsoleMode(out, &mode)) {
            // A console shows any character when given UTF-16.
            std::fflush(stdout);
            DWORD written = 0;
            ::WriteConsoleW(out, text, static_cast<DWORD>(length), &written, nullptr);
            return;
        }
        // A pipe or a file gets UTF-8, through the runtime's stream so that the order with other
        // output of the process is kept.
        int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
        if (bytes <= 0) {
            return;
        }
        std::string utf8(static_cast<size_t>(bytes), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, text, length, &utf8[0], bytes, nullptr, nullptr);
        std::fwrite(utf8.data(), 1, utf8.size(), stdout);
        std::fflush(stdout);
    }

    size_t WorkingDirectory(wchar_t* out, size_t outCount) override {
        if (out == nullptr || outCount == 0) {
            return 0;
        }
        const DWORD capacity = outCount > 32768 ? 32768 : static_cast<DWORD>(outCount);
        // The length without the null when it fits, the size it needs (null included) when not.
        const DWORD length = ::GetCurrentDirectoryW(capacity, out);
        return length < capacity ? length : 0;
    }

    FileHandle OpenFileForReading(const wchar_t* path, uint64_t& size) override {
        size = 0;
        // Others may go on reading and writing the file meanwhile, as the effect's author saves it.
        HANDLE file = ::CreateFileW(path, GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return nullptr;
        }
        LARGE_INTEGER length;
        if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &length) ||
            length.QuadPart < 0) {
            ::CloseHandle(file);  // a device, a pipe
            return nullptr;
        }
        size = static_cast<uint64_t>(length.QuadPart);
        return file;
    }

    size_t ReadFromFile(FileHandle file, uint8_t* out, size_t count) override {
        const DWORD want = static_cast<DWORD>(std::min<size_t>(count, MAXDWORD));
        DWORD read = 0;
        if (!::ReadFile(static_cast<HANDLE>(file), out, want, &read, nullptr)) {
            return 0;
        }
        return read;
    }

    void CloseFile(FileHandle file) override { ::CloseHandle(static_cast<HANDLE>(file)); }
};

}  // namespace

System& Win32() {
    // Made once and never destroyed: no destructor runs when the module is unloaded.
    static Win32System* system = new Win32System;
    return *system;
}

}  // namespace platform
