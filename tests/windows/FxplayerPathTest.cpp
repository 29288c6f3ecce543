// The effect player on Windows with paths that are not ASCII: its command line arrives as UTF-16
// and the player carries paths as UTF-8, so every file it opens must go through the wide
// functions; a narrow fopen reads the path in the system's code page and cannot open it.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "ChildProcess.h"

namespace {

namespace fs = std::filesystem;

TEST(FxplayerPaths, ScriptAndOutputFolderNamedInOtherScripts) {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const fs::path root =
        fs::path(temp) / (L"fxplayer-paths-" + std::to_wstring(GetCurrentProcessId()));
    std::error_code ec;
    fs::remove_all(root, ec);
    ASSERT_TRUE(fs::create_directories(root, ec)) << ec.message();
    const fs::path script = root / L"\u811a\u672c \u00fc.txt";  // 脚本 ü.txt
    const fs::path out = root / L"\u8f93\u51fa \u00e9t\u00e9";  // 输出 été
    {
        FILE* file = _wfopen(script.c_str(), L"wb");
        ASSERT_NE(file, nullptr);
        std::fputs("0 console on\n0.2 command 1 sparkle.gif\n", file);
        std::fclose(file);
    }

    testwindows::Child player(testwindows::ProgramPath(L"fxplayer.exe") +
                              L" --seconds 1 --fps 5 --canvas 64x36 --script \"" +
                              script.wstring() + L"\" --out \"" + out.wstring() + L"\"");
    ASSERT_TRUE(player.Started());
    EXPECT_EQ(player.ExitCode(), 0);
    for (const wchar_t* name : {L"transcript.txt", L"frametimes.csv", L"memory.csv", L"config.json",
                                L"contact.png", L"frametimes.png", L"frames/00000.png"}) {
        const fs::path file = out / name;
        EXPECT_TRUE(fs::is_regular_file(file, ec) && fs::file_size(file, ec) > 0)
            << fs::path(name).u8string();
    }
    fs::remove_all(root, ec);
}

}  // namespace
