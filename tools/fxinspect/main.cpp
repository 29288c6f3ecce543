// fxinspect FILE [--step SECONDS] [--steps N]
//
// Loads FILE through BitmapImage on the stand-in host and prints one JSON object: what the holder
// made of the file and which frame its texture showed at each step. Log lines go to standard error.
// With --step, Advance is called N times (default 1) with that many seconds; without it, the tool
// walks the first pass frame by frame, each step just long enough to reach the next frame (or N
// such steps with --steps).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Sha256.h"
#include "image/BitmapImage.h"
#include "standin/Standin.h"

namespace {

struct Options {
    const char* file = nullptr;
    bool hasStep = false;
    float step = 0.0f;
    long steps = -1;
};

int Usage() {
    std::fprintf(stderr, "usage: fxinspect FILE [--step SECONDS] [--steps N]\n");
    return 2;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const bool hasValue = i + 1 < argc;
        char* end = nullptr;
        if (std::strcmp(arg, "--step") == 0 && hasValue) {
            options.step = std::strtof(argv[++i], &end);
            options.hasStep = true;
            if (*end || !std::isfinite(options.step) || options.step < 0)
                return false;
        } else if (std::strcmp(arg, "--steps") == 0 && hasValue) {
            options.steps = std::strtol(argv[++i], &end, 10);
            if (*end || options.steps < 0 || options.steps > 1000000)
                return false;
        } else if (arg[0] == '-' && arg[1] == '-') {
            return false;
        } else if (!options.file) {
            options.file = arg;
        } else {
            return false;
        }
    }
    return options.file != nullptr;
}

const char* StateOf(const BitmapImage& image) {
    if (image.isAnimated)
        return "animated";
    const standin::TextureInfo* info = standin::InspectTexture(image.texture);
    // The placeholder is the one texture the holder makes in B,G,R,A order.
    if (!info || info->createdFormat == GS_BGRA)
        return "placeholder";
    return "still";
}

std::string Shown(const BitmapImage& image) {
    const standin::TextureInfo* info = standin::InspectTexture(image.texture);
    std::string sha = info ? "\"" + Sha256Hex(info->rgba.data(), info->rgba.size()) + "\"" : "null";
    return "{\"frame\":" + std::to_string(image.isAnimated ? image.currentFrame : 0) +
           ",\"sha256\":" + sha + "}";
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

// Just enough time for the current frame's delay to be exceeded: the holder's comparison is
// strict, so the gathered time must end up above the delay, not on it.
float TimeToNextFrame(const BitmapImage& image) {
    const float delay = image.frameDelays[image.currentFrame];
    float seconds = delay - image.frameTime;
    if (!(seconds > 0.0f))
        seconds = 0.0f;
    while (!(image.frameTime + seconds > delay))
        seconds = std::nextafter(seconds, HUGE_VALF);
    return seconds;
}

std::string Json(const BitmapImage& image, const std::vector<std::string>& shown) {
    const bool animated = image.isAnimated;
    const std::string state = StateOf(image);
    std::string json = "{\"state\":\"" + state + "\"";
    json += ",\"width\":" + Number(image.width) + ",\"height\":" + Number(image.height);
    json += ",\"frames\":" + std::to_string(animated ? image.frameCount : state == "still" ? 1 : 0);
    json += ",\"loopCount\":" + (animated ? std::to_string(image.animation.loop_count) : "null");
    json += ",\"loopLimit\":" + (animated ? std::to_string(image.LoopLimit()) : "null");
    json += ",\"delays\":[";
    for (uint32_t i = 0; animated && i < image.frameDelays.Num(); ++i)
        json += (i ? "," : "") + Number(image.frameDelays[i]);
    json += "],\"shown\":[";
    for (size_t i = 0; i < shown.size(); ++i)
        json += (i ? "," : "") + shown[i];
    return json + "]}";
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options))
        return Usage();
    standin::Install();
    standin::SetLogEcho(true);

    std::vector<std::string> shown;
    {
        BitmapImage image;
        image.filePath = standin::FromUtf8(options.file).c_str();
        image.Init();
        shown.push_back(Shown(image));
        if (options.hasStep) {
            const long steps = options.steps < 0 ? 1 : options.steps;
            for (long i = 0; i < steps; ++i) {
                image.Advance(options.step);
                shown.push_back(Shown(image));
            }
        } else if (image.isAnimated) {
            const long steps =
                options.steps < 0 ? static_cast<long>(image.frameCount) : options.steps;
            for (long i = 0; i < steps; ++i) {
                image.Advance(TimeToNextFrame(image));
                shown.push_back(Shown(image));
            }
        }
        std::printf("%s\n", Json(image, shown).c_str());
    }
    return 0;
}
