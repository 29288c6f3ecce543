#pragma once

// What ReadWholeFile must do on every system: shared by the simulation's tests and the Win32
// platform's tests, which run against the real system.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace testsupport {

inline void CheckReadWholeFile(platform::System& system) {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("vantrel-read-" + std::to_string(counter++));
    std::filesystem::create_directories(dir);
    const std::vector<uint8_t> content = {'G', 'I', 'F', 0, 0xFF, '8', '9', 'a'};
    {
        std::ofstream out(dir / "file.gif", std::ios::binary);
        out.write(reinterpret_cast<const char*>(content.data()), 8);
    }
    const std::wstring file = (dir / "file.gif").wstring();
    const auto never = [] { return false; };
    struct Case {
        std::wstring path;
        uint64_t maxBytes;
        bool stop;
        platform::FileRead want;
        uint64_t wantSize;
        std::vector<uint8_t> wantBytes;
    } cases[] = {
        {file, 8, false, platform::FileRead::Done, 8, content},
        {file, 7, false, platform::FileRead::TooLarge, 8, {}},
        {file, 8, true, platform::FileRead::Stopped, 8, {}},
        {(dir / "missing.gif").wstring(), 8, false, platform::FileRead::NotOpened, 0, {}},
        {dir.wstring(), 8, false, platform::FileRead::NotOpened, 0, {}},
        {L"", 8, false, platform::FileRead::NotOpened, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::filesystem::path(c.path).filename().string() + " max " +
                     std::to_string(c.maxBytes) + (c.stop ? " stopped" : ""));
        std::vector<uint8_t> bytes = {1, 2, 3};
        uint64_t size = 99;
        const platform::FileRead got =
            c.stop
                ? system.ReadWholeFile(c.path.c_str(), c.maxBytes, bytes, size, [] { return true; })
                : system.ReadWholeFile(c.path.c_str(), c.maxBytes, bytes, size, never);
        EXPECT_EQ(static_cast<int>(got), static_cast<int>(c.want));
        EXPECT_EQ(size, c.wantSize);
        EXPECT_EQ(bytes, c.wantBytes);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

}  // namespace testsupport
