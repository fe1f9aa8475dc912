// Debian's FFmpeg as the judge of what the module delivers: a stream or picture written to a
// temporary file and decoded with "ffmpeg -v error", which prints nothing for clean input.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "child_process.h"

namespace kestrav::testing
{
inline constexpr const char* kFfmpeg = "/usr/bin/ffmpeg";
inline constexpr const char* kFfprobe = "/usr/bin/ffprobe";

// What a shell command printed on stdout and stderr together. The command runs on Linux, also for a
// test under Wine, so the files it names are given as PeerPath gives them.
std::string RunCommand(const std::string& command);

// A file name in the directory shared with the peers (SharedTemporaryDirectory), removed with this object.
class TemporaryFile
{
public:
    explicit TemporaryFile(const std::string& extension);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    void Write(const std::vector<std::uint8_t>& bytes) const;

private:
    std::filesystem::path m_path;
};

// FFmpeg's complaints about the bytes as a file of this extension (".h264", ".jpg", ".mjpeg"):
// empty when they decode cleanly. Also the decoded frame count when asked.
std::string DecodeErrors(const std::vector<std::uint8_t>& bytes, const std::string& extension,
                         std::size_t* frames = nullptr);
}
