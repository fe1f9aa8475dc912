// SocketAddressV4 to and from the OS's sockaddr_in, which BSD sockets and Winsock lay out alike. Templates on
// the native type, so that this header needs no OS header and each socket layer brings its own.
#pragma once

#include "platform/socket.h"

namespace kestrav::platform
{
template <typename SockaddrIn> SockaddrIn ToSockaddrIn(const SocketAddressV4& address)
{
    SockaddrIn native{};
    native.sin_family = static_cast<decltype(native.sin_family)>(address.family);
    native.sin_port = address.port;
    native.sin_addr.s_addr = address.address;
    return native;
}

template <typename SockaddrIn> SocketAddressV4 FromSockaddrIn(const SockaddrIn& native)
{
    SocketAddressV4 address;
    address.family = static_cast<std::uint16_t>(native.sin_family);
    address.port = native.sin_port;
    address.address = native.sin_addr.s_addr;
    return address;
}

// The sender a receive call reported in `from` (`length` bytes of it); unset unless it is a whole IPv4 address.
template <typename SockaddrIn, typename Length> SocketAddressV4 SenderOf(const SockaddrIn& from, Length length)
{
    return length >= static_cast<Length>(sizeof from) && from.sin_family == kAddressFamilyIPv4 ? FromSockaddrIn(from)
                                                                                               : SocketAddressV4{};
}
}
