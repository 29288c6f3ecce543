// The host's String: empty and null rules, UTF-8 both ways, CompareI, path extensions; and the
// stand-in's own UTF-8 conversion that String and the log rely on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "host/Alloc.h"
#include "host/String.h"
#include "standin/Standin.h"

namespace {

TEST(StandinString, EmptyAndNullRules) {
    String none;
    String fromNull(static_cast<const wchar_t*>(nullptr));
    String fromNarrowNull(static_cast<const char*>(nullptr));
    String fromEmpty(L"");
    for (const String* s : {&none, &fromNull, &fromNarrowNull, &fromEmpty}) {
        EXPECT_TRUE(s->IsEmpty());
        EXPECT_TRUE(*s == nullptr);
        EXPECT_FALSE(*s != nullptr);
        EXPECT_EQ(s->Array(), nullptr);  // the empty text holds no buffer
        EXPECT_EQ(s->Length(), 0u);
    }
    String text(L"a");
    EXPECT_TRUE(text != nullptr);
    text = L"";
    EXPECT_TRUE(text == nullptr);
    EXPECT_EQ(standin::AllocatorStats().liveBlocks, 0u);
}

TEST(StandinString, CopiesMovesAndSelfAssignment) {
    auto before = standin::AllocatorStats().liveBlocks;
    {
        String a(L"effect.gif");
        String b(a);
        EXPECT_NE(a.Array(), b.Array());
        EXPECT_STREQ(b.Array(), L"effect.gif");
        String c(std::move(b));
        EXPECT_TRUE(b.IsEmpty());
        EXPECT_STREQ(c.Array(), L"effect.gif");
        a = *&a;  // self-assignment (through a pointer, which clang does not warn about)
        EXPECT_STREQ(a.Array(), L"effect.gif");
        a = a.Array() + 7;  // from its own buffer
        EXPECT_STREQ(a.Array(), L"gif");
        EXPECT_EQ(a.Length(), 3u);
        EXPECT_EQ(standin::AllocatorStats().liveBlocks, before + 2);
    }
    EXPECT_EQ(standin::AllocatorStats().liveBlocks, before);
}

TEST(StandinString, Utf8BothWays) {
    const char* narrow = "D:/fx/\xE7\x89\xB9\xE6\x95\x88 \xF0\x9F\x8E\x89.gif";  // 特效 🎉
    String text(narrow);
    std::wstring want = L"D:/fx/\x7279\x6548 " + standin::FromUtf8("\xF0\x9F\x8E\x89") + L".gif";
    EXPECT_EQ(std::wstring(text.Array()), want);
    EXPECT_EQ(text.Length(), sizeof(wchar_t) == 2 ? 15u : 14u);  // the emoji is a pair in UTF-16

    char* utf8 = text.CreateUTF8String();
    ASSERT_NE(utf8, nullptr);
    EXPECT_STREQ(utf8, narrow);
    MainAllocator->Free(utf8);

    char* empty = String().CreateUTF8String();
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
    MainAllocator->Free(empty);

    standin::FailAllocationAt(0);
    EXPECT_EQ(text.CreateUTF8String(), nullptr);
}

TEST(StandinString, BrokenTextBecomesReplacementCharacters) {
    // Truncated, overlong and surrogate sequences in; one U+FFFD for each broken sequence, its
    // continuation bytes with it, as utfcpp replaces them for the simulated desktop and the player.
    EXPECT_EQ(standin::FromUtf8("a\xE7\x89z"), L"a\xFFFDz");
    EXPECT_EQ(standin::FromUtf8("\xC0\xAFz"), L"\xFFFDz");
    EXPECT_EQ(standin::FromUtf8("\xED\xA0\x80z"), L"\xFFFDz");
    EXPECT_EQ(standin::FromUtf8("\xF4\x90\x80\x80"), L"\xFFFD");  // past U+10FFFF
    std::wstring lone(1, static_cast<wchar_t>(0xD800));
    EXPECT_EQ(standin::ToUtf8(lone + L"x"), "\xEF\xBF\xBDx");
    std::wstring all = L"A\x00E9\x7279" + standin::FromUtf8("\xF0\x9F\x8E\x89");
    EXPECT_EQ(standin::FromUtf8(standin::ToUtf8(all)), all);
}

TEST(StandinString, CompareIIgnoresCase) {
    String name(L"Effect.GIF");
    EXPECT_NE(name.CompareI(L"effect.gif"), 0);
    EXPECT_NE(name.CompareI(L"EFFECT.gif"), 0);
    EXPECT_EQ(name.CompareI(L"effect.gi"), 0);
    EXPECT_EQ(name.CompareI(L"effect.gifs"), 0);
    EXPECT_EQ(name.CompareI(nullptr), 0);
    EXPECT_NE(String(L"\x00C9T\x00C9 \x0152").CompareI(L"\x00E9t\x00E9 \x0153"), 0);  // ÉTÉ Œ
    EXPECT_EQ(String(L"\x00D7").CompareI(L"\x00F7"), 0);  // × and ÷ are not a pair
    EXPECT_NE(String().CompareI(nullptr), 0);
    EXPECT_NE(String().CompareI(L""), 0);
    EXPECT_EQ(String().CompareI(L"a"), 0);
}

TEST(StandinString, PathExtension) {
    struct Case {
        const wchar_t* path;
        const wchar_t* want;
    };
    const Case cases[] = {
        {L"D:\\fx\\a.GIF", L"GIF"},
        {L"fx/anim.tar.gif", L"gif"},
        {L"D:\\fx.d\\noext", L""},
        {L"fx.d/noext", L""},
        {L"a.", L""},
        {L"", L""},
        {L"C:/x/\x7279\x6548.png", L"png"},
    };
    for (const Case& c : cases) {
        String extension = GetPathExtension(c.path);
        EXPECT_EQ(std::wstring(extension.IsEmpty() ? L"" : extension.Array()), c.want) << c.path;
    }
    EXPECT_TRUE(GetPathExtension(nullptr).IsEmpty());
}

}  // namespace
