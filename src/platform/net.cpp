// Host-name look-up, the same on both platforms: only the headers differ, and the socket layer's
// start-up, which Winsock needs and POSIX counts.
#if defined(_WIN32)
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstring>

#include "platform/net.h"
#include "platform/sockets.h"

namespace kestrav::platform
{
std::uint32_t ResolveHostIPv4(const std::string& host)
{
    // A name with a zero byte inside would be cut short by the C interfaces and name another host.
    if (host.empty() || host.find('\0') != std::string::npos)
        return 0;

    in_addr address{};
    if (inet_pton(AF_INET, host.c_str(), &address) == 1)
        return address.s_addr;

    // getaddrinfo fails with WSANOTINITIALISED unless Winsock is started; not every caller holds a
    // start-up, and an extra one is only a counter.
    if (!StartSockets())
        return 0;
    struct Cleanup
    {
        ~Cleanup() { CleanupSockets(); }
    } cleanup;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    // One entry per address instead of one per socket type.
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* results = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &results) != 0 || results == nullptr)
        return 0;

    std::uint32_t found = 0;
    for (const addrinfo* entry = results; entry != nullptr; entry = entry->ai_next)
    {
        if (entry->ai_family == AF_INET && entry->ai_addr != nullptr && entry->ai_addrlen >= sizeof(sockaddr_in))
        {
            sockaddr_in ipv4{};
            std::memcpy(&ipv4, entry->ai_addr, sizeof(ipv4));
            found = ipv4.sin_addr.s_addr;
            break;
        }
    }
    freeaddrinfo(results);
    return found;
}
}
