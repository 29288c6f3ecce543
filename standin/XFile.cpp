// Files opened by path for the module. Paths resolve against the base directory.
#include "host/XFile.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

#include "standin/Internal.h"
#include "standin/Standin.h"

namespace {

// The fopen mode for an access and disposition, or null for a combination that makes no sense.
// Every mode is binary; creating modes may also read.
const char* ModeFor(unsigned access, unsigned disposition, bool exists) {
    bool read = access & XFILE_READ;
    bool write = access & XFILE_WRITE;
    if (!read && !write)
        return nullptr;
    switch (disposition) {
        case XFILE_CREATENEW:
            if (exists)
                return nullptr;
            return read ? "w+b" : "wb";
        case XFILE_CREATEALWAYS:
            return read ? "w+b" : "wb";
        case XFILE_OPENEXISTING:
            if (!exists)
                return nullptr;
            return write ? "r+b" : "rb";
        case XFILE_OPENALWAYS:
            if (exists)
                return write ? "r+b" : "rb";
            return read ? "w+b" : "wb";
        default:
            return nullptr;
    }
}

std::mutex& HookMutex() {
    static std::mutex* mutex = new std::mutex;  // leaked: used until the process ends
    return *mutex;
}

std::function<void()>& NextFileSizeAction() {
    static auto* action = new std::function<void()>;
    return *action;
}

standin::FileReadListener& ReadListener() {
    static auto* listener = new standin::FileReadListener;
    return *listener;
}

}  // namespace

namespace standin::detail {

void ReportFileRead(const std::string& resolvedPath) {
    FileReadListener listener;
    {
        std::lock_guard<std::mutex> lock(HookMutex());
        listener = ReadListener();
    }
    if (listener)
        listener(resolvedPath);
}

}  // namespace standin::detail

namespace standin {

void OnNextFileSize(std::function<void()> action) {
    std::lock_guard<std::mutex> lock(HookMutex());
    NextFileSizeAction() = std::move(action);
}

void SetFileReadListener(FileReadListener listener) {
    std::lock_guard<std::mutex> lock(HookMutex());
    ReadListener() = std::move(listener);
}

}  // namespace standin

XFile::XFile() : file_(nullptr) {}

XFile::~XFile() {
    Close();
}

bool XFile::Open(const wchar_t* path, unsigned access, unsigned disposition) {
    Close();
    std::string resolved = standin::ResolvePath(path);
    if (resolved.empty())
        return false;
    standin::detail::FileStamp stamp = standin::detail::StampOf(resolved);
    if (stamp.exists && !stamp.isRegular)
        return false;  // a folder, a device
    const char* mode = ModeFor(access, disposition, stamp.exists);
    if (!mode)
        return false;
    file_ = standin::detail::OpenFile(resolved, mode);
    if (file_ && (access & XFILE_READ))
        standin::detail::ReportFileRead(resolved);
    return file_ != nullptr;
}

uint64_t XFile::GetFileSize() const {
    if (!file_)
        return 0;
    FILE* file = static_cast<FILE*>(file_);
    std::fflush(file);
#ifdef _WIN32
    struct _stat64 status;
    if (_fstat64(_fileno(file), &status) != 0)
        return 0;
#else
    struct stat status;
    if (fstat(fileno(file), &status) != 0)
        return 0;
#endif
    std::function<void()> action;
    {
        std::lock_guard<std::mutex> lock(HookMutex());
        action.swap(NextFileSizeAction());
    }
    if (action)
        action();
    return status.st_size < 0 ? 0 : static_cast<uint64_t>(status.st_size);
}

unsigned XFile::Read(void* buffer, unsigned size) {
    if (!file_ || !buffer || size == 0)
        return 0;
    return static_cast<unsigned>(std::fread(buffer, 1, size, static_cast<FILE*>(file_)));
}

void XFile::Close() {
    if (file_)
        std::fclose(static_cast<FILE*>(file_));
    file_ = nullptr;
}
