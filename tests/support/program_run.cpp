#include "program_run.h"

#include <fstream>
#include <iterator>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;
#endif

namespace kestrav::testing
{
namespace
{
std::string ReadText(const std::filesystem::path& file)
{
    std::ifstream input(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>());
}

#if defined(_WIN32)
std::wstring Widen(const std::string& text)
{
    if (text.empty())
        return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

// One argument as the program's runtime splits its command line again (the rules of CommandLineToArgvW):
// quotes around it, backslashes doubled only before a quote.
std::wstring Quoted(const std::wstring& argument)
{
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument)
    {
        if (c == L'\\')
        {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}

// The child's exit status, or -1 when it could not start or had to be ended.
int RunToEnd(const std::vector<std::string>& arguments, const std::filesystem::path& outputFile,
             std::chrono::milliseconds timeout, bool& timedOut)
{
    std::wstring command;
    for (const std::string& argument : arguments)
        command += (command.empty() ? L"" : L" ") + Quoted(Widen(argument));

    // Inheritable, so that the child gets them as its standard handles.
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE output = CreateFileW(outputFile.wstring().c_str(), GENERIC_WRITE, kShareAll, &inherit, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE)
        return -1;
    const HANDLE input = CreateFileW(L"NUL", GENERIC_READ, kShareAll, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process{};
    const BOOL started =
        CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(output);
    if (input != INVALID_HANDLE_VALUE)
        CloseHandle(input);
    if (!started)
        return -1;
    CloseHandle(process.hThread);

    int status = -1;
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0)
    {
        DWORD code = 0;
        if (GetExitCodeProcess(process.hProcess, &code))
            status = static_cast<int>(code);
    }
    else
    {
        timedOut = true;
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 10000);
    }
    CloseHandle(process.hProcess);
    return status;
}
#else
int RunToEnd(const std::vector<std::string>& arguments, const std::filesystem::path& outputFile,
             std::chrono::milliseconds timeout, bool& timedOut)
{
    if (arguments.empty())
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int raw = 0;
    pid_t reaped = 0;
    while ((reaped = waitpid(pid, &raw, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (reaped == 0)
    {
        timedOut = true;
        kill(pid, SIGKILL);
        while (waitpid(pid, &raw, 0) < 0 && errno == EINTR)
        {
        }
        return -1;
    }
    return reaped == pid && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}
#endif
}

ProgramRun RunProgram(const std::vector<std::string>& arguments, const std::filesystem::path& outputFile,
                      std::chrono::milliseconds timeout)
{
    ProgramRun run;
    run.status = RunToEnd(arguments, outputFile, timeout, run.timedOut);
    run.output = ReadText(outputFile);
    if (run.timedOut)
        run.output += "\n(killed: still running after " + std::to_string(timeout.count()) + " ms)\n";
    return run;
}
}
