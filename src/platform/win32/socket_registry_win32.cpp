#include "platform/win32/socket_registry_win32.h"

#include <mutex>
#include <unordered_map>

namespace kestrav::platform::win32
{
namespace
{
struct SocketState
{
    bool nonBlocking = false;
    bool receiveShutDown = false;
    WSAEVENT waitEvent = nullptr;
    std::uint64_t waitTicket = 0;
};

// Held for map look-ups and the few Winsock calls that must not race a close.
std::mutex g_mutex;
std::unordered_map<SOCKET, SocketState> g_sockets;
std::uint64_t g_nextTicket = 1;

SocketState* Find(SOCKET socket)
{
    const auto found = g_sockets.find(socket);
    return found != g_sockets.end() ? &found->second : nullptr;
}
}

void RegisterSocket(SOCKET socket)
{
    std::lock_guard lock(g_mutex);
    g_sockets[socket] = SocketState{};
}

void UnregisterSocket(SOCKET socket)
{
    std::lock_guard lock(g_mutex);
    g_sockets.erase(socket);
}

bool IsSocketNonBlocking(SOCKET socket)
{
    std::lock_guard lock(g_mutex);
    const SocketState* state = Find(socket);
    return state != nullptr && state->nonBlocking;
}

void SetSocketNonBlockingFlag(SOCKET socket, bool nonBlocking)
{
    std::lock_guard lock(g_mutex);
    if (SocketState* state = Find(socket))
        state->nonBlocking = nonBlocking;
}

bool IsSocketReceiveShutDown(SOCKET socket)
{
    std::lock_guard lock(g_mutex);
    const SocketState* state = Find(socket);
    return state != nullptr && state->receiveShutDown;
}

void MarkSocketReceiveShutDown(SOCKET socket)
{
    std::lock_guard lock(g_mutex);
    if (SocketState* state = Find(socket))
    {
        state->receiveShutDown = true;
        // Winsock records no network event for a local shutdown of a datagram socket.
        if (state->waitEvent != nullptr)
            WSASetEvent(state->waitEvent);
    }
}

std::uint64_t BeginSocketWait(SOCKET socket, WSAEVENT event)
{
    std::lock_guard lock(g_mutex);
    SocketState* state = Find(socket);
    if (state == nullptr)
        return 0;
    state->waitEvent = event;
    state->waitTicket = g_nextTicket++;
    return state->waitTicket;
}

void EndSocketWait(SOCKET socket, std::uint64_t ticket)
{
    std::lock_guard lock(g_mutex);
    SocketState* state = Find(socket);
    if (state == nullptr || state->waitTicket != ticket)
        return;
    state->waitEvent = nullptr;
    state->waitTicket = 0;
    WSAEventSelect(socket, nullptr, 0);
    if (!state->nonBlocking)
    {
        u_long blocking = 0;
        ioctlsocket(socket, FIONBIO, &blocking);
    }
}
}
