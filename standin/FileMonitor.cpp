// File-change watches. Each watch keeps the size and modification time it saw last and reports a
// difference once; a poll is one stat call, so the module may poll every frame. The watch itself
// lives in one MainAllocator block (the path follows the record), so a leaked watch shows up in the
// allocator's counts.
#include "host/FileMonitor.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "host/Alloc.h"
#include "standin/Internal.h"
#include "standin/Standin.h"

struct OSFileChangeData {
    standin::detail::FileStamp seen;
    bool touched;
    size_t pathLength;
    const char* Path() const { return reinterpret_cast<const char*>(this + 1); }
};

namespace {

struct Watches {
    std::mutex mutex;
    std::vector<OSFileChangeData*> live;
    bool pollDisk = true;
};

Watches& State() {
    static Watches* watches = new Watches;  // leaked: watches may end after static destruction
    return *watches;
}

bool SameStamp(const standin::detail::FileStamp& a, const standin::detail::FileStamp& b) {
    return a.exists == b.exists && a.size == b.size && a.modified == b.modified;
}

}  // namespace

OSFileChangeData* OSMonitorFileStart(String path, bool suppressLastWrite) {
    (void)suppressLastWrite;
    if (path.IsEmpty())
        return nullptr;
    std::string resolved = standin::ResolvePath(path.Array());
    void* block = MainAllocator->Allocate(sizeof(OSFileChangeData) + resolved.size() + 1);
    if (!block)
        return nullptr;
    auto* data = new (block) OSFileChangeData;
    data->seen = standin::detail::StampOf(resolved);
    data->touched = false;
    data->pathLength = resolved.size();
    std::memcpy(data + 1, resolved.c_str(), resolved.size() + 1);
    Watches& watches = State();
    std::lock_guard<std::mutex> lock(watches.mutex);
    watches.live.push_back(data);
    return data;
}

bool OSFileHasChanged(OSFileChangeData* data) {
    if (!data)
        return false;
    bool changed = false;
    if (standin::detail::FileWatchesPollDisk()) {
        standin::detail::FileStamp now = standin::detail::StampOf(data->Path());
        changed = !SameStamp(now, data->seen);
        data->seen = now;
    }
    {
        std::lock_guard<std::mutex> lock(State().mutex);
        changed = changed || data->touched;
        data->touched = false;
    }
    return changed;
}

void OSMonitorFileDestroy(OSFileChangeData* data) {
    if (!data)
        return;
    {
        Watches& watches = State();
        std::lock_guard<std::mutex> lock(watches.mutex);
        watches.live.erase(std::remove(watches.live.begin(), watches.live.end(), data),
                           watches.live.end());
    }
    data->~OSFileChangeData();
    MainAllocator->Free(data);
}

namespace standin {

void SetFileWatchesPollDisk(bool poll) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().pollDisk = poll;
}

namespace detail {
bool FileWatchesPollDisk() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().pollDisk;
}
}  // namespace detail

void TouchWatchedFile(const std::string& resolvedPath) {
    Watches& watches = State();
    std::lock_guard<std::mutex> lock(watches.mutex);
    for (OSFileChangeData* data : watches.live)
        if (resolvedPath == data->Path())
            data->touched = true;
}

}  // namespace standin
