#include "controller/ConsoleLink.h"

#include <cstring>

namespace vantrel {

platform::WindowHandle FindConsoleWindow() {
    return platform::Current().FindWindowByTitle(kConsoleTitle);
}

bool SendToConsole(platform::WindowHandle window, uint32_t code, intptr_t wParam, intptr_t lParam) {
    if (!window)
        return false;
    return platform::Current().SendMessageTo(window, code, static_cast<uintptr_t>(wParam), lParam,
                                             kConsoleMessageTimeoutMs);
}

platform::MappingHandle OpenCommandBlock() {
    return platform::Current().CreateOrOpenMapping(kCommandBlockName, kCommandBlockSize);
}

const void* MapCommandView(platform::MappingHandle mapping) {
    if (!mapping)
        return nullptr;
    return platform::Current().MapView(mapping, kCommandBlockSize);
}

void UnmapCommandView(const void* view) {
    if (!view)
        return;
    platform::Current().UnmapView(const_cast<void*>(view));
}

bool CopyCommandText(const void* view, size_t viewBytes, char16_t* out) {
    out[0] = 0;
    if (!view)
        return false;
    const unsigned char* bytes = static_cast<const unsigned char*>(view);
    size_t units = viewBytes / sizeof(char16_t);
    if (units > kCommandTextCapacity)
        units = kCommandTextCapacity;
    for (size_t i = 0; i < units; ++i) {
        char16_t unit;
        std::memcpy(&unit, bytes + i * sizeof(char16_t), sizeof(unit));
        out[i] = unit;
        if (unit == 0)
            return true;
    }
    out[0] = 0;
    return false;
}

void CloseCommandBlock(platform::MappingHandle mapping) {
    if (!mapping)
        return;
    platform::Current().CloseHandle(mapping);
}

platform::MappingHandle OpenHandshakeBlock() {
    return platform::Current().CreateOrOpenMapping(kHandshakeBlockName, kHandshakeBlockSize);
}

void* MapHandshakeView(platform::MappingHandle mapping) {
    if (!mapping)
        return nullptr;
    return platform::Current().MapView(mapping, kHandshakeViewSize);
}

intptr_t LaunchConsole(const char* parameters) {
    return platform::Current().OpenWithShell(kConsoleOperation, kConsoleProgram, parameters,
                                             kConsoleShowCommand);
}

}  // namespace vantrel
