// The effect player's inputs: its script, its command line and the numbers in both.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Numbers.h"
#include "Options.h"
#include "Script.h"
#include "support/TestHost.h"

namespace {

using fxplayer::EventKind;
using fxplayer::ParseScript;
using fxplayer::Script;

TEST(FxplayerScript, ReadsEveryKindOfEventInOrder) {
    const std::string text =
        "\xEF\xBB\xBF# a comment\r\n"
        "\n"
        "0 console on\r\n"
        "  0.5\tcommand 1|D:/fx/a b.gif|200|100|x|7|50|25   \r\n"
        "0.5 output on   # live from here\n"
        "2. scene end\n"
        "3 scene begin\n"
        "4 console off";  // no line break at the end
    Script script;
    std::string error;
    ASSERT_TRUE(ParseScript(text, script, error)) << error;
    ASSERT_EQ(script.events.size(), 6u);
    const auto& e = script.events;
    EXPECT_EQ(e[0].kind, EventKind::Console);
    EXPECT_TRUE(e[0].on);
    EXPECT_EQ(e[0].line, 3);
    EXPECT_EQ(e[1].kind, EventKind::Command);
    EXPECT_DOUBLE_EQ(e[1].seconds, 0.5);
    // The text keeps its inner blanks; the blanks and line break after it are not part of it.
    EXPECT_EQ(e[1].text, "1|D:/fx/a b.gif|200|100|x|7|50|25");
    EXPECT_EQ(e[2].kind, EventKind::Output);
    EXPECT_TRUE(e[2].on);
    EXPECT_EQ(e[3].kind, EventKind::Scene);
    EXPECT_FALSE(e[3].on);
    EXPECT_DOUBLE_EQ(e[3].seconds, 2.0);
    EXPECT_EQ(e[4].kind, EventKind::Scene);
    EXPECT_TRUE(e[4].on);
    EXPECT_EQ(e[5].kind, EventKind::Console);
    EXPECT_FALSE(e[5].on);
    EXPECT_EQ(e[5].line, 8);
}

TEST(FxplayerScript, CommandTextMayHoldAHash) {
    Script script;
    std::string error;
    ASSERT_TRUE(ParseScript("0 console on\n1 command 1|C:/fx/#1.gif|1|1|x|1|0|0\n", script, error));
    EXPECT_EQ(script.events[1].text, "1|C:/fx/#1.gif|1|1|x|1|0|0");
}

// Each bad script is refused with the number of its first bad line and a word on what is wrong.
TEST(FxplayerScript, RefusesMalformedLinesNamingTheLine) {
    struct Case {
        std::string text;
        std::string want;  // the error starts with this
    };
    const std::string on = "0 console on\n";
    const std::vector<Case> cases = {
        {"1 play sparkle.gif\n", "line 1: unknown event 'play'"},
        {"# c\nabc output on\n", "line 2: 'abc' is not a time"},
        {"-1 output on\n", "line 1: '-1' is not a time"},
        {"1e3 output on\n", "line 1: '1e3' is not a time"},
        {"inf output on\n", "line 1: 'inf' is not a time"},
        {". output on\n", "line 1: '.' is not a time"},
        {"1.2.3 output on\n", "line 1: '1.2.3' is not a time"},
        {"90000 output on\n", "line 1: '90000' is not a time"},
        {"2 output on\n1 output off\n", "line 2: time 1 is earlier"},
        {"1\n", "line 1: a time with nothing to do"},
        {"1 output\n", "line 1: expected 'on' or 'off'"},
        {"1 output yes\n", "line 1: expected 'on' or 'off', not 'yes'"},
        {"1 output on now\n", "line 1: unexpected 'now'"},
        {"1 output off\n", "line 1: the output is already off"},
        {"1 scene begin\n", "line 1: the scene has already begun"},
        {"1 scene end\n2 scene end\n", "line 2: the scene has already ended"},
        {"0 scene end\n", "line 1: the scene starts after the events at 0"},
        {"1 console off\n", "line 1: the console is already off"},
        {on + "1 console on\n", "line 2: the console is already on"},
        {"1 command 1|a.gif|1|1|x|1|0|0\n", "line 1: 'command' while the console is off"},
        {on + "1 console off\n2 command 1|a|1|1|x|1|0|0\n", "line 3: 'command' while the console"},
        {on + "1 command   \n", "line 2: 'command' needs the text"},
        {on + "1 command 1|\xC3|1|1|x|1|0|0\n", "line 2: the command text is not valid UTF-8"},
        {on + "1 command " + std::string(4096, 'a') + "\n",
         "line 2: the command text does not fit"},
        {std::string("1 output on\n2 output off\0\n", 26), "line 2: holds a null byte"},
    };
    for (const Case& c : cases) {
        Script script;
        std::string error;
        EXPECT_FALSE(ParseScript(c.text, script, error)) << c.text;
        EXPECT_EQ(error.compare(0, c.want.size(), c.want), 0)
            << "script: " << c.text << "\nhave: " << error << "\nwant: " << c.want;
    }
}

TEST(FxplayerScript, LongestCommandTheBlockHoldsIsAccepted) {
    Script script;
    std::string error;
    EXPECT_TRUE(ParseScript("0 console on\n1 command " + std::string(4095, 'a'), script, error))
        << error;
    // Characters beyond the basic plane take two units of the block.
    EXPECT_FALSE(ParseScript(
        "0 console on\n1 command " + std::string(4094, 'a') + "\xF0\x9F\x98\x80", script, error));
}

TEST(FxplayerScript, MissingOrUnreadableFileIsNamed) {
    testsupport::TempDir dir;
    Script script;
    std::string error;
    EXPECT_FALSE(fxplayer::LoadScript(dir.File("absent.script"), script, error));
    EXPECT_NE(error.find("absent.script"), std::string::npos) << error;
    // A folder opens on some systems but does not read as a script.
    EXPECT_FALSE(fxplayer::LoadScript(dir.path(), script, error));
    EXPECT_NE(error.find(dir.path()), std::string::npos) << error;

    std::string bad = dir.Write("bad.script", {'1', ' ', 'x', '\n'});
    EXPECT_FALSE(fxplayer::LoadScript(bad, script, error));
    EXPECT_EQ(error, bad + ": line 1: unknown event 'x' (command, output, scene or console)");
}

TEST(FxplayerScript, EventsTakeEffectBeforeTheFirstFrameAtOrAfterTheirTime) {
    struct Case {
        double seconds;
        int fps;
        long long frame;
    };
    const Case cases[] = {{0.0, 60, 0},  {0.5, 60, 30},   {0.501, 60, 31}, {0.1, 30, 3},
                          {0.7, 30, 21}, {1.0 / 3, 3, 1}, {0.001, 60, 1},  {2.0, 1, 2}};
    for (const Case& c : cases)
        EXPECT_EQ(fxplayer::FirstFrameAtOrAfter(c.seconds, c.fps), c.frame)
            << c.seconds << " s at " << c.fps << " fps";
}

TEST(FxplayerScript, RelativeEffectPathsAreTakenFromTheScriptFolder) {
#if defined(_WIN32)
    const std::string base = "C:/scripts";
#else
    const std::string base = "/scripts";
#endif
    struct Case {
        std::string command, want;  // '@' in want stands for the base folder
    };
    const std::vector<Case> cases = {
        {"1|fx/a.gif|200|100|x|7|50|25", "1|@/fx/a.gif|200|100|x|7|50|25"},
        {"|1||sub/../a.gif|2|3|x|7|5|5|", "|1||@/a.gif|2|3|x|7|5|5|"},
        {"1|/abs/a.gif|2|3|x|7|5|5", "1|/abs/a.gif|2|3|x|7|5|5"},
        {"1|D:/fx/a.gif|2|3|x|7|5|5", "1|D:/fx/a.gif|2|3|x|7|5|5"},
        {"1|\\\\server\\a.gif|2|3|x|7|5|5", "1|\\\\server\\a.gif|2|3|x|7|5|5"},
        // Clearing commands and texts without a path field go as written.
        {"-1|clear|0|0|x|0|0|0", "-1|clear|0|0|x|0|0|0"},
        {" -2|clear|0|0|x|0|0|0", " -2|clear|0|0|x|0|0|0"},
        {"1", "1"},
        {"", ""},
    };
    // Separators in the system's own form compare equal.
    auto plain = [](std::string text) {
        for (char& c : text)
            if (c == '\\')
                c = '/';
        return text;
    };
    for (const Case& c : cases) {
        std::string want = c.want;
        size_t at = want.find('@');
        if (at != std::string::npos)
            want.replace(at, 1, base);
        EXPECT_EQ(plain(fxplayer::ResolveCommandPath(c.command, base)), plain(want)) << c.command;
    }
}

TEST(FxplayerNumbers, SettingIntegersAreWholeDecimalOrHexColours) {
    struct Case {
        std::string text;
        bool ok;
        int32_t value;
    };
    const Case cases[] = {
        {"0", true, 0},
        {"-5", true, -5},
        {"+7", true, 7},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, INT32_MIN},
        {"0x0", true, 0},
        {"0xFF00FF00", true, -16711936},  // pure green with full alpha, stored as its 32 bits
        {"0xffffffff", true, -1},
        {"0x7FFFFFFF", true, 2147483647},
        {"2147483648", false, 0},
        {"99999999999999999999999", false, 0},
        {"0x123456789", false, 0},
        {"0x", false, 0},
        {"0xG1", false, 0},
        {"12abc", false, 0},
        {"1.5", false, 0},
        {" 1", false, 0},
        {"", false, 0},
        {"-", false, 0},
    };
    for (const Case& c : cases) {
        int32_t value = 12345;
        EXPECT_EQ(fxplayer::ParseSettingInteger(c.text, value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

fxplayer::Options Parse(const std::vector<std::string>& args, bool& ok, std::string& error) {
    fxplayer::Options options;
    ok = fxplayer::ParseOptions(args, options, error);
    return options;
}

TEST(FxplayerOptions, ReadsEveryOption) {
    bool ok = false;
    std::string error;
    fxplayer::Options o = Parse(
        {"--script",     "s.script", "--out",    "o",        "--seconds", "2.5",          "--fps",
         "30",           "--every",  "4",        "--canvas", "640x360",   "--background", "b.png",
         "--config",     "c.json",   "--module", "m.so",     "--set",     "opacity=50",   "--set",
         "path=a=b.gif", "--set",    "note="},
        ok, error);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(o.script, "s.script");
    EXPECT_EQ(o.out, "o");
    EXPECT_DOUBLE_EQ(o.seconds, 2.5);
    EXPECT_EQ(o.fps, 30);
    EXPECT_EQ(o.every, 4);
    EXPECT_EQ(o.canvasWidth, 640u);
    EXPECT_EQ(o.canvasHeight, 360u);
    EXPECT_EQ(o.background, "b.png");
    EXPECT_EQ(o.config, "c.json");
    EXPECT_EQ(o.module, "m.so");
    const std::vector<std::pair<std::string, std::string>> settings = {
        {"opacity", "50"}, {"path", "a=b.gif"}, {"note", ""}};
    EXPECT_EQ(o.settings, settings);

    fxplayer::Options defaults = Parse({}, ok, error);
    ASSERT_TRUE(ok);
    EXPECT_EQ(defaults.fps, 60);
    EXPECT_EQ(defaults.canvasWidth, 1920u);
    EXPECT_EQ(defaults.canvasHeight, 1080u);
    EXPECT_TRUE(defaults.script.empty());
}

TEST(FxplayerOptions, RefusesWhatItCannotUseWithOneLine) {
    struct Case {
        std::vector<std::string> args;
        std::string want;
    };
    const std::vector<Case> cases = {
        {{"--frames", "10"}, "unknown option '--frames'"},
        {{"script.txt"}, "unknown option 'script.txt'"},
        {{"--script"}, "--script needs a value"},
        {{"--out", ""}, "--out needs a non-empty value"},
        {{"--fps", "0"}, "--fps takes a whole number from 1 to 240, not '0'"},
        {{"--fps", "60.5"}, "--fps takes"},
        {{"--fps", "+60"}, "--fps takes"},
        {{"--every", "0"}, "--every takes"},
        {{"--seconds", "0"}, "--seconds takes"},
        {{"--seconds", "3601"}, "--seconds takes"},
        {{"--canvas", "1920"}, "--canvas takes WIDTHxHEIGHT"},
        {{"--canvas", "0x10"}, "--canvas takes"},
        {{"--canvas", "10x"}, "--canvas takes"},
        {{"--canvas", "9000x10"}, "--canvas takes"},
        {{"--canvas", "+10x10"}, "--canvas takes"},
        {{"--set", "opacity"}, "--set takes KEY=VALUE, not 'opacity'"},
        {{"--set", "=5"}, "--set takes KEY=VALUE"},
    };
    for (const Case& c : cases) {
        bool ok = true;
        std::string error;
        Parse(c.args, ok, error);
        EXPECT_FALSE(ok) << c.args[0];
        EXPECT_EQ(error.compare(0, c.want.size(), c.want), 0)
            << "have: " << error << "\nwant: " << c.want;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

}  // namespace
