// The effect player's inputs: its script, its command line and the numbers in both.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Options.h"
#include "Script.h"
#include "SourceSettings.h"
#include "standin/Standin.h"
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
        "3 set path=my effects/a.gif\n"
        "3 source 2 item -10 20 300 0  # off the left edge, no height\n"
        "3.5 replace \"my effects/a.gif\" with b.gif\n"
        "3.5 touch b.gif\n"
        "3.5 delete b.gif\n"
        "3.5 write \"my effects/a.gif\" truncate 10\n"
        "3.5 write b.gif garbage # noise\n"
        "4 console off\n"
        "5 console on\n"
        "6 console kill";  // no line break at the end
    Script script;
    std::string error;
    ASSERT_TRUE(ParseScript(text, script, error)) << error;
    ASSERT_EQ(script.events.size(), 15u);
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
    // A setting's value runs to the end of the line, blanks and all.
    EXPECT_EQ(e[5].kind, EventKind::Set);
    EXPECT_EQ(e[5].source, 1);
    EXPECT_EQ(e[5].setting.key, "path");
    EXPECT_EQ(e[5].setting.text, "my effects/a.gif");
    EXPECT_EQ(e[6].kind, EventKind::Item);
    EXPECT_EQ(e[6].source, 2);
    EXPECT_EQ(std::vector<long long>({e[6].x, e[6].y, e[6].width, e[6].height}),
              std::vector<long long>({-10, 20, 300, 0}));
    EXPECT_EQ(e[7].kind, EventKind::Replace);
    EXPECT_EQ(e[7].text, "my effects/a.gif");
    EXPECT_EQ(e[7].other, "b.gif");
    EXPECT_EQ(e[8].kind, EventKind::Touch);
    EXPECT_EQ(e[8].text, "b.gif");
    EXPECT_EQ(e[9].kind, EventKind::Delete);
    EXPECT_EQ(e[9].text, "b.gif");
    EXPECT_EQ(e[10].kind, EventKind::Write);
    EXPECT_EQ(e[10].text, "my effects/a.gif");
    EXPECT_EQ(e[10].keepBytes, 10);
    EXPECT_EQ(e[11].kind, EventKind::Write);
    EXPECT_EQ(e[11].keepBytes, -1);  // garbage
    EXPECT_EQ(e[12].kind, EventKind::Console);
    EXPECT_FALSE(e[12].on);
    EXPECT_FALSE(e[12].kill);
    EXPECT_EQ(e[12].line, 15);
    EXPECT_TRUE(e[14].kill);
    EXPECT_FALSE(e[14].on);
    EXPECT_EQ(script.sources, 2);
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
        {"3600.5 output on\n", "line 1: '3600.5' is not a time in seconds from 0 to 3600"},
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
         "line 2: the command text does not fit the command block: it takes 4096 UTF-16 units, "
         "the block holds 4095"},
        {"1 set keycolor=1\n", "line 1: unknown setting 'keycolor' (did you mean 'keyColor'?)"},
        {"1 set opacity=50.5\n", "line 1: opacity takes a whole number from 0 to 100"},
        {"1 set\n", "line 1: a setting is KEY=VALUE"},
        {"1 item 1 2 3\n", "line 1: 'item X Y W H' takes whole canvas pixels, H from 0"},
        {"1 item 1 2 -3 4\n", "line 1: 'item X Y W H' takes whole canvas pixels, W from 0"},
        {"1 item 1 2 3 4 5\n", "line 1: unexpected '5' after '4'"},
        {"1 replace a.gif\n", "line 1: 'replace FILE with OTHER' needs 'with'"},
        {"1 replace \"a.gif with b.gif\n", "line 1: 'replace FILE with OTHER' needs a file"},
        {"1 touch\n", "line 1: 'touch FILE' needs a file name"},
        {"1 delete\n", "line 1: 'delete FILE' needs a file name"},
        {"1 write a.gif\n", "line 1: 'write FILE garbage|truncate N' needs 'garbage', or"},
        {"1 write a.gif truncate -1\n", "line 1: 'write FILE garbage|truncate N' needs"},
        {"1 write a.gif garbage 5\n", "line 1: unexpected '5' after 'garbage'"},
        {"1 console kill\n", "line 1: the console is already off"},
        {on + "1 console kill now\n", "line 2: unexpected 'now' after 'kill'"},
        {"1 console of\n", "line 1: expected 'on' or 'off', not 'of' (or 'kill')"},
        {"1 source 9 set opacity=1\n", "line 1: 'source N' takes a source from 1 to 8"},
        {"1 source 2 output on\n", "line 1: 'source 2' is followed by 'set' or 'item'"},
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
    EXPECT_EQ(error, bad +
                         ": line 1: unknown event 'x' (command, output, scene, console, set, item, "
                         "replace, touch, delete, write or source)");
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

// Each setting is taken by its type and stored as the integer the module reads back from the
// configuration tree; what cannot be stored as meant is refused, naming what the key takes.
TEST(FxplayerSettings, KnownKeysOnlyEachByItsType) {
    struct Case {
        std::string assignment;
        std::string want;     // refused: the error starts with this; empty: accepted
        uint32_t stored = 0;  // accepted: the 32 bits the module reads
    };
    const std::vector<Case> cases = {
        {"keyColor=0xFF00FF00", "", 0xFF00FF00u},
        {"keyColor=4278255360", "", 0xFF00FF00u},  // the same colour in decimal
        {"color=0x12345678", "", 0x12345678u},
        {"color=0xffffffff", "", 0xFFFFFFFFu},
        {"color=4294967295", "", 0xFFFFFFFFu},
        {"color=0", "", 0u},
        {"useColorKey=1", "", 1u},
        {"monitor=0", "", 0u},
        {"opacity=100", "", 100u},
        {"keySimilarity=40", "", 40u},
        {"cx=0", "", 0u},
        {"frameCacheMB=0", "", 0u},
        {"frameCacheMB=1048576", "", 1048576u},
        {"frameCacheMB=1048577", "frameCacheMB takes a whole number from 0 to 1048576"},
        {"keycolor=0xFF00FF00",
         "unknown setting 'keycolor' (did you mean 'keyColor'?); the settings are path, monitor, "
         "opacity, color, useColorKey, keyColor, keySimilarity, keyBlend, backgroundLoad, "
         "frameCacheMB, "
         "cx, cy, orix, oriy"},
        {"guid=x", "unknown setting 'guid'; the settings are path,"},
        {"keyColor=0x1FF00FF00", "keyColor takes a colour as 0xAARRGGBB"},
        {"keyColor=4294967296", "keyColor takes a colour"},
        {"keyColor=-16711936", "keyColor takes a colour"},
        {"keyColor=0x", "keyColor takes a colour"},
        {"color=green", "color takes a colour"},
        {"useColorKey=yes", "useColorKey takes 0 (off) or 1 (on), not 'yes'"},
        {"useColorKey=2", "useColorKey takes 0 (off) or 1 (on)"},
        {"opacity=50.5", "opacity takes a whole number from 0 to 100, not '50.5'"},
        {"opacity=101", "opacity takes a whole number from 0 to 100"},
        {"opacity=-1", "opacity takes a whole number"},
        {"opacity=+5", "opacity takes a whole number"},
        {"opacity=", "opacity takes a whole number"},
        {"keyBlend=201", "keyBlend takes a whole number from 0 to 200"},
        {"orix=0", "orix takes a whole number from 1 to 16384"},
        {"cy=99999999999999999999", "cy takes a whole number from 0 to 16384"},
        {"opacity", "a setting is KEY=VALUE, not 'opacity'"},
        {"=5", "a setting is KEY=VALUE"},
    };
    standin::ConfigElement* root = standin::NewConfigRoot(L"settings");
    XElement* element = standin::AsXElement(root);
    for (const Case& c : cases) {
        fxplayer::Setting setting;
        std::string error;
        bool ok = fxplayer::ParseSetting(c.assignment, setting, error);
        if (!c.want.empty()) {
            EXPECT_FALSE(ok) << c.assignment;
            EXPECT_EQ(error.compare(0, c.want.size(), c.want), 0)
                << "have: " << error << "\nwant: " << c.want;
            continue;
        }
        ASSERT_TRUE(ok) << c.assignment << ": " << error;
        // Read back as the module reads a colour: the tree's integer, taken as 32 bits.
        element->SetInt(L"key", setting.number);
        EXPECT_EQ(static_cast<uint32_t>(element->GetInt(L"key", 0)), c.stored) << c.assignment;
    }
    standin::DeleteConfigRoot(root);
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
        {"--script",     "s.script",  "--out",    "o",        "--seconds", "2.5",          "--fps",
         "30",           "--every",   "4",        "--canvas", "640x360",   "--background", "b.png",
         "--config",     "c.json",    "--module", "m.so",     "--set",     "opacity=50",   "--set",
         "path=a=b.gif", "--sources", "2"},
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
    ASSERT_EQ(o.settings.size(), 2u);
    EXPECT_EQ(o.settings[0].key, "opacity");
    EXPECT_EQ(o.settings[0].number, 50);
    EXPECT_EQ(o.settings[1].key, "path");
    EXPECT_EQ(o.settings[1].text, "a=b.gif");
    EXPECT_EQ(o.sources, 2);

    fxplayer::Options defaults = Parse({}, ok, error);
    ASSERT_TRUE(ok);
    EXPECT_EQ(defaults.fps, 60);
    EXPECT_EQ(defaults.canvasWidth, 1920u);
    EXPECT_EQ(defaults.canvasHeight, 1080u);
    EXPECT_TRUE(defaults.script.empty());

    // --help wins over whatever else is on the line.
    fxplayer::Options help = Parse({"--frobnicate", "--help"}, ok, error);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(help.help);
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
        {{"--every", "0"}, "--every takes"},
        {{"--seconds", "0"}, "--seconds takes"},
        {{"--canvas", "1920"}, "--canvas takes WIDTHxHEIGHT"},
        {{"--canvas", "9000x10"}, "--canvas takes"},
        {{"--seconds", "3601"}, "--seconds takes a time from above 0 to 3600, not '3601'"},
        {{"--set", "keycolor=0xFF00FF00"}, "--set: unknown setting 'keycolor'"},
        {{"--sources", "0"}, "--sources takes a whole number from 1 to 8"},
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
