// The module DLL in a host process and fxconsole in its own: configuring a source hands its
// identifiers to the console, a command the console writes is applied, and the console hears the
// play messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "ChildProcess.h"
#include "support/ModuleLoader.h"
#include "support/SourceTree.h"
#include "support/TestHost.h"

namespace {

using testwindows::Child;
using testwindows::ProgramPath;

using LoadPluginFn = bool (*)();

TEST(ModuleWithConsole, CommandFromTheConsoleIsAppliedAndReported) {
    testsupport::ModuleLoader module(testsupport::ModuleFileName());
    ASSERT_TRUE(module.Loaded()) << module.Error();
    ASSERT_TRUE(module.FindAs<LoadPluginFn>("LoadPlugin")());
    auto classes = standin::SourceClasses();
    ASSERT_EQ(classes.size(), 1u);

    Child console(L"\"" + ProgramPath(L"fxconsole.exe") + L"\" --script - --quit-after 60");
    ASSERT_TRUE(console.Started());
    ASSERT_TRUE(console.WaitForLine("ready"));

    testsupport::TempDir dir;
    std::string png = testsupport::WriteSolidPng(dir.File("fx.png"), 48, 24, 0xFF8800FF);
    testsupport::SourceTree tree;
    XElement* data = tree.AddSource(L"fx");
    XElement* sourceElement = data->GetParent();

    // Configuring: the DLL writes the handshake into the console's block and tells it so.
    ASSERT_TRUE(classes[0].configure(sourceElement, true));
    std::string sceneGuid = standin::ToUtf8(tree.container->GetString(L"sceneGuid", L""));
    std::string guid = standin::ToUtf8(data->GetString(L"guid", L""));
    ASSERT_TRUE(console.WaitForLine("msg 1045 0 0"));
    std::string pid = std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(console.WaitForLine("handshake " + pid + "|" + sceneGuid + "|" + guid));

    ImageSource* source = classes[0].create(data);
    ASSERT_NE(source, nullptr);
    std::string command = "5|" + png + "|200|100|x|7|50|25";
    console.Write("0 " + command + "\n");
    ASSERT_TRUE(console.WaitForLine("command " + command));

    // The block holds the command once the console has said so: one frame long enough to poll
    // applies it, and the play message is answered before the frame ends.
    source->Advance(0.025f);
    EXPECT_EQ(source->QuerySize().x, 48.0f);
    EXPECT_TRUE(console.WaitForLine("msg 1056 7 0"));
    EXPECT_EQ(std::wstring(data->GetString(L"path", L"")), standin::FromUtf8(png));

    // The next effect first stops effect 7.
    std::string next = "6|" + png + "|10|10|x|9|0|0";
    console.Write("0 " + next + "\n");
    ASSERT_TRUE(console.WaitForLine("command " + next));
    source->Advance(0.025f);
    EXPECT_TRUE(console.WaitForLine("msg 1056 9 0"));
    auto lines = console.Lines();
    auto stop = std::find(lines.begin(), lines.end(), "msg 1056 7 -1");
    auto start = std::find(lines.begin(), lines.end(), "msg 1056 9 0");
    ASSERT_NE(stop, lines.end());
    ASSERT_NE(start, lines.end());
    EXPECT_LT(stop, start);

    source->SceneEnd();
    EXPECT_TRUE(console.WaitForLine("msg 1057 0 0"));
    delete source;
}

}  // namespace
