#include <atomic>

#include "platform/sockets.h"

namespace kestrav::platform
{
namespace
{
std::atomic<int> g_activeStartups{0};
}

bool StartSockets()
{
    ++g_activeStartups;
    return true;
}

void CleanupSockets()
{
    --g_activeStartups;
}

int ActiveSocketStartups()
{
    return g_activeStartups.load();
}
}
