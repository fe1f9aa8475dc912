#include "child_process.h"

#include <random>
#include <utility>

#if defined(_WIN32)
#include <windows.h>

#include "test_sockets.h"

#ifndef BRANTEL_SOURCE_DIR
#error "BRANTEL_SOURCE_DIR must name the repository"
#endif
#else
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;
#endif

namespace kestrav::testing
{
namespace
{
std::chrono::milliseconds Left(std::chrono::steady_clock::time_point deadline)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
}
}

#if defined(_WIN32)
namespace
{
// Under Wine the Linux program gets this command line split as Windows splits one (the rules of
// CommandLineToArgvW): quotes around each argument, backslashes doubled only before a quote.
std::string Quoted(const std::string& argument)
{
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument)
    {
        if (c == '\\')
        {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

platform::SocketHandle LinkSocket(std::uintptr_t link)
{
    return static_cast<platform::SocketHandle>(link);
}
}

// Wine starts a Linux program from a Windows one but hands back no process to wait for or end, and
// Windows pipes do not reach it: child_link.py connects back to a port of this object and carries
// the program's stdout, and its end when the connection closes.
ChildProcess::ChildProcess(const std::vector<std::string>& arguments, bool ownProcessGroup)
{
    if (arguments.empty())
        return;
    const platform::SocketHandle listener = OpenTcpListener(1);
    if (listener == platform::kInvalidSocket)
        return;
    std::string command = "Z:\\usr\\bin\\python3 " +
                          Quoted(std::string(BRANTEL_SOURCE_DIR) + "/tests/support/child_link.py") + " --port " +
                          std::to_string(platform::GetSocketLocalPort(listener));
    if (ownProcessGroup)
        command += " --group";
    command += " --";
    for (const std::string& argument : arguments)
        command += " " + Quoted(argument);

    // The link's own messages and the program's stderr go where this program's stderr goes.
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    // For a Linux program Wine fills in no process or thread handle: what it leaves there may be the
    // number of a handle of this program (a socket), so it is never closed.
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        m_link = static_cast<std::uintptr_t>(AcceptConnection(listener, std::chrono::seconds(20)));
    platform::CloseSocket(listener);
}

bool ChildProcess::IsRunning() const
{
    return LinkSocket(m_link) != platform::kInvalidSocket;
}

void ChildProcess::Stop()
{
    const platform::SocketHandle link = LinkSocket(m_link);
    if (link == platform::kInvalidSocket)
        return;
    // The link ends the program and closes the connection once it is gone (at most its 3 s grace
    // and a SIGKILL later); what the program still writes is dropped.
    platform::ShutdownSocket(link, platform::SocketShutdown::Send);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string ignored;
    while (Left(deadline).count() > 0 && ReceiveInto(link, ignored, Left(deadline)) > 0)
        ignored.clear();
    platform::CloseSocket(link);
    m_link = static_cast<std::uintptr_t>(platform::kInvalidSocket);
}

int ChildProcess::ReadSome(std::chrono::milliseconds timeout)
{
    const platform::SocketHandle link = LinkSocket(m_link);
    if (link == platform::kInvalidSocket)
        return 0;
    const int got = ReceiveInto(link, m_pending, timeout);
    if (got < 0 && platform::LastSocketError() != platform::kSocketErrorTimedOut)
        return 0;
    return got;
}

std::filesystem::path SharedTemporaryDirectory()
{
    return "Z:\\tmp";
}

std::string PeerPath(const std::filesystem::path& path)
{
    std::string text = path.string();
    if (text.size() >= 2 && (text[0] == 'Z' || text[0] == 'z') && text[1] == ':')
        text.erase(0, 2);
    for (char& c : text)
    {
        if (c == '\\')
            c = '/';
    }
    return text;
}

std::filesystem::path LocalPath(const std::string& peerPath)
{
    return std::filesystem::path("Z:" + peerPath).make_preferred();
}
#else
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

bool ChildProcess::IsRunning() const
{
    return m_pid > 0;
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

int ChildProcess::ReadSome(std::chrono::milliseconds timeout)
{
    if (m_stdout < 0)
        return 0;
    pollfd readable{m_stdout, POLLIN, 0};
    if (poll(&readable, 1, static_cast<int>(timeout.count())) <= 0)
        return -1;
    char buffer[512];
    const ssize_t got = read(m_stdout, buffer, sizeof(buffer));
    if (got <= 0)
        return 0;
    m_pending.append(buffer, static_cast<std::size_t>(got));
    return static_cast<int>(got);
}

std::filesystem::path SharedTemporaryDirectory()
{
    return std::filesystem::temp_directory_path();
}

std::string PeerPath(const std::filesystem::path& path)
{
    return path.string();
}

std::filesystem::path LocalPath(const std::string& peerPath)
{
    return peerPath;
}
#endif

ChildProcess::~ChildProcess()
{
    Stop();
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
        const auto left = Left(deadline);
        if (!IsRunning() || left.count() <= 0)
            return std::nullopt;
        if (ReadSome(left) == 0)
            return std::nullopt;
    }
}

std::optional<std::string> ChildProcess::WaitForLine(const std::string& prefix, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline)
    {
        std::optional<std::string> line = ReadLine(Left(deadline));
        if (!line)
            return std::nullopt;
        if (line->rfind(prefix, 0) == 0)
            return line;
    }
    return std::nullopt;
}

std::string ChildProcess::ReadToEnd(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (IsRunning() && Left(deadline).count() > 0 && ReadSome(Left(deadline)) != 0)
    {
    }
    return std::exchange(m_pending, {});
}

std::filesystem::path MakeSharedDirectory(const std::string& prefix)
{
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt)
    {
        const std::filesystem::path directory = SharedTemporaryDirectory() / (prefix + std::to_string(random()));
        std::error_code error;
        if (std::filesystem::create_directory(directory, error))
            return directory;
    }
    return {};
}
}
