// The effect player as a user runs it: a small run end to end (frames, transcript, identifiers kept
// across runs, the module's time on each frame, the video preview), and bad input refused with one
// line and the output folder left as it was.
#include <gtest/gtest.h>

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

TEST_F(FxplayerRun, MeasuresTheModulesTimeOnEachFrameAndNamesTheLoadAsTheWorst) {
    // A GIF whose load decodes ten busy frames in one Advance; afterwards each frame decodes at
    // most one of them, so the frame of the load stands out by far.
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
    std::string script = Script(
        "0 console on\n"
        "0.5 command 1|busy.gif|80|40|x|7|10|10\n"
        "1.2 output on\n");
    std::vector<std::string> args = SmallRun(script);
    args.insert(args.end(), {"--every", "100"});
    Outcome run = Run(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;

    std::vector<std::vector<std::string>> rows = CsvRows(ReadText(dir_.File("out/frametimes.csv")));
    ASSERT_EQ(rows.size(), 26u) << "a header and one row for each of the 25 frames";
    EXPECT_EQ(rows[0], (std::vector<std::string>{"frame", "time", "module_ms", "events"}));
    size_t worst = 0;
    double worstMs = -1.0;
    int over = 0;
    for (size_t i = 1; i < rows.size(); ++i) {
        const std::vector<std::string>& row = rows[i];
        ASSERT_EQ(row.size(), 4u) << i;
        EXPECT_EQ(row[0], std::to_string(i - 1));
        char time[32];
        std::snprintf(time, sizeof time, "%.3f", static_cast<double>(i - 1) / 10.0);
        EXPECT_EQ(row[1], time);
        double ms = std::stod(row[2]);
        EXPECT_GE(ms, 0.0);
        if (ms > worstMs) {
            worstMs = ms;
            worst = i - 1;
        }
        over += ms > 100.0 ? 1 : 0;
        const char* events = i - 1 == 0    ? "console on"
                             : i - 1 == 5  ? "command 1: busy.gif"
                             : i - 1 == 12 ? "output on"
                                           : "";
        EXPECT_EQ(row[3], events) << "frame " << i - 1;
    }
    // At 10 fps every Advance polls, so the command loads on its own frame.
    EXPECT_EQ(worst, 5u) << ReadText(dir_.File("out/frametimes.csv"));
    EXPECT_NE(run.out.find(" at 0.500 s (command 1: busy.gif); " + std::to_string(over) +
                           (over == 1 ? " frame" : " frames") + " over 100.0 ms"),
              std::string::npos)
        << run.out;
    unsigned width = 0, height = 0;
    std::vector<uint8_t> rgba;
    EXPECT_TRUE(standin::ReadImage(dir_.File("out/frametimes.png"), width, height, rgba));
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
