#include "ffmpeg_tools.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <random>

namespace kestrav::testing
{
std::string RunCommand(const std::string& command)
{
#if defined(_WIN32)
    // The Linux shell runs it, as on Linux: Wine's own would not know the Linux tools.
    ChildProcess shell({"/bin/sh", "-c", command + " 2>&1"});
    return shell.IsRunning() ? shell.ReadToEnd(std::chrono::minutes(5)) : "cannot start /bin/sh";
#else
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return "popen failed";
    std::array<char, 4096> chunk{};
    while (std::fgets(chunk.data(), static_cast<int>(chunk.size()), pipe) != nullptr)
        output += chunk.data();
    pclose(pipe);
    return output;
#endif
}

TemporaryFile::TemporaryFile(const std::string& extension)
{
    std::random_device random;
    m_path = SharedTemporaryDirectory() / ("brantel-" + std::to_string(random()) + extension);
}

TemporaryFile::~TemporaryFile()
{
    std::error_code ignored;
    std::filesystem::remove(m_path, ignored);
}

void TemporaryFile::Write(const std::vector<std::uint8_t>& bytes) const
{
    std::ofstream(m_path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string DecodeErrors(const std::vector<std::uint8_t>& bytes, const std::string& extension, std::size_t* frames)
{
    const TemporaryFile file(extension);
    file.Write(bytes);
    const std::string errors =
        RunCommand(std::string(kFfmpeg) + " -v error -i " + PeerPath(file.Path()) + " -f null -");
    if (frames != nullptr)
    {
        const std::string count = RunCommand(std::string(kFfprobe) +
                                             " -v error -count_frames -select_streams v:0 -show_entries "
                                             "stream=nb_read_frames -of csv=p=0 " +
                                             PeerPath(file.Path()));
        *frames = static_cast<std::size_t>(std::strtoul(count.c_str(), nullptr, 10));
    }
    return errors;
}
}
