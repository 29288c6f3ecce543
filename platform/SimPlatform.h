#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Platform.h"

// An in-process simulation of the parts of Windows the module uses: named blocks that keep the
// size they were created with and refuse a larger view, top-level windows found by title that
// record the messages they receive, a settable clock, recorded shell launches with a settable
// result, GUIDs, the ANSI code page (Windows-1252), a settable working directory and standard
// output.
namespace platform {

struct SimMessage {
    uint32_t code;
    uintptr_t wParam;
    intptr_t lParam;
};

struct SimLaunch {
    std::string operation;
    std::string file;
    std::string parameters;
    int showCommand;
};

class PLATFORMAPI SimSystem : public System {
public:
    SimSystem();
    ~SimSystem() override;

    // ----- System
    MappingHandle CreateOrOpenMapping(const wchar_t* name, uint32_t size) override;
    void* MapView(MappingHandle mapping, uint32_t size) override;
    void UnmapView(void* view) override;
    void CloseHandle(MappingHandle mapping) override;
    uint32_t LastError() override;
    WindowHandle FindWindowByTitle(const wchar_t* title) override;
    bool SendMessageTo(WindowHandle window, uint32_t code, uintptr_t wParam, intptr_t lParam,
                       uint32_t timeoutMs) override;
    intptr_t OpenWithShell(const char* operation, const char* file, const char* parameters,
                           int showCommand) override;
    uint32_t ProcessId() override;
    int64_t CalendarSeconds() override;
    bool NewGuid(Guid& guid) override;
    int AnsiToUtf16(const char* text, char16_t* out, int outCount) override;
    void PrintToStdout(const wchar_t* text) override;
    size_t WorkingDirectory(wchar_t* out, size_t outCount) override;
    // The real file system (through the C runtime), "\\" taken as a separator as on Windows.
    FileHandle OpenFileForReading(const wchar_t* path, uint64_t& size) override;
    size_t ReadFromFile(FileHandle file, uint8_t* out, size_t count) override;
    void CloseFile(FileHandle file) override;

    // ----- named blocks, as another program (the console) sees them
    // Creates the block with `size` zero bytes unless it exists, and holds it; returns its bytes.
    // Null when it exists with fewer than `size` bytes (the program's view would be refused).
    uint8_t* CreateBlock(const std::wstring& name, uint32_t size);
    // The block's bytes, or null when no such block exists. Stays valid while the block exists.
    uint8_t* BlockBytes(const std::wstring& name);
    uint32_t BlockSize(const std::wstring& name);
    // A block exists while a handle to it is open or another program (CreateBlock) holds it.
    bool BlockExists(const std::wstring& name);
    // Drops the other program's hold on the block (it vanishes once no handle is open).
    void ReleaseBlock(const std::wstring& name);
    // Writes UTF-16 text and its null at offset 0 (the console's command write).
    void WriteBlockText(const std::wstring& name, const std::u16string& text);
    // Reads UTF-16 text from offset 0 up to a null or the end of the block.
    std::u16string ReadBlockText(const std::wstring& name);
    size_t OpenMappingCount() const;
    size_t OpenViewCount() const;

    // ----- windows
    using MessageHandler = std::function<void(WindowHandle, const SimMessage&)>;
    WindowHandle CreateWindowWithTitle(const std::wstring& title);
    void DestroyWindow(WindowHandle window);
    // Every message the window received, in order.
    std::vector<SimMessage> Messages(WindowHandle window);
    void ClearMessages();
    // Called as each message is handled (for tools and for tests that check sequences).
    void SetMessageHandler(MessageHandler handler);
    // A hung window takes no message: SendMessageTo returns false at once (the simulated timeout).
    void SetWindowHung(WindowHandle window, bool hung);
    // The window vanishes just after the next FindWindowByTitle finds it (a console that closes
    // between the lookup and the message).
    void CloseWindowAfterNextLookup(bool close);

    // ----- launches
    std::vector<SimLaunch> Launches() const;
    // The next launches return `result`; a result of 32 or less also sets the last error to
    // `error`. Default: 42, success.
    void SetLaunchResult(intptr_t result, uint32_t error);
    // Called on each launch (a tool may bring up the console there).
    void SetLaunchHandler(std::function<void(const SimLaunch&)> handler);

    // ----- files
    // While held, every file read waits before it opens its file, as on a disk that has not
    // answered yet; releasing lets them go on. Release before destroying what waits on a read.
    void HoldFileReads(bool hold);

    // ----- the rest
    void SetProcessId(uint32_t id);
    void SetCalendarSeconds(int64_t seconds);
    void SetGuidFails(bool fails);
    // The working directory reported (default: the process's real one; empty: none to be had).
    void SetWorkingDirectory(const std::wstring& directory);
    // The next mappings or views fail with this last error (0 restores success).
    void SetMappingFailure(uint32_t error);
    void SetViewFailure(uint32_t error);
    std::vector<std::wstring> StdoutLines() const;
    void ClearStdout();
    // Echo standard output to the real one as well (default off).
    void SetStdoutEcho(bool echo);

    // Back to a fresh desktop: no blocks, no windows, no launches, default settings.
    void Reset();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The simulation in use when no other system was swapped in (the default on every system but
// Windows). Tests on Windows swap it in explicitly.
PLATFORMAPI SimSystem& Simulation();

}  // namespace platform
