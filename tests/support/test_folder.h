// Scratch folders and files for tests, removed when the test ends.
#pragma once

#include <stdint.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

class TestFolder {
  public:
    TestFolder() {
        std::random_device random;
        std::filesystem::path base = std::filesystem::temp_directory_path();
        for (;;) {
            std::filesystem::path candidate = base / ("quindral-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate)) {
                path_ = candidate;
                break;
            }
        }
    }
    ~TestFolder() {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Writes `bytes` to the file at `relative` (folders made as needed).
    std::filesystem::path write(const std::string& relative, const std::string& bytes) const {
        std::filesystem::path file = path_ / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file;
    }

    // The folder as the loader host gives it: absolute, ending in a backslash.
    std::string loaderDir() const { return path_.string() + "\\"; }

  private:
    std::filesystem::path path_;
};
