// Base64Decode on any text (SDP parameter sets come from the camera), and both round trips through Base64Encode.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string_view>
#include <vector>

#include "text/base64.h"

namespace
{
// The capacity the SDP parser decodes parameter sets with.
constexpr std::size_t kSdpCapacity = 256;
constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kestrav;
    const std::span<const std::uint8_t> input(data, size);
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const auto decoded = Base64Decode(text, kUnlimited);
    Check(decoded.has_value());
    Check(decoded->size() <= size / 4 * 3 + 2);

    // The capacity decides success alone, and a success gives the same bytes.
    const auto bounded = Base64Decode(text, kSdpCapacity);
    Check(bounded.has_value() == (decoded->size() <= kSdpCapacity));
    Check(!bounded || *bounded == *decoded);

    // Decoded bytes encode to a text that decodes to them again.
    const auto reencoded = Base64Encode(*decoded, kUnlimited);
    Check(reencoded.has_value());
    const auto again = Base64Decode(*reencoded, decoded->size());
    Check(again && *again == *decoded);

    // Any bytes survive encoding and decoding.
    const auto encoded = Base64Encode(input, kUnlimited);
    Check(encoded && encoded->size() == (size + 2) / 3 * 4);
    const auto roundTrip = Base64Decode(*encoded, size);
    Check(roundTrip && std::equal(roundTrip->begin(), roundTrip->end(), input.begin(), input.end()));
    return 0;
}
