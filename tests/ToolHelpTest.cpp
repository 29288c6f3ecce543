// Each tool's --help against its manual in docs/: the same options, and for the player every
// setting and every kind of script event the manual lists. A tool that learns an option its manual
// does not tell of, or a manual that promises what --help leaves out, fails here.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "Options.h"

namespace {

#if !defined(_WIN32) && defined(SOURCE_DIR) && defined(FXINSPECT_PATH) && defined(FXMAKEFX_PATH)

using Words = std::set<std::string>;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Manual(const std::string& name) {
    return ReadText(std::string(SOURCE_DIR) + "/docs/" + name);
}

// What a program writes to standard output.
std::string Output(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            out.append(buffer, got);
        pclose(pipe);
    }
    return out;
}

Words Matches(const std::string& text, const std::string& pattern, size_t group = 0) {
    Words found;
    const std::regex re(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator();
         ++it)
        found.insert((*it)[group].str());
    return found;
}

Words Options(const std::string& text) {
    return Matches(text, "--[a-z][a-z-]*");
}

// The manual's first fenced block: its usage, or for the player its script example too.
std::string Block(const std::string& manual, int which = 0) {
    size_t at = 0;
    for (int i = 0; i <= which; ++i) {
        at = manual.find("```", at);
        if (at == std::string::npos)
            return "";
        at = manual.find('\n', at) + 1;
        if (i < which)
            at = manual.find("```", at) + 3;
    }
    return manual.substr(at, manual.find("```", at) - at);
}

Words Missing(const Words& wanted, const std::string& text) {
    Words missing;
    for (const std::string& word : wanted)
        if (!std::regex_search(text, std::regex("(^|[^A-Za-z])" + word + "($|[^A-Za-z])")))
            missing.insert(word);
    return missing;
}

TEST(ToolHelp, FxplayerTellsEveryOptionSettingAndEventOfItsManual) {
    const std::string manual = Manual("fxplayer.md");
    const std::string help = fxplayer::UsageText();
    EXPECT_EQ(Options(help), Options(Block(manual)));
    // The settings table's keys: | `path` | ... and | `cx`, `cy` | ...
    Words keys = Matches(manual, "\n\\| `([a-zA-Z]+)`", 1);
    const Words second = Matches(manual, "\n\\| `[a-zA-Z]+`, `([a-zA-Z]+)`", 1);
    keys.insert(second.begin(), second.end());
    ASSERT_GE(keys.size(), 12u);
    EXPECT_EQ(Missing(keys, help), Words{});
    // The script example's events: "0.5  command 1|..." gives command; on, off, kill and the
    // kinds of write count as well.
    const Words events = Matches(Block(manual, 1), "\n[0-9.]+ +(source [0-9]+ )?([a-z]+)", 2);
    ASSERT_GE(events.size(), 10u);
    EXPECT_EQ(Missing(events, help), Words{});
    EXPECT_EQ(Missing({"on", "off", "kill", "begin", "end", "garbage", "truncate"}, help), Words{});
}

TEST(ToolHelp, FxinspectAndFxmakefxTellTheOptionsOfTheirManuals) {
    const std::string inspect = Output(std::string("'") + FXINSPECT_PATH + "' --help");
    ASSERT_NE(inspect, "");
    EXPECT_EQ(Options(inspect), Options(Block(Manual("fxinspect.md"))));

    const std::string make = Output(std::string("'") + FXMAKEFX_PATH + "' --help");
    ASSERT_NE(make, "");
    const std::string manual = Manual("fxmakefx.md");
    EXPECT_EQ(Options(make), Options(manual));
    EXPECT_NE(make.find("fxmakefx --sized WxH FRAMES loop|once|broken|still FILE"),
              std::string::npos);
    EXPECT_NE(manual.find("fxmakefx --sized WxH FRAMES loop|once|broken|still FILE"),
              std::string::npos);
}

#else

TEST(ToolHelp, RunsNativelyOnly) {
    GTEST_SKIP() << "the tools are run natively";
}

#endif

}  // namespace
