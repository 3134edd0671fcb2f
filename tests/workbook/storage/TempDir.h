// A fresh folder per test process, removed with everything in it.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <string>

namespace ole2test {

struct TempDir : std::filesystem::path {
    explicit TempDir(const std::string& prefix)
        : std::filesystem::path(std::filesystem::temp_directory_path() / (prefix + std::to_string(::getpid()))) {
        std::filesystem::create_directory(*this);
    }
    ~TempDir() { std::filesystem::remove_all(*this); }
    std::string operator[](const char* name) const { return (*this / name).string(); }
    long Count() const {
        return std::distance(std::filesystem::directory_iterator(*this), std::filesystem::directory_iterator());
    }
};

}  // namespace ole2test
