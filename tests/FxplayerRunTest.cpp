// The effect player as a user runs it: a small run end to end (frames, transcript, identifiers kept
// across runs), and bad input refused with one line and the output folder left as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "standin/Standin.h"
#include "support/GifBuilder.h"
#include "support/TestHost.h"

namespace {

namespace fs = std::filesystem;

#if !defined(_WIN32) && defined(FXPLAYER_PATH)

struct Outcome {
    int exitCode = -1;
    std::string out, err;
};

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string Quoted(const std::string& arg) {
    std::string quoted = "'";
    for (char c : arg)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

class FxplayerRun : public ::testing::Test {
protected:
    Outcome Run(const std::vector<std::string>& args) {
        std::string command = Quoted(FXPLAYER_PATH);
        for (const std::string& arg : args)
            command += " " + Quoted(arg);
        command += " >" + Quoted(dir_.File("stdout.txt")) + " 2>" + Quoted(dir_.File("stderr.txt"));
        Outcome outcome;
        int status = std::system(command.c_str());
        outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        outcome.out = ReadText(dir_.File("stdout.txt"));
        outcome.err = ReadText(dir_.File("stderr.txt"));
        return outcome;
    }

    std::string Script(const std::string& text) {
        return dir_.Write("run.script", std::vector<unsigned char>(text.begin(), text.end()));
    }

    // A GIF that alternates red and green every 0.1 s, for ever.
    void WriteEffect() {
        testsupport::GifBuilder gif(8, 4);
        gif.Loop(0)
            .Frame(testsupport::GifFrame::Solid(8, 4, 2, 10))
            .Frame(testsupport::GifFrame::Solid(8, 4, 3, 10));
        dir_.Write("fx.gif", gif.Build());
    }

    // The folder's entries, to see that nothing was left beside the output.
    std::set<std::string> Entries() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_.path()))
            names.insert(entry.path().filename().string());
        return names;
    }

    std::vector<std::string> SmallRun(const std::string& script) {
        return {"--script", script,      "--out", dir_.File("out"), "--canvas", "200x100", "--fps",
                "10",       "--seconds", "2.5",   "--every",        "1"};
    }

    testsupport::TempDir dir_;
};

// The transcript's lines without their times, and the times alone.
void Split(const std::vector<std::string>& lines, std::vector<std::string>& events,
           std::vector<std::string>& times) {
    for (const std::string& line : lines) {
        size_t space = line.find(' ');
        times.push_back(line.substr(0, space));
        events.push_back(space == std::string::npos ? "" : line.substr(space + 1));
    }
}

TEST_F(FxplayerRun, PlaysTheScriptIntoFramesAndATranscript) {
    WriteEffect();
    std::string script = Script(
        "0 console on\n"
        "0.2 command 1|fx.gif|40|20|x|7|50|50\n"
        "0.6 output on\n");
    Outcome run = Run(SmallRun(script));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Lines(run.out).size(), 1u) << run.out;

    std::vector<std::string> events, times;
    Split(Lines(ReadText(dir_.File("out/transcript.txt"))), events, times);
    std::string effect = (fs::path(dir_.path()) / "fx.gif").lexically_normal().string();
    // The console's side in the order it happened; log lines of loading come before.
    const std::vector<std::string> wanted = {
        "console on",        "scene begin",
        "msg 1045 0 0",      "command 1|" + effect + "|40|20|x|7|50|50",
        "log start play.",   "msg 1056 7 0",
        "output on",         "msg 1057 0 1",
        "log isHostPlay: 1", "scene end",
        "msg 1057 0 0"};
    size_t at = 0;
    for (const std::string& event : events)
        if (at < wanted.size() && event == wanted[at])
            ++at;
    EXPECT_EQ(at, wanted.size()) << "missing or out of order: "
                                 << wanted[std::min(at, wanted.size() - 1)] << "\n"
                                 << ReadText(dir_.File("out/transcript.txt"));
    auto handshake = std::find_if(events.begin(), events.end(), [](const std::string& e) {
        return e.rfind("handshake 4242|{", 0) == 0;
    });
    EXPECT_NE(handshake, events.end());
    auto command = std::find(events.begin(), events.end(), wanted[3]);
    ASSERT_NE(command, events.end());
    EXPECT_EQ(times[static_cast<size_t>(command - events.begin())], "0.200");
    EXPECT_EQ(times.back(), "2.500");

    // 25 frames, every one kept; the effect sits at 50%/50% at 40x20 and alternates its colours.
    std::set<std::string> seen;
    for (int frame = 0; frame < 25; ++frame) {
        char name[32];
        std::snprintf(name, sizeof name, "out/frames/%05d.png", frame);
        unsigned width = 0, height = 0;
        std::vector<uint8_t> rgba;
        ASSERT_TRUE(standin::ReadImage(dir_.File(name), width, height, rgba)) << name;
        ASSERT_EQ(width, 200u);
        ASSERT_EQ(height, 100u);
        auto pixel = [&](unsigned x, unsigned y) {
            const uint8_t* p = &rgba[(y * width + x) * 4];
            return std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]);
        };
        if (frame >= 3) {
            std::string inside = pixel(120, 60);
            EXPECT_TRUE(inside == "255,0,0" || inside == "0,255,0") << name << ": " << inside;
            seen.insert(inside);
            // Just outside the effect's rectangle the picture shows through.
            EXPECT_NE(pixel(98, 60), inside) << name;
            EXPECT_NE(pixel(120, 71), inside) << name;
        }
    }
    EXPECT_EQ(seen.size(), 2u) << "the effect did not animate";
    EXPECT_TRUE(fs::is_regular_file(dir_.File("out/contact.png")));
    EXPECT_TRUE(fs::is_regular_file(dir_.File("out/config.json")));
    EXPECT_EQ(Entries(),
              (std::set<std::string>{"fx.gif", "out", "run.script", "stderr.txt", "stdout.txt"}));
}

TEST_F(FxplayerRun, KeepsIdentifiersAcrossRunsWithAConfigFile) {
    std::string script = Script("0 console on\n");
    std::vector<std::string> args = SmallRun(script);
    args.insert(args.end(), {"--config", dir_.File("ids.json"), "--every", "100"});
    std::string handshakes[2];
    for (std::string& handshake : handshakes) {
        Outcome run = Run(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        for (const std::string& line : Lines(ReadText(dir_.File("out/transcript.txt"))))
            if (line.find(" handshake ") != std::string::npos)
                handshake = line;
    }
    EXPECT_NE(handshakes[0], "");
    EXPECT_EQ(handshakes[0], handshakes[1]);

    // Without the file, each run makes new ones.
    args = SmallRun(script);
    args.insert(args.end(), {"--every", "100"});
    Outcome run = Run(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::string fresh = ReadText(dir_.File("out/transcript.txt"));
    EXPECT_EQ(fresh.find(handshakes[0].substr(handshakes[0].find(' '))), std::string::npos);
}

TEST_F(FxplayerRun, RefusesBadInputWithOneLineAndLeavesTheOutputAsItWas) {
    std::string good = Script("0 console on\n");
    ASSERT_EQ(Run(SmallRun(good)).exitCode, 0);
    const std::string before = ReadText(dir_.File("out/transcript.txt"));
    std::string bad =
        dir_.Write("bad.script", {'0', ' ',  'c', 'o', 'n', 's', 'o', 'l', 'e', ' ', 'o',
                                  'n', '\n', '2', ' ', 'o', 'u', 't', 'p', 'u', 't', '\n'});

    const std::set<std::string> entries = Entries();

    struct Case {
        std::vector<std::string> args;
        std::string want;  // found in the error line
    };
    const std::vector<Case> cases = {
        {{"--script", dir_.File("absent.script")}, "cannot read the script"},
        {{"--script", bad}, "bad.script: line 2: expected 'on' or 'off'"},
        {{"--script", good, "--module", dir_.File("absent.so")}, "cannot find the module"},
        {{"--script", good, "--module", bad}, "cannot load the module"},
        {{"--script", good, "--background", dir_.File("absent.png")}, "cannot read the background"},
        {{"--script", good, "--background", bad}, "cannot read the background"},
        {{"--script", good, "--config", dir_.File("no/such/folder/ids.json")},
         "its folder does not exist"},
        {{"--script", good, "--config", bad}, "cannot read the configuration"},
        {{"--script", good, "--frobnicate"}, "unknown option '--frobnicate'"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(),
                    {"--out", dir_.File("out"), "--canvas", "200x100", "--seconds", "1"});
        Outcome run = Run(args);
        EXPECT_NE(run.exitCode, 0) << c.want;
        EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
        EXPECT_NE(run.err.find(c.want), std::string::npos)
            << "have: " << run.err << "want: " << c.want;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(ReadText(dir_.File("out/transcript.txt")), before) << c.want;
        EXPECT_EQ(Entries(), entries) << c.want;
    }
}

TEST_F(FxplayerRun, WillNotReplaceAFolderThatIsNotItsOwn) {
    fs::create_directories(dir_.File("mine"));
    dir_.Write("mine/notes.txt", {'h', 'i'});
    Outcome run = Run({"--out", dir_.File("mine"), "--canvas", "64x36", "--seconds", "0.1"});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.err.find("refusing to replace"), std::string::npos) << run.err;
    EXPECT_EQ(ReadText(dir_.File("mine/notes.txt")), "hi");
}

#else

TEST(FxplayerRun, RunsOnTheNativeBuildOnly) {
    GTEST_SKIP() << "the player is run end to end natively";
}

#endif

}  // namespace
