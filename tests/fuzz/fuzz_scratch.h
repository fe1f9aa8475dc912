// A scratch directory for the fuzz targets that read files. Memory-backed where the machine has
// such a directory: the stores sync every save to disk, which on a real disk would cost each run
// milliseconds.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace kestrav::fuzz
{
class ScratchDirectoryOwner
{
public:
    explicit ScratchDirectoryOwner(const std::string& target)
    {
        const std::filesystem::path memory("/dev/shm");
        std::error_code error;
        const std::filesystem::path base =
            std::filesystem::is_directory(memory, error) ? memory : std::filesystem::temp_directory_path();
        m_path = base / (target + "-fuzzer-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_path);
    }
    // Gone when the fuzzer exits: memory-backed directories must not pile up run after run.
    ~ScratchDirectoryOwner()
    {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);
    }
    ScratchDirectoryOwner(const ScratchDirectoryOwner&) = delete;
    ScratchDirectoryOwner& operator=(const ScratchDirectoryOwner&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// One directory per process, named after the target the first call gives.
inline const std::filesystem::path& ScratchDirectory(const std::string& target)
{
    static const ScratchDirectoryOwner owner(target);
    return owner.Path();
}
}
