// The console's forms: command parsing, numbers, placement, the handshake text and the launch line.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "controller/ConsoleProtocol.h"
#include "platform/SimPlatform.h"
#include "support/TestHost.h"

namespace {

using vantrel::EffectCommand;

constexpr wchar_t kSceneGuid[] = L"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
constexpr wchar_t kSourceGuid[] = L"{11111111-2222-3333-4444-555555555555}";

struct ParseCase {
    const char16_t* text;
    bool isCommand;
    int32_t commandId = 0;
    const wchar_t* path = L"";
    int32_t width = 0, height = 0, effectId = 0, xPercent = 0, yPercent = 0;
};

TEST(ParseCommand, SplitsFieldsAndReadsNumbers) {
    const ParseCase cases[] = {
        {u"5|D:/fx/a.gif|200|100|x|7|50|25", true, 5, L"D:/fx/a.gif", 200, 100, 7, 50, 25},
        // An empty field vanishes, leaving seven.
        {u"5|D:/fx/a.gif|200|100||7|50|25", false},
        {u"|5|D:/fx/a.gif|200|100|x|7|50|25|", true, 5, L"D:/fx/a.gif", 200, 100, 7, 50, 25},
        {u"|||5||a||1|||2|x|3|4|5|||", true, 5, L"a", 1, 2, 3, 4, 5},
        // Fields beyond the eighth are ignored.
        {u"1|p|2|3|x|4|5|6|extra|more|and|more", true, 1, L"p", 2, 3, 4, 5, 6},
        // A clearing command needs all eight fields as well.
        {u"-2|a|b|c|d|e|f|g", true, -2, L"a", 0, 0, 0, 0, 0},
        {u"-2", false},
        {u"", false},
        {u"||||||||", false},
        {u"12abc|p|abc| \t-7|x|+9|-10|100", true, 12, L"p", 0, -7, 9, -10, 100},
        // Numbers beyond 32 bits saturate.
        {u"99999999999|p|-99999999999|2147483648|x|-2147483648|2147483647|"
         u"000000000000000000000000042",
         true, INT32_MAX, L"p", INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, 42},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(std::u16string(c.text).size());
        EffectCommand command;
        ASSERT_EQ(vantrel::ParseCommand(c.text, command), c.isCommand);
        if (!c.isCommand) {
            EXPECT_EQ(command.effectPath[0], L'\0');
            continue;
        }
        EXPECT_EQ(command.commandId, c.commandId);
        EXPECT_EQ(std::wstring(command.effectPath), c.path);
        EXPECT_EQ(command.width, c.width);
        EXPECT_EQ(command.height, c.height);
        EXPECT_EQ(command.effectId, c.effectId);
        EXPECT_EQ(command.xPercent, c.xPercent);
        EXPECT_EQ(command.yPercent, c.yPercent);
    }
}

TEST(ParseCommand, PathKeepsCharactersBeyondAscii) {
    // CJK text and a character outside the basic plane (a surrogate pair in UTF-16).
    EffectCommand command;
    ASSERT_TRUE(vantrel::ParseCommand(u"1|D:/\u7279\u6548/\U0001F600.gif|1|1|x|1|1|1", command));
    EXPECT_EQ(std::wstring(command.effectPath), L"D:/\u7279\u6548/\U0001F600.gif");
}

TEST(ParseCommand, ReadsNoFurtherThanTheCopy) {
    // A full copy with no null: the parser stops at its end (the sanitizer sees any overread).
    std::vector<char16_t> text(vantrel::kCommandTextCapacity, u'1');
    for (size_t i = 1; i < text.size(); i += 2)
        text[i] = u'|';
    EffectCommand command;
    ASSERT_TRUE(vantrel::ParseCommand(text.data(), command));
    EXPECT_EQ(command.yPercent, 1);

    // A path of 1000 characters takes almost the whole copy and survives whole.
    std::u16string longText = u"1|" + std::u16string(1000, u'p') + u"|2|3|x|4|5|6";
    ASSERT_LT(longText.size(), vantrel::kCommandTextCapacity);
    ASSERT_TRUE(vantrel::ParseCommand(longText.c_str(), command));
    EXPECT_EQ(std::wstring(command.effectPath), std::wstring(1000, L'p'));
}

TEST(ReadCommandInteger, FollowsTheRuntimeReader) {
    const struct {
        const char16_t* text;
        int32_t want;
    } cases[] = {
        {u"12abc", 12},
        {u"abc", 0},
        {u"", 0},
        {u"  \t\r\n-5", -5},
        {u"+7", 7},
        {u"-", 0},
        {u"- 5", 0},
        {u"0x10", 0},
        {u"2147483647", INT32_MAX},
        {u"2147483640", 2147483640},
        {u"2147483648", INT32_MAX},
        {u"-2147483648", INT32_MIN},
        {u"-2147483649", INT32_MIN},
        {u"99999999999999999999999999", INT32_MAX},
        {u"-99999999999999999999999999", INT32_MIN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::u16string(c.text).size());
        EXPECT_EQ(vantrel::ReadCommandInteger(c.text), c.want);
    }
    EXPECT_EQ(vantrel::ReadCommandInteger(nullptr), 0);
}

TEST(PlacementFromPercent, UsesUnsignedThirtyTwoBitArithmetic) {
    const struct {
        int32_t percent;
        uint32_t canvas;
        int32_t want;
    } cases[] = {
        {50, 1920, 960},
        {25, 1080, 270},
        {100, 1920, 1920},
        {0, 1920, 0},
        {33, 1000, 330},
        {-10, 1920, 42949480},  // no negative coordinate, a very large one
        {-1, 1, 42949672},      // the largest quotient there is
        {INT32_MAX, UINT32_MAX, 21474836},
        {INT32_MIN, 1920, 0},  // the product wraps to 0
        {50, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.percent << "% of " << c.canvas);
        EXPECT_EQ(vantrel::PlacementFromPercent(c.percent, c.canvas), c.want);
    }
}

// ---------------------------------------------------------------- handshake text

std::u16string HandshakeText(uint32_t pid, const String& scene, const String& source,
                             size_t capacity, size_t* length = nullptr) {
    std::vector<char16_t> out(capacity, u'#');
    size_t n = vantrel::FormatHandshakeText(pid, scene, source, out.data(), out.size(),
                                            platform::Simulation());
    if (length)
        *length = n;
    EXPECT_EQ(out[n], u'\0');
    return std::u16string(out.data(), n);
}

TEST(FormatHandshakeText, WritesPidSceneAndSourceWithANull) {
    size_t length = 0;
    std::u16string text =
        HandshakeText(4242, kSceneGuid, kSourceGuid, vantrel::kHandshakeTextCapacity, &length);
    EXPECT_EQ(length, 82u);
    EXPECT_EQ(
        text,
        u"4242|{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}|{11111111-2222-3333-4444-555555555555}");

    EXPECT_EQ(HandshakeText(4294967295u, L"a", L"b", 64), u"4294967295|a|b");
}

TEST(FormatHandshakeText, IdentifiersPassThroughUtf8ReadInTheAnsiCodePage) {
    // The simulation's ANSI code page is Windows-1252: "é" (C3 A9 in UTF-8) reads "Ã©", and "特"
    // (E7 89 B9) reads "ç‰¹".
    EXPECT_EQ(HandshakeText(7, L"Sz\u00E9ne", L"\u7279", 64),
              u"7|Sz\u00C3\u00A9ne|\u00E7\u2030\u00B9");
}

TEST(FormatHandshakeText, WritesLongTextsWholeAndRefusesTooLongOnes) {
    // Longer than the 128 bytes the console's own block has room for, but within the view.
    std::wstring scene(300, L's');
    std::wstring source(300, L'u');
    std::u16string want = u"1|" + std::u16string(300, u's') + u"|" + std::u16string(300, u'u');
    EXPECT_EQ(HandshakeText(1, scene.c_str(), source.c_str(), vantrel::kHandshakeTextCapacity),
              want);
    EXPECT_EQ(HandshakeText(1, scene.c_str(), source.c_str(), want.size() + 1), want);
    EXPECT_TRUE(testsupport::LogTexts().empty());

    // One unit short: refused, never cut.
    size_t length = 1;
    EXPECT_EQ(HandshakeText(1, scene.c_str(), source.c_str(), want.size(), &length), u"");
    EXPECT_EQ(length, 0u);
    ASSERT_EQ(testsupport::LogTexts().size(), 1u);
    EXPECT_NE(testsupport::LogTexts()[0].find(L"FormatHandshakeText"), std::wstring::npos);
}

// ---------------------------------------------------------------- launch parameters

TEST(FormatLaunchParameters, ListsPidSceneSourceBetweenNineAndTwo) {
    char out[vantrel::kLaunchParametersCapacity];
    ASSERT_TRUE(vantrel::FormatLaunchParameters(4242, kSceneGuid, kSourceGuid, out, sizeof(out)));
    EXPECT_STREQ(out,
                 "9 4242 {0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0} "
                 "{11111111-2222-3333-4444-555555555555} 2");

    // Identifiers as UTF-8 bytes.
    ASSERT_TRUE(vantrel::FormatLaunchParameters(1, L"\u00E9", L"\u7279", out, sizeof(out)));
    EXPECT_STREQ(out, "9 1 \xC3\xA9 \xE7\x89\xB9 2");
}

TEST(FormatLaunchParameters, RefusesWhatDoesNotFit) {
    char out[vantrel::kLaunchParametersCapacity];
    std::wstring source(1024 - 8, L'u');  // "9 1 s " + source + " 2" is 1024 bytes: one too many
    EXPECT_FALSE(vantrel::FormatLaunchParameters(1, L"s", source.c_str(), out, sizeof(out)));
    EXPECT_STREQ(out, "");
    EXPECT_EQ(testsupport::LogTexts().size(), 1u);

    source.pop_back();
    EXPECT_TRUE(vantrel::FormatLaunchParameters(1, L"s", source.c_str(), out, sizeof(out)));
    EXPECT_EQ(std::string(out).size(), 1023u);
}

}  // namespace
