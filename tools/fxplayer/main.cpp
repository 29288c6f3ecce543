// fxplayer: the effect module in a stand-in host, driven by a script of the console's side.
// See --help, and docs/fxplayer.md for the script format.
#include <cstdio>
#include <string>
#include <vector>

#include "Options.h"
#include "Player.h"

#if defined(_WIN32)
#include <windows.h>
// shellapi.h needs windows.h before it.
#include <shellapi.h>

#include "TextCodec.h"
#endif

namespace {

// The arguments as UTF-8, whatever the system's code page.
std::vector<std::string> Arguments(int argc, char** argv) {
    std::vector<std::string> args;
#if defined(_WIN32)
    (void)argc, (void)argv;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; wide && i < count; ++i) {
        std::u16string text(reinterpret_cast<const char16_t*>(wide[i]));
        args.push_back(fxplayer::Utf16ToUtf8(text));
    }
    if (wide)
        LocalFree(wide);
#else
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
#endif
    return args;
}

}  // namespace

int main(int argc, char** argv) {
    fxplayer::Options options;
    std::string error;
    if (!fxplayer::ParseOptions(Arguments(argc, argv), options, error)) {
        std::fprintf(stderr, "fxplayer: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(fxplayer::UsageText(), stdout);
        return 0;
    }
    fxplayer::RunPlan plan;
    if (!fxplayer::PlanRun(options, plan, error)) {
        std::fprintf(stderr, "fxplayer: %s\n", error.c_str());
        return 1;
    }
    return fxplayer::Run(plan);
}
