// A peer program started by a test (an RTSP server, the simulated camera), stopped with the test.
// Test support only: it talks to the operating system directly, which product code never does.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kestrav::testing
{
class ChildProcess
{
public:
    // Starts `arguments[0]` with the arguments; its stdin is a pipe that closes when this
    // object goes, so a peer watching its stdin ends even if the test is killed.
    // With `ownProcessGroup` the child leads a process group of its own, and Stop ends the whole
    // group: for a peer started through a wrapper (runuser) that does not watch its stdin.
    explicit ChildProcess(const std::vector<std::string>& arguments, bool ownProcessGroup = false);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool IsRunning() const { return m_pid > 0; }
    // The next line the child writes to stdout, or nullopt when it writes none in time.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
    // Lines of a prefix: waits for a line starting with `prefix`, skipping others.
    std::optional<std::string> WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout);
    void Stop();

private:
    int m_pid = -1;
    bool m_ownProcessGroup = false;
    int m_stdin = -1;
    int m_stdout = -1;
    std::string m_pending;
};
}
