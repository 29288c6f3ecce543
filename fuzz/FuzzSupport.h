#pragma once

// What the fuzz targets share: one stand-in host and simulated desktop set up once, a fresh state
// for every input, a folder for the files an input needs, a reader that turns the fuzzer's bytes
// into choices, and checks that stop the run (so that libFuzzer keeps the input) when the module
// leaves something inconsistent behind.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class BitmapImage;

namespace fuzzsupport {

// The most any single allocation of the module may take during a fuzz run. A few hundred bytes of
// GIF can describe a frame store of gigabytes; a host that cannot give that much is what the
// module must survive, and the fuzzer must not spend its time clearing such blocks.
constexpr size_t kAllocationLimit = 32u << 20;

// Installs the stand-in host and the simulated desktop (once per process), then gives the input a
// fresh host, desktop and module state, with allocations above kAllocationLimit refused.
void BeginInput();

// Stops the process with a message: libFuzzer and the replay program both report it as a crash.
[[noreturn]] void Fail(const char* what, const char* file, int line);
#define FUZZ_CHECK(condition)                                    \
    do {                                                         \
        if (!(condition))                                        \
            ::fuzzsupport::Fail(#condition, __FILE__, __LINE__); \
    } while (0)

// The module's blocks and the host's textures and shaders now alive, to compare with once the
// objects an input made are gone.
struct Baseline {
    size_t liveBlocks;
    size_t liveTextures;
    size_t liveShaders;
};
Baseline TakeBaseline();
// Fails unless the allocator, textures and shaders are back at `baseline`.
void CheckBackAt(const Baseline& baseline);

// Fails unless the holder is in one of its three sound states (placeholder, still, animated) with
// every playback index in range and every cached frame where it belongs.
void CheckImage(const BitmapImage& image);

// This process's own folder for files, removed when the process exits. Forward slashes.
const std::string& WorkDir();
// Writes `bytes` to WorkDir()/name and returns the full path.
std::string WriteWorkFile(const std::string& name, const void* bytes, size_t size);
std::string WriteWorkFile(const std::string& name, const std::vector<unsigned char>& bytes);

// The fuzzer's bytes read as a stream of choices; once they run out every read gives 0.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t Word() {
        uint16_t low = Byte();
        return static_cast<uint16_t>(low | (Byte() << 8));
    }
    // One of `count` choices (count > 0).
    size_t Pick(size_t count) { return Byte() % count; }
    bool Flag() { return (Byte() & 1) != 0; }
    // Up to `max` of the remaining bytes.
    std::vector<uint8_t> Bytes(size_t max) {
        size_t n = size_ - (at_ < size_ ? at_ : size_);
        if (n > max)
            n = max;
        std::vector<uint8_t> out(data_ + at_, data_ + at_ + n);
        at_ += n;
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace fuzzsupport
