// The module's exports: the four unmangled functions the host calls, two for host programs (a wait
// for repeatable runs, and the late frames of a background load), and the platform's load
// notification.
#include "plugin/PluginEntry.h"

#if defined(VANTREL_BIND_AT_LOAD)
#include "plugin/HostBinding.h"
#endif

#if defined(_WIN32)
#include <windows.h>
#define VANTREL_EXPORT extern "C" __declspec(dllexport)

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    return vantrel::OnModuleLoad(instance, reason) ? TRUE : FALSE;
}

namespace {
void PinModule() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&DllMain), &self);
}
}  // namespace
#else
#include <dlfcn.h>
#define VANTREL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
// Linux has no DllMain: the loader runs this once the module is mapped, with the module's own
// dlopen handle standing in for the instance handle.
__attribute__((constructor)) void NotifyModuleLoad() {
    Dl_info info = {};
    void* handle = nullptr;
    if (dladdr(reinterpret_cast<void*>(&NotifyModuleLoad), &info) && info.dli_fname)
        handle = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    vantrel::OnModuleLoad(handle, 1);
    // RTLD_NOLOAD took a reference; give it back so that dlclose can unload the module.
    if (handle)
        dlclose(handle);
}

void PinModule() {
    Dl_info info = {};
    if (dladdr(reinterpret_cast<void*>(&NotifyModuleLoad), &info) && info.dli_fname)
        dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}
}  // namespace
#endif

// Where the module binds to its host at load, a host it cannot bind to, or that does not fit, gets
// no source class: LoadPlugin still returns true, and the host goes on without the module.
VANTREL_EXPORT bool LoadPlugin() {
#if defined(VANTREL_BIND_AT_LOAD)
    if (!vantrel::BindHost())
        return true;
#endif
    return vantrel::LoadPlugin();
}
// A worker that outlasts the unload's wait keeps the module in memory for good: the host's
// FreeLibrary (dlclose) must not unmap code that thread will still return through.
VANTREL_EXPORT void UnloadPlugin() {
    if (!vantrel::UnloadPlugin())
        PinModule();
}
VANTREL_EXPORT const wchar_t* GetPluginName() {
    return vantrel::GetPluginName();
}
VANTREL_EXPORT const wchar_t* GetPluginDescription() {
    return vantrel::GetPluginDescription();
}
// Not called by the host: the effect player waits here for a source's background load between
// frames, so that its runs repeat exactly.
VANTREL_EXPORT void WaitForBackgroundLoad(ImageSource* source) {
    vantrel::WaitForBackgroundLoad(source);
}
// Not called by the host: the effect player reports a source's late frames when it paces frames in
// wall time.
VANTREL_EXPORT unsigned long long LateFrames(ImageSource* source) {
    return vantrel::LateFrames(source);
}
// Not called by the host: the effect player records what each of its calls made the module do on
// the host's thread, frame by frame.
VANTREL_EXPORT unsigned HostThreadWork(unsigned long long* counts, unsigned capacity) {
    return vantrel::HostThreadWork(counts, capacity);
}
