#include "platform/SimPlatform.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <new>
#include <random>

#if defined(_WIN32)
#include <direct.h>
#else
#include <unistd.h>
#endif

namespace platform {

namespace {

// Windows error codes the simulation reports besides the ones the module knows.
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorInvalidAddress = 487;
constexpr uint32_t kErrorInvalidWindowHandle = 1400;
constexpr uint32_t kErrorTimeout = 1460;

constexpr intptr_t kDefaultLaunchResult = 42;
constexpr uint32_t kDefaultProcessId = 4242;
// A fixed default keeps tests that never set the clock repeatable (2023-11-14).
constexpr int64_t kDefaultCalendarSeconds = 1700000000;

// Windows-1252 in 0x80..0x9F; the five bytes it leaves undefined map to the same code point, as
// MultiByteToWideChar does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t Cp1252ToUtf16(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F) {
        return kCp1252High[byte - 0x80];
    }
    return byte;
}

uint64_t SplitMix64(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

std::string ToUtf8(const std::wstring& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = static_cast<uint32_t>(text[i]);
        // wchar_t is UTF-16 on Windows: join surrogate pairs.
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            uint32_t low = static_cast<uint32_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

#if !defined(_WIN32)
// UTF-8 to wide text (UTF-32 here); a byte that starts no well-formed sequence gives U+FFFD.
std::wstring FromUtf8(const std::string& text) {
    std::wstring out;
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        uint32_t c = lead;
        if (lead >= 0xF0 && lead < 0xF8) {
            extra = 3, c = lead & 0x07;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            extra = 2, c = lead & 0x0F;
        } else if (lead >= 0xC0 && lead < 0xE0) {
            extra = 1, c = lead & 0x1F;
        }
        bool good = lead < 0x80 || extra > 0;
        for (size_t k = 1; good && k <= extra; ++k) {
            good = i + k < text.size() && (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
            if (good) {
                c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
            }
        }
        if (!good || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += static_cast<wchar_t>(0xFFFD);
            i += 1;
            continue;
        }
        out += static_cast<wchar_t>(c);
        i += extra + 1;
    }
    return out;
}
#endif

std::wstring ProcessWorkingDirectory() {
#if defined(_WIN32)
    wchar_t buffer[4096];
    return _wgetcwd(buffer, 4096) != nullptr ? std::wstring(buffer) : std::wstring();
#else
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) != nullptr ? FromUtf8(buffer) : std::wstring();
#endif
}

// Reads go in chunks of this size, with a look at the caller's stop request between them.
constexpr size_t kReadChunk = size_t{4} << 20;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePointer = std::unique_ptr<std::FILE, FileCloser>;

// Opens a regular file for reading and gives its size; null for anything else.
FilePointer OpenRegularFile(const wchar_t* path, uint64_t& size) {
#if defined(_WIN32)
    FilePointer file(_wfopen(path, L"rb"));
    struct _stat64 status;
    if (!file || _fstat64(_fileno(file.get()), &status) != 0 || (status.st_mode & _S_IFREG) == 0) {
        return nullptr;
    }
#else
    std::string narrow = ToUtf8(path);
    std::replace(narrow.begin(), narrow.end(), '\\', '/');
    FilePointer file(std::fopen(narrow.c_str(), "rb"));
    struct stat status;
    if (!file || fstat(fileno(file.get()), &status) != 0 || !S_ISREG(status.st_mode)) {
        return nullptr;
    }
#endif
    size = status.st_size < 0 ? 0 : static_cast<uint64_t>(status.st_size);
    return file;
}

}  // namespace

// A named (or anonymous) block of memory. Its bytes never move or change size, so every view
// stays valid while it is mapped, even after the last handle has been closed.
struct SimBlock {
    std::wstring name;  // empty for an anonymous block
    std::vector<uint8_t> bytes;
    bool heldByOther = false;
};

struct SimWindow {
    std::wstring title;
    bool alive = true;
    bool hung = false;
    std::vector<SimMessage> messages;
};

struct SimSystem::State {
    mutable std::mutex mutex;
    uint32_t lastError = 0;

    // The named blocks that exist; a block leaves this table when nothing holds it any more.
    std::map<std::wstring, std::shared_ptr<SimBlock>> named;
    // Open mapping handles and mapped views, each holding its block.
    std::map<MappingHandle, std::shared_ptr<SimBlock>> handles;
    struct View {
        std::shared_ptr<SimBlock> block;
        int count = 0;  // views of one block share its address
    };
    std::map<void*, View> views;
    uintptr_t nextHandle = 0x100;
    uint32_t mappingFailure = 0;
    uint32_t viewFailure = 0;

    std::map<WindowHandle, SimWindow> windows;
    uintptr_t nextWindow = 0x10000;
    bool closeAfterNextLookup = false;
    MessageHandler messageHandler;

    std::vector<SimLaunch> launches;
    intptr_t launchResult = kDefaultLaunchResult;
    uint32_t launchError = 0;
    std::function<void(const SimLaunch&)> launchHandler;

    uint32_t processId = kDefaultProcessId;
    int64_t calendarSeconds = kDefaultCalendarSeconds;
    bool guidFails = false;
    uint64_t guidSeed = 0;
    uint64_t guidCounter = 0;

    std::vector<std::wstring> stdoutLines;
    std::wstring stdoutPartial;
    bool stdoutEcho = false;
    std::wstring workingDirectory = ProcessWorkingDirectory();

    bool readsHeld = false;
    std::condition_variable readsReleased;

    // The block leaves the name table once no handle, view or other program holds it; a later
    // CreateOrOpenMapping then makes a new one.
    void ForgetIfUnused(const std::shared_ptr<SimBlock>& block) {
        if (block->name.empty() || block->heldByOther) {
            return;
        }
        for (const auto& handle : handles) {
            if (handle.second == block) {
                return;
            }
        }
        for (const auto& view : views) {
            if (view.second.block == block) {
                return;
            }
        }
        auto it = named.find(block->name);
        if (it != named.end() && it->second == block) {
            named.erase(it);
        }
    }

    std::shared_ptr<SimBlock> FindBlock(const std::wstring& name) const {
        auto it = named.find(name);
        return it == named.end() ? nullptr : it->second;
    }

    void Restart() {
        lastError = 0;
        named.clear();
        handles.clear();
        views.clear();
        mappingFailure = 0;
        viewFailure = 0;
        windows.clear();
        closeAfterNextLookup = false;
        messageHandler = nullptr;
        launches.clear();
        launchResult = kDefaultLaunchResult;
        launchError = 0;
        launchHandler = nullptr;
        processId = kDefaultProcessId;
        calendarSeconds = kDefaultCalendarSeconds;
        guidFails = false;
        stdoutLines.clear();
        stdoutPartial.clear();
        stdoutEcho = false;
        workingDirectory = ProcessWorkingDirectory();
        readsHeld = false;
        readsReleased.notify_all();
    }
};

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

// ---------------------------------------------------------------- files

FileRead SimSystem::ReadWholeFile(const wchar_t* path, uint64_t maxBytes,
                                  std::vector<uint8_t>& bytes, uint64_t& size,
                                  const std::function<bool()>& stop) {
    bytes.clear();
    size = 0;
    {
        std::unique_lock<std::mutex> lock(state_->mutex);
        state_->readsReleased.wait(lock, [this] { return !state_->readsHeld; });
    }
    if (path == nullptr || *path == 0) {
        return FileRead::NotOpened;
    }
    FilePointer file = OpenRegularFile(path, size);
    if (!file) {
        return FileRead::NotOpened;
    }
    if (size > maxBytes) {
        return FileRead::TooLarge;
    }
    const size_t total = static_cast<size_t>(size);
    if (total != size) {
        return FileRead::NoMemory;  // more than this process can address
    }
    try {
        bytes.resize(total);
    } catch (const std::bad_alloc&) {
        return FileRead::NoMemory;
    }
    size_t got = 0;
    while (got < total) {
        if (stop && stop()) {
            bytes.clear();
            return FileRead::Stopped;
        }
        const size_t want = std::min(kReadChunk, total - got);
        const size_t read = std::fread(bytes.data() + got, 1, want, file.get());
        got += read;
        if (read < want) {
            break;
        }
    }
    if (got < total) {
        bytes.resize(got);
        return FileRead::ShortRead;
    }
    return FileRead::Done;
}

void SimSystem::HoldFileReads(bool hold) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->readsHeld = hold;
    if (!hold) {
        state_->readsReleased.notify_all();
    }
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
