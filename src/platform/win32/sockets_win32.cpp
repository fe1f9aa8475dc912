#include <atomic>
#include <mutex>

#include "platform/sockets.h"
#include "platform/win32/wait_context_win32.h"

namespace kestrav::platform
{
namespace
{
std::mutex g_startupMutex;
std::atomic<int> g_activeStartups{0};
}

// Winsock counts its own start-ups too; each successful WSAStartup is paired with one WSACleanup.
bool StartSockets()
{
    std::lock_guard lock(g_startupMutex);
    WSADATA data{};
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
    if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2)
    {
        WSACleanup();
        return false;
    }
    ++g_activeStartups;
    return true;
}

void CleanupSockets()
{
    std::lock_guard lock(g_startupMutex);
    // An unpaired clean-up would end a start-up the host's own code holds.
    if (g_activeStartups.load() == 0)
        return;
    --g_activeStartups;
    WSACleanup();
}

int ActiveSocketStartups()
{
    return g_activeStartups.load();
}
}
