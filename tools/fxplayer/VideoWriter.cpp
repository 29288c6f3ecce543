#include "VideoWriter.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "Files.h"

#if defined(FXPLAYER_WITH_FFMPEG)
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}
#endif

#if defined(_WIN32)
#include <process.h>
#define FXPLAYER_GETPID _getpid
#else
#include <unistd.h>
#define FXPLAYER_GETPID getpid
#endif

namespace fxplayer {

namespace fs = std::filesystem;

namespace {

// The output folder as OutputFolder names it: absolute, normal, without a trailing separator.
fs::path OutputTarget(const std::string& out) {
    std::error_code ec;
    fs::path folder = fs::absolute(PathFromUtf8(out), ec).lexically_normal();
    if (folder.filename().empty())
        folder = folder.parent_path();
    return folder;
}

// `path` relative to `folder` when it lies inside it; empty otherwise.
fs::path InsideOf(const fs::path& path, const fs::path& folder) {
    fs::path relative = path.lexically_relative(folder);
    if (relative.empty() || relative == "." || *relative.begin() == "..")
        return fs::path();
    return relative;
}

fs::path AbsoluteNormal(const std::string& path) {
    std::error_code ec;
    return fs::absolute(PathFromUtf8(path), ec).lexically_normal();
}

}  // namespace

void VideoSize(const Options& options, unsigned& width, unsigned& height) {
    if (options.videoWidth != 0) {
        width = options.videoWidth;
        height = options.videoHeight;
        return;
    }
    width = options.canvasWidth < 2 ? 2 : options.canvasWidth & ~1u;
    height = options.canvasHeight < 2 ? 2 : options.canvasHeight & ~1u;
}

bool CheckVideoOptions(const Options& options, std::string& error) {
    if (options.video.empty())
        return true;
    if (!VideoAvailable()) {
        error = "--video needs FFmpeg's libraries, which this build of fxplayer does not have";
        return false;
    }
    std::string extension = PathToUtf8(PathFromUtf8(options.video).extension());
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension != ".mp4") {
        error = "--video writes MP4: give a file name ending in .mp4, not '" + options.video + "'";
        return false;
    }
    fs::path video = AbsoluteNormal(options.video);
    fs::path target = OutputTarget(options.out);
    if (video == target) {
        error = "--video names the output folder " + options.out;
        return false;
    }
    if (!InsideOf(video, target).empty())
        return true;
    std::error_code ec;
    if (fs::is_directory(video, ec)) {
        error = "cannot write the video " + options.video + ": it is a folder";
        return false;
    }
    if (!fs::is_directory(video.parent_path(), ec)) {
        error = "cannot write the video " + options.video + ": its folder does not exist";
        return false;
    }
    return true;
}

VideoPreview::~VideoPreview() {
    Stop();
    if (!staging_.empty() && !placed_) {
        writer_.Discard();
        std::error_code ec;
        fs::remove(PathFromUtf8(staging_), ec);
    }
}

bool VideoPreview::Begin(const Options& options, const OutputFolder& output, std::string& error) {
    if (options.video.empty())
        return true;
    fs::path video = AbsoluteNormal(options.video);
    fs::path inside = InsideOf(video, PathFromUtf8(output.Target()));
    std::string path;
    if (!inside.empty()) {
        path = output.Path(PathToUtf8(inside));
        std::error_code ec;
        fs::create_directories(PathFromUtf8(path).parent_path(), ec);
    } else {
        fs::path hidden = video.parent_path() / ("." + PathToUtf8(video.filename()) + ".partial-" +
                                                 std::to_string(FXPLAYER_GETPID()));
        staging_ = path = PathToUtf8(hidden);
    }
    unsigned width = 0, height = 0;
    VideoSize(options, width, height);
    if (!writer_.Open(path, options.canvasWidth, options.canvasHeight, width, height, options.fps,
                      error))
        return false;
    target_ = PathToUtf8(video);
    const size_t frameBytes = static_cast<size_t>(options.canvasWidth) * options.canvasHeight * 4;
    for (auto& buffer : buffers_)
        buffer.resize(frameBytes);
    for (size_t i = 0; i < kBuffers; ++i)
        free_.push_back(i);
    worker_ = std::thread([this] { Encode(); });
    return true;
}

bool VideoPreview::Frame(const std::vector<uint8_t>& canvas, std::string& error) {
    if (!Active())
        return true;
    if (canvas.size() != buffers_[0].size()) {
        error = "the canvas is not the size the video was started with";
        return false;
    }
    size_t slot = 0;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !free_.empty() || failed_; });
        if (failed_) {
            error = workerError_;
            return false;
        }
        slot = free_.front();
        free_.pop_front();
    }
    std::vector<uint8_t>& buffer = buffers_[slot];
    std::copy(canvas.begin(), canvas.end(), buffer.begin());
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queued_.push_back(slot);
    }
    changed_.notify_all();
    return true;
}

void VideoPreview::Encode() {
    for (;;) {
        size_t slot = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return !queued_.empty() || stopping_; });
            if (queued_.empty())
                return;
            slot = queued_.front();
            queued_.pop_front();
        }
        std::string error;
        // After a failure the frames are let go unwritten; the run stops at its next frame.
        bool wrote = failed_ || writer_.Write(buffers_[slot].data(), error);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!wrote && !failed_) {
                failed_ = true;
                workerError_ = error;
            }
            free_.push_back(slot);
        }
        changed_.notify_all();
    }
}

void VideoPreview::Stop() {
    if (!worker_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

bool VideoPreview::Finish(std::string& error) {
    if (!Active())
        return true;
    Stop();
    if (failed_) {
        error = workerError_;
        return false;
    }
    return writer_.Close(error);
}

bool VideoPreview::Place(std::string& error) {
    if (!Active() || staging_.empty())
        return true;
    std::error_code ec;
    fs::rename(PathFromUtf8(staging_), PathFromUtf8(target_), ec);
    if (ec) {
        error = "cannot put the video in place at " + target_ + ": " + ec.message();
        return false;
    }
    placed_ = true;
    return true;
}

#if defined(FXPLAYER_WITH_FFMPEG)

namespace {

// FFmpeg's own error lines, kept so that a failure can say what the library said; it prints
// nothing itself, so standard error keeps to one line.
std::mutex logMutex;
std::string lastLibraryError;

void KeepErrors(void* context, int level, const char* format, va_list args) {
    if (level > AV_LOG_ERROR)
        return;
    char line[512];
    int prefix = 1;
    av_log_format_line(context, level, format, args, line, sizeof line, &prefix);
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    std::lock_guard<std::mutex> lock(logMutex);
    lastLibraryError = text;
}

std::string Reason(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof text);
    std::string reason = text;
    std::lock_guard<std::mutex> lock(logMutex);
    if (!lastLibraryError.empty())
        reason += " (" + lastLibraryError + ")";
    lastLibraryError.clear();
    return reason;
}

}  // namespace

bool VideoAvailable() {
    return true;
}

struct VideoWriter::Encoder {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* scaler = nullptr;
    unsigned frameWidth = 0, frameHeight = 0;
    std::string path;
    long long frames = 0;
    bool closed = false;

    ~Encoder() {
        sws_freeContext(scaler);
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&codec);
        if (format) {
            if (format->pb)
                avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }

    // Moves every packet the encoder has ready into the file.
    bool Drain(std::string& error) {
        for (;;) {
            int got = avcodec_receive_packet(codec, packet);
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
                return true;
            if (got < 0) {
                error = "cannot encode the video " + path + ": " + Reason(got);
                return false;
            }
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            int wrote = av_interleaved_write_frame(format, packet);
            if (wrote < 0) {
                error = "cannot write the video " + path + ": " + Reason(wrote);
                return false;
            }
        }
    }
};

VideoWriter::VideoWriter() = default;

VideoWriter::~VideoWriter() = default;

void VideoWriter::Discard() {
    encoder_.reset();
}

bool VideoWriter::Open(const std::string& path, unsigned frameWidth, unsigned frameHeight,
                       unsigned videoWidth, unsigned videoHeight, int fps, std::string& error) {
    av_log_set_callback(&KeepErrors);
    encoder_ = std::make_unique<Encoder>();
    Encoder& e = *encoder_;
    e.path = path;
    e.frameWidth = frameWidth;
    e.frameHeight = frameHeight;
    auto fail = [&](const std::string& what, int code) {
        error = what + " " + path + ": " + Reason(code);
        encoder_.reset();
        return false;
    };

    int status = avformat_alloc_output_context2(&e.format, nullptr, "mp4", path.c_str());
    if (status < 0 || !e.format)
        return fail("cannot start the video", status);
    const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
    if (!h264) {
        error = "cannot write the video " + path + ": FFmpeg here has no H.264 encoder (libx264)";
        encoder_.reset();
        return false;
    }
    e.stream = avformat_new_stream(e.format, nullptr);
    e.codec = avcodec_alloc_context3(h264);
    e.frame = av_frame_alloc();
    e.packet = av_packet_alloc();
    if (!e.stream || !e.codec || !e.frame || !e.packet)
        return fail("cannot start the video", AVERROR(ENOMEM));

    AVCodecContext* c = e.codec;
    c->width = static_cast<int>(videoWidth);
    c->height = static_cast<int>(videoHeight);
    c->time_base = AVRational{1, fps};
    c->framerate = AVRational{fps, 1};
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    // A keyframe at least every two seconds, so scrubbing lands quickly.
    c->gop_size = 2 * fps;
    // HD colours, said in the file so that players convert them back as they were made.
    c->colorspace = AVCOL_SPC_BT709;
    c->color_primaries = AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_BT709;
    c->color_range = AVCOL_RANGE_MPEG;
    if (e.format->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* codecOptions = nullptr;
    // A preview, not an archive: fast enough that a demo's encoding barely shows.
    av_dict_set(&codecOptions, "preset", "veryfast", 0);
    av_dict_set(&codecOptions, "crf", "23", 0);
    status = avcodec_open2(c, h264, &codecOptions);
    av_dict_free(&codecOptions);
    if (status < 0)
        return fail("cannot start the H.264 encoder for", status);
    status = avcodec_parameters_from_context(e.stream->codecpar, c);
    if (status < 0)
        return fail("cannot start the video", status);
    e.stream->time_base = c->time_base;
    e.stream->avg_frame_rate = c->framerate;

    status = avio_open(&e.format->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (status < 0)
        return fail("cannot write the video", status);
    AVDictionary* muxOptions = nullptr;
    // The index at the front, so that a player can start and seek before it has the whole file.
    av_dict_set(&muxOptions, "movflags", "+faststart", 0);
    status = avformat_write_header(e.format, &muxOptions);
    av_dict_free(&muxOptions);
    if (status < 0)
        return fail("cannot write the video", status);

    e.frame->format = c->pix_fmt;
    e.frame->width = c->width;
    e.frame->height = c->height;
    status = av_frame_get_buffer(e.frame, 0);
    if (status < 0)
        return fail("cannot start the video", status);
    const int flags =
        videoWidth < frameWidth || videoHeight < frameHeight ? SWS_AREA : SWS_BILINEAR;
    e.scaler =
        sws_getContext(static_cast<int>(frameWidth), static_cast<int>(frameHeight), AV_PIX_FMT_RGBA,
                       c->width, c->height, c->pix_fmt, flags, nullptr, nullptr, nullptr);
    if (!e.scaler)
        return fail("cannot scale frames for the video", AVERROR(EINVAL));
    // Full-range RGB in, limited-range BT.709 out, as the stream says.
    sws_setColorspaceDetails(e.scaler, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                             sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16);
    return true;
}

bool VideoWriter::Write(const uint8_t* rgba, std::string& error) {
    if (!encoder_ || encoder_->closed) {
        error = "the video is not open";
        return false;
    }
    Encoder& e = *encoder_;
    int status = av_frame_make_writable(e.frame);
    if (status < 0) {
        error = "cannot encode the video " + e.path + ": " + Reason(status);
        return false;
    }
    const uint8_t* planes[1] = {rgba};
    const int strides[1] = {static_cast<int>(e.frameWidth * 4)};
    sws_scale(e.scaler, planes, strides, 0, static_cast<int>(e.frameHeight), e.frame->data,
              e.frame->linesize);
    e.frame->pts = e.frames++;
    status = avcodec_send_frame(e.codec, e.frame);
    if (status < 0) {
        error = "cannot encode the video " + e.path + ": " + Reason(status);
        return false;
    }
    return e.Drain(error);
}

bool VideoWriter::Close(std::string& error) {
    if (!encoder_ || encoder_->closed)
        return true;
    Encoder& e = *encoder_;
    e.closed = true;
    int status = avcodec_send_frame(e.codec, nullptr);
    if (status < 0) {
        error = "cannot finish the video " + e.path + ": " + Reason(status);
        return false;
    }
    if (!e.Drain(error))
        return false;
    status = av_write_trailer(e.format);
    if (status < 0) {
        error = "cannot finish the video " + e.path + ": " + Reason(status);
        return false;
    }
    status = avio_closep(&e.format->pb);
    if (status < 0) {
        error = "cannot finish the video " + e.path + ": " + Reason(status);
        return false;
    }
    return true;
}

#else

bool VideoAvailable() {
    return false;
}

// Without FFmpeg there is no encoder: CheckVideoOptions refuses --video before a run starts.
struct VideoWriter::Encoder {};

VideoWriter::VideoWriter() = default;

VideoWriter::~VideoWriter() = default;

void VideoWriter::Discard() {
    encoder_.reset();
}

bool VideoWriter::Open(const std::string&, unsigned, unsigned, unsigned, unsigned, int,
                       std::string& error) {
    error = "--video needs FFmpeg's libraries, which this build of fxplayer does not have";
    return false;
}

bool VideoWriter::Write(const uint8_t*, std::string& error) {
    error = "the video is not open";
    return false;
}

bool VideoWriter::Close(std::string&) {
    return true;
}

#endif

}  // namespace fxplayer
