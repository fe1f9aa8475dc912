// The socket address helpers that need no OS call: network byte order is big-endian on every host.
#include <bit>

#include "platform/socket.h"

namespace kestrav::platform
{
namespace
{
// Host to network order and back: the same swap both ways.
std::uint16_t SwapNetworkOrder(std::uint16_t value)
{
    if constexpr (std::endian::native == std::endian::big)
        return value;
    else
        return static_cast<std::uint16_t>((value >> 8) | (value << 8));
}
}

SocketAddressV4 MakeSocketAddressV4(std::uint32_t addressNetworkOrder, std::uint16_t port)
{
    SocketAddressV4 address;
    address.family = kAddressFamilyIPv4;
    address.port = SwapNetworkOrder(port);
    address.address = addressNetworkOrder;
    return address;
}

std::uint16_t SocketAddressPort(const SocketAddressV4& address)
{
    return SwapNetworkOrder(address.port);
}
}
