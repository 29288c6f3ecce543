// Files for the module: path resolution, XFile, and change watches that report each change once.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/FileMonitor.h"
#include "host/XFile.h"
#include "standin/Standin.h"
#include "support/TestHost.h"

namespace {

std::wstring Wide(const std::string& text) {
    return standin::FromUtf8(text);
}

class StandinFile : public ::testing::Test {
protected:
    void TearDown() override { standin::SetBaseDirectory(""); }
    testsupport::TempDir dir;
};

TEST_F(StandinFile, RelativePathsResolveAgainstTheBaseDirectory) {
    standin::SetBaseDirectory("/base\\dir/");
    EXPECT_EQ(standin::ResolvePath(L"shaders\\ColorKey_RGB.pShader"),
              "/base/dir/shaders/ColorKey_RGB.pShader");
    EXPECT_EQ(standin::ResolvePath(L"/abs/a.gif"), "/abs/a.gif");
    EXPECT_EQ(standin::ResolvePath(L"D:\\fx\\a.gif"), "D:/fx/a.gif");
    EXPECT_EQ(standin::ResolvePath(L"\x7279\x6548.gif"), "/base/dir/\xE7\x89\xB9\xE6\x95\x88.gif");
    EXPECT_EQ(standin::ResolvePath(nullptr), "");
    standin::SetBaseDirectory("");
    EXPECT_EQ(standin::ResolvePath(L"a\\b.gif"), "a/b.gif");
}

TEST_F(StandinFile, OpensReadsAndSizesAnExistingFile) {
    std::vector<unsigned char> bytes = {'G', 'I', 'F', '8', '9', 'a', 0, 1, 2};
    {
        // By its UTF-8 name on every system (a narrow path would go through the ANSI code page).
        std::ofstream out(std::filesystem::u8path(dir.File("\xE7\x89\xB9\xE6\x95\x88.gif")),
                          std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    standin::SetBaseDirectory(dir.path());

    XFile file;
    ASSERT_TRUE(file.Open(L"\x7279\x6548.gif", XFILE_READ, XFILE_OPENEXISTING));
    EXPECT_TRUE(file.IsOpen());
    EXPECT_EQ(file.GetFileSize(), bytes.size());
    unsigned char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, 4), 4u);
    EXPECT_EQ(file.Read(buffer + 4, 16), 5u);  // only what is left
    EXPECT_EQ(std::vector<unsigned char>(buffer, buffer + 9), bytes);
    EXPECT_EQ(file.Read(buffer, 1), 0u);
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.GetFileSize(), 0u);
    EXPECT_EQ(file.Read(buffer, 1), 0u);
}

TEST_F(StandinFile, RefusesWhatCannotBeOpened) {
    XFile file;
    std::wstring missing = Wide(dir.File("missing.gif"));
    EXPECT_FALSE(file.Open(missing.c_str(), XFILE_READ, XFILE_OPENEXISTING));
    EXPECT_FALSE(file.Open(Wide(dir.path()).c_str(), XFILE_READ, XFILE_OPENEXISTING));  // a folder
    EXPECT_FALSE(file.Open(L"", XFILE_READ, XFILE_OPENEXISTING));
    EXPECT_FALSE(file.Open(nullptr, XFILE_READ, XFILE_OPENEXISTING));
    std::wstring existing = Wide(dir.Write("a.bin", {1}));
    EXPECT_FALSE(file.Open(existing.c_str(), 0, XFILE_OPENEXISTING));
    EXPECT_FALSE(file.Open(existing.c_str(), XFILE_WRITE, XFILE_CREATENEW));
    EXPECT_FALSE(file.IsOpen());

    // Creating dispositions make the file.
    ASSERT_TRUE(file.Open(missing.c_str(), XFILE_WRITE, XFILE_OPENALWAYS));
    file.Close();
    EXPECT_TRUE(file.Open(missing.c_str(), XFILE_READ, XFILE_OPENEXISTING));
    EXPECT_EQ(file.GetFileSize(), 0u);
}

TEST_F(StandinFile, WatchReportsEachChangeOnce) {
    std::string path = dir.Write("effect.gif", {1, 2, 3});
    OSFileChangeData* watch = OSMonitorFileStart(String(path.c_str()), false);
    ASSERT_NE(watch, nullptr);
    EXPECT_FALSE(OSFileHasChanged(watch));

    dir.Write("effect.gif", {1, 2, 3, 4});
    EXPECT_TRUE(OSFileHasChanged(watch));
    EXPECT_FALSE(OSFileHasChanged(watch));

    standin::TouchWatchedFile(path);
    EXPECT_TRUE(OSFileHasChanged(watch));
    EXPECT_FALSE(OSFileHasChanged(watch));
    standin::TouchWatchedFile(path + ".other");
    EXPECT_FALSE(OSFileHasChanged(watch));

    std::remove(path.c_str());
    EXPECT_TRUE(OSFileHasChanged(watch));  // vanishing is a change
    EXPECT_FALSE(OSFileHasChanged(watch));
    dir.Write("effect.gif", {9});
    EXPECT_TRUE(OSFileHasChanged(watch));  // and so is coming back

    // Watches that follow the host program instead of the disk see only the changes it raises.
    standin::SetFileWatchesPollDisk(false);
    dir.Write("effect.gif", {9, 9, 9});
    EXPECT_FALSE(OSFileHasChanged(watch));
    standin::TouchWatchedFile(path);
    EXPECT_TRUE(OSFileHasChanged(watch));
    EXPECT_FALSE(OSFileHasChanged(watch));
    standin::SetFileWatchesPollDisk(true);
    OSMonitorFileDestroy(watch);
}

TEST_F(StandinFile, WatchesLiveInTheHostAllocator) {
    auto before = standin::AllocatorStats().liveBlocks;
    EXPECT_EQ(OSMonitorFileStart(String(), false), nullptr);
    OSFileChangeData* watch = OSMonitorFileStart(String(dir.File("not-yet.gif").c_str()), false);
    ASSERT_NE(watch, nullptr);  // a file that does not exist yet can be watched
    EXPECT_EQ(standin::AllocatorStats().liveBlocks, before + 1);
    OSMonitorFileDestroy(watch);
    OSMonitorFileDestroy(nullptr);
    EXPECT_FALSE(OSFileHasChanged(nullptr));
    EXPECT_EQ(standin::AllocatorStats().liveBlocks, before);
}

}  // namespace
