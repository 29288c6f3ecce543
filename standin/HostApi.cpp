// The host's API object (source classes, the current scene, the canvas size, the output state),
// installation of the host's globals, and Reset.
#include <mutex>
#include <string>
#include <vector>

#include "host/APIInterface.h"
#include "host/Log.h"
#include "standin/Internal.h"
#include "standin/Standin.h"

namespace {

struct HostState {
    std::mutex mutex;
    std::vector<standin::SourceClassRecord> sourceClasses;
    bool outputActive = false;
    void* moduleHandle = nullptr;
};

HostState& State() {
    static HostState* state = new HostState;  // leaked: the module may call in until exit
    return *state;
}

class StandinApi final : public APIInterface {
public:
    constexpr StandinApi() = default;

    bool RegisterSourceClass(const wchar_t* className, const wchar_t* displayName,
                             CreateSourceProc create, ConfigureSourceProc configure) override {
        if (!className || !*className || !create)
            return false;
        standin::SourceClassRecord record;
        record.className = className;
        record.displayName = displayName ? displayName : L"";
        record.create = create;
        record.configure = configure;
        std::lock_guard<std::mutex> lock(State().mutex);
        State().sourceClasses.push_back(std::move(record));
        return true;
    }

    Scene* CurrentScene() override { return standin::detail::CurrentStandinScene(); }

    void GetCanvasSize(uint32_t& width, uint32_t& height) override {
        standin::detail::CanvasSize(width, height);
    }

    bool IsOutputActive() override {
        std::lock_guard<std::mutex> lock(State().mutex);
        return State().outputActive;
    }
};

StandinApi gApi;

}  // namespace

// Initialised statically, so that a module loaded by any program finds the host.
HOSTAPI APIInterface* API = &gApi;

void InitColorControl(void* moduleHandle) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().moduleHandle = moduleHandle;
}

namespace standin {

namespace detail {
APIInterface* HostApiObject() {
    return &gApi;
}
}  // namespace detail

void Install() {
    MainAllocator = detail::HostAllocator();
    GS = detail::HostGraphics();
    API = detail::HostApiObject();
}

void Reset() {
    detail::ResetLog();
    detail::ResetGraphics();
    detail::ResetCanvas();
    detail::ResetScenes();
    ClearAllocationFailures();
    OnNextFileSize(nullptr);
    SetFileReadListener(nullptr);
    SetFileWatchesPollDisk(true);
    std::lock_guard<std::mutex> lock(State().mutex);
    State().sourceClasses.clear();
    State().outputActive = false;
    State().moduleHandle = nullptr;
}

void ClearRecords() {
    ClearLog();
    ClearGraphicsEvents();
    detail::ClearSceneEvents();
}

void SetOutputActive(bool active) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().outputActive = active;
}

void* ColorControlHandle() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().moduleHandle;
}

std::vector<SourceClassRecord> SourceClasses() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().sourceClasses;
}

}  // namespace standin
