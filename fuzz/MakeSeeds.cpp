// Writes the fuzz targets' seed inputs: small files, each named for the corner it starts the fuzzer
// at. Run by hand when the seeds should change, then commit them:
//   fuzz_make_seeds fuzz/seeds
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/CommandSequence.h"
#include "support/GifBuilder.h"

#ifdef VANTREL_SEEDS_WEBP
#include "RandomAnimation.h"
#include "WebpWriter.h"
#endif

using testsupport::Bytes;
using testsupport::GifBuilder;
using testsupport::GifFrame;
using testsupport::Truncated;

namespace fs = std::filesystem;

namespace {

fs::path outDir;

void Put(const std::string& target, const std::string& name, const Bytes& bytes) {
    fs::create_directories(outDir / target);
    std::ofstream out(outDir / target / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// ---------------------------------------------------------------- GIF files

Bytes Animated() {
    return GifBuilder(8, 6)
        .Loop(2)
        .Frame(GifFrame::Solid(8, 6, 1, 10))
        .Frame(GifFrame::Solid(8, 6, 2, 0))
        .Frame(GifFrame::Solid(8, 6, 3, 25))
        .Build();
}

void GifSeeds() {
    const std::string t = "gif_image";
    Put(t, "animated", Animated());
    Put(t, "still", GifBuilder(5, 5).Frame(GifFrame::Solid(5, 5, 2)).Build());
    Put(t, "no-frames", GifBuilder(5, 5).Build());

    GifFrame disposed = GifFrame::Solid(4, 4, 1, 3);
    disposed.disposal = 2;
    GifFrame previous = GifFrame::Solid(2, 2, 3, 3);
    previous.left = 1;
    previous.top = 1;
    previous.disposal = 3;
    previous.transparentIndex = 0;
    previous.indices = {0, 3, 3, 0};
    Put(t, "disposals",
        GifBuilder(4, 4)
            .Loop(0)
            .Frame(disposed)
            .Frame(previous)
            .Frame(GifFrame::Solid(4, 4, 2, 3))
            .Build());

    GifFrame local = GifFrame::Solid(3, 3, 1, 4);
    local.localPalette = {10, 20, 30, 40, 50, 60};
    Put(t, "local-palette", GifBuilder(3, 3).NoGlobalPalette().Frame(local).Frame(local).Build());

    // The decoder grows its canvas to cover frames that stick out.
    GifFrame farOut = GifFrame::Solid(2, 2, 1, 5);
    farOut.left = 65000;
    farOut.top = 65000;
    Put(t, "frame-grows-canvas-past-limits",
        GifBuilder(4, 4).Frame(GifFrame::Solid(4, 4, 1, 5)).Frame(farOut).Build());
    GifFrame wideFrame = GifFrame::Solid(1, 1, 1, 5);
    wideFrame.left = 5000;
    Put(t, "frame-grows-canvas-wide",
        GifBuilder(4, 4).Frame(GifFrame::Solid(4, 4, 2, 5)).Frame(wideFrame).Build());
    Put(t, "canvas-past-limits",
        GifBuilder(65535, 65535)
            .Frame(GifFrame::Solid(1, 1, 1, 5))
            .Frame(GifFrame::Solid(1, 1, 2, 5))
            .Build());
    Put(t, "canvas-4097-wide",
        GifBuilder(4097, 2)
            .Frame(GifFrame::Solid(1, 1, 1, 5))
            .Frame(GifFrame::Solid(1, 1, 2, 5))
            .Build());
    GifFrame outside = GifFrame::Solid(3, 3, 2, 5);
    outside.left = 6;
    outside.top = 2;
    Put(t, "frame-outside-canvas",
        GifBuilder(4, 4).Frame(GifFrame::Solid(4, 4, 1, 5)).Frame(outside).Build());

    for (uint8_t codeSize : {uint8_t{12}, uint8_t{13}, uint8_t{255}, uint8_t{1}}) {
        GifFrame bad = GifFrame::Solid(4, 4, 1, 5);
        bad.minCodeSize = codeSize;
        if (codeSize > 12 || codeSize < 2) {  // no LZW coding at that width: any bytes do
            bad.useRawData = true;
            bad.rawData = Bytes(24, 0x55);
        }
        Put(t, "lzw-code-size-" + std::to_string(codeSize),
            GifBuilder(4, 4).Frame(GifFrame::Solid(4, 4, 2, 5)).Frame(bad).Build());
    }
    GifFrame broken = GifFrame::Solid(4, 4, 1, 5);
    broken.Broken();
    Put(t, "broken-frame",
        GifBuilder(4, 4)
            .Frame(GifFrame::Solid(4, 4, 2, 5))
            .Frame(broken)
            .Frame(GifFrame::Solid(4, 4, 3, 5))
            .Build());

    Put(t, "trailing-comment",
        GifBuilder(4, 4)
            .Frame(GifFrame::Solid(4, 4, 1, 5))
            .Frame(GifFrame::Solid(4, 4, 2, 5))
            .TrailingComment("after the last image")
            .Build());
    Put(t, "trailing-comment-one-frame",
        GifBuilder(4, 4).Frame(GifFrame::Solid(4, 4, 1, 5)).TrailingComment("x").Build());

    GifFrame zeroWide = GifFrame::Solid(0, 4, 1, 5);
    GifFrame zeroHigh = GifFrame::Solid(4, 0, 1, 5);
    Put(t, "zero-sized-frames",
        GifBuilder(4, 4)
            .Frame(zeroWide)
            .Frame(GifFrame::Solid(4, 4, 2, 5))
            .Frame(zeroHigh)
            .Build());
    Put(t, "zero-sized-canvas",
        GifBuilder(0, 0)
            .Frame(GifFrame::Solid(2, 2, 1, 5))
            .Frame(GifFrame::Solid(2, 2, 2, 5))
            .Build());

    const Bytes whole = Animated();
    for (size_t at : {size_t{6}, size_t{13}, size_t{30}, whole.size() / 2, whole.size() - 2})
        Put(t, "truncated-at-" + std::to_string(at), Truncated(whole, at));

    // About a kilobyte that describes frame stores of gigabytes: 64 frames on a 4096 by 4096
    // canvas need exactly 4 GiB; 256 on 2048 by 2048 likewise; 63 on 4096 fall just short. The
    // first frame sits in the far corner, so that the decoder keeps (or grows to) the canvas
    // rather than shrinking an implausibly large one to the frames.
    for (auto [side, frames] :
         {std::pair<uint16_t, int>{4096, 64}, {2048, 256}, {4096, 63}, {1024, 300}}) {
        GifBuilder gif(side, side);
        for (int i = 0; i < frames; ++i) {
            GifFrame tiny = GifFrame::Solid(1, 1, static_cast<uint8_t>(i & 3), i == 0 ? 1 : -1);
            if (i == 0)
                tiny.left = tiny.top = static_cast<uint16_t>(side - 1);
            gif.Frame(tiny);
        }
        Put(t, "frame-store-" + std::to_string(side) + "-x" + std::to_string(frames), gif.Build());
    }
    Put(t, "loop-65535",
        GifBuilder(2, 2)
            .Loop(65535)
            .Frame(GifFrame::Solid(2, 2, 1, 1))
            .Frame(GifFrame::Solid(2, 2, 2, 1))
            .Build());
    Put(t, "loop-1",
        GifBuilder(2, 2)
            .Loop(1)
            .Frame(GifFrame::Solid(2, 2, 1, 1))
            .Frame(GifFrame::Solid(2, 2, 2, 65535))
            .Build());
}

// ---------------------------------------------------------------- WebP files (same target)

void WebpSeeds() {
#ifdef VANTREL_SEEDS_WEBP
    const std::string t = "gif_image";
    const fxmakefx::RandomAnimation animation = fxmakefx::MakeRandomAnimation(7, 6, 5, 4);
    fxmakefx::WebpOptions options;
    options.loopCount = 2;
    const Bytes lossless = fxmakefx::EncodeWebp(6, 5, animation.canvases, options);
    Put(t, "webp-animated", lossless);
    options.lossless = false;
    Put(t, "webp-lossy", fxmakefx::EncodeWebp(6, 5, animation.canvases, options));
    Put(t, "webp-still",
        fxmakefx::EncodeWebp(6, 5, {animation.canvases[1]}, fxmakefx::WebpOptions()));
    Put(t, "webp-truncated", Truncated(lossless, lossless.size() / 2));
    // The canvas (in the VP8X chunk, sides less one in 24 bits) one wider than the holder shows.
    Bytes wide = lossless;
    wide[24] = 0x00, wide[25] = 0x10, wide[26] = 0x00;
    Put(t, "webp-canvas-4097-wide", wide);
#endif
}

// ---------------------------------------------------------------- command block texts

Bytes Utf16(const std::u16string& text, bool withNull = true) {
    Bytes out;
    for (char16_t c : text) {
        out.push_back(static_cast<unsigned char>(c & 0xFF));
        out.push_back(static_cast<unsigned char>(c >> 8));
    }
    if (withNull)
        out.insert(out.end(), {0, 0});
    return out;
}

void CommandSeeds() {
    const std::string t = "command_reader";
    Put(t, "example", Utf16(u"5|D:/fx/a.gif|200|100|x|7|50|25"));
    Put(t, "relative-gif", Utf16(u"3|input.gif|10|10|x|1|0|0"));
    Put(t, "bars-at-both-ends", Utf16(u"|5|a.gif|200|100|x|7|50|25|"));
    Put(t, "runs-of-bars", Utf16(u"||5|||a.gif|200||100|x|7|||50|25||||"));
    Put(t, "seven-fields", Utf16(u"5|a.gif|200|100||7|50|25"));
    Put(t, "clearing", Utf16(u"-2|a|b|c|d|e|f|g"));
    Put(t, "clearing-alone", Utf16(u"-2"));
    Put(t, "numbers", Utf16(u"12abc|p|abc| -7|x|+9|\t42|99999999999"));
    Put(t, "saturating", Utf16(u"-99999999999|p|2147483648|-2147483649|x|2147483647|-10|250"));
    Put(t, "seventeen-fields", Utf16(u"1|a.png|1|1|x|1|1|1|9|10|11|12|13|14|15|16|17"));
    Put(t, "surrogates", Utf16(u"1|\U0001F600\xD800.gif|1|1|x|1|1|1"));
    Put(t, "empty", Utf16(u""));
    Put(t, "odd-length", Bytes{'5', 0, '|', 0, 'a'});
    // 1023 units and a null fill the copy exactly; 1024 without one do not fit.
    Put(t, "longest-text", Utf16(u"1|" + std::u16string(1013, u'p') + u"|1|1|x|1|1|1"));
    Put(t, "text-without-null", Utf16(u"1|" + std::u16string(1100, u'p') + u"|1|1|x|1|1|1", false));
}

// ---------------------------------------------------------------- command sequences

using namespace fuzzsequence;

// A command: id choice 0 (the next id), then path, sizes, effect, placement and the plain form.
Bytes Command(uint8_t path, uint8_t width = 2, uint8_t height = 3, uint8_t effect = 1,
              uint8_t x = 1, uint8_t y = 5, uint8_t form = 6) {
    return {kWriteCommand, 0, path, width, height, effect, x, y, form};
}

Bytes Story(uint8_t setup, std::initializer_list<Bytes> steps) {
    Bytes out{setup};
    for (const Bytes& step : steps)
        out.insert(out.end(), step.begin(), step.end());
    return out;
}

void SequenceSeeds() {
    const std::string t = "command_sequence";
    const Bytes frames{kFrames, 40};
    Put(t, "show-animated-then-another",
        Story(kConsoleMadeBlock, {Command(kAnimatedGif),
                                  frames,
                                  {kDraw, 1, 1},
                                  Command(kEndlessGif, 0, 0, 2),
                                  frames,
                                  {kDraw, 0, 5}}));
    Put(t, "clear-then-show",
        Story(kConsoleMadeBlock, {Command(kStillPng),
                                  frames,
                                  {kWriteCommand, 3, kStillPng, 0, 0, 0, 0, 0, 6},
                                  frames,
                                  Command(kStillGif),
                                  frames}));
    Put(t, "bad-files",
        Story(kConsoleMadeBlock, {Command(kCorruptGif), frames, Command(kWideGif), frames,
                                  Command(kHugeStoreGif), frames, Command(kMissingGif), frames,
                                  Command(kBrokenFrameGif), frames, Command(kFolderGif), frames,
                                  Command(kLongPath), frames, Command(kEmptyPath), frames}));
    Put(t, "small-block", Story(kSmallBlock, {Command(kAnimatedGif), frames, frames}));
    Put(t, "no-block", Story(kNoBlock, {frames, Command(kAnimatedGif), frames}));
    Put(t, "mapping-refused",
        Story(kMappingRefused, {Command(kAnimatedGif), frames, {kBlockFault, 3}, frames}));
    Put(t, "view-fails",
        Story(kConsoleMadeBlock,
              {{kBlockFault, 0}, Command(kAnimatedGif), frames, {kBlockFault, 1}, frames}));
    Put(t, "console-hangs-and-leaves",
        Story(kConsoleMadeBlock, {Command(kAnimatedGif),
                                  frames,
                                  {kConsole, 2},
                                  {kOutput, 1},
                                  {kFrames, 200},
                                  Command(kEndlessGif),
                                  frames,
                                  {kConsole, 4},
                                  Command(kStillPng),
                                  frames,
                                  {kConsole, 1},
                                  {kFrames, 200}}));
    Put(t, "allocation-fails-during-load",
        Story(kConsoleMadeBlock, {{kAllocationFault, 3},
                                  Command(kAnimatedGif),
                                  frames,
                                  {kAllocationFault, 255},
                                  Command(kEndlessGif),
                                  frames}));
    Put(t, "texture-fails",
        Story(kConsoleMadeBlock, {{kTextureFault, 1},
                                  Command(kAnimatedGif),
                                  frames,
                                  {kDraw, 1, 1},
                                  {kTextureFault, 0},
                                  Command(kStillPng),
                                  frames}));
    Put(t, "file-changes-while-watched",
        Story(kConsoleMadeBlock, {{kSetting, 6, 1},
                                  Command(kAnimatedGif),
                                  frames,
                                  {kChangeFile, 0, 1},
                                  {kFrames, 100},
                                  {kChangeFile, 0, 2},
                                  {kFrames, 100},
                                  {kChangeFile, 0, 4},
                                  {kFrames, 100}}));
    Put(t, "scene-and-settings",
        Story(kConsoleMadeBlock, {{kScene, 0},
                                  {kScene, 4},
                                  {kScene, 2},
                                  {kSetting, 0, 1},
                                  {kSetting, 4, 6},
                                  Command(kStillPng),
                                  {kDraw, 1, 1},
                                  {kScene, 1},
                                  {kCanvas, 1},
                                  Command(kAnimatedGif),
                                  frames}));
    Put(t, "two-sources",
        Story(kConsoleMadeBlock, {{kSecondSource},
                                  Command(kAnimatedGif),
                                  frames,
                                  {kScene, 0},
                                  {kScene, 4},
                                  Command(kStillPng),
                                  frames,
                                  {kSecondSource},
                                  frames,
                                  {kSecondSource},
                                  Command(kEndlessGif),
                                  frames}));
    Put(t, "odd-commands",
        Story(kConsoleMadeBlock, {{kWriteCommand, 7, kAnimatedGif, 7, 8, 5, 6, 7, 0},
                                  frames,
                                  {kWriteCommand, 9, kStillPng, 9, 10, 7, 8, 9, 3},
                                  frames,
                                  {kWriteCommand, 8, kUpperCaseGif, 11, 12, 4, 3, 4, 5},
                                  frames,
                                  {kWriteText, 3, '1', 0, '|', 0, 0xFF, 0xD8},
                                  frames}));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SEEDS-FOLDER\n", argv[0]);
        return 2;
    }
    outDir = fs::u8path(argv[1]);
    GifSeeds();
    WebpSeeds();
    CommandSeeds();
    SequenceSeeds();
    return 0;
}
