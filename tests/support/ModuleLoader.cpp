#include "support/ModuleLoader.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include "standin/Standin.h"

namespace testsupport {

std::string ProgramFolder() {
#if defined(_WIN32)
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::string self = standin::ToUtf8(std::wstring(path, length));
#else
    char path[4096] = {};
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self(path, length > 0 ? static_cast<size_t>(length) : 0);
#endif
    return self.substr(0, self.find_last_of("\\/") + 1);
}

ModuleLoader::ModuleLoader(const std::string& fileName) {
    std::string path = ProgramFolder() + fileName;
#if defined(_WIN32)
    handle_ = LoadLibraryW(standin::FromUtf8(path).c_str());
    if (!handle_)
        error_ = "LoadLibraryW failed with " + std::to_string(GetLastError());
#else
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_)
        error_ = dlerror();
#endif
}

ModuleLoader::~ModuleLoader() {
    if (!handle_)
        return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
}

void* ModuleLoader::Find(const char* name) const {
    if (!handle_)
        return nullptr;
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
    return dlsym(handle_, name);
#endif
}

}  // namespace testsupport
