// The background load as a streamer with "backgroundLoad" 1 gets it: how soon frame 0 shows, what
// the load holds, what its worker spends, and whether frames come late at the host's rate.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "Inspection.h"
#include "ThreadClock.h"
#include "image/BitmapImage.h"
#include "standin/Standin.h"

namespace fxinspect {

namespace {

// Real time played at the host's rate: one pass, at least this long and at most ten seconds.
constexpr double kShortestPlay = 0.25;
constexpr double kLongestPlay = 10.0;

// The CPU time of the process's other threads: the worker's, while this one waits.
double WorkerSeconds() {
    return threadclock::ProcessCpuSeconds() - threadclock::ThreadCpuSeconds();
}

bool StartAndSwap(BitmapImage& image, const std::string& path) {
    image.filePath = standin::FromUtf8(path).c_str();
    image.SetBackgroundLoad(true);
    image.Init();
    image.WaitForBackgroundFirstFrame();
    image.SwapInBackgroundLoad();
    return image.Snapshot().isAnimated;
}

// Frame changes of one pass, each waited for, so that the worker decodes what it would in a pass.
void PlayOnePass(BitmapImage& image) {
    const uint32_t frames = image.Snapshot().frameCount;
    for (uint32_t i = 0; i < frames; ++i) {
        const BitmapImage::State state = image.Snapshot();
        const float delay = state.frameDelays[state.currentFrame];
        float seconds = delay - state.frameTime;
        while (!(state.frameTime + seconds > delay))
            seconds = std::nextafter(seconds, HUGE_VALF);
        image.Advance(seconds);
        image.WaitForBackgroundLoad();
    }
}

// The host's frames at their times in wall time, as a host runs them: a frame the worker has not
// decoded by its time is late.
void PlayInRealTime(const Options& options, const std::string& path, Background& out) {
    BitmapImage image;
    if (!StartAndSwap(image, path))
        return;
    double pass = 0.0;
    const BitmapImage::State state = image.Snapshot();
    for (uint32_t i = 0; i < state.frameCount; ++i)
        pass += state.frameDelays[i];
    out.playedSeconds = std::min(std::max(pass, kShortestPlay), kLongestPlay);
    const float seconds = static_cast<float>(1.0 / options.fps);
    const auto start = std::chrono::steady_clock::now();
    const auto frames = static_cast<uint64_t>(std::ceil(out.playedSeconds * options.fps));
    for (uint64_t i = 1; i <= frames; ++i) {
        std::this_thread::sleep_until(start + std::chrono::duration<double>(i / options.fps));
        image.Advance(seconds);
    }
    out.lateFrames = image.Snapshot().lateFrames;
}

}  // namespace

void MeasureBackground(const Options& options, Inspection& out) {
    if (out.state != "animated")
        return;
    Background& bg = out.background;
    BitmapImage image;
    const double worker0 = WorkerSeconds();
    const double wall0 = threadclock::WallSeconds();
    image.filePath = standin::FromUtf8(out.path).c_str();
    image.SetBackgroundLoad(true);
    image.Init();
    image.WaitForBackgroundFirstFrame();
    bg.firstFrameMs = (threadclock::WallSeconds() - wall0) * 1e3;
    image.SwapInBackgroundLoad();
    if (!image.Snapshot().isAnimated)
        return;  // the file changed since the first load
    bg.measured = true;
    PlayOnePass(image);
    const double worker1 = WorkerSeconds();
    PlayOnePass(image);
    const double worker2 = WorkerSeconds();
    if (threadclock::HasProcessClock()) {
        bg.workerFirstMs = (worker1 - worker0) * 1e3;
        bg.workerPassMs = (worker2 - worker1) * 1e3;
    }
    const BitmapImage::State state = image.Snapshot();
    bg.heldBytes = state.streamedBytes;
    bg.storedFrames = state.streamedSlots;
    if (options.realTime)
        PlayInRealTime(options, out.path, bg);
    standin::ClearLog();
}

}  // namespace fxinspect
