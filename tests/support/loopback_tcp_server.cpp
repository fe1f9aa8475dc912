#include "loopback_tcp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrav::testing
{
LoopbackTcpServer::LoopbackTcpServer()
{
    m_listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listener, 4) != 0 || getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    m_port = ntohs(address.sin_port);
}

LoopbackTcpServer::~LoopbackTcpServer()
{
    StopServing();
    if (m_listener >= 0)
        close(m_listener);
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
        pollfd listening{m_listener, POLLIN, 0};
        if (poll(&listening, 1, 50) <= 0)
            continue;
        const int client = accept(m_listener, nullptr, nullptr);
        if (client < 0)
            continue;
        Serve(client);
        close(client);
    }
}
}
