// A peer program started by a test (an RTSP server, the simulated camera, FFmpeg), stopped with the
// test. The peers are Linux programs in either build: a test built for Windows and run under Wine
// starts them through tests/support/child_link.py (see there why), with the same behaviour.
// Test support only: it talks to the operating system directly, which product code never does.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrav::testing
{
class ChildProcess
{
public:
    // Starts `arguments[0]` (a Linux path) with the arguments; its stdin is a pipe that closes when
    // this object goes, so a peer watching its stdin ends even if the test is killed.
    // With `ownProcessGroup` the child leads a process group of its own, and Stop ends the whole
    // group: for a peer started through a wrapper (runuser) that does not watch its stdin.
    explicit ChildProcess(const std::vector<std::string>& arguments, bool ownProcessGroup = false);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool IsRunning() const;
    // The next line the child writes to stdout, or nullopt when it writes none in time.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
    // Lines of a prefix: waits for a line starting with `prefix`, skipping others.
    std::optional<std::string> WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout);
    // Everything the child writes to stdout until it closes it, or until `timeout`.
    std::string ReadToEnd(std::chrono::milliseconds timeout);
    // Ends the child (stdin closed and SIGTERM; a group is killed after 3 s) and waits for its end.
    void Stop();

private:
    // Appends what the child wrote within `timeout` to m_pending: bytes read, 0 at the end of its
    // stdout, -1 after the wait.
    int ReadSome(std::chrono::milliseconds timeout);

#if defined(_WIN32)
    // The connection of child_link.py; the platform layer's socket handle, invalid when none.
    std::uintptr_t m_link = ~std::uintptr_t{0};
#else
    int m_pid = -1;
    bool m_ownProcessGroup = false;
    int m_stdin = -1;
    int m_stdout = -1;
#endif
    std::string m_pending;
};

// A directory that this program and the Linux peers it starts both name: the temporary directory on
// Linux; under Wine Z:\tmp, which is the Linux /tmp.
std::filesystem::path SharedTemporaryDirectory();
// A new directory in it, named `prefix` and random digits; empty when none could be made.
std::filesystem::path MakeSharedDirectory(const std::string& prefix);
// `path` as a Linux peer names it: unchanged on Linux; under Wine "Z:\tmp\x" is "/tmp/x".
std::string PeerPath(const std::filesystem::path& path);
// The other way: a Linux path ("/usr/bin/ffmpeg") as this program names it.
std::filesystem::path LocalPath(const std::string& peerPath);
}
