// vantrel_bench_hostfit: what the host check costs the host's thread at load, run natively over
// the MSVC-ABI build's module and a fixture host library read from disk (the module reads the
// same bytes in the process, through its mapped image instead of the file's section table).
//
//   vantrel_bench_hostfit [MODULE_DLL HOST_DLL] [benchmark's flags]
//
// The default files are those of build/windows-msvc: the module and the fixture that exports
// Scene's and ImageSource's vftables, so that slots are compared one by one. The budget is well
// under 5 ms; the row shows how far under.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "hostfit/FitRules.h"
#include "hostfit/HostChoice.h"
#include "hostfit/LoadLog.h"
#include "hostfit/ModuleNeeds.h"

namespace {

std::vector<unsigned char> Slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

struct Files {
    std::vector<unsigned char> module, host;
};

// What LoadPlugin does once it has the two images: the module's needs from its own image, the
// host library's exports sorted once, the choice among one candidate, the rules, the log lines.
void CheckAtLoad(benchmark::State& state, const Files* files) {
    size_t lines = 0;
    for (auto _ : state) {
        hostfit::FileImage moduleReader(files->module.data(), files->module.size());
        hostfit::FileImage hostReader(files->host.data(), files->host.size());
        hostfit::PeImage module, host;
        std::string error;
        hostfit::ModuleNeeds needs;
        if (!module.Open(moduleReader, error) || !host.Open(hostReader, error) ||
            !hostfit::ReadModuleNeeds(module, needs, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        const hostfit::HostExports exports(host.Exports(), true);
        const hostfit::HostChoice choice = hostfit::ChooseHostLibrary(
            {hostfit::Candidate{"HostApi.dll", "", &exports}}, {}, needs.names, needs.machine);
        const hostfit::HostLibrary library{"HostApi.dll", &exports, &host};
        const hostfit::FitResult result = hostfit::CheckFit(needs, library);
        lines += hostfit::LoadLogLines(result).size() + (choice.index < 0);
        benchmark::DoNotOptimize(result);
    }
    state.counters["log_lines"] =
        static_cast<double>(lines) / static_cast<double>(state.iterations());
}

}  // namespace

int main(int argc, char** argv) {
    std::string modulePath = VANTREL_BENCH_MODULE, hostPath = VANTREL_BENCH_HOST;
    if (argc >= 3 && argv[1][0] != '-' && argv[2][0] != '-') {
        modulePath = argv[1];
        hostPath = argv[2];
        argv[2] = argv[0];
        argv += 2;
        argc -= 2;
    }
    static Files files{Slurp(modulePath), Slurp(hostPath)};
    if (files.module.empty() || files.host.empty()) {
        std::fprintf(stderr,
                     "vantrel_bench_hostfit: no %s or %s (build the windows-msvc preset's "
                     "VantrelEffect and hostcheck_fits first)\n",
                     modulePath.c_str(), hostPath.c_str());
        return 2;
    }
    benchmark::RegisterBenchmark("hostfit/check_at_load", CheckAtLoad, &files)
        ->Unit(benchmark::kMicrosecond)
        ->MeasureProcessCPUTime();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
