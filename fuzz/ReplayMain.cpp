// Runs every file of the given corpus folders (or single files) once through a fuzz
// target's entry function, in name order, so that the seeds and every input a fuzzer
// once found stay passing in an ordinary build. An input that breaks a target's
// contract aborts, as it would under the fuzzer.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const fs::path given = argv[i];
        if (fs::is_directory(given)) {
            for (const auto& entry : fs::recursive_directory_iterator(given))
                if (entry.is_regular_file()) files.push_back(entry.path());
        } else {
            files.push_back(given);
        }
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "no inputs in the given corpus\n");
        return 1;
    }
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        std::fprintf(stderr, "%s\n", file.filename().c_str());
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::fprintf(stderr, "%zu inputs replayed\n", files.size());
    return 0;
}
