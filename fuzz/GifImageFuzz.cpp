// Any bytes as a GIF effect file: loaded by BitmapImage on the stand-in host, played with frame
// times of every kind (including those the host should never pass), loaded again over itself, and
// destroyed. The holder must stay in a sound state throughout, playback must not log, and every
// block, texture and the decoder's bitmap must be given back.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "fuzz/FuzzSupport.h"
#include "image/BitmapImage.h"
#include "standin/Standin.h"

namespace {

const float kSeconds[] = {0.016f,
                          0.05f,
                          0.05f,
                          0.1f,
                          0.0f,
                          0.25f,
                          1.0f,
                          0.016f,
                          -1.0f,
                          std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::infinity(),
                          7.5f,
                          0.033f,
                          1e9f,
                          0.016f};

void Play(BitmapImage& image, size_t steps) {
    const size_t logged = standin::LogRecords().size();
    for (size_t i = 0; i < steps; ++i) {
        image.Advance(kSeconds[i % (sizeof(kSeconds) / sizeof(kSeconds[0]))]);
        fuzzsupport::CheckImage(image);
    }
    // Playback never logs: the load has already reported every bad frame.
    FUZZ_CHECK(standin::LogRecords().size() == logged);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::BeginInput();
    const std::string path = fuzzsupport::WriteWorkFile("input.gif", data, size);
    const std::wstring widePath = standin::FromUtf8(path);
    const fuzzsupport::Baseline baseline = fuzzsupport::TakeBaseline();
    {
        BitmapImage image;
        image.filePath = widePath.c_str();
        image.Init();
        fuzzsupport::CheckImage(image);
        // A bad file leaves a line or two for the load (what was refused, and the outcome), plus
        // one per bad frame.
        FUZZ_CHECK(standin::LogRecords().size() <= 2 + image.frameCount);
        Play(image, sizeof(kSeconds) / sizeof(kSeconds[0]));

        // Loading over an animation releases everything first.
        standin::ClearLog();
        image.Init();
        fuzzsupport::CheckImage(image);
        Play(image, 4);
    }
    fuzzsupport::CheckBackAt(baseline);
    return 0;
}
