// The Win32 platform against real Windows (or Wine): a named block that another process reads and
// writes, and messages delivered to fxconsole's window found by its title.
#include <gtest/gtest.h>
// clang-format off
#include <windows.h>
#include <shellapi.h>  // before our interface: none of its names may be a Windows macro
// clang-format on

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "controller/ConsoleProtocol.h"
#include "platform/Platform.h"
#include "tests/support/ReadWholeFileCases.h"

namespace {

using testwindows::Child;
using testwindows::kPatience;
using testwindows::ProgramPath;

// Every test here talks to the real system, not the simulation the test runner installs.
class Win32Test : public ::testing::Test {
protected:
    void SetUp() override { before_ = platform::Swap(nullptr); }
    void TearDown() override { platform::Swap(before_); }
    platform::System& Os() { return platform::Current(); }

private:
    platform::System* before_ = nullptr;
};

std::u16string BlockText(const void* view, size_t capacityUnits) {
    const char16_t* units = static_cast<const char16_t*>(view);
    size_t length = 0;
    while (length < capacityUnits && units[length] != 0) {
        ++length;
    }
    return std::u16string(units, length);
}

void WriteBlockText(void* view, const std::u16string& text) {
    std::memcpy(view, text.c_str(), (text.size() + 1) * sizeof(char16_t));
}

TEST_F(Win32Test, ANamedBlockIsSharedWithAnotherProcessAndKeepsItsSize) {
    std::wstring name = L"VantrelTestBlock-" + std::to_wstring(GetCurrentProcessId());
    platform::MappingHandle mapping = Os().CreateOrOpenMapping(name.c_str(), 4096);
    ASSERT_NE(mapping, nullptr);
    EXPECT_EQ(Os().LastError(), 0u);
    void* view = Os().MapView(mapping, 4096);
    ASSERT_NE(view, nullptr);
    WriteBlockText(view, u"5|D:/fx/\u00E9t\u00E9.gif|200|100|x|7|50|25");

    {
        Child reader(L"\"" + ProgramPath(L"blockreader.exe") + L"\" " + name + L" 4096 reply");
        ASSERT_TRUE(reader.Started());
        EXPECT_EQ(reader.ExitCode(), 0);
        EXPECT_TRUE(reader.WaitForLine("text 5|D:/fx/\xC3\xA9t\xC3\xA9.gif|200|100|x|7|50|25"));
    }
    EXPECT_EQ(BlockText(view, 2048), u"reply");

    // Opened again, it keeps its 4096 bytes whatever size is asked for, and a larger view is
    // refused, here and in the other process.
    platform::MappingHandle again = Os().CreateOrOpenMapping(name.c_str(), 8192);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(Os().LastError(), platform::kErrorAlreadyExists);
    EXPECT_EQ(Os().MapView(again, 8192), nullptr);
    EXPECT_EQ(Os().LastError(), platform::kErrorAccessDenied);
    {
        Child reader(L"\"" + ProgramPath(L"blockreader.exe") + L"\" " + name + L" 8192");
        ASSERT_TRUE(reader.Started());
        EXPECT_EQ(reader.ExitCode(), 3);
    }

    Os().UnmapView(view);
    Os().CloseHandle(again);
    Os().CloseHandle(mapping);
    // With every handle closed the block is gone.
    Child reader(L"\"" + ProgramPath(L"blockreader.exe") + L"\" " + name + L" 4096");
    ASSERT_TRUE(reader.Started());
    EXPECT_EQ(reader.ExitCode(), 2);
}

TEST_F(Win32Test, MessagesReachFxconsoleFoundByItsTitle) {
    Child console(L"\"" + ProgramPath(L"fxconsole.exe") + L"\" --script - --quit-after 60");
    ASSERT_TRUE(console.Started());
    ASSERT_TRUE(console.WaitForLine("ready"));

    platform::WindowHandle window = Os().FindWindowByTitle(vantrel::kConsoleTitle);
    ASSERT_NE(window, nullptr);

    // The console made both blocks at 8192 bytes: we open them as they are.
    platform::MappingHandle commands = Os().CreateOrOpenMapping(vantrel::kCommandBlockName, 128);
    ASSERT_NE(commands, nullptr);
    EXPECT_EQ(Os().LastError(), platform::kErrorAlreadyExists);
    void* commandView = Os().MapView(commands, vantrel::kCommandBlockSize);
    ASSERT_NE(commandView, nullptr);
    platform::MappingHandle handshake =
        Os().CreateOrOpenMapping(vantrel::kHandshakeBlockName, vantrel::kHandshakeBlockSize);
    ASSERT_NE(handshake, nullptr);
    void* handshakeView = Os().MapView(handshake, vantrel::kHandshakeViewSize);
    ASSERT_NE(handshakeView, nullptr);

    // A command from standard input lands in the block (non-ASCII path included).
    console.Write("0 5|D:/fx/\xE7\x89\xB9.gif|200|100|x|7|50|25\n");
    ASSERT_TRUE(console.WaitForLine("command 5|D:/fx/\xE7\x89\xB9.gif|200|100|x|7|50|25"));
    EXPECT_EQ(BlockText(commandView, 4096), u"5|D:/fx/\u7279.gif|200|100|x|7|50|25");

    // Each message is handled before SendMessageTo returns, in the order sent.
    WriteBlockText(handshakeView, u"4242|{SCENE}|{SOURCE}");
    EXPECT_TRUE(Os().SendMessageTo(window, vantrel::kHandshakeMessage, 0, 0, 500));
    EXPECT_TRUE(Os().SendMessageTo(window, vantrel::kPlayStateMessage,
                                   static_cast<uintptr_t>(intptr_t{-7}), -1, 500));
    EXPECT_TRUE(Os().SendMessageTo(window, vantrel::kLiveStateMessage, 0, 1, 500));
    // The lines are in the pipe by now; our reader thread may still be on its way to them.
    ASSERT_TRUE(console.WaitForLine("msg 1057 0 1"));
    std::vector<std::string> lines = console.Lines();
    std::vector<std::string> want = {
        "ready",          "command 5|D:/fx/\xE7\x89\xB9.gif|200|100|x|7|50|25",
        "msg 1045 0 0",   "handshake 4242|{SCENE}|{SOURCE}",
        "msg 1056 -7 -1", "msg 1057 0 1"};
    EXPECT_EQ(lines, want);

    // Once the console has gone, neither its window nor a message to it is found.
    PostMessageW(static_cast<HWND>(window), WM_CLOSE, 0, 0);
    EXPECT_EQ(console.ExitCode(), 0);
    EXPECT_EQ(Os().FindWindowByTitle(vantrel::kConsoleTitle), nullptr);
    EXPECT_FALSE(Os().SendMessageTo(window, vantrel::kLiveStateMessage, 0, 0, 500));

    Os().UnmapView(commandView);
    Os().UnmapView(handshakeView);
    Os().CloseHandle(commands);
    Os().CloseHandle(handshake);
}

// Threads of other processes that made a window, as the event hook reports them.
std::vector<DWORD> windowMakers;
void CALLBACK OnWindowMade(HWINEVENTHOOK, DWORD, HWND, LONG object, LONG, DWORD thread, DWORD) {
    if (object == OBJID_WINDOW) {
        windowMakers.push_back(thread);
    }
}

// fxconsole makes both blocks before its window: a module that finds the window never makes the
// handshake block first, at a size the console's view would be refused. With that block held too
// small here, the console gives up before any window of it has existed.
TEST_F(Win32Test, FxconsoleMakesItsBlocksBeforeItsWindow) {
    HANDLE small = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 128,
                                      vantrel::kHandshakeBlockName);
    ASSERT_NE(small, nullptr);
    windowMakers.clear();
    HWINEVENTHOOK hook =
        SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_CREATE, nullptr, &OnWindowMade, 0, 0,
                        WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
    ASSERT_NE(hook, nullptr);
    {
        Child console(L"\"" + ProgramPath(L"fxconsole.exe") + L"\" --script - --quit-after 60");
        ASSERT_TRUE(console.Started());
        // The events arrive as messages to this thread.
        HANDLE process = console.Process();
        MSG message;
        DWORD woke;
        do {
            woke = MsgWaitForMultipleObjects(1, &process, FALSE, 20000, QS_ALLINPUT);
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageW(&message);
            }
        } while (woke == WAIT_OBJECT_0 + 1);
        EXPECT_EQ(console.ExitCode(), 1);
        EXPECT_EQ(std::count(windowMakers.begin(), windowMakers.end(), console.ThreadId()), 0);
    }
    UnhookWinEvent(hook);
    CloseHandle(small);
}

TEST_F(Win32Test, AConsoleThatDoesNotAnswerHoldsTheSenderOnlyUntilTheTimeout) {
    // The console holds the message until this test lets it go (or for a minute).
    Child console(L"\"" + ProgramPath(L"fxconsole.exe") +
                  L"\" --script - --stall-on 1057 60 --quit-after 120");
    ASSERT_TRUE(console.Started());
    ASSERT_TRUE(console.WaitForLine("ready"));
    platform::WindowHandle window = Os().FindWindowByTitle(vantrel::kConsoleTitle);
    ASSERT_NE(window, nullptr);

    EXPECT_FALSE(Os().SendMessageTo(window, vantrel::kLiveStateMessage, 0, 1, 300));
    // The sender gave up while the console still held the message: it is let go only now.
    console.Write("# go on\n");
    EXPECT_TRUE(console.WaitForLine("stall released")) << "held for the whole stall";
    // It did arrive; the console was merely slow with it.
    EXPECT_TRUE(console.WaitForLine("msg 1057 0 1"));
    PostMessageW(static_cast<HWND>(window), WM_CLOSE, 0, 0);
    EXPECT_EQ(console.ExitCode(), 0);
}

TEST_F(Win32Test, ReadWholeFileReadsRegularFilesOnly) {
    testsupport::CheckReadWholeFile(Os());
}

TEST_F(Win32Test, AShellLaunchReportsSuccessOrTheError) {
    EXPECT_LE(Os().OpenWithShell("open", "no-such-program.exe", "9 1 a b 2", SW_SHOW), 32);
    EXPECT_EQ(Os().LastError(), platform::kErrorFileNotFound);
    // blockreader finds no such block and ends at once.
    char reader[2 * MAX_PATH] = {};
    WideCharToMultiByte(CP_ACP, 0, ProgramPath(L"blockreader.exe").c_str(), -1, reader,
                        sizeof reader, nullptr, nullptr);
    EXPECT_GT(Os().OpenWithShell("open", reader, "VantrelNoSuchBlock 16", SW_HIDE), 32);
}

TEST_F(Win32Test, AnsiTextGuidsAndTheWorkingDirectory) {
    wchar_t want[MAX_PATH] = {};
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, want);
    wchar_t have[MAX_PATH] = {};
    EXPECT_EQ(Os().WorkingDirectory(have, MAX_PATH), length);
    EXPECT_EQ(std::wstring(have), std::wstring(want));
    EXPECT_EQ(Os().WorkingDirectory(have, length), 0u);  // no room for the null

    // The module's identifiers travel as UTF-8 read in the ANSI code page; on a Western system
    // that is Windows-1252, as the simulation assumes.
    if (GetACP() == 1252) {
        char16_t out[8] = {};
        EXPECT_EQ(Os().AnsiToUtf16("\xC3\xA9\x80", out, 8), 4);
        EXPECT_EQ(std::u16string(out), u"\u00C3\u00A9\u20AC");
    }
    platform::Guid first, second;
    ASSERT_TRUE(Os().NewGuid(first));
    ASSERT_TRUE(Os().NewGuid(second));
    EXPECT_NE(std::memcmp(&first, &second, sizeof first), 0);
    EXPECT_EQ(Os().ProcessId(), GetCurrentProcessId());
}

}  // namespace
