// The simulated desktop must behave like Windows where the module depends on it: block sizes, view
// refusals, message order, hung windows, launches and the ANSI code page.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/SimPlatform.h"
#include "support/ReadWholeFileCases.h"

namespace {

using platform::SimSystem;

SimSystem& Sim() {
    return platform::Simulation();
}

TEST(SimBlocks, RefuseAViewLargerThanTheBlockAsWindowsDoes) {
    platform::MappingHandle mapping = Sim().CreateOrOpenMapping(L"VantrelFace", 128);
    ASSERT_NE(mapping, nullptr);
    EXPECT_EQ(Sim().LastError(), 0u);

    EXPECT_EQ(Sim().MapView(mapping, 8192), nullptr);
    EXPECT_EQ(Sim().LastError(), platform::kErrorAccessDenied);
    EXPECT_EQ(Sim().MapView(mapping, 129), nullptr);

    void* view = Sim().MapView(mapping, 128);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(Sim().OpenViewCount(), 1u);
    Sim().UnmapView(view);
    Sim().CloseHandle(mapping);
    EXPECT_EQ(Sim().OpenViewCount(), 0u);
    EXPECT_EQ(Sim().OpenMappingCount(), 0u);
}

TEST(SimBlocks, OpeningAnExistingNameKeepsItsCreationSize) {
    uint8_t* console = Sim().CreateBlock(L"PFGlintora", 8192);
    ASSERT_NE(console, nullptr);

    // Asked for less and for more: either way the console's 8192 bytes are opened.
    platform::MappingHandle small = Sim().CreateOrOpenMapping(L"PFGlintora", 128);
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(Sim().LastError(), platform::kErrorAlreadyExists);
    platform::MappingHandle large = Sim().CreateOrOpenMapping(L"PFGlintora", 65536);
    ASSERT_NE(large, nullptr);
    EXPECT_EQ(Sim().BlockSize(L"PFGlintora"), 8192u);
    EXPECT_EQ(Sim().MapView(large, 65536), nullptr);

    // Every view shows the same bytes as the console's.
    void* view = Sim().MapView(small, 8192);
    ASSERT_NE(view, nullptr);
    Sim().WriteBlockText(L"PFGlintora", u"5|a.gif");
    EXPECT_EQ(std::memcmp(view, console, 16), 0);
    EXPECT_EQ(static_cast<const char16_t*>(view)[0], u'5');
    EXPECT_EQ(Sim().ReadBlockText(L"PFGlintora"), u"5|a.gif");

    Sim().UnmapView(view);
    Sim().CloseHandle(small);
    Sim().CloseHandle(large);
}

TEST(SimBlocks, LiveWhileAHandleAViewOrTheOtherProgramHoldsThem) {
    platform::MappingHandle mapping = Sim().CreateOrOpenMapping(L"VantrelFace", 128);
    void* view = Sim().MapView(mapping, 128);
    Sim().CloseHandle(mapping);
    // As on Windows, a mapped view keeps the block alive.
    EXPECT_TRUE(Sim().BlockExists(L"VantrelFace"));
    static_cast<uint8_t*>(view)[127] = 7;
    Sim().UnmapView(view);
    EXPECT_FALSE(Sim().BlockExists(L"VantrelFace"));

    // Made afresh, at the new size and zeroed.
    mapping = Sim().CreateOrOpenMapping(L"VantrelFace", 8192);
    EXPECT_EQ(Sim().LastError(), 0u);
    EXPECT_EQ(Sim().BlockSize(L"VantrelFace"), 8192u);
    EXPECT_EQ(Sim().BlockBytes(L"VantrelFace")[127], 0);
    Sim().CloseHandle(mapping);

    Sim().CreateBlock(L"PFGlintora", 8192);
    EXPECT_TRUE(Sim().BlockExists(L"PFGlintora"));
    mapping = Sim().CreateOrOpenMapping(L"PFGlintora", 8192);
    Sim().ReleaseBlock(L"PFGlintora");
    EXPECT_TRUE(Sim().BlockExists(L"PFGlintora"));
    Sim().CloseHandle(mapping);
    EXPECT_FALSE(Sim().BlockExists(L"PFGlintora"));
}

TEST(SimBlocks, InjectedFailuresAndBadHandles) {
    Sim().SetMappingFailure(platform::kErrorNotEnoughMemory);
    EXPECT_EQ(Sim().CreateOrOpenMapping(L"PFGlintora", 8192), nullptr);
    EXPECT_EQ(Sim().LastError(), platform::kErrorNotEnoughMemory);
    EXPECT_FALSE(Sim().BlockExists(L"PFGlintora"));
    Sim().SetMappingFailure(0);

    platform::MappingHandle mapping = Sim().CreateOrOpenMapping(L"PFGlintora", 8192);
    ASSERT_NE(mapping, nullptr);
    Sim().SetViewFailure(platform::kErrorAccessDenied);
    EXPECT_EQ(Sim().MapView(mapping, 8192), nullptr);
    EXPECT_EQ(Sim().LastError(), platform::kErrorAccessDenied);
    Sim().SetViewFailure(0);
    EXPECT_NE(Sim().MapView(mapping, 8192), nullptr);

    // A closed handle is no longer usable; closing it again does no harm.
    Sim().CloseHandle(mapping);
    EXPECT_EQ(Sim().MapView(mapping, 8192), nullptr);
    Sim().CloseHandle(mapping);
    EXPECT_EQ(Sim().OpenMappingCount(), 0u);
}

TEST(SimWindows, RecordMessagesInOrderAndCallTheHandler) {
    platform::WindowHandle console = Sim().CreateWindowWithTitle(L"Vantrel\u7279\u6548");
    std::vector<uint32_t> handled;
    Sim().SetMessageHandler([&](platform::WindowHandle window, const platform::SimMessage& m) {
        EXPECT_EQ(window, console);
        handled.push_back(m.code);
    });

    EXPECT_EQ(Sim().FindWindowByTitle(L"Vantrel"), nullptr);
    ASSERT_EQ(Sim().FindWindowByTitle(L"Vantrel\u7279\u6548"), console);
    EXPECT_TRUE(Sim().SendMessageTo(console, 1056, static_cast<uintptr_t>(-7), -1, 500));
    EXPECT_TRUE(Sim().SendMessageTo(console, 1056, 9, 0, 500));
    EXPECT_TRUE(Sim().SendMessageTo(console, 1045, 0, 0, 500));

    std::vector<platform::SimMessage> messages = Sim().Messages(console);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].code, 1056u);
    EXPECT_EQ(static_cast<intptr_t>(messages[0].wParam), -7);
    EXPECT_EQ(messages[0].lParam, -1);
    EXPECT_EQ(messages[1].wParam, 9u);
    EXPECT_EQ(messages[2].code, 1045u);
    EXPECT_EQ(handled, (std::vector<uint32_t>{1056, 1056, 1045}));
    Sim().SetMessageHandler(nullptr);
}

TEST(SimWindows, HungClosedAndMissingWindowsTakeNothing) {
    platform::WindowHandle console = Sim().CreateWindowWithTitle(L"console");
    Sim().SetWindowHung(console, true);
    EXPECT_FALSE(Sim().SendMessageTo(console, 1057, 0, 1, 500));
    Sim().SetWindowHung(console, false);
    EXPECT_TRUE(Sim().SendMessageTo(console, 1057, 0, 1, 500));
    EXPECT_EQ(Sim().Messages(console).size(), 1u);

    // Found once, then gone before the message arrives.
    Sim().CloseWindowAfterNextLookup(true);
    EXPECT_EQ(Sim().FindWindowByTitle(L"console"), console);
    EXPECT_FALSE(Sim().SendMessageTo(console, 1057, 0, 0, 500));
    EXPECT_EQ(Sim().FindWindowByTitle(L"console"), nullptr);
    EXPECT_EQ(Sim().Messages(console).size(), 1u);

    EXPECT_FALSE(Sim().SendMessageTo(nullptr, 1057, 0, 0, 500));
}

TEST(SimLaunches, RecordedWithTheirResult) {
    EXPECT_EQ(Sim().OpenWithShell("open", "plugins\\DezGlintora\\Glintora.exe", "9 4242 a b 2", 5),
              42);
    Sim().SetLaunchResult(2, platform::kErrorFileNotFound);
    EXPECT_EQ(Sim().OpenWithShell("open", "missing.exe", nullptr, 5), 2);
    EXPECT_EQ(Sim().LastError(), platform::kErrorFileNotFound);

    std::vector<platform::SimLaunch> launches = Sim().Launches();
    ASSERT_EQ(launches.size(), 2u);
    EXPECT_EQ(launches[0].operation, "open");
    EXPECT_EQ(launches[0].file, "plugins\\DezGlintora\\Glintora.exe");
    EXPECT_EQ(launches[0].parameters, "9 4242 a b 2");
    EXPECT_EQ(launches[0].showCommand, 5);
    EXPECT_EQ(launches[1].parameters, "");
}

TEST(SimText, AnsiIsWindows1252) {
    struct Case {
        unsigned char byte;
        char16_t want;
    };
    // The euro sign, an undefined byte kept as is, the top of the 0x80 row, and Latin-1.
    const Case cases[] = {{0x41, u'A'},   {0x80, 0x20AC}, {0x81, 0x0081},
                          {0x8A, 0x0160}, {0x9D, 0x009D}, {0x9F, 0x0178},
                          {0xA0, 0x00A0}, {0xE9, 0x00E9}, {0xFF, 0x00FF}};
    for (const Case& c : cases) {
        const char text[2] = {static_cast<char>(c.byte), '\0'};
        char16_t out[2] = {1, 1};
        ASSERT_EQ(Sim().AnsiToUtf16(text, out, 2), 2) << "byte " << int(c.byte);
        EXPECT_EQ(out[0], c.want) << "byte " << int(c.byte);
        EXPECT_EQ(out[1], 0);
    }
    // UTF-8 read in the ANSI code page: each byte a character of its own.
    char16_t out[8];
    EXPECT_EQ(Sim().AnsiToUtf16("\xC3\xA9", out, 8), 3);
    EXPECT_EQ(std::u16string(out), u"\u00C3\u00A9");
    // Too small a buffer writes nothing useful and says why.
    EXPECT_EQ(Sim().AnsiToUtf16("abc", out, 3), 0);
    EXPECT_EQ(Sim().LastError(), 122u);
}

TEST(SimMisc, GuidsClockProcessIdStdoutAndReset) {
    std::set<std::vector<uint8_t>> seen;
    for (int i = 0; i < 1000; ++i) {
        platform::Guid guid;
        ASSERT_TRUE(Sim().NewGuid(guid));
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&guid);
        seen.insert(std::vector<uint8_t>(bytes, bytes + sizeof guid));
    }
    EXPECT_EQ(seen.size(), 1000u);
    Sim().SetGuidFails(true);
    platform::Guid guid;
    EXPECT_FALSE(Sim().NewGuid(guid));

    Sim().SetCalendarSeconds(100);
    Sim().SetProcessId(7);
    EXPECT_EQ(Sim().CalendarSeconds(), 100);
    EXPECT_EQ(Sim().ProcessId(), 7u);

    Sim().PrintToStdout(L"Could not map view of file (5).\n");
    Sim().PrintToStdout(L"half ");
    Sim().PrintToStdout(L"line");
    EXPECT_EQ(Sim().StdoutLines(),
              (std::vector<std::wstring>{L"Could not map view of file (5).", L"half line"}));

    Sim().Reset();
    EXPECT_TRUE(Sim().NewGuid(guid));
    EXPECT_EQ(Sim().ProcessId(), 4242u);
    EXPECT_TRUE(Sim().StdoutLines().empty());
    EXPECT_EQ(Sim().OpenWithShell("open", "x", "", 5), 42);
}

TEST(SimFiles, ReadWholeFileReadsRegularFilesOnly) {
    testsupport::CheckReadWholeFile(Sim());
}

TEST(PlatformSwap, PutsASystemInUseAndRestoresTheDefault) {
    SimSystem mine;
    platform::System* before = platform::Swap(&mine);
    EXPECT_EQ(before, &Sim());
    EXPECT_EQ(&platform::Current(), &mine);
    EXPECT_EQ(platform::Swap(before), &mine);
    EXPECT_EQ(&platform::Current(), &Sim());
}

}  // namespace
