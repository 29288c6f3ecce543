#include "ModuleLoader.h"

#include <filesystem>
#include <system_error>

#include "Files.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace fxplayer {

namespace fs = std::filesystem;

namespace {

#if defined(_WIN32)
void* OpenLibrary(const fs::path& path, std::string& error) {
    // The altered search path finds HostApi.dll beside the module.
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module)
        error = "error " + std::to_string(GetLastError());
    return reinterpret_cast<void*>(module);
}
void* FindSymbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void CloseLibrary(void* handle) {
    FreeLibrary(static_cast<HMODULE>(handle));
}
#else
void* OpenLibrary(const fs::path& path, std::string& error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* reason = dlerror();
        error = reason ? reason : "unknown reason";
    }
    return handle;
}
void* FindSymbol(void* handle, const char* name) {
    return dlsym(handle, name);
}
void CloseLibrary(void* handle) {
    dlclose(handle);
}
#endif

template <typename Function>
bool Resolve(void* handle, const char* name, Function& function, std::string& missing) {
    void* symbol = FindSymbol(handle, name);
    if (!symbol) {
        missing += missing.empty() ? name : std::string(", ") + name;
        return false;
    }
    // Function pointers from a library's symbol table, as the host takes them.
    function = reinterpret_cast<Function>(symbol);
    return true;
}

}  // namespace

LoadedModule::~LoadedModule() {
    Close();
}

bool LoadedModule::Open(const std::string& path, std::string& error) {
    Close();
    std::error_code ec;
    fs::path file = fs::absolute(PathFromUtf8(path), ec);
    if (ec || !fs::is_regular_file(file, ec)) {
        error = "cannot find the module " + path;
        return false;
    }
    std::string reason;
    handle_ = OpenLibrary(file.make_preferred(), reason);
    if (!handle_) {
        error = "cannot load the module " + path + ": " + reason;
        return false;
    }
    std::string missing;
    bool all = Resolve(handle_, "LoadPlugin", exports_.LoadPlugin, missing);
    all = Resolve(handle_, "UnloadPlugin", exports_.UnloadPlugin, missing) && all;
    all = Resolve(handle_, "GetPluginName", exports_.GetPluginName, missing) && all;
    all = Resolve(handle_, "GetPluginDescription", exports_.GetPluginDescription, missing) && all;
    if (!all) {
        error = "the module " + path + " does not export " + missing;
        Close();
        return false;
    }
    std::string absent;
    Resolve(handle_, "WaitForBackgroundLoad", exports_.WaitForBackgroundLoad, absent);
    Resolve(handle_, "LateFrames", exports_.LateFrames, absent);
    Resolve(handle_, "HostThreadWork", exports_.HostThreadWork, absent);
    return true;
}

void LoadedModule::Close() {
    if (handle_)
        CloseLibrary(handle_);
    handle_ = nullptr;
    exports_ = PluginExports();
}

std::string ExecutableDirectory() {
#if defined(_WIN32)
    std::wstring buffer(32768, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
    buffer.resize(length);
    return PathToUtf8(fs::path(buffer).parent_path());
#else
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return ".";
    return PathToUtf8(self.parent_path());
#endif
}

std::string DefaultModuleName() {
#if defined(_WIN32)
    return "VantrelEffect.dll";
#else
    return "VantrelEffect.so";
#endif
}

}  // namespace fxplayer
