// The accept loop of a test peer listening on a free TCP port of 127.0.0.1.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/socket.h"

namespace kestrav::testing
{
class LoopbackTcpServer
{
public:
    LoopbackTcpServer();
    virtual ~LoopbackTcpServer();
    LoopbackTcpServer(const LoopbackTcpServer&) = delete;
    LoopbackTcpServer& operator=(const LoopbackTcpServer&) = delete;

    // 0 when no port could be had.
    std::uint16_t Port() const { return m_port; }

protected:
    // Derived classes start serving at the end of their constructor and stop at the start of
    // their destructor, so that Serve never runs on a half-built or half-destroyed object.
    void StartServing();
    void StopServing();
    bool IsStopping() const { return m_stop; }
    // Handles one accepted connection; the socket is closed afterwards.
    virtual void Serve(platform::SocketHandle client) = 0;

private:
    void Run();

    platform::SocketHandle m_listener = platform::kInvalidSocket;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
}
