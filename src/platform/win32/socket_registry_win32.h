// What Winsock does not tell about a socket and its waits need: whether the module asked for it to be
// non-blocking (WSAEventSelect forces non-blocking mode, which a wait must undo), whether its receiving
// side was shut down, and which wait is blocked on it, so that a shutdown can wake that wait.
#pragma once

#include "platform/win32/wait_context_win32.h"

#include <cstdint>

namespace kestrav::platform::win32
{
void RegisterSocket(SOCKET socket);
void UnregisterSocket(SOCKET socket);

bool IsSocketNonBlocking(SOCKET socket);
void SetSocketNonBlockingFlag(SOCKET socket, bool nonBlocking);
// True once ShutdownSocket ended receiving (or both directions).
bool IsSocketReceiveShutDown(SOCKET socket);
// Records the receive shutdown and wakes the wait blocked on the socket, if any.
void MarkSocketReceiveShutDown(SOCKET socket);

// A wait blocked on the socket with `event` selected for it; 0 when the socket is not registered.
std::uint64_t BeginSocketWait(SOCKET socket, WSAEVENT event);
// Ends the wait begun with `ticket`: undoes the event selection and, unless the module set the socket
// non-blocking, restores blocking mode. Nothing is done to a socket closed meanwhile, whose handle
// value may already name another socket.
void EndSocketWait(SOCKET socket, std::uint64_t ticket);
}
