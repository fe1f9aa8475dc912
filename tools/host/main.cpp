// brantel-host: a recording server's view of the capture driver module, for benches and demos.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "tools/host/command_line.h"
#include "tools/host/console.h"
#include "tools/host/io_command.h"
#include "tools/host/posix_system.h"
#include "tools/host/probe_command.h"
#include "tools/host/ptz_command.h"
#include "tools/host/record_command.h"
#include "tools/host/summary.h"

int main(int argc, char** argv)
{
    using namespace kestrav::hostbench;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    Command command;
    try
    {
        command = ParseCommandLine(arguments);
    }
    catch (const UsageError& error)
    {
        std::cerr << "brantel-host: " << error.what() << "\n(brantel-host --help lists the options)\n";
        return kExitUsage;
    }
    if (command.kind == Command::Kind::Help)
    {
        std::cout << UsageText();
        return 0;
    }

    try
    {
        posix::InstallInterruptHandler();
        if (command.kind == Command::Kind::Ptz)
        {
            Console console(std::cout, std::cerr, Console::Mode::Plain);
            return RunPtz(command.ptz, console);
        }
        Console console(std::cout, std::cerr,
                        posix::StdoutIsTerminal() ? Console::Mode::Terminal : Console::Mode::Plain);
        const auto interrupted = [] { return posix::InterruptRequested(); };
        if (command.kind == Command::Kind::Probe)
            return RunProbe(command.probe, console, interrupted);
        if (command.kind == Command::Kind::Io)
            return RunIo(command.io, console, interrupted);
        return RunRecord(command.record, console, interrupted);
    }
    catch (const std::exception& error)
    {
        std::cerr << "brantel-host: " << error.what() << '\n';
        return kExitFailed;
    }
}
