// Host-name look-up.
#pragma once

#include <cstdint>
#include <string>

namespace kestrav::platform
{
// The first IPv4 address the resolver gives for `host`, in network byte order; 0 when there is none.
// A dotted IPv4 address is converted without asking the resolver.
std::uint32_t ResolveHostIPv4(const std::string& host);
}
