// Test entry point: installs the stand-in host and the simulated desktop, and gives every test a
// fresh host, desktop and module state.
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "platform/Platform.h"
#include "platform/SimPlatform.h"
#include "plugin/ModuleState.h"
#include "plugin/PluginEntry.h"
#include "standin/Standin.h"
#include "support/TestHost.h"

#if defined(_WIN32)
#include <windows.h>
// After windows.h.
#include <tlhelp32.h>
#endif

namespace {

class FreshHost : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override {
        standin::Reset();
        platform::Simulation().Reset();
        platform::Swap(&platform::Simulation());
        vantrel::ResetModuleStateForTests();
    }
};

[[noreturn]] void ThrowFatal(const std::wstring& text) {
    throw testsupport::FatalError(text);
}

int RunTests() {
    const int result = RUN_ALL_TESTS();
    // As a host ends: the background load's last workers are joined.
    vantrel::UnloadPlugin();
    return result;
}

#if defined(_WIN32)
// Whether `thread` began in this program's own code (not in a system DLL's or the C runtime's).
bool StartedInThisProgram(HANDLE thread) {
    using Query = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    static const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
    const int kWin32StartAddress = 9;  // ThreadQuerySetWin32StartAddress
    void* start = nullptr;
    if (!query || query(thread, kWin32StartAddress, &start, sizeof start, nullptr) != 0)
        return false;
    const auto* image = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    const auto* at = static_cast<const unsigned char*>(start);
    return at >= image && at < image + headers->OptionalHeader.SizeOfImage;
}

// Waits, up to `milliseconds` in all, for the other threads that began in this program's code.
void WaitForOwnThreads(DWORD milliseconds) {
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId() ||
            entry.th32ThreadID == GetCurrentThreadId())
            continue;
        HANDLE thread =
            OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
        if (!thread)
            continue;
        const ULONGLONG now = GetTickCount64();
        if (StartedInThisProgram(thread) && now < deadline)
            WaitForSingleObject(thread, static_cast<DWORD>(deadline - now));
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    standin::Install();
    standin::SetLogEcho(false);
    standin::SetFatalHandler(&ThrowFatal);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshHost);
#if defined(_WIN32)
    // On Windows GoogleTest watches every thread that uses its per-thread state (SCOPED_TRACE, a
    // failed assertion) from a thread of its own that waits for that thread to end. A watcher of
    // the main thread would still be waiting when the program exits, to be killed by the exit,
    // which 32-bit Wine now and then does with a segmentation fault (after every test passed). So
    // the tests run on a thread of their own, and the program ends once the watchers of that
    // thread have seen it end; nothing of the program's is left running for the exit to kill.
    int result = 1;
    std::thread tests([&result] { result = RunTests(); });
    tests.join();
    WaitForOwnThreads(10000);
    return result;
#else
    return RunTests();
#endif
}
