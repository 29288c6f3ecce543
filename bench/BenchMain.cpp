// vantrel_bench: the module's per-frame and load costs, each beside its floor from the same run,
// ending with a table (and, with --json=PATH, the same rows as JSON).
//
// Options of its own, before benchmark's usual ones:
//   --json=PATH   write the table's rows there
//   --quick       only the two smaller GIFs (a check that everything runs, not a measurement)
//   --verbose     benchmark's usual line for every repetition, instead of one per benchmark
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchCases.h"
#include "BusyGif.h"
#include "CommandLine.h"
#include "Report.h"
#include "controller/ConsoleProtocol.h"
#include "platform/SimPlatform.h"
#include "standin/Standin.h"

namespace {

// A folder of its own for the GIFs and the still image, removed at the end.
struct Workspace {
    Workspace() {
        char pattern[] = "/tmp/vantrel-bench-XXXXXX";
        if (mkdtemp(pattern))
            path = pattern;
    }
    ~Workspace() {
        if (!path.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    }
    std::string path;
};

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
    std::string jsonPath;
    bool quick = false;
    bool verbose = false;
    // Random interleaving spreads the repetitions of figure and floor over the whole run, so that a
    // burst of other work on the machine does not land on one of them only. Given first, so that
    // the command line can still override it.
    std::vector<char*> args = {argv[0]};
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.push_back(interleave);
    args.insert(args.end(), argv + (argc > 0), argv + argc);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    // What Google Benchmark leaves is ours.
    cli::CommandLine line("");
    line.Text("--json", jsonPath).Flag("--quick", quick).Flag("--verbose", verbose);
    int status = 0;
    if (!line.Parse(std::vector<std::string>(args.begin() + 1, args.begin() + count),
                    "vantrel_bench", "usage: vantrel_bench [--json=PATH] [--quick] [--verbose]\n",
                    status))
        return status;

    standin::Install();
    standin::SetLogEcho(false);
    Workspace workspace;
    if (workspace.path.empty()) {
        std::fprintf(stderr, "vantrel_bench: no temporary folder\n");
        return 1;
    }

    std::vector<bench::GifCase> cases;
    const bench::BusyGifRecipe recipes[] = {
        {256, 256, 30, 4}, {512, 512, 60, 4}, {1280, 720, 40, 4}, {1920, 1080, 30, 4}};
    for (const bench::BusyGifRecipe& recipe : recipes) {
        if (quick && recipe.width > 512)
            continue;
        bench::GifCase c;
        c.recipe = recipe;
        c.name = std::to_string(recipe.width) + "x" + std::to_string(recipe.height) + "x" +
                 std::to_string(recipe.frames);
        c.bytes = bench::MakeBusyGif(recipe);
        const std::string file = workspace.path + "/busy-" + c.name + ".gif";
        if (!WriteFile(file, c.bytes)) {
            std::fprintf(stderr, "vantrel_bench: could not write %s\n", file.c_str());
            return 1;
        }
        c.path = standin::FromUtf8(file);
        std::printf("made %s: %zu bytes\n", file.c_str(), c.bytes.size());
        cases.push_back(std::move(c));
    }
    bench::GifCase* commandGif = nullptr;
    for (bench::GifCase& c : cases)
        if (c.name == "512x512x60")
            commandGif = &c;

    const std::string still = workspace.path + "/still.png";
    std::vector<uint8_t> stillPixels(64 * 64 * 4, 0xC0);
    if (!standin::WritePng(still, 64, 64, stillPixels)) {
        std::fprintf(stderr, "vantrel_bench: could not write %s\n", still.c_str());
        return 1;
    }

    // A 1920x1080 still for the starts, with enough going on in it that decoding it costs what a
    // real picture's does.
    bench::GifCase bigStill;
    bigStill.recipe = {1920, 1080, 0, 0};
    bigStill.name = "still-1920x1080";
    {
        const std::string file = workspace.path + "/still-1920x1080.png";
        std::vector<uint8_t> pixels(size_t{1920} * 1080 * 4);
        for (size_t y = 0; y < 1080; ++y) {
            for (size_t x = 0; x < 1920; ++x) {
                uint8_t* p = &pixels[(y * 1920 + x) * 4];
                p[0] = static_cast<uint8_t>((x * y) >> 6);
                p[1] = static_cast<uint8_t>(x ^ y);
                p[2] = static_cast<uint8_t>(x * 3 + y * 5);
                p[3] = static_cast<uint8_t>(255 - ((x + y) >> 3));
            }
        }
        if (!standin::WritePng(file, 1920, 1080, pixels)) {
            std::fprintf(stderr, "vantrel_bench: could not write %s\n", file.c_str());
            return 1;
        }
        bigStill.path = standin::FromUtf8(file);
    }

    // The console as the sources meet it: its window and its command block.
    platform::SimSystem& desktop = platform::Simulation();
    desktop.CreateBlock(vantrel::kCommandBlockName, vantrel::kCommandBlockSize);
    desktop.CreateWindowWithTitle(vantrel::kConsoleTitle);

    // Animated WebP against a GIF of the same plasma pictures.
    std::vector<bench::WebpCase> webpCases;
    const bench::BusyGifRecipe webpRecipes[] = {{512, 512, 30, 4}, {1280, 720, 30, 4}};
    for (const bench::BusyGifRecipe& recipe : webpRecipes) {
        if (quick && recipe.width > 512)
            continue;
        webpCases.emplace_back();
        if (!bench::MakeWebpCase(recipe, workspace.path, webpCases.back()))
            return 1;
    }

    std::vector<bench::Row> rows;
    bench::RegisterImageBenchmarks(cases, rows);
    bench::RegisterWebpBenchmarks(webpCases, rows);
    bench::RegisterSourceBenchmarks(*commandGif, standin::FromUtf8(still), rows);
    // The starts of the GIFs and of the WebPs, frame by frame on the host's thread.
    std::vector<bench::GifCase> startCases;
    for (const bench::GifCase& c : cases)
        startCases.push_back({c.recipe, c.name, c.path, {}});
    for (const bench::WebpCase& c : webpCases)
        startCases.push_back({c.recipe, "webp-" + c.name, c.webpPath, {}});
    bench::RegisterStartBenchmarks(startCases, bigStill);
    bench::RegisterStreamBenchmarks(cases);

    bench::Collector results(verbose);
    benchmark::RunSpecifiedBenchmarks(&results);
    benchmark::Shutdown();

    bool met = bench::PrintTable(rows, results);
    met = bench::PrintStartTable() && met;
    met = bench::PrintStreamTable() && met;
    met = bench::PrintWebpWorkerTable() && met;
    if (!jsonPath.empty()) {
        if (!bench::WriteJson(rows, results, jsonPath)) {
            std::fprintf(stderr, "vantrel_bench: could not write %s\n", jsonPath.c_str());
            return 1;
        }
        std::printf("rows written to %s\n", jsonPath.c_str());
        // The frames of a start beside it: latest.json gives latest-start.json.
        std::string startPath = jsonPath;
        const size_t dot = startPath.rfind(".json");
        startPath.insert(dot == std::string::npos ? startPath.size() : dot, "-start");
        if (!bench::WriteStartJson(startPath)) {
            std::fprintf(stderr, "vantrel_bench: could not write %s\n", startPath.c_str());
            return 1;
        }
        std::printf("frames of a start written to %s\n", startPath.c_str());
        std::string streamPath = jsonPath;
        streamPath.insert(dot == std::string::npos ? streamPath.size() : dot, "-stream");
        if (!bench::WriteStreamJson(streamPath)) {
            std::fprintf(stderr, "vantrel_bench: could not write %s\n", streamPath.c_str());
            return 1;
        }
    }
    std::printf(met ? "every target met\n" : "some targets missed\n");
    return 0;
}
