#include "plugin/HostBinding.h"

#include <windows.h>
// After windows.h, which its declarations need.
#include <psapi.h>

#include <memory>
#include <string>
#include <vector>

#include "host/Host.h"
#include "hostfit/FitRules.h"
#include "hostfit/HostChoice.h"
#include "hostfit/LoadLog.h"
#include "hostfit/ModuleNeeds.h"
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

// The host's logging, looked up by name: it writes the lines of a refusal, when nothing is bound.
#if defined(_WIN64)
const char kLog[] = "?Log@@YAXPEB_WZZ";
const char kAppWarning[] = "?AppWarning@@YAXPEB_WZZ";
#else
const char kLog[] = "?Log@@YAXPB_WZZ";
const char kAppWarning[] = "?AppWarning@@YAXPB_WZZ";
#endif

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

// The file name of a loaded module (its last path component), wide for the log and as UTF-8 for
// the check's choice.
std::wstring FileNameOf(HMODULE module) {
    wchar_t path[MAX_PATH * 2] = {};
    const DWORD length = GetModuleFileNameW(module, path, sizeof path / sizeof path[0]);
    const std::wstring whole(path, length);
    const size_t slash = whole.find_last_of(L"\\/");
    return slash == std::wstring::npos ? whole : whole.substr(slash + 1);
}

std::string Utf8(const std::wstring& text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(length > 0 ? length : 0, '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(),
                            length, nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& text) {
    // The check's texts are ASCII: mangled names, numbers and words.
    return std::wstring(text.begin(), text.end());
}

// One loaded module read through the check's reader: its image and its sorted exports.
struct LoadedLibrary {
    HMODULE module = nullptr;
    std::wstring fileName;
    hostfit::MappedImage reader;
    hostfit::PeImage image;
    hostfit::HostExports exports;

    explicit LoadedLibrary(HMODULE m) : module(m), fileName(FileNameOf(m)), reader(m) {}
    bool Open() {
        std::string error;
        if (!reader.Valid() || !image.Open(reader, error))
            return false;
        exports = hostfit::HostExports(image.Exports(), true);
        return true;
    }
};

// A cheap first look, by the loader's own lookup: does the module export the host's essentials?
bool MayBeHostLibrary(HMODULE module, const hostfit::HostEssentials& names) {
    return GetProcAddress(module, names.api) && GetProcAddress(module, names.graphics) &&
           GetProcAddress(module, names.allocator) && GetProcAddress(module, names.stringFromWide);
}

// The libraries the process's executable imports by file name.
hostfit::Executable ExecutableImports() {
    hostfit::Executable exe;
    hostfit::MappedImage reader(GetModuleHandleW(nullptr));
    hostfit::PeImage image;
    std::string error;
    if (!reader.Valid() || !image.Open(reader, error))
        return exe;
    for (const auto& table : {image.Imports(), image.DelayImports()})
        for (const hostfit::ImportedDll& dll : table)
            exe.imports.push_back(dll.dll);
    return exe;
}

// Writes one line to the debugger's output, and to the host's log through `log` when there is one.
template <LogText line, class... Args>
void Say(LogFunction log, Args... args) {
    wchar_t text[1024];
    FormatLog<line>(text, sizeof text / sizeof text[0], args...);
    OutputDebugStringW(text);
    OutputDebugStringW(L"\n");
    if (log)
        log(L"%s", text);
}

bool Bind(HMODULE host, const hostfit::HostEssentials& names) {
    vantrel_hostAPI = reinterpret_cast<APIInterface**>(GetProcAddress(host, names.api));
    vantrel_hostGS = reinterpret_cast<GraphicsSystem**>(GetProcAddress(host, names.graphics));
    vantrel_hostMainAllocator = reinterpret_cast<Alloc**>(GetProcAddress(host, names.allocator));
    const size_t unresolved = vantrel_delay_bind(host);
    return unresolved == 0 && vantrel_hostAPI && vantrel_hostGS && vantrel_hostMainAllocator;
}

bool BindOnce() {
    if (boundHost)
        return true;
    // What the module needs, from its own image: the names it takes and its slot layout.
    hostfit::MappedImage selfReader(Self());
    hostfit::PeImage self;
    hostfit::ModuleNeeds needs;
    std::string error;
    if (!self.Open(selfReader, error) || !hostfit::ReadModuleNeeds(self, needs, error)) {
        Say<LogText::HostNotChecked>(nullptr, Widen(error).c_str());
        return false;
    }
    const hostfit::HostEssentials essentials = hostfit::EssentialNames(needs.machine);

    std::vector<std::unique_ptr<LoadedLibrary>> libraries;
    std::vector<hostfit::Candidate> candidates;
    for (HMODULE module : LoadedModules()) {
        if (!MayBeHostLibrary(module, essentials))
            continue;
        auto library = std::make_unique<LoadedLibrary>(module);
        if (!library->Open())
            continue;
        candidates.push_back({Utf8(library->fileName), std::string(), &library->exports});
        libraries.push_back(std::move(library));
    }
    const hostfit::HostChoice choice =
        hostfit::ChooseHostLibrary(candidates, {ExecutableImports()}, needs.names, needs.machine);
    if (choice.index < 0) {
        Say<LogText::HostNotFound>(nullptr);
        return false;
    }
    const LoadedLibrary& host = *libraries[choice.index];
    auto warn = reinterpret_cast<LogFunction>(GetProcAddress(host.module, kAppWarning));
    auto log = reinterpret_cast<LogFunction>(GetProcAddress(host.module, kLog));

    const hostfit::HostLibrary library{Utf8(host.fileName), &host.exports, &host.image};
    const hostfit::FitResult result = hostfit::CheckFit(needs, library);
    const std::vector<std::string> lines = hostfit::LoadLogLines(result);
    if (!result.Fits()) {
        for (const std::string& difference : lines)
            Say<LogText::HostDifference>(warn ? warn : log, host.fileName.c_str(),
                                         Widen(difference).c_str());
        Say<LogText::HostRefused>(warn ? warn : log, host.fileName.c_str(),
                                  static_cast<unsigned>(result.differences.size()));
        return false;
    }
    if (!Bind(host.module, essentials)) {
        // The check found every name; one that does not resolve now is the host changing under us.
        Say<LogText::HostRefused>(warn ? warn : log, host.fileName.c_str(), 1u);
        return false;
    }
    boundHost = host.module;
    WriteLog<LogText::HostFits>(host.fileName.c_str(),
                                Widen(lines.empty() ? std::string() : lines.front()).c_str());
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
        Say<LogText::HostNotChecked>(nullptr, L"no memory");
        return false;
    }
}

}  // namespace vantrel
