#pragma once

// Loads the effect module the way the host does: as a dynamic library, through its four exported
// functions, never linked in (and a fifth, for repeatable runs, when the module has it).
#include <string>

class ImageSource;

namespace fxplayer {

struct PluginExports {
    bool (*LoadPlugin)() = nullptr;
    void (*UnloadPlugin)() = nullptr;
    const wchar_t* (*GetPluginName)() = nullptr;
    const wchar_t* (*GetPluginDescription)() = nullptr;
    // Not one of the host's: waits until a source's background load has finished. Null when the
    // module has no such export; the player then cannot hold a run still for a load.
    void (*WaitForBackgroundLoad)(ImageSource* source) = nullptr;
    unsigned long long (*LateFrames)(ImageSource* source) = nullptr;
    // Not one of the host's either: the counts of what the module did on the host's thread.
    unsigned (*HostThreadWork)(unsigned long long* counts, unsigned capacity) = nullptr;
};

class LoadedModule {
public:
    LoadedModule() = default;
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    // Loads the library and finds all four exports. False with `error` (and nothing kept loaded)
    // when the file is missing, does not load, or lacks an export.
    bool Open(const std::string& path, std::string& error);
    // Unloads the library; the exports are gone after it.
    void Close();

    const PluginExports& Exports() const { return exports_; }

private:
    void* handle_ = nullptr;
    PluginExports exports_;
};

// The folder that holds the running player's binary.
std::string ExecutableDirectory();
// The module's file name on this system: VantrelEffect.dll or VantrelEffect.so.
std::string DefaultModuleName();

}  // namespace fxplayer
