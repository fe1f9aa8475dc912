// brantel-replay-server: the simulated camera's RTSP side in replay mode (camsim.py --replay FILE starts it).
//
//   brantel-replay-server --recording FILE [--bind ADDRESS] [--port N] [--path-prefix /rtsph264]
//                         [--spread FRACTION] [--stagger-ms N] [--session-timeout SECONDS] [--no-stdin-watch]
//
// Prints "LISTENING <port>" once it listens (or "FAILED <reason>"), then serves until SIGINT, SIGTERM or the
// end of its stdin; SIGUSR1 stops it as a camera switched off ("STOPPED"), SIGUSR2 starts it again on the same
// port ("LISTENING <port>"). At the end it prints what it cost and sent, for a benchmark to account for:
//   "REPLAY-STATS cpu_user_s=U cpu_system_s=S wall_s=W packets=N bytes=B sessions=M dropped=D late=L max_late_ms=X"
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "replay_recording.h"
#include "replay_server.h"

namespace
{
double Seconds(const timeval& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

int Usage()
{
    std::fprintf(stderr, "usage: brantel-replay-server --recording FILE [--bind ADDRESS] [--port N] "
                         "[--path-prefix PREFIX] [--spread FRACTION] [--stagger-ms N] [--session-timeout SECONDS] "
                         "[--no-stdin-watch]\n");
    return 2;
}
}

int main(int argc, char** argv)
{
    using namespace kestrav::replay;
    ServerOptions options;
    std::string file;
    double spread = 1.0;
    for (int i = 1; i < argc; ++i)
    {
        const std::string name = argv[i];
        if (name == "--no-stdin-watch")
        {
            options.watchStdin = false;
            continue;
        }
        if (i + 1 >= argc)
            return Usage();
        const std::string value = argv[++i];
        if (name == "--recording")
            file = value;
        else if (name == "--bind")
            options.bind = value;
        else if (name == "--port")
            options.port = static_cast<std::uint16_t>(std::atoi(value.c_str()));
        else if (name == "--path-prefix")
            options.pathPrefix = value;
        else if (name == "--spread")
            spread = std::atof(value.c_str());
        else if (name == "--stagger-ms")
            options.staggerMs = std::max(0, std::atoi(value.c_str()));
        else if (name == "--session-timeout")
            options.sessionTimeoutSeconds = std::max(1, std::atoi(value.c_str()));
        else
            return Usage();
    }
    if (file.empty())
        return Usage();
    const ReplayRecording recording(file, spread);
    if (!recording.Error().empty())
    {
        std::printf("FAILED %s\n", recording.Error().c_str());
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    ReplayServer server(recording, options);
    const std::uint16_t port = server.Listen();
    if (port == 0)
    {
        std::printf("FAILED %s\n", server.Error().c_str());
        return 1;
    }
    std::printf("LISTENING %u\n", port);
    std::fflush(stdout);
    server.Run();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const ServerTotals& totals = server.Totals();
    std::printf("REPLAY-STATS cpu_user_s=%.3f cpu_system_s=%.3f wall_s=%.3f packets=%llu bytes=%llu sessions=%llu "
                "dropped=%llu late=%llu max_late_ms=%.1f\n",
                Seconds(usage.ru_utime), Seconds(usage.ru_stime),
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                static_cast<unsigned long long>(totals.packets), static_cast<unsigned long long>(totals.bytes),
                static_cast<unsigned long long>(totals.sessions), static_cast<unsigned long long>(totals.dropped),
                static_cast<unsigned long long>(totals.late), static_cast<double>(totals.maxLateNs) / 1e6);
    std::fflush(stdout);
    return 0;
}
