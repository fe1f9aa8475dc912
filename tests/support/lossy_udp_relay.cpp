#include "lossy_udp_relay.h"

#include <chrono>
#include <vector>

#include "test_sockets.h"

namespace kestrav::testing
{
LossyUdpRelay::LossyUdpRelay(std::uint32_t seed) : m_random(seed)
{
    m_socket = OpenUdpSocket();
    m_port = platform::GetSocketLocalPort(m_socket);
    if (m_port == 0)
        return;
    // Room for a key frame's burst: the relay must not add losses of its own.
    platform::SetSocketOption(m_socket, platform::SocketOption::ReceiveBuffer, 4 * 1024 * 1024);
    m_thread = std::thread([this] { Run(); });
}

LossyUdpRelay::~LossyUdpRelay()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_socket != platform::kInvalidSocket)
        platform::CloseSocket(m_socket);
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
    platform::SendToSocket(m_socket, {bytes, size}, Loopback(m_target));
}

void LossyUdpRelay::Run()
{
    std::vector<std::uint8_t> buffer(65536);
    std::vector<std::uint8_t> held;
    std::uniform_real_distribution<double> share(0.0, 1.0);
    while (!m_stop)
    {
        bool readable = false;
        if (WaitForReadable({&m_socket, 1}, {&readable, 1}, std::chrono::milliseconds(20)) <= 0)
        {
            // Nothing came to swap with: the held datagram goes on late rather than never.
            if (!held.empty())
                SendOn(held.data(), held.size());
            held.clear();
            continue;
        }
        const int got = platform::ReceiveFromSocket(m_socket, buffer, nullptr);
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
