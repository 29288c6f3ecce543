#pragma once

// The simulated desktop's state, shared by the files that implement SimSystem (SimPlatform.cpp:
// blocks, windows, launches and the rest; SimFiles.cpp: the file system). Not for other users.
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/SimPlatform.h"

namespace platform {

namespace sim {

// Windows error codes the simulation reports besides the ones the module knows.
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorInvalidAddress = 487;
constexpr uint32_t kErrorInvalidWindowHandle = 1400;
constexpr uint32_t kErrorTimeout = 1460;

constexpr intptr_t kDefaultLaunchResult = 42;
constexpr uint32_t kDefaultProcessId = 4242;
// A fixed default keeps tests that never set the clock repeatable (2023-11-14).
constexpr int64_t kDefaultCalendarSeconds = 1700000000;

std::wstring ProcessWorkingDirectory();

}  // namespace sim

// A named (or anonymous) block of memory. Its bytes never move or change size, so every view
// stays valid while it is mapped, even after the last handle has been closed.
struct SimBlock {
    std::wstring name;  // empty for an anonymous block
    std::vector<uint8_t> bytes;
    bool heldByOther = false;
};

struct SimWindow {
    std::wstring title;
    bool alive = true;
    bool hung = false;
    std::vector<SimMessage> messages;
};

struct SimSystem::State {
    mutable std::mutex mutex;
    uint32_t lastError = 0;

    // The named blocks that exist; a block leaves this table when nothing holds it any more.
    std::map<std::wstring, std::shared_ptr<SimBlock>> named;
    // Open mapping handles and mapped views, each holding its block.
    std::map<MappingHandle, std::shared_ptr<SimBlock>> handles;
    struct View {
        std::shared_ptr<SimBlock> block;
        int count = 0;  // views of one block share its address
    };
    std::map<void*, View> views;
    uintptr_t nextHandle = 0x100;
    uint32_t mappingFailure = 0;
    uint32_t viewFailure = 0;

    std::map<WindowHandle, SimWindow> windows;
    uintptr_t nextWindow = 0x10000;
    bool closeAfterNextLookup = false;
    MessageHandler messageHandler;

    std::vector<SimLaunch> launches;
    intptr_t launchResult = sim::kDefaultLaunchResult;
    uint32_t launchError = 0;
    std::function<void(const SimLaunch&)> launchHandler;

    uint32_t processId = sim::kDefaultProcessId;
    int64_t calendarSeconds = sim::kDefaultCalendarSeconds;
    bool guidFails = false;
    uint64_t guidSeed = 0;
    uint64_t guidCounter = 0;

    std::vector<std::wstring> stdoutLines;
    std::wstring stdoutPartial;
    bool stdoutEcho = false;
    std::wstring workingDirectory = sim::ProcessWorkingDirectory();

    bool readsHeld = false;
    std::condition_variable readsReleased;

    // The block leaves the name table once no handle, view or other program holds it; a later
    // CreateOrOpenMapping then makes a new one.
    void ForgetIfUnused(const std::shared_ptr<SimBlock>& block) {
        if (block->name.empty() || block->heldByOther) {
            return;
        }
        for (const auto& handle : handles) {
            if (handle.second == block) {
                return;
            }
        }
        for (const auto& view : views) {
            if (view.second.block == block) {
                return;
            }
        }
        auto it = named.find(block->name);
        if (it != named.end() && it->second == block) {
            named.erase(it);
        }
    }

    std::shared_ptr<SimBlock> FindBlock(const std::wstring& name) const {
        auto it = named.find(name);
        return it == named.end() ? nullptr : it->second;
    }

    void Restart() {
        lastError = 0;
        named.clear();
        handles.clear();
        views.clear();
        mappingFailure = 0;
        viewFailure = 0;
        windows.clear();
        closeAfterNextLookup = false;
        messageHandler = nullptr;
        launches.clear();
        launchResult = sim::kDefaultLaunchResult;
        launchError = 0;
        launchHandler = nullptr;
        processId = sim::kDefaultProcessId;
        calendarSeconds = sim::kDefaultCalendarSeconds;
        guidFails = false;
        stdoutLines.clear();
        stdoutPartial.clear();
        stdoutEcho = false;
        workingDirectory = sim::ProcessWorkingDirectory();
        readsHeld = false;
        readsReleased.notify_all();
    }
};

}  // namespace platform
