// Runs every file of the given folders (or the given files) through the
// harness's LLVMFuzzerTestOneInput, without libFuzzer: corpora and saved
// crash files become ordinary tests. A path that does not exist fails the
// run, so a misspelt folder cannot pass unnoticed.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

bool runFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        fprintf(stderr, "cannot read %s\n", file.c_str());
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A copy of exactly the file's size, as libFuzzer hands it over.
    uint8_t* data = static_cast<uint8_t*>(malloc(bytes.empty() ? 1 : bytes.size()));
    std::copy(bytes.begin(), bytes.end(), data);
    LLVMFuzzerTestOneInput(data, bytes.size());
    free(data);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    size_t runs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        std::error_code error;
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(path, error)) {
            for (const auto& entry : std::filesystem::directory_iterator(path)) {
                const std::string name = entry.path().filename().string();
                if (entry.is_regular_file() && name[0] != '.')
                    files.push_back(entry.path());
            }
            std::sort(files.begin(), files.end());
        } else if (std::filesystem::is_regular_file(path, error)) {
            files.push_back(path);
        } else {
            fprintf(stderr, "no such file or folder: %s\n", argv[i]);
            return 1;
        }
        for (const std::filesystem::path& file : files) {
            if (!runFile(file))
                return 1;
            ++runs;
        }
    }
    printf("%zu inputs ran\n", runs);
    return 0;
}
