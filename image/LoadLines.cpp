#include "image/LoadLines.h"

#include "host/Host.h"
#include "image/webp/WebpDecoder.h"
#include "log/ModuleLog.h"

namespace {

// Writes at once, on the host's thread.
struct WriteNow {
    template <LogText text, class... Args>
    void Put(Args... args) {
        WriteLog<text>(args...);
    }
};

// Keeps the text, on a worker.
struct Keep {
    KeptLogLine kept;
    template <LogText text, class... Args>
    void Put(Args... args) {
        kept = {LogEntryOf(text).channel == LogChannel::AppWarning, LogLineText<text>(args...)};
    }
};

// `gif`'s line for a GIF, `webp`'s for a WebP.
template <LogText gif, LogText webp, class Sink, class... Args>
void PutFor(Sink& sink, EffectFormat format, Args... args) {
    if (format == EffectFormat::Webp)
        sink.template Put<webp>(args...);
    else
        sink.template Put<gif>(args...);
}

// The one place where a load's failure becomes its line.
template <class Sink>
void Put(Sink& sink, const LoadLine& line) {
    const EffectFormat format = line.format;
    const wchar_t* path = line.path;
    // Every count the load reports is below 2^32: the file's size within kMaxEffectFileBytes, the
    // store within the scan's 2^32-byte check, a canvas side within kMaxCanvasSide.
    const auto count = static_cast<unsigned>(line.count);
    const auto bytes = static_cast<unsigned>(line.bytes);
    switch (line.failure) {
        case LoadFailure::NotOpened:
            PutFor<LogText::GifNotOpened, LogText::WebpNotOpened>(sink, format, path);
            return;
        case LoadFailure::FileTooLarge:
            PutFor<LogText::GifFileTooLarge, LogText::WebpFileTooLarge>(sink, format, path,
                                                                        line.bytes);
            return;
        case LoadFailure::NoMemoryToRead:
            PutFor<LogText::GifNoMemoryToRead, LogText::WebpNoMemoryToRead>(sink, format, path,
                                                                            bytes);
            return;
        case LoadFailure::ShortRead:
            PutFor<LogText::GifShortRead, LogText::WebpShortRead>(sink, format, count, bytes, path);
            return;
        case LoadFailure::Corrupt:
            PutFor<LogText::GifCorrupt, LogText::WebpCorrupt>(sink, format, path);
            return;
        case LoadFailure::BadDimensions:
            // One line for both formats: it names neither.
            sink.template Put<LogText::GifBadDimensions>(static_cast<int>(line.count),
                                                         static_cast<int>(line.bytes), path);
            return;
        case LoadFailure::Overflow:
            PutFor<LogText::GifOverflow, LogText::WebpOverflow>(sink, format, path, line.bytes,
                                                                count);
            return;
        case LoadFailure::TooManyFrames:
            sink.template Put<LogText::WebpTooManyFrames>(path, count, kMaxWebpFrames);
            return;
        case LoadFailure::NoTexture:
            PutFor<LogText::GifNoTexture, LogText::WebpNoTexture>(sink, format, path);
            return;
        case LoadFailure::NoMemoryForFrameTable:
            PutFor<LogText::GifNoMemoryForFrameTable, LogText::WebpNoMemoryForFrameTable>(
                sink, format, path);
            return;
        case LoadFailure::NoMemoryForFrames:
            PutFor<LogText::GifNoMemoryForFrames, LogText::WebpNoMemoryForFrames>(
                sink, format, count, path, bytes);
            return;
        case LoadFailure::NoMemoryForDelays:
            PutFor<LogText::GifNoMemoryForDelays, LogText::WebpNoMemoryForDelays>(sink, format,
                                                                                  path);
            return;
        case LoadFailure::FrameNotDecoded:
            // One line for both formats, as for the dimensions.
            sink.template Put<LogText::GifFrameNotDecoded>(static_cast<int>(line.count), path);
            return;
        case LoadFailure::NoMemoryToLoad:
            PutFor<LogText::GifNoMemoryToLoad, LogText::WebpNoMemoryToLoad>(sink, format, path);
            return;
    }
}

}  // namespace

void WriteLoadLine(const LoadLine& line) {
    WriteNow sink;
    Put(sink, line);
}

KeptLogLine KeepLoadLine(const LoadLine& line) {
    Keep sink;
    Put(sink, line);
    return std::move(sink.kept);
}

void WriteKeptLine(const KeptLogLine& line) {
    if (line.warning)
        AppWarning(L"%s", line.text.c_str());
    else
        Log(L"%s", line.text.c_str());
}
