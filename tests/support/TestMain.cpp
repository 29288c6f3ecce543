// Test entry point: installs the stand-in host and the simulated desktop, and gives every test a
// fresh host, desktop and module state.
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/Platform.h"
#include "platform/SimPlatform.h"
#include "plugin/ModuleState.h"
#include "plugin/PluginEntry.h"
#include "standin/Standin.h"
#include "support/TestHost.h"

namespace {

class FreshHost : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override {
        standin::Reset();
        platform::Simulation().Reset();
        platform::Swap(&platform::Simulation());
        vantrel::ResetModuleStateForTests();
    }
};

[[noreturn]] void ThrowFatal(const std::wstring& text) {
    throw testsupport::FatalError(text);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    standin::Install();
    standin::SetLogEcho(false);
    standin::SetFatalHandler(&ThrowFatal);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshHost);
    const int result = RUN_ALL_TESTS();
    // As a host ends: the background load's last workers are joined.
    vantrel::UnloadPlugin();
    return result;
}
