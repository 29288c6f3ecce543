// The worker threads, module-wide: one per load, started by the holder, told to end and joined at
// the module's unload. Workers outlive the holders that started them.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "image/WorkerLoad.h"

namespace {

// Workers, module-wide. Plain data: the module keeps no static object that needs a destructor, so
// the lock and the signal are made in static storage once and never destroyed (nor allocated, so
// that nothing is left behind when the module is unloaded).
struct Worker {
    std::thread thread;
    WorkerLoad* load;  // while the worker holds the load; cleared before it lets go
    bool ended;        // it has done its last step: a join waits only for the thread's exit
    Worker* next;
};
Worker* workers = nullptr;   // guarded by EndMutex()
bool workersClosed = false;  // guarded by EndMutex(): the module is being unloaded
std::atomic<uint64_t> runningWorkers{0};
std::atomic<uint64_t> framesDecodedByWorkers{0};
std::atomic<void (*)()> endHookForTests{nullptr};
std::mutex& EndMutex() {
    alignas(std::mutex) static unsigned char storage[sizeof(std::mutex)];
    static std::mutex* mutex = new (storage) std::mutex;
    return *mutex;
}
std::condition_variable& EndSignal() {
    alignas(std::condition_variable) static unsigned char storage[sizeof(std::condition_variable)];
    static std::condition_variable* signal = new (storage) std::condition_variable;
    return *signal;
}

// Takes the workers that have ended out of the list, under EndMutex(); the caller joins them.
Worker* TakeEndedWorkers() {
    Worker* ended = nullptr;
    for (Worker** at = &workers; *at;) {
        Worker* worker = *at;
        if (!worker->ended) {
            at = &worker->next;
            continue;
        }
        *at = worker->next;
        worker->next = ended;
        ended = worker;
    }
    return ended;
}

void JoinAndDelete(Worker* list) {
    while (list) {
        Worker* next = list->next;
        if (list->thread.joinable())
            list->thread.join();
        delete list;
        list = next;
    }
}

// Each new worker joins those that ended before it, on its own thread: the host's thread never
// joins a worker in a frame, and an ended worker's thread does not linger for long.
void JoinEndedWorkers() {
    Worker* ended = nullptr;
    {
        std::lock_guard<std::mutex> lock(EndMutex());
        ended = TakeEndedWorkers();
    }
    JoinAndDelete(ended);
}

}  // namespace

void CountWorkerFrame() {
    framesDecodedByWorkers.fetch_add(1, std::memory_order_relaxed);
}

bool StartWorker(const std::shared_ptr<WorkerLoad>& load) {
    Worker* worker = new (std::nothrow) Worker{std::thread(), load.get(), false, nullptr};
    if (!worker)
        return false;
    std::lock_guard<std::mutex> lock(EndMutex());
    if (workersClosed) {
        delete worker;
        return false;
    }
    try {
        // Made under the lock, so that no one joins the thread before it is in its record.
        worker->thread = std::thread([worker, held = load]() mutable {
            JoinEndedWorkers();
            std::shared_ptr<WorkerLoad> handedOver = held->Run();
            {
                std::lock_guard<std::mutex> lock(EndMutex());
                worker->load = nullptr;
            }
            // The last two references go here, and with them the load's memory.
            handedOver.reset();
            held.reset();
            {
                std::lock_guard<std::mutex> lock(EndMutex());
                worker->ended = true;
                runningWorkers.fetch_sub(1);
                EndSignal().notify_all();
            }
            if (void (*hook)() = endHookForTests.load())
                hook();
        });
    } catch (...) {
        delete worker;
        return false;
    }
    runningWorkers.fetch_add(1);
    worker->next = workers;
    workers = worker;
    return true;
}

bool EndWorkers(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    Worker* ended = nullptr;
    bool all = false;
    {
        std::unique_lock<std::mutex> lock(EndMutex());
        workersClosed = true;
        for (Worker* worker = workers; worker; worker = worker->next)
            if (worker->load)
                worker->load->Abandon();
        all = EndSignal().wait_until(lock, deadline, [] {
            for (Worker* worker = workers; worker; worker = worker->next)
                if (!worker->ended)
                    return false;
            return true;
        });
        ended = TakeEndedWorkers();
    }
    // Each has done its last step; the join waits for its thread to leave the module.
    JoinAndDelete(ended);
    return all;
}

void ReopenWorkers() {
    std::lock_guard<std::mutex> lock(EndMutex());
    workersClosed = false;
}

uint64_t RunningWorkers() {
    return runningWorkers.load();
}

uint64_t WorkerFramesDecoded() {
    return framesDecodedByWorkers.load();
}

void WaitForWorkersToEnd(uint64_t atMost) {
    if (runningWorkers.load() <= atMost)
        return;
    std::unique_lock<std::mutex> lock(EndMutex());
    EndSignal().wait(lock, [atMost] { return runningWorkers.load() <= atMost; });
}

void SetWorkerEndHookForTests(void (*hook)()) {
    endHookForTests.store(hook);
}
