#include "loopback_tcp_server.h"

#include "test_sockets.h"

namespace kestrav::testing
{
LoopbackTcpServer::LoopbackTcpServer() : m_listener(OpenTcpListener())
{
    if (m_listener != platform::kInvalidSocket)
        m_port = platform::GetSocketLocalPort(m_listener);
}

LoopbackTcpServer::~LoopbackTcpServer()
{
    StopServing();
    if (m_listener != platform::kInvalidSocket)
        platform::CloseSocket(m_listener);
}

void LoopbackTcpServer::StartServing()
{
    if (m_port != 0 && !m_thread.joinable())
        m_thread = std::thread([this] { Run(); });
}

void LoopbackTcpServer::StopServing()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void LoopbackTcpServer::Run()
{
    while (!m_stop)
    {
        const platform::SocketHandle client = AcceptConnection(m_listener, std::chrono::milliseconds(50));
        if (client == platform::kInvalidSocket)
            continue;
        Serve(client);
        platform::CloseSocket(client);
    }
}
}
