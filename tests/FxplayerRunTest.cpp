// The effect player as a user runs it: a small run end to end (frames, transcript, identifiers kept
// across runs), each live event of the script, an interrupted run, the module's time on each
// frame, the video preview, and bad input refused with one line and the output folder left as it
// was.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
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

#if defined(FXPLAYER_VIDEO_PROBE)
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}
#endif

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

    // busy.gif: ten frames of 320x240 noise, whose load (every frame decoded) costs the host far
    // more than a frame's decode when it plays.
    void WriteBusyEffect() {
        testsupport::GifBuilder gif(320, 240);
        gif.Loop(0);
        uint32_t seed = 12345;
        for (int f = 0; f < 10; ++f) {
            testsupport::GifFrame frame = testsupport::GifFrame::Solid(320, 240, 0, 10);
            for (uint8_t& index : frame.indices) {
                seed = seed * 1103515245u + 12345u;
                index = static_cast<uint8_t>((seed >> 16) & 3);
            }
            gif.Frame(frame);
        }
        dir_.Write("busy.gif", gif.Build());
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

    // An animated GIF that stays blue (a single frame would be read twice, as a still).
    void WriteBlue(const std::string& name) {
        testsupport::GifBuilder gif(8, 4);
        gif.GlobalPalette({0, 0, 0, 0, 0, 255})
            .Loop(0)
            .Frame(testsupport::GifFrame::Solid(8, 4, 1, 10))
            .Frame(testsupport::GifFrame::Solid(8, 4, 1, 10));
        dir_.Write(name, gif.Build());
    }

    // The pixel of a kept frame as "r,g,b".
    std::string Pixel(int frame, unsigned x, unsigned y) {
        char name[32];
        std::snprintf(name, sizeof name, "out/frames/%05d.png", frame);
        unsigned width = 0, height = 0;
        std::vector<uint8_t> rgba;
        if (!standin::ReadImage(dir_.File(name), width, height, rgba) || x >= width || y >= height)
            return std::string("no ") + name;
        const uint8_t* p = &rgba[(y * width + x) * 4];
        return std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]);
    }

    std::string EffectPath(const std::string& name) const {
        return (fs::path(dir_.path()) / name).lexically_normal().string();
    }

    std::vector<std::string> SmallRun(const std::string& script) {
        return {"--script", script,      "--out", dir_.File("out"), "--canvas", "200x100", "--fps",
                "10",       "--seconds", "2.5",   "--every",        "1"};
    }

    // Runs a script with `event` at 0.5 s, which loads busy.gif, and checks the frame times.
    void ExpectTheLoadAsTheWorstFrame(const std::string& event, const std::string& described,
                                      const std::vector<int>& loading);

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
        {{"--script", good, "--video", dir_.File("clip.avi")}, "a file name ending in .mp4"},
        {{"--script", good, "--video", dir_.File("no/such/clip.mp4")}, "its folder does not exist"},
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

const char kRed[] = "255,0,0";
const char kGreen[] = "0,255,0";

// The transcript's lines that hold `text`, with their times.
std::vector<std::string> LinesWith(const std::string& transcript, const std::string& text) {
    std::vector<std::string> found;
    for (const std::string& line : Lines(transcript))
        if (line.find(text) != std::string::npos)
            found.push_back(line);
    return found;
}

// What changes while a run plays, in one run of two sources that play the same file: source 1 plain
// at the command's place, source 2 keyed at its item. The streamer changes source 2's key colour
// live (from that frame the green frames are keyed out, the red ones stay); with "monitor" 1 a
// replaced file is reloaded by both one second after the change, on the run's clock; source 2's
// item moves and sizes, and its keyed effect goes with it; the file cut short and then deleted is
// reloaded and reported as each load finds it (a missing file is not read); and the file is put
// back as it was when the run ends. At 8 fps every frame time is exact in binary, so each
// countdown ends right on its second.
TEST_F(FxplayerRun, ChangesWhileItPlaysTakeEffectFromTheirFrame) {
    WriteEffect();
    WriteBlue("blue.gif");
    const std::string original = ReadText(dir_.File("fx.gif"));
    std::vector<std::string> args =
        SmallRun(Script("0 console on\n"
                        "0 source 2 set useColorKey=1\n"
                        "0 source 2 set keyColor=0xFF0000FF\n"  // blue: keys out nothing here
                        "0.25 command 1|fx.gif|40|20|x|7|50|50\n"
                        "1 source 2 set keyColor=0xFF00FF00\n"
                        "2 replace fx.gif with blue.gif\n"
                        "3.5 source 2 item 20 50 60 30\n"
                        "4 write fx.gif truncate 20\n"
                        "5.5 delete fx.gif\n"));
    args.insert(args.end(), {"--set", "monitor=1", "--fps", "8", "--seconds", "7"});
    Outcome run = Run(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;

    const std::string transcript = ReadText(dir_.File("out/transcript.txt"));
    const std::string fx = EffectPath("fx.gif");
    EXPECT_EQ(LinesWith(transcript, " read "),
              (std::vector<std::string>{
                  "0.250 source 1 read " + fx, "0.250 source 2 read " + fx,
                  "1.000 source 2 read " + fx,  // applying the settings reloads the effect
                  "3.000 source 1 read " + fx, "3.000 source 2 read " + fx,
                  "5.000 source 1 read " + fx, "5.000 source 2 read " + fx}))
        << transcript;
    std::vector<std::string> lines = Lines(transcript);
    auto set = std::find(lines.begin(), lines.end(), "1.000 source 2 set keyColor=0xFF00FF00");
    ASSERT_NE(set, lines.end()) << transcript;
    ASSERT_NE(set + 1, lines.end());
    EXPECT_EQ(*(set + 1), "1.000 source 2 read " + fx);
    EXPECT_EQ(LinesWith(transcript, " replace "),
              std::vector<std::string>{"2.000 replace " + fx + " with " + EffectPath("blue.gif")});
    EXPECT_EQ(LinesWith(transcript, " item "),
              std::vector<std::string>{"3.500 source 2 item 20 50 60 30"});
    const std::string corrupt =
        " log BitmapImage: Warning, couldn't initialise gif " + fx + ", it is likely corrupt";
    EXPECT_EQ(LinesWith(transcript, " log BitmapImage: Warning"),
              (std::vector<std::string>{"5.000 source 1" + corrupt, "5.000 source 2" + corrupt}))
        << transcript;
    const std::string missing = " log BitmapImage::Init: could not open gif file '" + fx + "'";
    EXPECT_EQ(LinesWith(transcript, " log BitmapImage::Init: could"),
              (std::vector<std::string>{"6.500 source 1" + missing, "6.500 source 2" + missing}))
        << transcript;
    EXPECT_EQ(ReadText(dir_.File("fx.gif")), original);

    // Source 1 plays at the command's place until the replaced file's reload makes it blue.
    const std::string kBlue = "0,0,255";
    for (int frame = 3; frame < 32; ++frame) {
        const std::string inside = Pixel(frame, 120, 60);
        if (frame < 24) {
            EXPECT_TRUE(inside == kRed || inside == kGreen) << frame << ": " << inside;
        } else {
            EXPECT_EQ(inside, kBlue) << frame;
        }
    }
    // Source 2 draws at its item: the canvas origin at the effect's own 8x4, until it moves.
    const std::string atOrigin = Pixel(0, 4, 2), atItem = Pixel(0, 50, 65);
    std::set<std::string> keyedOnBlue, keyedOnGreen;
    for (int frame = 3; frame < 8; ++frame)
        keyedOnBlue.insert(Pixel(frame, 4, 2));
    for (int frame = 8; frame < 24; ++frame)
        keyedOnGreen.insert(Pixel(frame, 4, 2));
    EXPECT_EQ(keyedOnBlue, (std::set<std::string>{kRed, kGreen}));
    EXPECT_EQ(keyedOnGreen, (std::set<std::string>{kRed, atOrigin}));
    for (int frame = 24; frame < 32; ++frame) {
        const bool moved = frame >= 28;
        EXPECT_EQ(Pixel(frame, 4, 2), moved ? atOrigin : kBlue) << frame;
        EXPECT_EQ(Pixel(frame, 50, 65), moved ? kBlue : atItem) << frame;
        // The far corner of the 60x30 item, and just past it.
        if (moved) {
            EXPECT_EQ(Pixel(frame, 79, 79), kBlue) << frame;
            EXPECT_NE(Pixel(frame, 80, 80), kBlue) << frame;
        }
    }
}

// Two sources in one scene read the one command block; each line names its source. The
// desktop's clock follows the run: a scene begun 2 s after the last handshake is announced
// again, while the second source's handshake in the same second is skipped.
TEST_F(FxplayerRun, TwoSourcesReadOneCommandBlock) {
    WriteEffect();
    std::vector<std::string> args =
        SmallRun(Script("0 console on\n"
                        "0 source 2 set useColorKey=1\n"
                        "0.2 command 1|fx.gif|40|20|x|7|50|50\n"
                        "0.3 source 2 item 10 60 40 20\n"
                        "1 scene end\n"
                        "2.2 scene begin\n"));
    Outcome run = Run(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;

    std::string transcript = ReadText(dir_.File("out/transcript.txt"));
    EXPECT_EQ(
        LinesWith(transcript, " msg 1056 "),
        (std::vector<std::string>{"0.200 source 1 msg 1056 7 0", "0.200 source 2 msg 1056 7 0"}))
        << transcript;
    std::vector<std::string> handshakes = LinesWith(transcript, " handshake ");
    ASSERT_EQ(handshakes.size(), 2u) << transcript;
    EXPECT_EQ(handshakes[0].rfind("0.000 source 1 handshake ", 0), 0u) << handshakes[0];
    EXPECT_EQ(handshakes[1].rfind("2.200 source 1 handshake ", 0), 0u) << handshakes[1];
    EXPECT_EQ(LinesWith(transcript, "0.000 source 2 set useColorKey=1").size(), 1u);

    // Source 1 draws plain at the command's place, source 2 keyed at its item.
    for (int frame : {3, 4, 5, 6}) {
        std::string first = Pixel(frame, 120, 60), second = Pixel(frame, 20, 70);
        EXPECT_TRUE(first == kRed || first == kGreen) << frame << ": " << first;
        EXPECT_TRUE(second == kRed || second == kGreen) << frame << ": " << second;
    }
}

// Ctrl-C stops the run: its working folder goes, the file it replaced is put back, and the player
// ends by the signal. The leftover of a run that died goes too; another live run's stays.
TEST_F(FxplayerRun, InterruptedRunLeavesNothingBehind) {
    WriteEffect();
    WriteBlue("blue.gif");
    const std::string original = ReadText(dir_.File("fx.gif"));
    std::string script = Script("0.1 replace fx.gif with blue.gif\n");
    pid_t dead = fork();
    if (dead == 0)
        _exit(0);
    ASSERT_GT(dead, 0);
    waitpid(dead, nullptr, 0);
    fs::create_directories(dir_.File(".out.partial-" + std::to_string(dead) + "/frames"));
    const std::string live = ".out.partial-" + std::to_string(getpid());
    fs::create_directories(dir_.File(live));
    const std::set<std::string> before = Entries();
    const int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir_.path().c_str(), IN_CLOSE_WRITE | IN_MOVED_TO), 0);

    pid_t player = fork();
    if (player == 0) {
        // Its one line about the run's size is not the test's output.
        if (!std::freopen("/dev/null", "w", stderr))
            _exit(126);
        std::string out = dir_.File("out");
        execl(FXPLAYER_PATH, FXPLAYER_PATH, "--script", script.c_str(), "--out", out.c_str(),
              "--canvas", "64x36", "--seconds", "600", "--every", "1", static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(player, 0);
    // Until the run has replaced the file, which it does on its first frames: told by the system,
    // with a look every second at whether the player has ended instead.
    int status = 0;
    bool ended = false, replaced = false;
    for (int second = 0; second < 60 && !ended && !replaced; ++second) {
        pollfd ready = {watch, POLLIN, 0};
        if (poll(&ready, 1, 1000) > 0) {
            alignas(inotify_event) char events[4096];
            const ssize_t got = read(watch, events, sizeof events);
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                replaced = replaced || (event->len > 0 && std::string(event->name) == "fx.gif");
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        ended = waitpid(player, &status, WNOHANG) == player;
    }
    close(watch);
    ASSERT_FALSE(ended) << "the player ended before it was interrupted";
    ASSERT_TRUE(replaced);
    EXPECT_NE(ReadText(dir_.File("fx.gif")), original);
    kill(player, SIGINT);
    ASSERT_EQ(waitpid(player, &status, 0), player);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;

    std::set<std::string> after = Entries();
    std::set<std::string> want = before;
    want.erase(".out.partial-" + std::to_string(dead));
    EXPECT_EQ(after, want);
    EXPECT_EQ(ReadText(dir_.File("fx.gif")), original);
}

// frametimes.csv as rows of fields; the events field may be quoted.
std::vector<std::vector<std::string>> CsvRows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : Lines(text)) {
        std::vector<std::string> fields(1);
        bool quoted = false;
        for (size_t i = 0; i < line.size(); ++i) {
            char c = line[i];
            if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = !quoted;
            } else if (c == ',' && !quoted) {
                fields.emplace_back();
            } else {
                fields.back() += c;
            }
        }
        rows.push_back(fields);
    }
    return rows;
}

// Runs a script with `event` at 0.5 s that loads busy.gif, and checks frametimes.csv and the
// summary: a row per frame with the script's events, and the load's frame as the worst, where the
// module's record shows the load at once on `loading` (the sources that load) and on no other
// frame.
void FxplayerRun::ExpectTheLoadAsTheWorstFrame(const std::string& event,
                                               const std::string& described,
                                               const std::vector<int>& loading) {
    std::string script = Script("0 console on\n0.5 " + event + "\n1.2 output on\n");
    std::vector<std::string> args = SmallRun(script);
    args.insert(args.end(), {"--every", "100"});
    Outcome run = Run(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;

    const std::string csv = ReadText(dir_.File("out/frametimes.csv"));
    std::vector<std::vector<std::string>> rows = CsvRows(csv);
    ASSERT_EQ(rows.size(), 26u) << "a header and one row for each of the 25 frames";
    EXPECT_EQ(rows[0], (std::vector<std::string>{
                           "frame", "time", "module_ms", "events", "loads_now", "loads_started",
                           "decoded", "textures_made", "texture_bytes_made", "uploads",
                           "upload_bytes", "textures_deleted", "texture_bytes_deleted",
                           "blocks_freed", "bytes_freed", "worker_waits", "work"}));
    size_t worst = 0;
    double worstMs = -1.0;
    int over = 0;
    std::vector<std::string> events(25);
    events[0] = "console on";
    events[5] = described;
    events[12] = "output on";
    for (size_t i = 1; i < rows.size(); ++i) {
        const std::vector<std::string>& row = rows[i];
        ASSERT_EQ(row.size(), 17u) << i;
        // busy.gif's load at once: read, frame 0 into a new texture, every frame checked once.
        const bool loads = i - 1 == 5;
        EXPECT_EQ(row[4], loads ? std::to_string(loading.size()) : "0") << i;
        if (loads) {
            // Its 10 frames: frame 0 for the texture, the others checked, frame 0 again.
            EXPECT_GE(std::stoi(row[6]), 10 * static_cast<int>(loading.size())) << row[16];
            for (int source : loading)
                EXPECT_NE(row[16].find(std::to_string(source) + ": loads_now=1 "),
                          std::string::npos)
                    << row[16];
        }
        char time[32];
        std::snprintf(time, sizeof time, "%.3f", static_cast<double>(i - 1) / 10.0);
        EXPECT_EQ(row[0] + " " + row[1] + " " + row[3],
                  std::to_string(i - 1) + " " + time + " " + events[i - 1]);
        double ms = std::stod(row[2]);
        EXPECT_GE(ms, 0.0);
        if (ms > worstMs) {
            worstMs = ms;
            worst = i - 1;
        }
        over += ms > 100.0 ? 1 : 0;
    }
    // At 10 fps every Advance polls, so the command loads on its own frame.
    EXPECT_EQ(worst, 5u) << csv;
    EXPECT_NE(run.out.find(" at 0.500 s (" + described + "; the module: "), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("); " + std::to_string(over) + (over == 1 ? " frame" : " frames") +
                           " over 100.0 ms"),
              std::string::npos)
        << run.out;
    unsigned width = 0, height = 0;
    std::vector<uint8_t> rgba;
    EXPECT_TRUE(standin::ReadImage(dir_.File("out/frametimes.png"), width, height, rgba));
}

// The load comes from a command, which the source reads in its Advance, or from a setting changed
// live, which loads inside ApplySettings: either way it is that frame's cost.
TEST_F(FxplayerRun, MeasuresTheModulesTimeOnEachFrameAndNamesTheLoadAsTheWorst) {
    WriteBusyEffect();
    ExpectTheLoadAsTheWorstFrame("command 1|busy.gif|80|40|x|7|10|10", "command 1: busy.gif", {1});
    ExpectTheLoadAsTheWorstFrame("source 2 set path=busy.gif", "source 2 set path=busy.gif", {2});
}

// With "backgroundLoad" 1 the player lets each load finish before the next frame: the console
// hears the same messages in the same order as without it, and what a load reports comes one frame
// after its command (the frame that swaps it in), on every machine.
TEST_F(FxplayerRun, WaitsForLoadsInTheBackgroundSoRunsRepeat) {
    WriteBusyEffect();
    WriteEffect();
    std::string script = Script(
        "0 console on\n"
        "0.5 command 1|busy.gif|80|40|x|7|10|10\n"
        "1.5 command 2|fx.gif|40|20|x|8|50|50\n");
    // The lines of a run; files are read through the host only on the design's path.
    auto play = [&](bool background, std::vector<std::string>& events,
                    std::vector<std::string>& times) {
        std::vector<std::string> args = SmallRun(script);
        args.insert(args.end(), {"--every", "100"});
        if (background)
            args.insert(args.end(), {"--set", "backgroundLoad=1"});
        Outcome run = Run(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        std::vector<std::string> lines;
        for (std::string line : Lines(ReadText(dir_.File("out/transcript.txt")))) {
            if (line.find(" read ") != std::string::npos)
                continue;
            // Each run makes identifiers of its own.
            size_t handshake = line.find(" handshake ");
            if (handshake != std::string::npos)
                line.erase(handshake + 10);
            lines.push_back(line);
        }
        Split(lines, events, times);
    };
    std::vector<std::string> plainEvents, plainTimes, events, times;
    play(false, plainEvents, plainTimes);
    play(true, events, times);
    ASSERT_EQ(events, plainEvents);
    ASSERT_EQ(std::count(events.begin(), events.end(), "msg 1056 7 0"), 1);
    std::string command;
    for (size_t i = 0; i < events.size(); ++i) {
        std::string want = plainTimes[i];
        if (events[i].rfind("command ", 0) == 0) {
            command = plainTimes[i];
        } else if (plainTimes[i] == command) {
            char next[32];
            std::snprintf(next, sizeof next, "%.3f", std::stod(command) + 0.1);
            want = next;
        }
        EXPECT_EQ(times[i], want) << events[i];
    }
}

#if defined(FXPLAYER_VIDEO_PROBE)

// What FFmpeg itself reads from a video file, and the colour of one point of every frame.
struct VideoFacts {
    std::string error;
    std::string codec, pixelFormat;
    int width = 0, height = 0;
    long long packets = 0;
    double seconds = 0.0;                   // the stream's duration
    std::vector<std::array<int, 3>> yuvAt;  // Y, Cb, Cr at the point, frame by frame
};

VideoFacts ProbeVideo(const std::string& path, int x, int y) {
    VideoFacts facts;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) {
        facts.error = "cannot open " + path;
        return facts;
    }
    const AVCodec* decoder = nullptr;
    int index = -1;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto take = [&]() {
        while (avcodec_receive_frame(codec, frame) == 0) {
            facts.yuvAt.push_back({frame->data[0][y * frame->linesize[0] + x],
                                   frame->data[1][(y / 2) * frame->linesize[1] + x / 2],
                                   frame->data[2][(y / 2) * frame->linesize[2] + x / 2]});
        }
    };
    if (avformat_find_stream_info(format, nullptr) < 0 ||
        (index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0)) < 0) {
        facts.error = "no video stream in " + path;
    } else {
        AVStream* stream = format->streams[index];
        facts.codec = avcodec_get_name(stream->codecpar->codec_id);
        facts.pixelFormat =
            av_get_pix_fmt_name(static_cast<AVPixelFormat>(stream->codecpar->format));
        facts.width = stream->codecpar->width;
        facts.height = stream->codecpar->height;
        facts.seconds = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
        codec = avcodec_alloc_context3(decoder);
        avcodec_parameters_to_context(codec, stream->codecpar);
        if (avcodec_open2(codec, decoder, nullptr) < 0) {
            facts.error = "cannot decode " + path;
        } else {
            while (av_read_frame(format, packet) >= 0) {
                if (packet->stream_index == index) {
                    ++facts.packets;
                    avcodec_send_packet(codec, packet);
                    take();
                }
                av_packet_unref(packet);
            }
            avcodec_send_packet(codec, nullptr);
            take();
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    return facts;
}

TEST_F(FxplayerRun, WritesEveryFrameOfTheRunAsAVideo) {
    WriteEffect();
    std::string script = Script(
        "0 console on\n"
        "0.2 command 1|fx.gif|40|20|x|7|50|50\n");
    struct Case {
        std::string video;
        std::vector<std::string> size;
        int width, height;
        int tolerance;  // a small video smears the effect's few pixels more
    };
    // In the output folder at the canvas's size, and beside it, scaled.
    const Case cases[] = {
        {dir_.File("out/clips/preview.mp4"), {}, 200, 100, 10},
        {dir_.File("small.mp4"), {"--video-size", "64x36"}, 64, 36, 24},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = SmallRun(script);
        args.insert(args.end(), {"--every", "100", "--video", c.video});
        args.insert(args.end(), c.size.begin(), c.size.end());
        Outcome run = Run(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, "");

        // The centre of the effect, which sits at 50%/50% at 40x20.
        VideoFacts facts = ProbeVideo(c.video, 120 * c.width / 200, 60 * c.height / 100);
        ASSERT_EQ(facts.error, "") << c.video;
        EXPECT_EQ(facts.codec, "h264");
        EXPECT_EQ(facts.pixelFormat, "yuv420p");
        EXPECT_EQ(facts.width, c.width);
        EXPECT_EQ(facts.height, c.height);
        EXPECT_EQ(facts.packets, 25) << "every frame of 2.5 s at 10 fps";
        EXPECT_NEAR(facts.seconds, 2.5, 1e-3);
        ASSERT_EQ(facts.yuvAt.size(), 25u);
        // From frame 3 the effect alternates red and green every frame (0.1 s). In BT.709's
        // limited range red is Y 63, Cr 240 and green Y 173, Cr 26 (BT.601 would give 81 and 145):
        // colours, their matrix and the frames' order all survive the encoding.
        auto colour = [&](size_t f) {
            const std::array<int, 3>& yuv = facts.yuvAt[f];
            if (std::abs(yuv[0] - 63) <= c.tolerance && std::abs(yuv[2] - 240) <= c.tolerance)
                return 'r';
            if (std::abs(yuv[0] - 173) <= c.tolerance && std::abs(yuv[2] - 26) <= c.tolerance)
                return 'g';
            return '?';
        };
        for (size_t f = 3; f < 25; ++f) {
            EXPECT_NE(colour(f), '?') << c.video << " frame " << f << ": Y " << facts.yuvAt[f][0]
                                      << " Cr " << facts.yuvAt[f][2];
            if (f > 3) {
                EXPECT_NE(colour(f), colour(f - 1)) << c.video << " frame " << f;
            }
        }
    }
    // Nothing of the work is left beside the outputs.
    EXPECT_EQ(Entries(), (std::set<std::string>{"fx.gif", "out", "run.script", "small.mp4",
                                                "stderr.txt", "stdout.txt"}));
}

#endif

#else

TEST(FxplayerRun, RunsOnTheNativeBuildOnly) {
    GTEST_SKIP() << "the player is run end to end natively";
}

#endif

}  // namespace
