// The console in the simulated desktop (every system but Windows): the module and the player share
// platform::Simulation(), so messages the module sends arrive here as they are sent.
#include <cinttypes>
#include <cstdio>

#include "ConsoleSide.h"
#include "TextCodec.h"
#include "controller/ConsoleProtocol.h"
#include "platform/SimPlatform.h"
#include "standin/Standin.h"

namespace fxplayer {

namespace {

// The real console makes both blocks this large; the module views both at this size.
constexpr uint32_t kConsoleBlockSize = vantrel::kCommandBlockSize;
static_assert(vantrel::kCommandBlockSize == vantrel::kHandshakeViewSize,
              "the console makes both blocks at the size the module views");

class SimulatedConsole : public ConsoleSide {
public:
    explicit SimulatedConsole(Transcript& transcript)
        : transcript_(transcript), startSeconds_(platform::Simulation().CalendarSeconds()) {
        platform::SimSystem& sim = platform::Simulation();
        sim.SetMessageHandler([this](platform::WindowHandle, const platform::SimMessage& message) {
            OnMessage(message);
        });
        sim.SetLaunchHandler([this](const platform::SimLaunch& launch) {
            Collect();
            transcript_.Add("launch", launch.file + " " + launch.parameters);
        });
    }

    ~SimulatedConsole() override {
        platform::SimSystem& sim = platform::Simulation();
        sim.SetMessageHandler(nullptr);
        sim.SetLaunchHandler(nullptr);
    }

    bool Start(std::string&) override {
        platform::SimSystem& sim = platform::Simulation();
        sim.CreateBlock(vantrel::kCommandBlockName, kConsoleBlockSize);
        sim.CreateBlock(vantrel::kHandshakeBlockName, kConsoleBlockSize);
        window_ = sim.CreateWindowWithTitle(vantrel::kConsoleTitle);
        return true;
    }

    bool Stop(std::string&) override {
        platform::SimSystem& sim = platform::Simulation();
        sim.DestroyWindow(window_);
        window_ = nullptr;
        // The console's own hold goes; a block the module still has open stays for the module.
        sim.ReleaseBlock(vantrel::kCommandBlockName);
        sim.ReleaseBlock(vantrel::kHandshakeBlockName);
        return true;
    }

    // The simulated desktop has no process to end: what a killed console leaves is what one that
    // quits leaves, its window gone and its hold on the blocks released.
    bool Kill(std::string& error) override { return Stop(error); }

    bool WriteCommand(const std::string& text, std::string& error) override {
        platform::SimSystem& sim = platform::Simulation();
        if (!sim.BlockExists(vantrel::kCommandBlockName)) {
            error = "the command block does not exist";
            return false;
        }
        sim.WriteBlockText(vantrel::kCommandBlockName, Utf8ToUtf16(text));
        return true;
    }

    void Collect() override {
        // The module's standard output (its two handshake-block errors) has no listener: take it
        // whenever the transcript is about to move on.
        platform::SimSystem& sim = platform::Simulation();
        // Each message went to the transcript as it arrived; the window's own record of them
        // would only grow.
        sim.ClearMessages();
        std::vector<std::wstring> lines = sim.StdoutLines();
        if (lines.empty())
            return;
        sim.ClearStdout();
        for (const std::wstring& line : lines)
            transcript_.Add("stdout", standin::ToUtf8(line));
    }

    void FollowRunTime(double seconds) override {
        int64_t now = startSeconds_ + static_cast<int64_t>(seconds);
        if (now != shownSeconds_)
            platform::Simulation().SetCalendarSeconds(now);
        shownSeconds_ = now;
    }

private:
    void OnMessage(const platform::SimMessage& message) {
        Collect();
        char text[96];
        // wParam as the console reads it: a signed number of the pointer's width.
        std::snprintf(text, sizeof text, "%" PRIu32 " %" PRIdPTR " %" PRIdPTR, message.code,
                      static_cast<intptr_t>(message.wParam), message.lParam);
        transcript_.Add("msg", text);
        if (message.code == vantrel::kHandshakeMessage) {
            platform::SimSystem& sim = platform::Simulation();
            transcript_.Add("handshake",
                            Utf16ToUtf8(sim.ReadBlockText(vantrel::kHandshakeBlockName)));
        }
    }

    Transcript& transcript_;
    platform::WindowHandle window_ = nullptr;
    const int64_t startSeconds_;
    int64_t shownSeconds_ = -1;
};

}  // namespace

std::unique_ptr<ConsoleSide> MakeConsoleSide(Transcript& transcript, const std::string&) {
    return std::make_unique<SimulatedConsole>(transcript);
}

bool ConsoleAvailable(const std::string&, std::string&) {
    return true;
}

}  // namespace fxplayer
