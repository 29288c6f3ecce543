#include "plugin/HostBinding.h"

#include <windows.h>
// After windows.h, which its declarations need.
#include <psapi.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "host/Host.h"
#include "log/ModuleLog.h"
#include "startup/DelayLoad.h"

// The module's pointers to the host's globals (host/HostExport.h), set by BindHost. Defined here,
// the linker leaves host/LinkedGlobals.cpp, which would import the globals by file name, out.
APIInterface** vantrel_hostAPI = nullptr;
GraphicsSystem** vantrel_hostGS = nullptr;
Alloc** vantrel_hostMainAllocator = nullptr;

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace vantrel {

namespace {

using LogFunction = void (*)(const wchar_t* format, ...);

// The host's names the module looks up itself, as the host's compiler writes them.
#if defined(_WIN64)
const char* const kGlobalNames[] = {"?API@@3PEAVAPIInterface@@EA", "?GS@@3PEAVGraphicsSystem@@EA",
                                    "?MainAllocator@@3PEAVAlloc@@EA"};
const char kStringFromWide[] = "??0String@@QEAA@PEB_W@Z";
const char kLog[] = "?Log@@YAXPEB_WZZ";
const char kAppWarning[] = "?AppWarning@@YAXPEB_WZZ";
#else
const char* const kGlobalNames[] = {"?API@@3PAVAPIInterface@@A", "?GS@@3PAVGraphicsSystem@@A",
                                    "?MainAllocator@@3PAVAlloc@@A"};
const char kStringFromWide[] = "??0String@@QAE@PB_W@Z";
const char kLog[] = "?Log@@YAXPB_WZZ";
const char kAppWarning[] = "?AppWarning@@YAXPB_WZZ";
#endif

// What the check of a host's library found: each difference on a line of its own, or, when it
// fits, what was proven.
struct Verdict {
    bool fits = false;
    std::vector<std::string> differences;
    std::string summary;
};

HMODULE boundHost = nullptr;

HMODULE Self() {
    return reinterpret_cast<HMODULE>(&__ImageBase);
}

// Every module of the process but this one.
std::vector<HMODULE> LoadedModules() {
    std::vector<HMODULE> modules(256);
    for (;;) {
        DWORD needed = 0;
        const DWORD size = static_cast<DWORD>(modules.size() * sizeof(HMODULE));
        if (!K32EnumProcessModules(GetCurrentProcess(), modules.data(), size, &needed))
            return {};
        if (needed <= size) {
            modules.resize(needed / sizeof(HMODULE));
            break;
        }
        modules.resize(needed / sizeof(HMODULE) + 16);
    }
    std::vector<HMODULE> others;
    for (HMODULE module : modules)
        if (module != Self())
            others.push_back(module);
    return others;
}

// True when the process's executable imports `module` by name in its own import table.
bool ExecutableImports(HMODULE module) {
    const auto* base = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
    if (!base)
        return false;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0)
        return false;
    const auto* entry =
        reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
    for (; entry->Name != 0; ++entry) {
        const char* name = reinterpret_cast<const char*>(base + entry->Name);
        if (GetModuleHandleA(name) == module)
            return true;
    }
    return false;
}

// The names this module takes from its host: its delay-loaded functions, then the three globals.
std::vector<const char*> NeededNames() {
    std::vector<const char*> names;
    vantrel_delay_each_name(
        [](void* context, const char*, const char* name) {
            static_cast<std::vector<const char*>*>(context)->push_back(name);
            return 1;
        },
        &names);
    for (const char* global : kGlobalNames)
        names.push_back(global);
    return names;
}

size_t MissingCount(HMODULE module, const std::vector<const char*>& names) {
    size_t missing = 0;
    for (const char* name : names)
        if (!GetProcAddress(module, name))
            ++missing;
    return missing;
}

// A module that exports the host's globals and String's constructor from wide text.
bool LooksLikeHostLibrary(HMODULE module) {
    for (const char* global : kGlobalNames)
        if (!GetProcAddress(module, global))
            return false;
    return GetProcAddress(module, kStringFromWide) != nullptr;
}

// Every name the module needs, exported by `host`.
Verdict CheckLoadedHost(HMODULE host, const std::vector<const char*>& names) {
    Verdict verdict;
    for (const char* name : names)
        if (!GetProcAddress(host, name))
            verdict.differences.push_back(std::string("MISSING ") + name);
    verdict.fits = verdict.differences.empty();
    verdict.summary = std::to_string(names.size()) + " names exported";
    return verdict;
}

// The host's library among the loaded modules: one that exports the globals and String's
// constructor; of several, the one the executable imports, then the one that lacks fewest names.
HMODULE FindHostLibrary(const std::vector<const char*>& names) {
    std::vector<HMODULE> candidates;
    for (HMODULE module : LoadedModules())
        if (LooksLikeHostLibrary(module))
            candidates.push_back(module);
    if (candidates.empty())
        return nullptr;
    for (HMODULE module : candidates)
        if (ExecutableImports(module))
            return module;
    HMODULE best = candidates.front();
    size_t fewest = MissingCount(best, names);
    for (HMODULE module : candidates) {
        const size_t missing = MissingCount(module, names);
        if (missing < fewest) {
            best = module;
            fewest = missing;
        }
    }
    return best;
}

// Writes one line to the debugger's output, and to the host's log through `log` when there is one.
void Say(LogFunction log, const wchar_t* line) {
    OutputDebugStringW(line);
    OutputDebugStringW(L"\n");
    if (log)
        log(L"%s", line);
}

template <LogText line, class... Args>
void SayLine(LogFunction log, Args... args) {
    wchar_t text[1024];
    FormatLog<line>(text, sizeof text / sizeof text[0], args...);
    Say(log, text);
}

// The host's file name, for the log (its last path component).
std::wstring FileNameOf(HMODULE module) {
    wchar_t path[MAX_PATH * 2] = {};
    const DWORD length = GetModuleFileNameW(module, path, sizeof path / sizeof path[0]);
    std::wstring whole(path, length);
    const size_t slash = whole.find_last_of(L"\\/");
    return slash == std::wstring::npos ? whole : whole.substr(slash + 1);
}

std::wstring Widen(const std::string& text) {
    // The check's texts are ASCII: mangled names, numbers and words.
    return std::wstring(text.begin(), text.end());
}

bool Bind(HMODULE host) {
    vantrel_hostAPI = reinterpret_cast<APIInterface**>(
        GetProcAddress(host, kGlobalNames[0]));
    vantrel_hostGS = reinterpret_cast<GraphicsSystem**>(
        GetProcAddress(host, kGlobalNames[1]));
    vantrel_hostMainAllocator =
        reinterpret_cast<Alloc**>(GetProcAddress(host, kGlobalNames[2]));
    const size_t unresolved = vantrel_delay_bind(host);
    return unresolved == 0 && vantrel_hostAPI && vantrel_hostGS && vantrel_hostMainAllocator;
}

bool BindOnce() {
    if (boundHost)
        return true;
    const std::vector<const char*> names = NeededNames();
    HMODULE host = FindHostLibrary(names);
    if (!host) {
        SayLine<LogText::HostNotFound>(nullptr);
        return false;
    }
    const std::wstring fileName = FileNameOf(host);
    auto warn = reinterpret_cast<LogFunction>(GetProcAddress(host, kAppWarning));
    auto log = reinterpret_cast<LogFunction>(GetProcAddress(host, kLog));

    const Verdict verdict = CheckLoadedHost(host, names);
    if (!verdict.fits) {
        for (const std::string& difference : verdict.differences)
            SayLine<LogText::HostDifference>(warn ? warn : log, fileName.c_str(),
                                             Widen(difference).c_str());
        SayLine<LogText::HostRefused>(warn ? warn : log, fileName.c_str(),
                                      static_cast<unsigned>(verdict.differences.size()));
        return false;
    }
    if (!Bind(host)) {
        // The check saw every name; a name that still does not resolve is the host changing under us.
        SayLine<LogText::HostRefused>(warn ? warn : log, fileName.c_str(), 1u);
        return false;
    }
    boundHost = host;
    WriteLog<LogText::HostFits>(fileName.c_str(), Widen(verdict.summary).c_str());
    return true;
}

// A delay-loaded call reached before LoadPlugin bound the table (a host program that calls the
// create callback first, say): bind now, or give the helper nothing, which raises its exception.
FARPROC WINAPI BindOnFirstCall(unsigned notification, DelayLoadInfo*) {
    if (notification != dliNotePreLoadLibrary || !BindHost())
        return nullptr;
    return reinterpret_cast<FARPROC>(boundHost);
}

}  // namespace

bool BindHost() {
    __pfnDliNotifyHook2 = &BindOnFirstCall;
    try {
        return BindOnce();
    } catch (...) {
        // No memory for the module list or the check's tables: nothing is bound, nothing called.
        SayLine<LogText::HostNotChecked>(nullptr);
        return false;
    }
}

}  // namespace vantrel
