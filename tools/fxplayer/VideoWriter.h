#pragma once

// The video preview: every frame of a run, at the run's rate, as H.264 in MP4 through FFmpeg's
// libraries, so that a person can play and scrub what the module did. A build without FFmpeg (the
// Windows build) refuses --video when the run is planned.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Options.h"
#include "OutputFolder.h"

namespace fxplayer {

// Whether this build can write videos.
bool VideoAvailable();

// Checks --video before anything is written: a build with FFmpeg, a name ending in .mp4, and a
// folder that exists (or lies inside the output folder, which the run makes). False with `error`.
bool CheckVideoOptions(const Options& options, std::string& error);

// The video's size: --video-size, or the canvas's own (an odd side made even, as 4:2:0 needs).
void VideoSize(const Options& options, unsigned& width, unsigned& height);

// Encodes R,G,B,A frames of one size into an MP4 file, scaling them to the video's size.
class VideoWriter {
public:
    VideoWriter();
    ~VideoWriter();
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    bool Open(const std::string& path, unsigned frameWidth, unsigned frameHeight,
              unsigned videoWidth, unsigned videoHeight, int fps, std::string& error);
    // One frame of frameWidth x frameHeight pixels, shown for 1/fps seconds.
    bool Write(const uint8_t* rgba, std::string& error);
    // Drains the encoder and finishes the file.
    bool Close(std::string& error);
    // Lets go of the encoder and the file as they are (the caller removes the file).
    void Discard();

private:
    struct Encoder;
    std::unique_ptr<Encoder> encoder_;
};

// The preview of one run: its writer, and where its file waits until the run has finished well.
// Inside the output folder the file is written in the working folder and arrives with it; anywhere
// else it is written under a hidden name beside its place and moved there at the end, so a failed
// run leaves an earlier video as it was.
class VideoPreview {
public:
    VideoPreview() = default;
    ~VideoPreview();
    VideoPreview(const VideoPreview&) = delete;
    VideoPreview& operator=(const VideoPreview&) = delete;

    // Nothing to do when the options ask for no video.
    bool Begin(const Options& options, const OutputFolder& output, std::string& error);
    bool Frame(const std::vector<uint8_t>& canvas, std::string& error);
    // Before the output folder is committed.
    bool Finish(std::string& error);
    // After it is committed.
    bool Place(std::string& error);

    bool Active() const { return !target_.empty(); }
    const std::string& Target() const { return target_; }

private:
    // The encoder's side: scales, converts and encodes the queued frames in order.
    void Encode();
    // Lets the encoder's side finish the queued frames and end.
    void Stop();

    VideoWriter writer_;
    std::string target_;   // where the video ends up
    std::string staging_;  // where it is written; empty when inside the working folder
    bool placed_ = false;

    // Frames go to the encoder through two buffers, so the run pays for a copy of the canvas
    // and the encoding runs beside it; when the encoder falls behind the run waits for it.
    static constexpr size_t kBuffers = 2;
    std::vector<uint8_t> buffers_[kBuffers];
    std::deque<size_t> free_;    // buffers the run may fill
    std::deque<size_t> queued_;  // buffers waiting for the encoder, in frame order
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    bool failed_ = false;  // the encoder's side failed: workerError_ says how
    std::string workerError_;
    std::thread worker_;
};

}  // namespace fxplayer
