// The module's line formatter (log/ModuleLog.h) writing into a buffer shorter than the line, as
// the worker's canvas lines and the tools' standard-output lines do.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/ModuleLog.h"

namespace {

// Every capacity from none to past the line: the units that fit, the null in the last place,
// nothing written beyond the buffer, and the whole line's length returned, as snprintf does.
TEST(FormatLog, CutsALineToItsBufferAndWritesNothingPastIt) {
    const std::wstring whole = L"BitmapImage: Warning, bad texture dimensions 4097 x -1 in a.gif";
    ASSERT_EQ(LogLineText<LogText::GifBadDimensions>(4097, -1, L"a.gif"), whole);
    constexpr size_t kGuard = 4;
    for (size_t capacity = 0; capacity <= whole.size() + 2; ++capacity) {
        SCOPED_TRACE("capacity " + std::to_string(capacity));
        std::vector<wchar_t> buffer(capacity + kGuard, L'#');
        const size_t length =
            FormatLog<LogText::GifBadDimensions>(buffer.data(), capacity, 4097, -1, L"a.gif");
        EXPECT_EQ(length, whole.size());
        if (capacity > 0) {
            const size_t kept = std::min(whole.size(), capacity - 1);
            EXPECT_EQ(std::wstring(buffer.data(), kept), whole.substr(0, kept));
            EXPECT_EQ(buffer[kept], L'\0');
        }
        for (size_t i = capacity; i < capacity + kGuard; ++i)
            EXPECT_EQ(buffer[i], L'#') << "written past the buffer at " << i;
    }
}

}  // namespace
