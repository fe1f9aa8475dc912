// A UDP relay on 127.0.0.1 between the simulated camera and one of the module's ports: it drops a
// share of the datagrams and swaps neighbours, from a fixed seed so that every run sees the same
// damage. It sends from 127.0.0.1, the camera's address as the module knows it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <random>
#include <thread>

#include "platform/socket.h"

namespace kestrav::testing
{
class LossyUdpRelay
{
public:
    struct Damage
    {
        double dropShare = 0.0; // of the datagrams, never forwarded
        double swapShare = 0.0; // of the datagrams, held back and sent after the next one
    };
    struct Counts
    {
        std::uint64_t received = 0;
        std::uint64_t forwarded = 0;
        std::uint64_t dropped = 0;
        std::uint64_t swapped = 0;
    };

    explicit LossyUdpRelay(std::uint32_t seed);
    ~LossyUdpRelay();
    LossyUdpRelay(const LossyUdpRelay&) = delete;
    LossyUdpRelay& operator=(const LossyUdpRelay&) = delete;

    // Where the camera is to send; 0 when no port could be had.
    std::uint16_t Port() const { return m_port; }
    // Until a target is set, what arrives is dropped uncounted.
    void SetTarget(std::uint16_t port) { m_target = port; }
    void SetDamage(Damage damage);
    Counts GetCounts() const;

private:
    void Run();
    void SendOn(const std::uint8_t* bytes, std::size_t size);

    platform::SocketHandle m_socket = platform::kInvalidSocket;
    std::uint16_t m_port = 0;
    std::atomic<std::uint16_t> m_target{0};
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    Damage m_damage;
    Counts m_counts;
    std::mt19937 m_random;
    std::thread m_thread;
};
}
