#include "Report.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace fxinspect {

namespace {

#if defined(__SANITIZE_ADDRESS__) || !defined(NDEBUG)
constexpr bool kReleaseBuild = false;
#else
constexpr bool kReleaseBuild = true;
#endif

constexpr size_t kWidth = 100;
// Joins a figure to its unit so that a wrapped line never splits them; a space on output.
constexpr char kTie = '\x1f';
constexpr size_t kLabelWidth = 14;
// Runs of equal delays the text lists before it refers to --json for the rest.
constexpr size_t kMaxDelayRuns = 12;

std::string Printf(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// A figure rounded to thousandths, without the zeros a person would not write: 60, 0.5, 16.667.
std::string Plain(double value) {
    std::string text = Printf("%.3f", value);
    while (text.back() == '0')
        text.pop_back();
    if (text.back() == '.')
        text.pop_back();
    return text;
}

double Thousandths(double value) {
    return std::round(value * 1e3) / 1e3;
}

// Whole numbers as integers in JSON: 60, not 60.0.
nlohmann::ordered_json JsonFigure(double value) {
    if (value == std::floor(value) && std::fabs(value) < 9e15)
        return static_cast<int64_t>(value);
    return value;
}

// A delay in whole milliseconds as the holder's float gives it: 0.0599999987 s is 60 ms.
double DelayMs(float seconds) {
    return Thousandths(static_cast<double>(seconds) * 1e3);
}

std::string Ms(double ms) {
    if (ms < 0.1)
        return Printf("%.3f\x1fms", ms);
    if (ms < 10.0)
        return Printf("%.2f\x1fms", ms);
    if (ms < 100.0)
        return Printf("%.1f\x1fms", ms);
    return Printf("%.0f\x1fms", ms);
}

std::string Seconds(double seconds) {
    return seconds < 10.0 ? Printf("%.2f\x1fs", seconds) : Printf("%.1f\x1fs", seconds);
}

// Binary units, as the system's own tools count memory; three figures at most.
std::string Size(uint64_t bytes) {
    if (bytes < 1024)
        return std::to_string(bytes) + (bytes == 1 ? "\x1f"
                                                     "byte"
                                                   : "\x1f"
                                                     "bytes");
    static const char* const kUnits[] = {"KB", "MB", "GB"};
    double value = static_cast<double>(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 2) {
        value /= 1024.0;
        ++unit;
    }
    return Printf(value < 10.0 ? "%.1f" : "%.0f", value) + kTie + kUnits[unit];
}

std::string Count(uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string FrameRange(uint32_t first, uint32_t last) {
    if (first == last)
        return "frame " + std::to_string(first);
    return "frames " + std::to_string(first) + (last == first + 1 ? " and " : "-") +
           std::to_string(last);
}

// "60 ms (frames 0-17), 1000 ms (frame 18)", or "each 60 ms" when they are all alike.
std::string DelayRuns(const Inspection& in) {
    std::string text;
    size_t runs = 0;
    for (size_t i = 0; i < in.delays.size();) {
        size_t j = i;
        // Alike as shown: a WebP's 9 and 10 ms differ in their last bit, not in whole ms.
        while (j + 1 < in.delays.size() && DelayMs(in.delays[j + 1]) == DelayMs(in.delays[i]))
            ++j;
        if (i == 0 && j + 1 == in.delays.size())
            return "each " + Plain(DelayMs(in.delays[i])) + kTie + "ms";
        if (++runs > kMaxDelayRuns)
            return text + ", ... (--json lists every delay)";
        if (!text.empty())
            text += ", ";
        text += Plain(DelayMs(in.delays[i])) + kTie + "ms (" +
                FrameRange(static_cast<uint32_t>(i), static_cast<uint32_t>(j)) + ")";
        i = j + 1;
    }
    return text;
}

std::string Canvas(uint32_t width, uint32_t height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

// A GIF without a looping extension reports a loop count of 1 all the same; a WebP animation
// always stores its count.
bool LoopCountStored(const Inspection& in) {
    return in.format == Format::Webp || in.header.hasLoopExtension;
}

std::string LoopWords(const Inspection& in) {
    if (in.loopLimit == 0)
        return in.loopCount == 0 ? "loops forever (the file's loop count is 0)"
                                 : "loops forever (the file's loop count of " +
                                       std::to_string(in.loopCount) + " counts as forever)";
    const double lastShown =
        in.passSeconds * in.loopLimit - (in.delays.empty() ? 0.0 : in.delays.back());
    const std::string holds =
        ", then keeps its last frame on screen, from " + Seconds(lastShown) + " on";
    if (in.loopLimit == 1)
        return std::string("plays once") +
               (LoopCountStored(in) ? " (the file's loop count is 1)"
                                    : " (the file has no looping extension)") +
               holds;
    return "plays " + std::to_string(in.loopLimit) + " times in all (the file's loop count is " +
           std::to_string(in.loopCount) + ")" + holds;
}

std::string Headline(const Inspection& in) {
    const char* placeholder = " The module shows its 32 x 32 placeholder instead.";
    switch (in.fileKind) {
        case FileKind::Missing:
            return in.path + ": not found." + placeholder;
        case FileKind::Folder:
            return in.path + ": a folder, not a file." + placeholder;
        case FileKind::File:
            break;
    }
    if (in.state == "placeholder")
        return in.path + " (" + Size(in.fileBytes) +
               "): not an effect the module can show; its log below says why." + placeholder;
    if (in.state == "still")
        return in.path + ": a still image, " + Canvas(in.width, in.height) + ".";
    return in.path + ": an animated " + (in.format == Format::Webp ? "WebP" : "GIF") + ", " +
           Canvas(in.width, in.height) + ", " + Count(in.frames, "frame", "frames") + "; it " +
           (in.loopLimit == 0   ? "loops forever."
            : in.loopLimit == 1 ? "plays once."
                                : "plays " + std::to_string(in.loopLimit) + " times.");
}

std::string MemoryWords(const Inspection& in) {
    const Memory& m = in.memory;
    if (!m.frameStore && !m.fileBuffer)
        return "a texture of " + Size(m.texture) + "; the module keeps no pixels of its own (" +
               Size(m.total) + " in the host's allocator)";
    // libwebp's canvases are not the host allocator's: named after it.
    const std::string canvas =
        m.decoderHeap ? std::string() : ", decoder canvas " + Size(m.decoderCanvas);
    std::string text = Size(m.total) + " in the host's allocator while it shows: frame store " +
                       Size(m.frameStore) + ", file buffer " + Size(m.fileBuffer) + canvas +
                       ", tables " + Size(m.tables) + "; and a texture of " + Size(m.texture);
    if (m.decoderHeap)
        text += "; libwebp's decoder keeps its two canvases, " + Size(m.decoderHeap) +
                ", in the C runtime's heap";
    return text;
}

std::string BackgroundWords(const Inspection& in) {
    const Background& b = in.background;
    std::string text =
        "with \"backgroundLoad\" 1, frame 0 shows " + Ms(b.firstFrameMs) +
        " after the command (wall time) and the host's thread never decodes; " + "the load holds " +
        Size(b.heldBytes) + " (file, " +
        (b.storedFrames == in.frames ? "every frame"
                                     : "a ring of " + Count(b.storedFrames, "frame", "frames") +
                                           " within \"frameCacheMB\"") +
        (in.format == Format::Webp ? ", libwebp's two canvases" : ", decoder canvas") +
        ") beside a texture of " + Size(in.memory.texture);
    if (b.workerFirstMs >= 0.0)
        text += "; its worker takes " + Ms(b.workerFirstMs) + " of CPU time for the first pass" +
                (b.storedFrames == in.frames
                     ? " and none after it"
                     : " and " + Ms(b.workerPassMs) + " for every pass after it");
    if (b.playedSeconds > 0.0)
        text += "; played at " + Plain(in.host.fps) + " fps for " + Seconds(b.playedSeconds) +
                ", " + Count(b.lateFrames, "frame came", "frames came") + " late.";
    else
        text += "; not played in real time.";
    return text;
}

std::string HostWords(const Inspection& in) {
    const AtHostRate& h = in.host;
    const std::string budget = Printf("%.1f", h.frameMs) + kTie + "ms";
    std::string text = budget + " a frame, from the module's time alone. ";
    text += h.droppedAtStart == 0 ? "Starting drops no frame (the load takes " + Ms(in.loadMs) + ")"
                                  : "Starting drops " + Count(h.droppedAtStart, "frame", "frames") +
                                        " (the load takes " + Ms(in.loadMs) + " in one host frame)";
    if (in.state != "animated" || h.hostFrames == 0)
        return text + ".";
    text += "; the first pass, which decodes each frame as it first shows (" +
            Seconds(static_cast<double>(h.hostFrames) / h.fps) + ", " +
            Count(h.hostFrames, "host frame", "host frames") + "), ";
    if (h.droppedInFirstPass == 0)
        text += "drops none; its worst host frame takes " + Ms(h.worstMs) + ".";
    else
        text += "drops " + std::to_string(h.droppedInFirstPass) +
                " more: " + std::to_string(h.overBudget) + " of its host frames " +
                (h.overBudget == 1 ? "goes" : "go") + " over " + budget + ", the worst takes " +
                Ms(h.worstMs) + ".";
    if (h.hostFrames > h.passHostFrames)
        text +=
            " At this rate decoding outlasts a pass: frames passed over in one pass are "
            "decoded when a later one lands on them.";
    if (h.stillDecoding)
        text += " It still decodes when the simulation stops, after " +
                Count(h.hostFrames, "host frame", "host frames") + ".";
    if (h.shortFrames) {
        text += " " + Count(h.shortFrames, "frame is", "frames are") +
                " shorter than a host frame: playback passes over " +
                (h.shortFrames == 1 ? "it" : "them") + " at times";
        if (h.uncached)
            text += " (" + std::to_string(h.uncached) + " never showed in that time)";
        text += ".";
    }
    return text;
}

std::string TimesWords(const Inspection& in) {
    std::string text = std::string(in.clock) + " of each call, measured once on this machine";
    if (!kReleaseBuild)
        text +=
            "; a debug build, several times slower than a release build "
            "(build/native-release/bin/fxinspect)";
    return text;
}

void Untie(std::string& text) {
    for (char& c : text)
        if (c == kTie)
            c = ' ';
}

// Whether a line may break at the space at `at`: never between a figure and its unit, nor inside
// "640 x 480".
bool CanBreakAt(const std::string& text, size_t at) {
    static const char* const kUnits[] = {"ms", "s",     "cs",   "KB", "MB",
                                         "GB", "bytes", "byte", "x",  "fps"};
    size_t end = text.find_first_of(" ,.;:)", at + 1);
    const std::string next = text.substr(at + 1, end == std::string::npos ? end : end - at - 1);
    for (const char* unit : kUnits)
        if (next == unit)
            return false;
    return !(at >= 2 && text.compare(at - 2, 2, " x") == 0);
}

// `text` wrapped at spaces to the report's width, its first line after `first`, the others after
// `rest`.
void Wrap(std::string& out, const std::string& first, const std::string& rest,
          const std::string& text) {
    size_t at = 0;
    const std::string* prefix = &first;
    do {
        const size_t room = kWidth - prefix->size();
        size_t end = text.size();
        if (end - at > room) {
            end = text.rfind(' ', at + room);
            while (end != std::string::npos && end > at && !CanBreakAt(text, end))
                end = text.rfind(' ', end - 1);
            if (end == std::string::npos || end <= at)
                end = at + room;
        }
        out += *prefix + text.substr(at, end - at) + "\n";
        prefix = &rest;
        at = end;
        while (at < text.size() && text[at] == ' ')
            ++at;
    } while (at < text.size());
}

// One labelled row, its text wrapped under itself.
void Row(std::string& out, const std::string& label, const std::string& text) {
    std::string first = "  " + label;
    first.resize(kLabelWidth, ' ');
    Wrap(out, first, std::string(kLabelWidth, ' '), text);
}

}  // namespace

std::string TextReport(const Inspection& in) {
    std::string out;
    Wrap(out, "", "", Headline(in));
    if (!in.Shows()) {
        for (const Warning& w : in.warnings)
            Row(out, "warning", w.text);
        for (const LogLine& line : in.log)
            Row(out, "log", (line.kind == "log" ? "" : line.kind + ": ") + line.text);
        Untie(out);
        return out;
    }
    std::string canvas = Canvas(in.width, in.height);
    if (in.header.isGif && (in.header.width != in.width || in.header.height != in.height))
        canvas += " (the file declares " + Canvas(in.header.width, in.header.height) + ")";
    Row(out, "canvas", canvas);
    if (in.state == "animated") {
        Row(out, "frames",
            std::to_string(in.frames) + ", " + DelayRuns(in) + "; a pass takes " +
                Seconds(in.passSeconds));
        Row(out, "loop", LoopWords(in));
    }
    Row(out, "memory", MemoryWords(in));
    Row(out, "load", Ms(in.loadMs) + ", all of it in the host frame that starts the effect");
    if (in.state == "animated") {
        const FrameChanges& f = in.firstPass;
        if (f.count == 1)
            Row(out, "first pass", "1 frame change, which decodes its frame: " + Ms(f.worstMs));
        else if (f.count)
            Row(out, "first pass",
                Count(f.count, "frame change", "frame changes") +
                    ", each decoding its frame: mean " + Ms(f.meanMs) + ", worst " + Ms(f.worstMs) +
                    " (frame " + std::to_string(f.worstFrame) + ")");
        Row(out, "cached",
            in.cached.count ? "a frame change once every frame is cached: " + Ms(in.cached.meanMs) +
                                  " (mean), " + Ms(in.cached.worstMs) + " (worst)"
            : in.loopLimit == 1 ? "never: it plays once, so no frame is shown a second time"
                                : "none measured: no frame decoded in the first pass");
    }
    Row(out, "at " + Plain(in.host.fps) + " fps", HostWords(in));
    if (in.background.measured)
        Row(out, "background", BackgroundWords(in));
    Row(out, "times", TimesWords(in));
    if (in.warnings.empty()) {
        Row(out, "warnings", "none");
    } else {
        out += "  warnings\n";
        for (const Warning& w : in.warnings)
            Row(out, "  -", w.text);
    }
    for (const LogLine& line : in.log)
        Row(out, "log", (line.kind == "log" ? "" : line.kind + ": ") + line.text);
    if (in.shownFromSteps) {
        char text[96];
        std::snprintf(text, sizeof text, "  %-*s%9s  %5s  %s\n", int(kLabelWidth - 2), "steps",
                      "seconds", "frame", "SHA-256 of the texture's pixels");
        out += text;
        for (const Shown& s : in.shown) {
            std::snprintf(text, sizeof text, "%*s%9.3f  %5u  ", int(kLabelWidth), "", s.seconds,
                          s.frame);
            out += text + (s.sha256.empty() ? std::string("(no texture)") : s.sha256) + "\n";
        }
    }
    Untie(out);
    return out;
}

std::string JsonReport(const Inspection& in) {
    using Json = nlohmann::ordered_json;
    const bool animated = in.state == "animated";
    Json j;
    j["state"] = in.state;
    j["width"] = in.width;
    j["height"] = in.height;
    j["frames"] = in.frames;
    j["loopCount"] = animated ? Json(in.loopCount) : Json();
    j["loopLimit"] = animated ? Json(in.loopLimit) : Json();
    j["file"] = {{"path", in.path},
                 {"kind", in.fileKind == FileKind::Missing  ? "missing"
                          : in.fileKind == FileKind::Folder ? "folder"
                                                            : "file"},
                 {"bytes", in.fileBytes}};
    j["format"] = in.format == Format::Gif    ? Json("gif")
                  : in.format == Format::Webp ? Json("webp")
                                              : Json();
    if (in.header.isGif)
        j["declared"] = {{"width", in.header.width},
                         {"height", in.header.height},
                         {"loopExtension", in.header.hasLoopExtension}};
    else if (in.webp.isWebp)
        j["declared"] = {{"width", in.webp.width},
                         {"height", in.webp.height},
                         {"animated", in.webp.animated},
                         {"loopCount", in.webp.animated ? Json(in.webp.loopCount) : Json()},
                         {"alpha", in.webp.alpha},
                         {"complete", in.webp.complete}};
    else
        j["declared"] = Json();
    Json delays = Json::array(), cs = Json::array();
    for (float delay : in.delays)
        delays.push_back(JsonFigure(DelayMs(delay)));
    for (uint32_t delay : in.delaysCs)
        cs.push_back(delay);
    j["delaysMs"] = delays;
    j["delaysCs"] = cs;
    j["durationsMs"] = in.durationsMs;
    j["passMs"] = animated ? JsonFigure(Thousandths(in.passSeconds * 1e3)) : Json();
    j["loop"] = animated ? Json(LoopWords(in)) : Json();
    j["undecodableFrames"] = in.undecodable;
    const Memory& m = in.memory;
    j["memory"] = {{"total", m.total},
                   {"fileBuffer", m.fileBuffer},
                   {"frameStore", m.frameStore},
                   {"decoderCanvas", m.decoderCanvas},
                   {"tables", m.tables},
                   {"texture", m.texture},
                   {"decoderHeap", m.decoderHeap}};
    auto changes = [](const FrameChanges& f) {
        return f.count ? Json{{"count", f.count},
                              {"meanMs", Thousandths(f.meanMs)},
                              {"worstMs", Thousandths(f.worstMs)},
                              {"worstFrame", f.worstFrame}}
                       : Json();
    };
    j["timing"] = {{"clock", in.clock},
                   {"releaseBuild", kReleaseBuild},
                   {"loadMs", Thousandths(in.loadMs)},
                   {"firstPass", changes(in.firstPass)},
                   {"cachedChange", changes(in.cached)}};
    const AtHostRate& h = in.host;
    j["host"] = {{"fps", JsonFigure(h.fps)},
                 {"frameMs", Thousandths(h.frameMs)},
                 {"droppedAtStart", h.droppedAtStart},
                 {"firstPassHostFrames", h.hostFrames},
                 {"firstPassOverBudget", h.overBudget},
                 {"droppedInFirstPass", h.droppedInFirstPass},
                 {"worstHostFrameMs", Thousandths(h.worstMs)},
                 {"uncachedAfterFirstPass", h.uncached},
                 {"framesShorterThanHostFrame", h.shortFrames}};
    const Background& b = in.background;
    auto cpu = [](double ms) { return ms >= 0.0 ? Json(Thousandths(ms)) : Json(); };
    j["background"] =
        b.measured ? Json{{"firstFrameMs", Thousandths(b.firstFrameMs)},
                          {"heldBytes", b.heldBytes},
                          {"storedFrames", b.storedFrames},
                          {"workerFirstPassMs", cpu(b.workerFirstMs)},
                          {"workerPassMs", cpu(b.workerPassMs)},
                          {"playedSeconds", JsonFigure(Thousandths(b.playedSeconds))},
                          {"lateFrames", b.playedSeconds > 0.0 ? Json(b.lateFrames) : Json()}}
                   : Json();
    Json warnings = Json::array();
    for (const Warning& w : in.warnings)
        warnings.push_back({{"kind", w.kind}, {"text", w.text}});
    j["warnings"] = warnings;
    Json log = Json::array();
    for (const LogLine& line : in.log)
        log.push_back({{"kind", line.kind}, {"text", line.text}});
    j["log"] = log;
    Json shown = Json::array();
    for (const Shown& s : in.shown)
        shown.push_back({{"frame", s.frame},
                         {"sha256", s.sha256.empty() ? Json() : Json(s.sha256)},
                         {"seconds", JsonFigure(Thousandths(s.seconds))}});
    j["shown"] = shown;
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace fxinspect
