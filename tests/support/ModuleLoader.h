#pragma once

// Loads the built module by its file, as a host does, and finds its exports by name.
#include <string>

namespace testsupport {

class ModuleLoader {
public:
    // `fileName` is looked for beside the running test program.
    explicit ModuleLoader(const std::string& fileName);
    ~ModuleLoader();
    ModuleLoader(const ModuleLoader&) = delete;
    ModuleLoader& operator=(const ModuleLoader&) = delete;

    bool Loaded() const { return handle_ != nullptr; }
    // The export of that name, or null.
    void* Find(const char* name) const;
    template <typename Function>
    Function FindAs(const char* name) const {
        return reinterpret_cast<Function>(Find(name));
    }
    const std::string& Error() const { return error_; }

private:
    void* handle_ = nullptr;
    std::string error_;
};

// The folder of the running test program, with a trailing separator.
std::string ProgramFolder();

// The module's file name on this system.
inline const char* ModuleFileName() {
#if defined(_WIN32)
    return "VantrelEffect.dll";
#else
    return "VantrelEffect.so";
#endif
}

}  // namespace testsupport
