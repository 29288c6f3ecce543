// The host's printf for wide formats: the Windows convention (%s wide, %S narrow) on every system,
// and the records Log, AppWarning and DumpError leave.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "host/Log.h"
#include "standin/Standin.h"
#include "support/TestHost.h"

namespace {

using standin::Format;

TEST(StandinFormat, WideAndNarrowTextFollowTheWindowsConvention) {
    EXPECT_EQ(Format(L"%s / %S", L"wide", "narrow"), L"wide / narrow");
    // Narrow text is UTF-8; h and l force narrow and wide whatever the case.
    EXPECT_EQ(Format(L"%S|%hs|%ls|%ws", "\xE7\x89\xB9\xE6\x95\x88", "h", L"l", L"w"),
              L"\x7279\x6548|h|l|w");
    EXPECT_EQ(Format(L"%c%C%lc%hc", L'\x6548', 'n', L'w', 'h'), L"\x6548nwh");
    EXPECT_EQ(Format(L"[%s][%S]", static_cast<const wchar_t*>(nullptr),
                     static_cast<const char*>(nullptr)),
              L"[(null)][(null)]");
    EXPECT_EQ(Format(L"[%-6s][%6S][%.2s][%.3S]", L"ab", "cd", L"wxyz", "narrow"),
              L"[ab    ][    cd][wx][nar]");
}

TEST(StandinFormat, Integers) {
    struct Case {
        std::wstring have, want;
    };
    const Case cases[] = {
        {Format(L"%d %i %u", -42, 7, 4000000000u), L"-42 7 4000000000"},
        {Format(L"%llu %lld", 18446744073709551615ull, LLONG_MIN),
         L"18446744073709551615 -9223372036854775808"},
        {Format(L"%I64u %I64d %I32d", uint64_t(1) << 40, int64_t(-5), int32_t(-6)),
         L"1099511627776 -5 -6"},
        {Format(L"%zu %lu %ld", size_t(123), 456ul, -789l), L"123 456 -789"},
        {Format(L"%hd %hhu %hu", 70000, 300, 65537), L"4464 44 1"},
        {Format(L"%08X|%x|%#x|%#X|%#o|%o", 0xBEEFu, 255u, 255u, 0u, 8u, 8u),
         L"0000BEEF|ff|0xff|0|010|10"},
        {Format(L"[%5d][%-5d][%05d][%+d][% d][%+05d]", 42, 42, -42, 42, 42, 42),
         L"[   42][42   ][-0042][+42][ 42][+0042]"},
        {Format(L"[%.3d][%8.3d][%.0d][%08.3d]", 7, -7, 0, 7), L"[007][    -007][][     007]"},
        {Format(L"[%*d][%-*d][%.*d][%*d]", 4, 1, 3, 2, 3, 3, -3, 4), L"[   1][2  ][003][4  ]"},
        {Format(L"%d %d", INT_MIN, INT_MAX), L"-2147483648 2147483647"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.have, c.want);
}

TEST(StandinFormat, FloatsPointersAndOddSpecs) {
    EXPECT_EQ(Format(L"%f %.2f %g %G", 1.5, 3.14159, 0.0001, 0.5), L"1.500000 3.14 0.0001 0.5");
    std::wstring exponent = Format(L"%e", 12345.0);  // two exponent digits, or three (Windows)
    EXPECT_TRUE(exponent == L"1.234500e+04" || exponent == L"1.234500e+004") << exponent.c_str();
    EXPECT_EQ(Format(L"[%8.3f][%-8.1f][%+.0f][%08.2f]", 2.5, 2.5, 2.7, -1.25),
              L"[   2.500][2.5     ][+3][-0001.25]");
    EXPECT_EQ(Format(L"%.2f", 2.5f), L"2.50");  // floats arrive as doubles
    std::wstring pointer = Format(L"%p", reinterpret_cast<void*>(0xABCD));
    EXPECT_EQ(pointer, std::wstring(2 * sizeof(void*) - 4, L'0') + L"ABCD");
    EXPECT_EQ(Format(L"100%% %q %d", 5), L"100% %q 5");
    EXPECT_EQ(Format(L"end %"), L"end %");
    // An absurd width is cut, not obeyed.
    EXPECT_EQ(Format(L"%999999999d", 1).size(), 4096u);
}

TEST(StandinFormat, LogRecordsKindTextAndListener) {
    std::vector<standin::LogRecord> heard;
    standin::SetLogListener([&](const standin::LogRecord& record) { heard.push_back(record); });
    Log(L"start play.");
    AppWarning(L"BitmapImage::Init: %s", L"Empty path");
    Log(L"isHostPlay: %d\n", 1);
    standin::SetLogListener(nullptr);

    auto records = standin::LogRecords();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].kind, standin::LogKind::Log);
    EXPECT_EQ(records[1].kind, standin::LogKind::Warning);
    EXPECT_EQ(records[1].text, L"BitmapImage::Init: Empty path");
    EXPECT_EQ(records[2].text, L"isHostPlay: 1\n");
    EXPECT_EQ(heard.size(), 3u);
    EXPECT_EQ(testsupport::CountLog(L"start play."), 1u);
}

TEST(StandinFormat, DumpErrorRecordsAndCallsTheFatalHandler) {
    try {
        DumpError(L"Out of range!  List<%S>::operator[](%d)", "float", 3);
        FAIL() << "DumpError returned";
    } catch (const testsupport::FatalError& error) {
        EXPECT_EQ(error.wide, L"Out of range!  List<float>::operator[](3)");
    }
    auto records = standin::LogRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, standin::LogKind::Error);
}

}  // namespace
