// The simulated desktop's files are the real file system's, reached through the C runtime (POSIX
// paths, "\\" taken as a separator as on Windows), with reads that a test may hold back.
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "platform/SimState.h"
#include "platform/SimText.h"

namespace platform {

using namespace sim;

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePointer = std::unique_ptr<std::FILE, FileCloser>;

// Opens a regular file for reading and gives its size; null for anything else.
FilePointer OpenRegularFile(const wchar_t* path, uint64_t& size) {
#if defined(_WIN32)
    FilePointer file(_wfopen(path, L"rb"));
    struct _stat64 status;
    if (!file || _fstat64(_fileno(file.get()), &status) != 0 || (status.st_mode & _S_IFREG) == 0) {
        return nullptr;
    }
#else
    std::string narrow = ToUtf8(path);
    std::replace(narrow.begin(), narrow.end(), '\\', '/');
    FilePointer file(std::fopen(narrow.c_str(), "rb"));
    struct stat status;
    if (!file || fstat(fileno(file.get()), &status) != 0 || !S_ISREG(status.st_mode)) {
        return nullptr;
    }
#endif
    size = status.st_size < 0 ? 0 : static_cast<uint64_t>(status.st_size);
    return file;
}

}  // namespace

FileHandle SimSystem::OpenFileForReading(const wchar_t* path, uint64_t& size) {
    size = 0;
    {
        std::unique_lock<std::mutex> lock(state_->mutex);
        state_->readsReleased.wait(lock, [this] { return !state_->readsHeld; });
    }
    if (path == nullptr || *path == 0)
        return nullptr;
    return OpenRegularFile(path, size).release();
}

size_t SimSystem::ReadFromFile(FileHandle file, uint8_t* out, size_t count) {
    return std::fread(out, 1, count, static_cast<std::FILE*>(file));
}

void SimSystem::CloseFile(FileHandle file) {
    std::fclose(static_cast<std::FILE*>(file));
}

void SimSystem::HoldFileReads(bool hold) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->readsHeld = hold;
    if (!hold) {
        state_->readsReleased.notify_all();
    }
}

}  // namespace platform
