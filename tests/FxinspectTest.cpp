// fxinspect as a user runs it: its report agrees with the module's own holder on the examples, it
// warns where an effect will surprise its author, and its exit status tells a file the module
// shows from one it cannot.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "image/BitmapImage.h"
#include "standin/Standin.h"
#include "support/GifBuilder.h"
#include "support/TestHost.h"
#ifdef FXINSPECT_WEBP_TEST
#include "RandomAnimation.h"
#include "WebpWriter.h"
#endif

namespace {

#if !defined(_WIN32) && defined(FXINSPECT_PATH) && defined(EXAMPLES_DIR)
}  // namespace
#include <nlohmann/json.hpp>
namespace {

using testsupport::GifBuilder;
using testsupport::GifFrame;
using Json = nlohmann::json;

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

// The report's words with each run of blanks and line breaks made one space: the text report wraps
// its lines wherever a file's path happens to end.
std::string Unwrapped(const std::string& text) {
    std::string words;
    for (char c : text) {
        const bool blank = c == ' ' || c == '\n' || c == '\t';
        if (!blank)
            words += c;
        else if (!words.empty() && words.back() != ' ')
            words += ' ';
    }
    return words;
}

std::string Quoted(const std::string& arg) {
    std::string quoted = "'";
    for (char c : arg)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

class Fxinspect : public ::testing::Test {
protected:
    Outcome Run(const std::vector<std::string>& args) {
        std::string command = Quoted(FXINSPECT_PATH);
        for (const std::string& arg : args)
            command += " " + Quoted(arg);
        command += " >" + Quoted(dir_.File("stdout.txt")) + " 2>" + Quoted(dir_.File("stderr.txt"));
        Outcome outcome;
        const int status = std::system(command.c_str());
        outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        outcome.out = ReadText(dir_.File("stdout.txt"));
        outcome.err = ReadText(dir_.File("stderr.txt"));
        return outcome;
    }

    // Without the pass played in wall time, up to ten seconds a file, which nothing here reads.
    Json Report(const std::string& path) {
        const Outcome outcome = Run({path, "--json", "--no-real-time"});
        EXPECT_EQ(outcome.exitCode, 0) << path << "\n" << outcome.out << outcome.err;
        return Json::parse(outcome.out);
    }

    testsupport::TempDir dir_;
};

// Every figure the module itself holds, read from its own holder in this process, against the
// report the tool wrote in its own.
TEST_F(Fxinspect, ReportAgreesWithTheModuleOnTheExamples) {
    std::vector<std::string> examples = {"banner.gif", "keyed.gif", "sparkle.gif", "badge.png"};
#ifdef FXINSPECT_WEBP_TEST
    examples.push_back("glow.webp");
#endif
    for (const std::string& name : examples) {
        SCOPED_TRACE(name);
        const std::string path = std::string(EXAMPLES_DIR) + "/" + name;
        const Json report = Report(path);

        BitmapImage image;
        image.filePath = standin::FromUtf8(path).c_str();
        const size_t before = standin::AllocatorStats().liveBytes;
        image.Init();
        const size_t held = standin::AllocatorStats().liveBytes - before;
        const standin::TextureInfo* texture = standin::InspectTexture(image.texture);
        ASSERT_NE(texture, nullptr);

        EXPECT_EQ(report["state"], image.Snapshot().isAnimated ? "animated" : "still");
        EXPECT_EQ(report["width"], image.width);
        EXPECT_EQ(report["height"], image.height);
        EXPECT_EQ(report["frames"], image.Snapshot().isAnimated ? image.Snapshot().frameCount : 1u);
        EXPECT_EQ(report["memory"]["total"], held);
        EXPECT_EQ(report["memory"]["texture"], size_t(texture->width) * texture->height * 4);
        if (!image.Snapshot().isAnimated)
            continue;
        EXPECT_EQ(report["loopLimit"], image.Snapshot().loopLimit);
        ASSERT_EQ(report["delaysMs"].size(), image.Snapshot().delayCount);
        for (unsigned i = 0; i < image.Snapshot().delayCount; ++i)
            EXPECT_NEAR(report["delaysMs"][i].get<double>(), image.Snapshot().frameDelays[i] * 1e3,
                        1e-3);
        EXPECT_EQ(report["memory"]["frameStore"],
                  size_t(image.Snapshot().frameCount) * texture->width * texture->height * 4);
        // Through the background load: the whole animation fits the default budget. Beside it
        // the decoder's canvas, or libwebp's two.
        const uint64_t canvas = uint64_t(texture->width) * texture->height * 4;
        const uint64_t canvases = name.find(".webp") != std::string::npos ? 2 : 1;
        EXPECT_EQ(report["background"]["storedFrames"], image.Snapshot().frameCount);
        EXPECT_EQ(report["background"]["heldBytes"],
                  report["file"]["bytes"].get<uint64_t>() +
                      (image.Snapshot().frameCount + canvases) * canvas);
        // The first pass walked frame by frame shows every frame once: the module's own pixels.
        ASSERT_EQ(report["shown"].size(), image.Snapshot().frameCount + 1u);
        EXPECT_EQ(report["shown"][1]["frame"], 1);
    }
}

// Each case builds a GIF and names the warnings it must raise, and no others.
TEST_F(Fxinspect, WarnsWhereTheEffectWillSurpriseItsAuthor) {
    GifFrame broken = GifFrame::Solid(8, 8, 2);
    broken.Broken();
    GifFrame beyond = GifFrame::Solid(8, 8, 3);
    beyond.left = 4;  // reaches 4 pixels past the declared 8 x 8
    struct Case {
        const char* what;
        testsupport::Bytes gif;
        std::set<std::string> want;
    } cases[] = {
        {"plain",
         GifBuilder(8, 8)
             .Loop(0)
             .Frame(GifFrame::Solid(8, 8, 1))
             .Frame(GifFrame::Solid(8, 8, 2))
             .Build(),
         {}},
        {"no looping extension",
         GifBuilder(8, 8).Frame(GifFrame::Solid(8, 8, 1)).Frame(GifFrame::Solid(8, 8, 2)).Build(),
         {}},
        {"a loop count of 1",
         GifBuilder(8, 8)
             .Loop(1)
             .Frame(GifFrame::Solid(8, 8, 1))
             .Frame(GifFrame::Solid(8, 8, 2))
             .Build(),
         {"loop-count"}},
        {"everything at once",
         GifBuilder(8, 8)
             .Loop(2)
             .Frame(GifFrame::Solid(8, 8, 1, 1))
             .Frame(broken)
             .Frame(beyond)
             .Build(),
         {"loop-count", "one-centisecond-delays", "undecodable-frames", "canvas-grown"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Json report = Report(dir_.Write("effect.gif", c.gif));
        std::set<std::string> kinds;
        for (const Json& warning : report["warnings"])
            kinds.insert(warning["kind"].get<std::string>());
        EXPECT_EQ(kinds, c.want);
    }
    const Json report = Report(dir_.File("effect.gif"));
    EXPECT_EQ(report["undecodableFrames"], Json::array({1}));
    EXPECT_EQ(report["width"], 12);
}

#ifdef FXINSPECT_WEBP_TEST
// Animated WebPs written from known pictures, durations and loop counts: the report gives back the
// frames, the durations as the file stores them and as the module plays them (the rule's edges:
// 0 ms plays as 100 ms, 1 to 9 ms as 10 ms, 10 ms on as they are), the loop count, and warns of
// exactly the frames of 1 to 10 ms. The extension is the module's in any case.
TEST_F(Fxinspect, ReportsAWebpAsItWasWritten) {
    const struct {
        const char* name;
        std::vector<int> durations;  // repeated over the frames
        int loopCount;
        const char* shortWarning;  // the warning's start; null: none
    } cases[] = {
        {"r.webp", {0, 11, 70}, 0, nullptr},
        {"R.WEBP", {1, 9, 10, 0, 11, 70, 0, 11, 70, 0, 11, 70}, 3, "frames 0-2 have a duration"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fxmakefx::RandomAnimation truth = fxmakefx::MakeRandomAnimation(7, 24, 16, 12);
        for (size_t i = 0; i < truth.canvases.size(); ++i)
            truth.canvases[i].durationMs = c.durations[i % c.durations.size()];
        fxmakefx::WebpOptions options;
        options.loopCount = c.loopCount;
        const Json report =
            Report(dir_.Write(c.name, fxmakefx::EncodeWebp(24, 16, truth.canvases, options)));

        EXPECT_EQ(report["format"], "webp");
        EXPECT_EQ(report["state"], "animated");
        EXPECT_EQ(report["width"], 24);
        EXPECT_EQ(report["height"], 16);
        EXPECT_EQ(report["loopCount"], c.loopCount);
        EXPECT_EQ(report["loopLimit"], c.loopCount);
        ASSERT_EQ(report["frames"], truth.canvases.size());
        ASSERT_EQ(report["durationsMs"].size(), truth.canvases.size());
        ASSERT_EQ(report["delaysMs"].size(), truth.canvases.size());
        for (size_t i = 0; i < truth.canvases.size(); ++i) {
            const int ms = truth.canvases[i].durationMs;
            EXPECT_EQ(report["durationsMs"][i], ms) << "frame " << i;
            EXPECT_NEAR(report["delaysMs"][i].get<double>(),
                        ms == 0   ? 100
                        : ms < 10 ? 10
                                  : ms,
                        1e-3)
                << "frame " << i;
        }
        std::string shortWarning;
        for (const Json& warning : report["warnings"])
            if (warning["kind"] == "short-durations")
                shortWarning = warning["text"];
        if (c.shortWarning)
            EXPECT_EQ(shortWarning.rfind(c.shortWarning, 0), 0u) << shortWarning;
        else
            EXPECT_EQ(shortWarning, "");
    }
}
#endif

TEST_F(Fxinspect, ExitStatusTellsWhetherTheModuleShowsTheFile) {
    const std::string example = std::string(EXAMPLES_DIR) + "/sparkle.gif";
    const std::string junk = dir_.Write("junk.gif", {'G', 'I', 'F', 'x', 'y', 'z', 1, 2, 3});
    const std::string text = dir_.Write("notes.png", {'h', 'e', 'l', 'l', 'o'});
#ifdef FXINSPECT_WEBP_TEST
    std::ifstream glow(std::string(EXAMPLES_DIR) + "/glow.webp", std::ios::binary);
    const std::string misnamed = dir_.Write("glow.gif", {std::istreambuf_iterator<char>(glow), {}});
#endif
    const int kPlaceholder = 1, kUsage = 2;
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* out;  // in the report on standard output; null: nothing there, one line on
                          // standard error
    } cases[] = {
        {{example, "--no-real-time"}, 0, "an animated GIF, 160 x 160, 16 frames"},
#ifdef FXINSPECT_WEBP_TEST
        {{std::string(EXAMPLES_DIR) + "/glow.webp", "--no-real-time"},
         0,
         "an animated WebP, 160 x 160, 12 frames"},
        {{misnamed}, kPlaceholder, "the file holds a WebP, but the module takes the format from"},
#endif
        {{"--help"}, 0, "usage: fxinspect FILE"},
        {{dir_.File("nothing.gif")}, kPlaceholder, "not found"},
        {{dir_.path()}, kPlaceholder, "a folder"},
        {{junk}, kPlaceholder, "it is likely corrupt"},
        {{text, "--json"}, kPlaceholder, "\"state\":\"placeholder\""},
        {{example, "--frobnicate"}, kUsage, nullptr},
        {{example, "--fps", "0"}, kUsage, nullptr},
        {{example, "--steps"}, kUsage, nullptr},
        {{example, example}, kUsage, nullptr},
        {{}, kUsage, nullptr},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& arg : c.args)
            line += arg + " ";
        SCOPED_TRACE(line);
        const Outcome outcome = Run(c.args);
        EXPECT_EQ(outcome.exitCode, c.status) << outcome.out << outcome.err;
        if (c.out) {
            EXPECT_NE(Unwrapped(outcome.out).find(c.out), std::string::npos) << outcome.out;
            EXPECT_EQ(outcome.err, "");
        } else {
            EXPECT_EQ(outcome.out, "");
            EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
        }
    }
}

#else

TEST(Fxinspect, RunNativelyOnly) {
    GTEST_SKIP() << "the tool is run end to end natively";
}

#endif

}  // namespace
