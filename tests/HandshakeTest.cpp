// Telling the console about a source: the 2-second guard, the handshake block and the launch.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "controller/ConsoleProtocol.h"
#include "controller/Handshake.h"
#include "platform/SimPlatform.h"
#include "support/TestHost.h"

namespace {

using platform::Simulation;
using testsupport::CountLog;
using testsupport::LogTexts;

constexpr wchar_t kScene[] = L"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
constexpr wchar_t kSource[] = L"{11111111-2222-3333-4444-555555555555}";
constexpr char16_t kWantText[] =
    u"4242|{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}|{11111111-2222-3333-4444-555555555555}";
constexpr char kWantParameters[] =
    "9 4242 {0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0} {11111111-2222-3333-4444-555555555555} 2";

class Handshake : public testing::Test {
protected:
    void SetUp() override { Simulation().SetProcessId(4242); }

    int NotifyAt(int64_t seconds, const wchar_t* source = kSource, const wchar_t* scene = kScene) {
        Simulation().SetCalendarSeconds(seconds);
        return vantrel::NotifyController(source, scene);
    }

    // The console running, with its handshake block made at full size.
    platform::WindowHandle StartConsole() {
        Simulation().CreateBlock(L"VantrelFace", 8192);
        return Simulation().CreateWindowWithTitle(vantrel::kConsoleTitle);
    }
};

TEST_F(Handshake, GuardSkipsCallsWithinTwoSecondsOfTheLatest) {
    // Every call records its time, so 102 is skipped after 101 and 104 goes on after 102.
    const struct {
        int64_t at;
        int want;
    } calls[] = {{100, 0}, {101, -1}, {102, -1}, {104, 0}, {105, -1}, {107, 0}};
    for (const auto& call : calls) {
        SCOPED_TRACE(call.at);
        EXPECT_EQ(NotifyAt(call.at), call.want);
    }
    EXPECT_EQ(Simulation().Launches().size(), 3u);
}

TEST_F(Handshake, TwoSourcesInOneSecondLaunchTheConsoleOnce) {
    EXPECT_EQ(NotifyAt(100, L"{A}"), 0);
    EXPECT_EQ(NotifyAt(100, L"{B}"), -1);
    std::vector<platform::SimLaunch> launches = Simulation().Launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].parameters, "9 4242 {0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0} {A} 2");
}

TEST_F(Handshake, GuardSurvivesTheClockWrapping) {
    // The first call goes on whatever the clock says, here past 2^31 (2038). Then the seconds
    // pass 2^31 and 2^32; the difference is taken modulo 2^32.
    const struct {
        int64_t at;
        int want;
    } calls[] = {{0x80000005LL, 0},
                 // A clock set back skips one call, which records the new time.
                 {0x7FFFFFFFLL, -1},
                 {0x80000000LL, -1},
                 {0x80000002LL, 0},
                 {0xFFFFFFFFLL, 0},
                 {0x100000000LL, -1},
                 {0x100000002LL, 0},
                 // A clock set back skips one call, which records the new time.
                 {-5, -1},
                 {-3, 0}};
    for (const auto& call : calls) {
        SCOPED_TRACE(call.at);
        EXPECT_EQ(NotifyAt(call.at), call.want);
    }
}

TEST_F(Handshake, LaunchesTheConsoleWhenItIsNotRunning) {
    EXPECT_EQ(NotifyAt(100), 0);
    std::vector<platform::SimLaunch> launches = Simulation().Launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].operation, "open");
    EXPECT_EQ(launches[0].file, "plugins\\DezGlintora\\Glintora.exe");
    EXPECT_EQ(launches[0].parameters, kWantParameters);
    EXPECT_EQ(launches[0].showCommand, 5);
    EXPECT_EQ(LogTexts(), std::vector<std::wstring>{L"Successed!"});
    EXPECT_EQ(Simulation().OpenMappingCount(), 0u);
}

TEST_F(Handshake, AFailedLaunchLogsAndReturnsTheLastError) {
    // 32 is the last failing value.
    Simulation().SetLaunchResult(32, platform::kErrorFileNotFound);
    EXPECT_EQ(NotifyAt(100), 2);
    EXPECT_EQ(LogTexts(), (std::vector<std::wstring>{L"return value:32\n", L"GetLastError: 2"}));

    // A later call tries again.
    Simulation().SetLaunchResult(33, 0);
    EXPECT_EQ(NotifyAt(102), 0);
    EXPECT_EQ(Simulation().Launches().size(), 2u);
}

TEST_F(Handshake, WritesTheTextThenSendsTheMessage) {
    platform::WindowHandle console = StartConsole();
    std::vector<std::u16string> seen;
    Simulation().SetMessageHandler([&](platform::WindowHandle, const platform::SimMessage& m) {
        if (m.code == vantrel::kHandshakeMessage) {
            seen.push_back(Simulation().ReadBlockText(L"VantrelFace"));
        }
    });
    EXPECT_EQ(NotifyAt(100), 0);
    EXPECT_EQ(seen, std::vector<std::u16string>{kWantText});
    std::vector<platform::SimMessage> messages = Simulation().Messages(console);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].code, 1045u);
    EXPECT_EQ(messages[0].wParam, 0u);
    EXPECT_EQ(messages[0].lParam, 0);
    EXPECT_TRUE(Simulation().Launches().empty());
}

TEST_F(Handshake, AShorterTextLeavesNoTailOfTheLongerOne) {
    StartConsole();
    EXPECT_EQ(NotifyAt(100), 0);
    EXPECT_EQ(NotifyAt(102, L"{S}"), 0);
    EXPECT_EQ(Simulation().ReadBlockText(L"VantrelFace"),
              u"4242|{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}|{S}");
    // The block and its view were made once and are kept.
    EXPECT_EQ(Simulation().OpenMappingCount(), 1u);
    EXPECT_EQ(Simulation().OpenViewCount(), 1u);
}

TEST_F(Handshake, FailsOnItsOwnSmallBlockUntilTheConsoleMakesOne) {
    platform::WindowHandle console = Simulation().CreateWindowWithTitle(vantrel::kConsoleTitle);
    EXPECT_EQ(NotifyAt(100), 0);
    EXPECT_EQ(Simulation().StdoutLines(),
              std::vector<std::wstring>{L"Could not map view of file (5)."});
    // Our 128-byte block is closed again, so it vanishes.
    EXPECT_EQ(Simulation().OpenMappingCount(), 0u);
    EXPECT_FALSE(Simulation().BlockExists(L"VantrelFace"));
    EXPECT_TRUE(Simulation().Messages(console).empty());

    Simulation().CreateBlock(L"VantrelFace", 8192);
    EXPECT_EQ(NotifyAt(102), 0);
    EXPECT_EQ(Simulation().ReadBlockText(L"VantrelFace"), kWantText);
    ASSERT_EQ(Simulation().Messages(console).size(), 1u);
    EXPECT_EQ(Simulation().StdoutLines().size(), 1u);
}

TEST_F(Handshake, ABlockThatCannotBeMadeIsTriedAgainLater) {
    platform::WindowHandle console = StartConsole();
    Simulation().SetMappingFailure(platform::kErrorNotEnoughMemory);
    EXPECT_EQ(NotifyAt(100), 0);
    EXPECT_EQ(Simulation().StdoutLines(),
              std::vector<std::wstring>{L"Could not create file mapping object (8)."});
    EXPECT_TRUE(Simulation().Messages(console).empty());

    Simulation().SetMappingFailure(0);
    EXPECT_EQ(NotifyAt(102), 0);
    EXPECT_EQ(Simulation().Messages(console).size(), 1u);
}

TEST_F(Handshake, RefusesATextTooLongForTheBlock) {
    platform::WindowHandle console = StartConsole();
    EXPECT_EQ(NotifyAt(100), 0);

    // Each identifier alone fits the 8192-byte view; together they do not.
    std::wstring huge(3000, L'x');
    EXPECT_EQ(NotifyAt(102, huge.c_str(), huge.c_str()), 0);
    EXPECT_EQ(Simulation().ReadBlockText(L"VantrelFace"), kWantText);
    EXPECT_EQ(Simulation().Messages(console).size(), 1u);
    ASSERT_EQ(LogTexts().size(), 1u);
    EXPECT_NE(LogTexts()[0].find(L"handshake not written"), std::wstring::npos);

    // Longer than 128 bytes but within the block: written whole.
    std::wstring longId(200, L'y');
    EXPECT_EQ(NotifyAt(104, longId.c_str(), longId.c_str()), 0);
    EXPECT_EQ(Simulation().ReadBlockText(L"VantrelFace"),
              u"4242|" + std::u16string(200, u'y') + u"|" + std::u16string(200, u'y'));
}

TEST_F(Handshake, AConsoleThatClosesOrHangsDoesNotStopIt) {
    platform::WindowHandle console = StartConsole();
    Simulation().CloseWindowAfterNextLookup(true);
    EXPECT_EQ(NotifyAt(100), 0);
    EXPECT_EQ(Simulation().ReadBlockText(L"VantrelFace"), kWantText);
    EXPECT_TRUE(Simulation().Launches().empty());

    console = Simulation().CreateWindowWithTitle(vantrel::kConsoleTitle);
    Simulation().SetWindowHung(console, true);
    EXPECT_EQ(NotifyAt(102), 0);
    EXPECT_TRUE(Simulation().Messages(console).empty());
}

}  // namespace
