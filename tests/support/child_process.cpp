#include "child_process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

extern char** environ;

namespace kestrav::testing
{
ChildProcess::ChildProcess(const std::vector<std::string>& arguments, bool ownProcessGroup)
    : m_ownProcessGroup(ownProcessGroup)
{
    int input[2];
    int output[2];
    if (arguments.empty() || pipe(input) != 0)
        return;
    if (pipe(output) != 0)
    {
        close(input[0]);
        close(input[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, input[1]);
    posix_spawn_file_actions_addclose(&actions, output[0]);

    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (ownProcessGroup)
    {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ) == 0)
        m_pid = pid;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    m_stdin = input[1];
    m_stdout = output[0];
}

ChildProcess::~ChildProcess()
{
    Stop();
}

void ChildProcess::Stop()
{
    if (m_stdin >= 0)
        close(m_stdin);
    m_stdin = -1;
    if (m_pid > 0 && m_ownProcessGroup)
    {
        // A group member that ignores SIGTERM must not hold the test: after a bounded wait the group is killed.
        kill(-m_pid, SIGTERM);
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        pid_t reaped = 0;
        while ((reaped = waitpid(m_pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
            usleep(20000);
        kill(-m_pid, SIGKILL);
        if (reaped == m_pid)
            m_pid = -1;
    }
    if (m_pid > 0)
    {
        kill(m_ownProcessGroup ? -m_pid : m_pid, m_ownProcessGroup ? SIGKILL : SIGTERM);
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR)
        {
        }
        m_pid = -1;
    }
    if (m_stdout >= 0)
        close(m_stdout);
    m_stdout = -1;
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;)
    {
        const auto newline = m_pending.find('\n');
        if (newline != std::string::npos)
        {
            std::string line = m_pending.substr(0, newline);
            m_pending.erase(0, newline + 1);
            return line;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (m_stdout < 0 || left.count() <= 0)
            return std::nullopt;
        pollfd readable{m_stdout, POLLIN, 0};
        if (poll(&readable, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char buffer[512];
        const ssize_t got = read(m_stdout, buffer, sizeof(buffer));
        if (got <= 0)
            return std::nullopt;
        m_pending.append(buffer, static_cast<std::size_t>(got));
    }
}

std::optional<std::string> ChildProcess::WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline)
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        std::optional<std::string> line = ReadLine(left);
        if (!line)
            return std::nullopt;
        if (line->rfind(prefix, 0) == 0)
            return line;
    }
    return std::nullopt;
}
}
