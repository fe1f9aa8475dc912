// The description of one camera, copied by value into every object that talks to it.
#pragma once

#include <cstdint>
#include <string>

namespace kestrav
{
class DEVICE_INFO
{
public:
    virtual ~DEVICE_INFO() = default;

    // The HTTP request time-out; twice it bounds the stop wait of capture threads.
    std::uint32_t requestTimeoutMs = 5000;
    // No frame for this long means the signal is lost.
    std::uint32_t signalTimeoutMs = 15000;
    std::string address;     // host name or IPv4 address
    std::uint16_t port = 80; // the HTTP port
    std::string userName;
    std::string password;
    std::string modelName;
};
}
