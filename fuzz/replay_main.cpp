// Runs a fuzz target's LLVMFuzzerTestOneInput once over every file named on the command
// line, directories searched recursively, in sorted order: the seed corpus replayed as a
// test without libFuzzer. A crash or an abort of the target fails the run.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "helpers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    // Absolute paths first: the target changes the working directory.
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg = fs::absolute(argv[i]);
        if (!fs::is_directory(arg)) {
            inputs.push_back(arg);
            continue;
        }
        for (const auto& entry : fs::recursive_directory_iterator(arg))
            if (entry.is_regular_file()) inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path& path : inputs) {
        const std::string bytes = read_file(path.string());
        if (bytes.empty() && fs::file_size(path) != 0) return 2;
        // An exactly sized copy, so that AddressSanitizer sees any read past the input.
        std::unique_ptr<uint8_t[]> data(new uint8_t[bytes.size()]);
        memcpy(data.get(), bytes.data(), bytes.size());
        LLVMFuzzerTestOneInput(data.get(), bytes.size());
    }
    fprintf(stderr, "replayed %zu inputs\n", inputs.size());
    return inputs.empty() ? 2 : 0;
}
