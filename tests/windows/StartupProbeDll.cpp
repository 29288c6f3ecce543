// A DLL on the start-up library that tells the program loading it what its entry point runs and
// when: a C initialiser, a static object, a thread_local with a dynamic initialiser and a
// destructor, and DllMain. It reports through two functions the program exports (StartupProbeEvent
// and StartupProbeMode), found by name so that the DLL links against nothing of the program's.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

enum Mode { kAccept = 0, kRefuseAttach = 1, kFailInitialiser = 2 };

void Record(const char* what) {
    using Recorder = void (*)(const char*);
    auto recorder = reinterpret_cast<Recorder>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), "StartupProbeEvent")));
    if (recorder)
        recorder(what);
}

void RecordOnThread(const char* what) {
    char text[96];
    std::snprintf(text, sizeof text, "%s on %lu", what, GetCurrentThreadId());
    Record(text);
}

int CurrentMode() {
    using Reader = int (*)();
    auto reader = reinterpret_cast<Reader>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), "StartupProbeMode")));
    return reader ? reader() : kAccept;
}

void __cdecl CExitFunction() {
    Record("C exit function");
}

// Runs before the C++ constructors; registers an exit function first, so that a failure here
// shows whether what was set up before it is undone.
int __cdecl CInitialiser() {
    std::atexit(&CExitFunction);
    if (CurrentMode() == kFailInitialiser) {
        Record("C initialiser fails");
        return 1;
    }
    return 0;
}

struct Static {
    Static() { Record("static constructed"); }
    ~Static() { Record("static destroyed"); }
};
Static staticObject;

struct PerThread {
    PerThread() : owner(GetCurrentThreadId()) { RecordOnThread("thread_local constructed"); }
    ~PerThread() { RecordOnThread("thread_local destroyed"); }
    DWORD owner;
};
thread_local PerThread perThread;

}  // namespace

#pragma section(".CRT$XIU", long, read)
extern "C" __declspec(allocate(".CRT$XIU")) int(__cdecl* startupProbeCInitialiser)() =
    &CInitialiser;

// The id of the thread that constructed the calling thread's copy: its own, or 0 where no
// initialiser ran.
extern "C" __declspec(dllexport) DWORD StartupProbeThreadLocalOwner() {
    return perThread.owner;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        Record("attach");
        return CurrentMode() == kRefuseAttach ? FALSE : TRUE;
    }
    if (reason == DLL_PROCESS_DETACH)
        Record("detach");
    return TRUE;
}
