// A fresh directory under the system's temporary directory, removed with everything in it.
#pragma once

#include <filesystem>
#include <random>
#include <string>

namespace kestrav::hostbench
{
class TemporaryDirectory
{
public:
    TemporaryDirectory()
    {
        path_ = std::filesystem::temp_directory_path() / ("host-bench-" + std::to_string(std::random_device()()));
        std::filesystem::create_directories(path_);
    }
    ~TemporaryDirectory() { std::filesystem::remove_all(path_); }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};
}
