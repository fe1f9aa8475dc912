#include "lossy_udp_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace kestrav::testing
{
namespace
{
sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}
}

LossyUdpRelay::LossyUdpRelay(std::uint32_t seed) : m_random(seed)
{
    m_socket = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (m_socket < 0 || bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    // Room for a key frame's burst: the relay must not add losses of its own.
    const int bufferBytes = 4 * 1024 * 1024;
    setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Run(); });
}

LossyUdpRelay::~LossyUdpRelay()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_socket >= 0)
        close(m_socket);
}

void LossyUdpRelay::SetDamage(Damage damage)
{
    std::lock_guard lock(m_mutex);
    m_damage = damage;
}

LossyUdpRelay::Counts LossyUdpRelay::GetCounts() const
{
    std::lock_guard lock(m_mutex);
    return m_counts;
}

void LossyUdpRelay::SendOn(const std::uint8_t* bytes, std::size_t size)
{
    const sockaddr_in to = Loopback(m_target);
    sendto(m_socket, bytes, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

void LossyUdpRelay::Run()
{
    std::vector<std::uint8_t> buffer(65536);
    std::vector<std::uint8_t> held;
    std::uniform_real_distribution<double> share(0.0, 1.0);
    while (!m_stop)
    {
        pollfd end{m_socket, POLLIN, 0};
        if (poll(&end, 1, 20) <= 0)
        {
            // Nothing came to swap with: the held datagram goes on late rather than never.
            if (!held.empty())
                SendOn(held.data(), held.size());
            held.clear();
            continue;
        }
        const ssize_t got = recv(m_socket, buffer.data(), buffer.size(), 0);
        if (got <= 0 || m_target == 0)
            continue;
        std::lock_guard lock(m_mutex);
        ++m_counts.received;
        const double draw = share(m_random);
        if (draw < m_damage.dropShare)
        {
            ++m_counts.dropped;
            continue;
        }
        if (held.empty() && draw < m_damage.dropShare + m_damage.swapShare)
        {
            held.assign(buffer.begin(), buffer.begin() + got);
            ++m_counts.swapped;
            continue;
        }
        SendOn(buffer.data(), static_cast<std::size_t>(got));
        ++m_counts.forwarded;
        if (!held.empty())
        {
            SendOn(held.data(), held.size());
            ++m_counts.forwarded;
            held.clear();
        }
    }
}
}
