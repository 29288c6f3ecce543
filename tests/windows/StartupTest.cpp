// The start-up library's entry points against what Microsoft's runtime does, seen from outside:
// the order in which a DLL's initialisers, thread_locals, DllMain and exit functions run, when the
// DLL is accepted, refused by DllMain, or failed by an initialiser (startupprobe.dll); a program's
// main-thread thread_local destroyed before its statics, and a smashed stack ending the process
// with the status Windows gives it (startupprobe.exe).
#include <gtest/gtest.h>
#include <windows.h>

#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"

namespace {

std::mutex eventsLock;
std::vector<std::string> events;
// The threads whose events count; others (GoogleTest starts threads of its own) are left out.
std::set<DWORD> watched;
int probeMode = 0;

void Watch(DWORD thread) {
    std::lock_guard<std::mutex> guard(eventsLock);
    watched.insert(thread);
}

std::vector<std::string> TakeEvents() {
    std::lock_guard<std::mutex> guard(eventsLock);
    std::vector<std::string> taken;
    taken.swap(events);
    return taken;
}

std::string OnThread(const char* what, DWORD thread) {
    return std::string(what) + " on " + std::to_string(thread);
}

}  // namespace

// Called by startupprobe.dll, found by name.
extern "C" __declspec(dllexport) void StartupProbeEvent(const char* what) {
    std::lock_guard<std::mutex> guard(eventsLock);
    if (watched.count(GetCurrentThreadId()))
        events.push_back(what);
}
extern "C" __declspec(dllexport) int StartupProbeMode() {
    return probeMode;
}

namespace {

using OwnerFunction = DWORD (*)();

OwnerFunction OwnerOf(HMODULE probe) {
    return reinterpret_cast<OwnerFunction>(
        reinterpret_cast<void*>(GetProcAddress(probe, "StartupProbeThreadLocalOwner")));
}

// Each thread that starts after the DLL loaded gets its own thread_local, constructed before it
// runs and destroyed as it ends; the loading thread's is constructed after the statics and
// destroyed before them. A thread that ran before the load gets no initialiser (the compiler
// calls none on use) and so no destructor either.
TEST(DllThreadLocals, ConstructedOnEachNewThreadAndDestroyedAsItEnds) {
    const DWORD self = GetCurrentThreadId();
    Watch(self);
    HANDLE running = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(running && go);
    HMODULE probe = nullptr;
    DWORD earlierOwner = 1, earlierId = 0;
    std::thread earlier([&] {
        earlierId = GetCurrentThreadId();
        Watch(earlierId);
        SetEvent(running);
        WaitForSingleObject(go, INFINITE);
        earlierOwner = OwnerOf(probe)();
    });
    // Its start, with the loader's thread notifications, is over before the DLL loads.
    WaitForSingleObject(running, INFINITE);

    probeMode = 0;
    probe = LoadLibraryW(L"startupprobe.dll");
    ASSERT_NE(probe, nullptr) << GetLastError();
    EXPECT_EQ(OwnerOf(probe)(), self);
    EXPECT_EQ(TakeEvents(),
              (std::vector<std::string>{"static constructed",
                                        OnThread("thread_local constructed", self), "attach"}));

    // Watched from before they start: the loader constructs their copies first of all.
    for (int i = 0; i < 2; ++i) {
        struct Later {
            OwnerFunction owner;
            DWORD seen;
        } later = {OwnerOf(probe), 0};
        DWORD id = 0;
        HANDLE thread = CreateThread(
            nullptr, 0,
            [](void* context) -> DWORD {
                auto* state = static_cast<Later*>(context);
                state->seen = state->owner();
                return 0;
            },
            &later, CREATE_SUSPENDED, &id);
        ASSERT_NE(thread, nullptr);
        Watch(id);
        ResumeThread(thread);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        EXPECT_EQ(later.seen, id);
        EXPECT_EQ(TakeEvents(), (std::vector<std::string>{OnThread("thread_local constructed", id),
                                                          OnThread("thread_local destroyed", id)}));
    }

    SetEvent(go);
    earlier.join();
    CloseHandle(go);
    CloseHandle(running);
    EXPECT_EQ(earlierOwner, 0u) << earlierId;
    EXPECT_EQ(TakeEvents(), std::vector<std::string>{});

    FreeLibrary(probe);
    EXPECT_EQ(TakeEvents(),
              (std::vector<std::string>{OnThread("thread_local destroyed", self), "detach",
                                        "static destroyed", "C exit function"}));
}

// What the entry point runs for each outcome of the attach, and that the DLL loads again
// afterwards. A refused attach is undone as Microsoft's runtime undoes it, DllMain told of the
// detach, and in the order of a detach; each step once. A failed C initialiser keeps DllMain out
// of it, and what the initialisers set up is undone.
TEST(DllEntry, EachOutcomeOfTheAttachIsUndoneOnce) {
    const DWORD self = GetCurrentThreadId();
    Watch(self);
    const struct {
        int mode;
        bool loads;
        std::vector<std::string> events;
    } cases[] = {
        {0,
         true,
         {"static constructed", OnThread("thread_local constructed", self), "attach",
          OnThread("thread_local destroyed", self), "detach", "static destroyed",
          "C exit function"}},
        {1,
         false,
         {"static constructed", OnThread("thread_local constructed", self), "attach",
          OnThread("thread_local destroyed", self), "detach", "static destroyed",
          "C exit function"}},
        {2, false, {"C initialiser fails", "C exit function"}},
    };
    for (int round = 0; round < 2; ++round) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.mode);
            TakeEvents();
            probeMode = c.mode;
            HMODULE probe = LoadLibraryW(L"startupprobe.dll");
            EXPECT_EQ(probe != nullptr, c.loads);
            if (probe)
                FreeLibrary(probe);
            EXPECT_EQ(TakeEvents(), c.events);
        }
    }
    probeMode = 0;
}

// The main thread's thread_locals go when main returns, newest first and before the statics, as
// the C++ standard orders it and Microsoft's runtime does; ten of them, more than the start-up
// library keeps without allocating.
TEST(ProgramThreadLocals, MainThreadsDestroyedNewestFirstBeforeStatics) {
    testwindows::Child child(testwindows::ProgramPath(L"startupprobe.exe") + L" exit");
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.ExitCode(), 0);
    EXPECT_TRUE(child.WaitForLine("static destroyed"));
    std::vector<std::string> want = {"static constructed", "thread_local constructed", "main"};
    for (int i = 1; i <= 9; ++i)
        want.push_back("local " + std::to_string(i) + " constructed");
    for (int i = 9; i >= 1; --i)
        want.push_back("local " + std::to_string(i) + " destroyed");
    want.push_back("thread_local destroyed");
    want.push_back("static destroyed");
    EXPECT_EQ(child.Lines(), want);
}

// A stack buffer overrun ends the process at once with STATUS_STACK_BUFFER_OVERRUN, the status a
// test runner sees as a failure; a copy that fits the buffer runs on.
TEST(StackCheck, OverrunEndsTheProcessWithItsStatus) {
    const struct {
        const wchar_t* count;
        long status;
    } cases[] = {{L"16", 0}, {L"64", static_cast<long>(0xC0000409)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " bytes");
        testwindows::Child child(testwindows::ProgramPath(L"startupprobe.exe") + L" smash " +
                                 c.count);
        ASSERT_TRUE(child.Started());
        EXPECT_EQ(child.ExitCode(), c.status);
    }
}

}  // namespace
