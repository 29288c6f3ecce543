// The whole-file read, once for every system: open, size, read in chunks with a look at the
// caller's stop request between them, close.
#include <algorithm>
#include <new>

#include "platform/Platform.h"

namespace platform {

namespace {

// A chunk is a few megabytes: a stop request waits for one at most.
constexpr size_t kReadChunk = size_t{4} << 20;

class FileCloser {
public:
    FileCloser(System& system, FileHandle file) : system_(system), file_(file) {}
    ~FileCloser() { system_.CloseFile(file_); }
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;

private:
    System& system_;
    FileHandle file_;
};

}  // namespace

FileRead System::ReadWholeFile(const wchar_t* path, uint64_t maxBytes, std::vector<uint8_t>& bytes,
                               uint64_t& size, const std::function<bool()>& stop) {
    bytes.clear();
    size = 0;
    if (path == nullptr || *path == 0)
        return FileRead::NotOpened;
    uint64_t found = 0;
    FileHandle file = OpenFileForReading(path, found);
    if (file == nullptr)
        return FileRead::NotOpened;
    FileCloser closer(*this, file);
    size = found;
    if (size > maxBytes)
        return FileRead::TooLarge;
    const size_t total = static_cast<size_t>(size);
    if (total != size)
        return FileRead::NoMemory;  // more than this process can address
    try {
        bytes.resize(total);
    } catch (const std::bad_alloc&) {
        return FileRead::NoMemory;
    }
    size_t got = 0;
    while (got < total) {
        if (stop && stop()) {
            bytes.clear();
            return FileRead::Stopped;
        }
        const size_t want = std::min(kReadChunk, total - got);
        const size_t read = ReadFromFile(file, bytes.data() + got, want);
        got += read;
        if (read < want)
            break;
    }
    if (got < total) {
        bytes.resize(got);
        return FileRead::ShortRead;
    }
    return FileRead::Done;
}

}  // namespace platform
