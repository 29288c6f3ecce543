// The simulated desktop: named blocks, windows and their messages, shell launches, the clock,
// GUIDs, the ANSI code page, the working directory and standard output. Its files are in
// SimFiles.cpp, its text conversion in SimText.cpp.
#include "platform/SimPlatform.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <random>

#include "platform/SimState.h"
#include "platform/SimText.h"

#if defined(_WIN32)
#include <direct.h>
#else
#include <unistd.h>
#endif

namespace platform {

using namespace sim;

namespace sim {

std::wstring ProcessWorkingDirectory() {
#if defined(_WIN32)
    wchar_t buffer[4096];
    return _wgetcwd(buffer, 4096) != nullptr ? std::wstring(buffer) : std::wstring();
#else
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) != nullptr ? FromUtf8(buffer) : std::wstring();
#endif
}

}  // namespace sim

namespace {

uint64_t SplitMix64(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

}  // namespace

SimSystem::SimSystem() : state_(new State) {
    std::random_device device;
    state_->guidSeed = (static_cast<uint64_t>(device()) << 32) ^ device();
}

SimSystem::~SimSystem() = default;

// ---------------------------------------------------------------- named blocks

MappingHandle SimSystem::CreateOrOpenMapping(const wchar_t* name, uint32_t size) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->mappingFailure != 0) {
        state_->lastError = state_->mappingFailure;
        return nullptr;
    }
    std::shared_ptr<SimBlock> block;
    uint32_t error = 0;
    std::wstring key = name != nullptr ? name : L"";
    if (!key.empty()) {
        block = state_->FindBlock(key);
    }
    if (block) {
        // Opened as it is: the size asked for now does not matter.
        error = kErrorAlreadyExists;
    } else {
        if (size == 0) {
            // Windows refuses a block of no size backed by the paging file.
            state_->lastError = kErrorInvalidParameter;
            return nullptr;
        }
        block = std::make_shared<SimBlock>();
        block->name = key;
        block->bytes.assign(size, 0);
        if (!key.empty()) {
            state_->named[key] = block;
        }
    }
    MappingHandle handle = reinterpret_cast<MappingHandle>(state_->nextHandle);
    state_->nextHandle += 4;
    state_->handles[handle] = block;
    state_->lastError = error;
    return handle;
}

void* SimSystem::MapView(MappingHandle mapping, uint32_t size) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    auto it = state_->handles.find(mapping);
    if (it == state_->handles.end()) {
        state_->lastError = kErrorInvalidHandle;
        return nullptr;
    }
    if (state_->viewFailure != 0) {
        state_->lastError = state_->viewFailure;
        return nullptr;
    }
    std::shared_ptr<SimBlock> block = it->second;
    // As on Windows: a view larger than the block is refused; size 0 means the whole block.
    if (size > block->bytes.size()) {
        state_->lastError = kErrorAccessDenied;
        return nullptr;
    }
    void* address = block->bytes.data();
    State::View& view = state_->views[address];
    view.block = block;
    view.count += 1;
    state_->lastError = 0;
    return address;
}

void SimSystem::UnmapView(void* view) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    auto it = state_->views.find(view);
    if (it == state_->views.end()) {
        state_->lastError = kErrorInvalidAddress;
        return;
    }
    if (--it->second.count > 0) {
        return;
    }
    std::shared_ptr<SimBlock> block = it->second.block;
    state_->views.erase(it);
    state_->ForgetIfUnused(block);
}

void SimSystem::CloseHandle(MappingHandle mapping) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    auto it = state_->handles.find(mapping);
    if (it == state_->handles.end()) {
        state_->lastError = kErrorInvalidHandle;
        return;
    }
    std::shared_ptr<SimBlock> block = it->second;
    state_->handles.erase(it);
    state_->ForgetIfUnused(block);
}

uint32_t SimSystem::LastError() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->lastError;
}

uint8_t* SimSystem::CreateBlock(const std::wstring& name, uint32_t size) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::shared_ptr<SimBlock> block = state_->FindBlock(name);
    if (block && block->bytes.size() < size) {
        // The other program's view of `size` bytes would be refused, as on Windows.
        return nullptr;
    }
    if (!block) {
        block = std::make_shared<SimBlock>();
        block->name = name;
        block->bytes.assign(size, 0);
        state_->named[name] = block;
    }
    block->heldByOther = true;
    return block->bytes.data();
}

uint8_t* SimSystem::BlockBytes(const std::wstring& name) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::shared_ptr<SimBlock> block = state_->FindBlock(name);
    return block ? block->bytes.data() : nullptr;
}

uint32_t SimSystem::BlockSize(const std::wstring& name) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::shared_ptr<SimBlock> block = state_->FindBlock(name);
    return block ? static_cast<uint32_t>(block->bytes.size()) : 0;
}

bool SimSystem::BlockExists(const std::wstring& name) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->FindBlock(name) != nullptr;
}

void SimSystem::ReleaseBlock(const std::wstring& name) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::shared_ptr<SimBlock> block = state_->FindBlock(name);
    if (!block) {
        return;
    }
    block->heldByOther = false;
    state_->ForgetIfUnused(block);
}

void SimSystem::WriteBlockText(const std::wstring& name, const std::u16string& text) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::shared_ptr<SimBlock> block = state_->FindBlock(name);
    if (!block) {
        return;
    }
    // Text and its null, cut to what the block holds (the null always fits).
    size_t units = block->bytes.size() / 2;
    if (units == 0) {
        return;
    }
    size_t count = std::min(text.size(), units - 1);
    for (size_t i = 0; i < count; ++i) {
        block->bytes[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
        block->bytes[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
    }
    block->bytes[2 * count] = 0;
    block->bytes[2 * count + 1] = 0;
}

std::u16string SimSystem::ReadBlockText(const std::wstring& name) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::shared_ptr<SimBlock> block = state_->FindBlock(name);
    std::u16string text;
    if (!block) {
        return text;
    }
    for (size_t i = 0; i + 1 < block->bytes.size(); i += 2) {
        char16_t c = static_cast<char16_t>(block->bytes[i] | (block->bytes[i + 1] << 8));
        if (c == 0) {
            break;
        }
        text += c;
    }
    return text;
}

size_t SimSystem::OpenMappingCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->handles.size();
}

size_t SimSystem::OpenViewCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    size_t count = 0;
    for (const auto& view : state_->views) {
        count += static_cast<size_t>(view.second.count);
    }
    return count;
}

void SimSystem::SetMappingFailure(uint32_t error) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->mappingFailure = error;
}

void SimSystem::SetViewFailure(uint32_t error) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->viewFailure = error;
}

// ---------------------------------------------------------------- windows

WindowHandle SimSystem::FindWindowByTitle(const wchar_t* title) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (title == nullptr) {
        return nullptr;
    }
    for (auto& entry : state_->windows) {
        SimWindow& window = entry.second;
        if (window.alive && window.title == title) {
            if (state_->closeAfterNextLookup) {
                state_->closeAfterNextLookup = false;
                window.alive = false;
            }
            return entry.first;
        }
    }
    return nullptr;
}

bool SimSystem::SendMessageTo(WindowHandle window, uint32_t code, uintptr_t wParam, intptr_t lParam,
                              uint32_t /*timeoutMs*/) {
    MessageHandler handler;
    SimMessage message{code, wParam, lParam};
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        auto it = state_->windows.find(window);
        if (it == state_->windows.end() || !it->second.alive) {
            state_->lastError = kErrorInvalidWindowHandle;
            return false;
        }
        if (it->second.hung) {
            state_->lastError = kErrorTimeout;
            return false;
        }
        it->second.messages.push_back(message);
        handler = state_->messageHandler;
    }
    // Outside the lock: the handler may read blocks or send messages itself, as a window
    // procedure may.
    if (handler) {
        handler(window, message);
    }
    return true;
}

WindowHandle SimSystem::CreateWindowWithTitle(const std::wstring& title) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    WindowHandle handle = reinterpret_cast<WindowHandle>(state_->nextWindow);
    state_->nextWindow += 0x10;
    SimWindow& window = state_->windows[handle];
    window.title = title;
    return handle;
}

void SimSystem::DestroyWindow(WindowHandle window) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    auto it = state_->windows.find(window);
    if (it != state_->windows.end()) {
        // Kept, dead, so that its messages can still be read.
        it->second.alive = false;
    }
}

std::vector<SimMessage> SimSystem::Messages(WindowHandle window) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    auto it = state_->windows.find(window);
    return it == state_->windows.end() ? std::vector<SimMessage>() : it->second.messages;
}

void SimSystem::ClearMessages() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    for (auto& entry : state_->windows) {
        entry.second.messages.clear();
    }
}

void SimSystem::SetMessageHandler(MessageHandler handler) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->messageHandler = std::move(handler);
}

void SimSystem::SetWindowHung(WindowHandle window, bool hung) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    auto it = state_->windows.find(window);
    if (it != state_->windows.end()) {
        it->second.hung = hung;
    }
}

void SimSystem::CloseWindowAfterNextLookup(bool close) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->closeAfterNextLookup = close;
}

// ---------------------------------------------------------------- launches

intptr_t SimSystem::OpenWithShell(const char* operation, const char* file, const char* parameters,
                                  int showCommand) {
    SimLaunch launch{operation != nullptr ? operation : "", file != nullptr ? file : "",
                     parameters != nullptr ? parameters : "", showCommand};
    std::function<void(const SimLaunch&)> handler;
    intptr_t result;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->launches.push_back(launch);
        result = state_->launchResult;
        if (result <= 32) {
            state_->lastError = state_->launchError;
        }
        handler = state_->launchHandler;
    }
    if (handler) {
        handler(launch);
    }
    return result;
}

std::vector<SimLaunch> SimSystem::Launches() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->launches;
}

void SimSystem::SetLaunchResult(intptr_t result, uint32_t error) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->launchResult = result;
    state_->launchError = error;
}

void SimSystem::SetLaunchHandler(std::function<void(const SimLaunch&)> handler) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->launchHandler = std::move(handler);
}

// ---------------------------------------------------------------- the rest

uint32_t SimSystem::ProcessId() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->processId;
}

int64_t SimSystem::CalendarSeconds() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->calendarSeconds;
}

bool SimSystem::NewGuid(Guid& guid) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->guidFails) {
        state_->lastError = kErrorNotEnoughMemory;
        return false;
    }
    // Data4 is a bijection of the counter, so GUIDs never repeat within a run; the seed makes
    // them differ from run to run as real ones do.
    uint64_t count = state_->guidCounter++;
    uint64_t unique = SplitMix64(state_->guidSeed + count);
    uint64_t rest = SplitMix64(unique ^ state_->guidSeed);
    guid.Data1 = static_cast<uint32_t>(rest >> 32);
    guid.Data2 = static_cast<uint16_t>(rest >> 16);
    guid.Data3 = static_cast<uint16_t>((rest & 0x0FFF) | 0x4000);
    for (int i = 0; i < 8; ++i) {
        guid.Data4[i] = static_cast<uint8_t>(unique >> (56 - 8 * i));
    }
    return true;
}

int SimSystem::AnsiToUtf16(const char* text, char16_t* out, int outCount) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (text == nullptr || outCount < 0 || (outCount > 0 && out == nullptr)) {
        state_->lastError = kErrorInvalidParameter;
        return 0;
    }
    size_t length = std::char_traits<char>::length(text) + 1;  // with the null
    if (outCount == 0) {
        // As MultiByteToWideChar: the size needed.
        return static_cast<int>(length);
    }
    if (length > static_cast<size_t>(outCount)) {
        state_->lastError = kErrorInsufficientBuffer;
        return 0;
    }
    for (size_t i = 0; i < length; ++i) {
        out[i] = Cp1252ToUtf16(static_cast<unsigned char>(text[i]));
    }
    return static_cast<int>(length);
}

void SimSystem::PrintToStdout(const wchar_t* text) {
    if (text == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::wstring all = state_->stdoutPartial + text;
    size_t start = 0;
    for (size_t newline; (newline = all.find(L'\n', start)) != std::wstring::npos;
         start = newline + 1) {
        state_->stdoutLines.push_back(all.substr(start, newline - start));
    }
    state_->stdoutPartial = all.substr(start);
    if (state_->stdoutEcho) {
        std::string bytes = ToUtf8(text);
        std::fwrite(bytes.data(), 1, bytes.size(), stdout);
        std::fflush(stdout);
    }
}

std::vector<std::wstring> SimSystem::StdoutLines() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::vector<std::wstring> lines = state_->stdoutLines;
    if (!state_->stdoutPartial.empty()) {
        lines.push_back(state_->stdoutPartial);
    }
    return lines;
}

void SimSystem::ClearStdout() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stdoutLines.clear();
    state_->stdoutPartial.clear();
}

void SimSystem::SetStdoutEcho(bool echo) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stdoutEcho = echo;
}

size_t SimSystem::WorkingDirectory(wchar_t* out, size_t outCount) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    const std::wstring& directory = state_->workingDirectory;
    if (out == nullptr || directory.empty() || directory.size() >= outCount) {
        state_->lastError = directory.empty() ? kErrorFileNotFound : kErrorInsufficientBuffer;
        return 0;
    }
    std::copy(directory.begin(), directory.end(), out);
    out[directory.size()] = L'\0';
    return directory.size();
}

void SimSystem::SetWorkingDirectory(const std::wstring& directory) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->workingDirectory = directory;
}

void SimSystem::SetProcessId(uint32_t id) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->processId = id;
}

void SimSystem::SetCalendarSeconds(int64_t seconds) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->calendarSeconds = seconds;
}

void SimSystem::SetGuidFails(bool fails) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->guidFails = fails;
}

void SimSystem::Reset() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->Restart();
}

SimSystem& Simulation() {
    // Made once and never destroyed, so no destructor runs at unload or exit.
    static SimSystem* simulation = new SimSystem;
    return *simulation;
}

}  // namespace platform
