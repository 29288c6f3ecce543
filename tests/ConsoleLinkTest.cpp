// The link to the console through the platform: the window, messages, the command block, launch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "controller/ConsoleLink.h"
#include "platform/SimPlatform.h"

namespace {

using platform::Simulation;
using vantrel::kCommandTextCapacity;

// Copies a text into a heap block of exactly `bytes` bytes at `offset`, so that the sanitizer sees
// any read past the view.
std::vector<unsigned char> ViewHolding(const std::u16string& text, size_t bytes,
                                       size_t offset = 0) {
    std::vector<unsigned char> view(bytes, 0xAB);
    if (bytes <= offset)
        return view;
    std::memcpy(view.data() + offset, text.data(),
                std::min(text.size() * sizeof(char16_t), bytes - offset));
    return view;
}

std::u16string Copied(const std::vector<unsigned char>& view, size_t offset, bool* ok) {
    std::vector<char16_t> out(kCommandTextCapacity, u'#');
    *ok = vantrel::CopyCommandText(view.data() + offset, view.size() - offset, out.data());
    return std::u16string(out.data());
}

TEST(CopyCommandText, CopiesUpToTheNull) {
    bool ok = false;
    std::u16string text = u"5|D:/fx/a.gif|200|100|x|7|50|25";
    EXPECT_EQ(Copied(ViewHolding(text + u'\0' + u"tail", 8192), 0, &ok), text);
    EXPECT_TRUE(ok);

    EXPECT_EQ(Copied(ViewHolding(std::u16string(1, u'\0'), 8192), 0, &ok), u"");
    EXPECT_TRUE(ok);

    // No alignment needed.
    EXPECT_EQ(Copied(ViewHolding(text + u'\0', 8192 + 1, 1), 1, &ok), text);
    EXPECT_TRUE(ok);

    // The longest text: 1023 units and its null.
    std::u16string longest(kCommandTextCapacity - 1, u'a');
    EXPECT_EQ(Copied(ViewHolding(longest + u'\0', 8192), 0, &ok), longest);
    EXPECT_TRUE(ok);
}

// Two copies taken while the console may be writing: only the same text, terminator and all,
// agrees; one cut short is no command yet, whichever copy it is.
TEST(SameCommandText, AgreesOnlyOnTheWholeText) {
    const struct {
        std::u16string first, second;
        bool same;
    } cases[] = {
        {u"1 2 fx.gif", u"1 2 fx.gif", true},
        {u"", u"", true},
        {u"1 2 fx.g", u"1 2 fx.gif", false},
        {u"1 2 fx.gif", u"1 2 fx.g", false},
        {u"", u"1", false},
        {u"1 2 fx.gif", u"1 3 fx.gif", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.first.begin(), c.first.end()) + " / " +
                     std::string(c.second.begin(), c.second.end()));
        // In buffers of the copies' own size, as the poll compares them.
        std::vector<char16_t> first(kCommandTextCapacity, u'#'), second(kCommandTextCapacity, u'#');
        std::copy(c.first.begin(), c.first.end(), first.begin());
        first[c.first.size()] = 0;
        std::copy(c.second.begin(), c.second.end(), second.begin());
        second[c.second.size()] = 0;
        EXPECT_EQ(vantrel::SameCommandText(first.data(), second.data()), c.same);
    }
}

TEST(CopyCommandText, RefusesATextWithoutANullInReach) {
    bool ok = true;
    // No null within the copy's 1024 units, though the view goes on.
    std::u16string tooLong(kCommandTextCapacity, u'a');
    EXPECT_EQ(Copied(ViewHolding(tooLong + u'\0', 8192), 0, &ok), u"");
    EXPECT_FALSE(ok);

    // No null within a small view; an odd byte at its end is not read as half a unit.
    for (size_t bytes : {0u, 1u, 2u, 99u, 100u}) {
        SCOPED_TRACE(bytes);
        ok = true;
        EXPECT_EQ(Copied(ViewHolding(std::u16string(60, u'a'), bytes), 0, &ok), u"");
        EXPECT_FALSE(ok);
    }

    std::vector<char16_t> out(kCommandTextCapacity, u'#');
    EXPECT_FALSE(vantrel::CopyCommandText(nullptr, 8192, out.data()));
    EXPECT_EQ(out[0], u'\0');
}

TEST(ConsoleWindow, IsFoundByItsTitleOnly) {
    EXPECT_EQ(vantrel::FindConsoleWindow(), nullptr);
    Simulation().CreateWindowWithTitle(L"Vantrel");
    EXPECT_EQ(vantrel::FindConsoleWindow(), nullptr);
    platform::WindowHandle console =
        Simulation().CreateWindowWithTitle(L"Vantrel\u7279\u6548\u63D2\u4EF6\u63A7\u5236\u53F0");
    EXPECT_EQ(vantrel::FindConsoleWindow(), console);
    Simulation().DestroyWindow(console);
    EXPECT_EQ(vantrel::FindConsoleWindow(), nullptr);
}

// Records the timeout each message is sent with.
class TimeoutRecorder : public platform::SimSystem {
public:
    bool SendMessageTo(platform::WindowHandle window, uint32_t code, uintptr_t wParam,
                       intptr_t lParam, uint32_t timeoutMs) override {
        timeouts.push_back(timeoutMs);
        return SimSystem::SendMessageTo(window, code, wParam, lParam, timeoutMs);
    }
    std::vector<uint32_t> timeouts;
};

TEST(SendToConsole, SignExtendsAndBoundsTheWait) {
    TimeoutRecorder system;
    platform::System* previous = platform::Swap(&system);
    platform::WindowHandle console = system.CreateWindowWithTitle(vantrel::kConsoleTitle);
    int32_t effectId = -5;
    EXPECT_TRUE(vantrel::SendToConsole(console, vantrel::kPlayStateMessage, effectId, -1));
    EXPECT_TRUE(vantrel::SendToConsole(console, vantrel::kPlayStateMessage, 7, 0));
    platform::Swap(previous);

    std::vector<platform::SimMessage> messages = system.Messages(console);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].code, 1056u);
    EXPECT_EQ(messages[0].wParam, static_cast<uintptr_t>(intptr_t{-5}));
    EXPECT_EQ(messages[0].lParam, -1);
    EXPECT_EQ(messages[1].wParam, 7u);
    EXPECT_EQ(messages[1].lParam, 0);
    EXPECT_EQ(system.timeouts, (std::vector<uint32_t>{500, 500}));
}

TEST(SendToConsole, GivesUpOnAWindowThatIsGoneOrHung) {
    platform::WindowHandle console = Simulation().CreateWindowWithTitle(vantrel::kConsoleTitle);
    Simulation().SetWindowHung(console, true);
    EXPECT_FALSE(vantrel::SendToConsole(console, vantrel::kLiveStateMessage, 0, 1));
    EXPECT_TRUE(Simulation().Messages(console).empty());
    Simulation().SetWindowHung(console, false);

    // The console closes between the lookup and the message.
    Simulation().CloseWindowAfterNextLookup(true);
    platform::WindowHandle found = vantrel::FindConsoleWindow();
    ASSERT_NE(found, nullptr);
    EXPECT_FALSE(vantrel::SendToConsole(found, vantrel::kLiveStateMessage, 0, 1));
    EXPECT_FALSE(vantrel::SendToConsole(nullptr, vantrel::kLiveStateMessage, 0, 1));
}

TEST(CommandBlock, IsCreatedAtFullSizeAndReadThroughAView) {
    platform::MappingHandle mapping = vantrel::OpenCommandBlock();
    ASSERT_NE(mapping, nullptr);
    EXPECT_EQ(Simulation().BlockSize(L"PFGlintora"), 8192u);

    Simulation().WriteBlockText(L"PFGlintora", u"1|a.gif|2|3|x|4|5|6");
    const void* view = vantrel::MapCommandView(mapping);
    ASSERT_NE(view, nullptr);
    std::vector<char16_t> out(kCommandTextCapacity);
    EXPECT_TRUE(vantrel::CopyCommandText(view, vantrel::kCommandBlockSize, out.data()));
    EXPECT_EQ(std::u16string(out.data()), u"1|a.gif|2|3|x|4|5|6");
    vantrel::UnmapCommandView(view);
    EXPECT_EQ(Simulation().OpenViewCount(), 0u);
    Simulation().CloseHandle(mapping);
}

TEST(CommandBlock, AViewOfASmallerBlockFails) {
    // Another program holds the name with a smaller block.
    for (uint32_t size : {100u, vantrel::kCommandBlockSize - 1}) {
        SCOPED_TRACE(size);
        Simulation().CreateBlock(L"PFGlintora", size);
        platform::MappingHandle mapping = vantrel::OpenCommandBlock();
        ASSERT_NE(mapping, nullptr);
        EXPECT_EQ(vantrel::MapCommandView(mapping), nullptr);
        EXPECT_EQ(vantrel::MapCommandView(nullptr), nullptr);
        Simulation().CloseHandle(mapping);
        Simulation().ReleaseBlock(L"PFGlintora");
    }
}

}  // namespace
