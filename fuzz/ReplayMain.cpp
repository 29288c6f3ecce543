// The fuzz target as a plain program: runs every input file found in the files and folders named
// on its command line (folders are read recursively, in name order), once each. A crash or a
// failed check stops the program like any other test failure; the last "replay" line names the
// input. A folder that does not exist is only noted (git keeps no empty folder of regressions),
// but finding no input at all is a failure.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

void Collect(const fs::path& place, std::vector<fs::path>& inputs) {
    std::error_code error;
    if (fs::is_regular_file(place, error)) {
        inputs.push_back(place);
        return;
    }
    if (!fs::is_directory(place, error)) {
        std::printf("no inputs at %s\n", place.generic_string().c_str());
        return;
    }
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(place, error))
        if (entry.is_regular_file())
            found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    inputs.insert(inputs.end(), found.begin(), found.end());
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i)
        Collect(fs::u8path(argv[i]), inputs);
    if (inputs.empty()) {
        std::fprintf(stderr, "no inputs to replay\n");
        return 1;
    }
    for (const auto& input : inputs) {
        std::printf("replay %s\n", input.generic_string().c_str());
        std::fflush(stdout);
        const std::vector<uint8_t> bytes = ReadAll(input);
        // An empty vector's data() may be null; the fuzzer always passes a valid pointer.
        static const uint8_t kNothing = 0;
        LLVMFuzzerTestOneInput(bytes.empty() ? &kNothing : bytes.data(), bytes.size());
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    return 0;
}
