// The recorded RTP streams of tests/data: every datagram preceded by its length as a 16-bit
// big-endian number. Free of any test framework, so that benchmarks read them too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

namespace kestrav::testing
{
// The datagrams in order; nullopt when the file cannot be read or ends inside a datagram.
inline std::optional<std::vector<std::vector<std::uint8_t>>> ReadRecordedDatagrams(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::vector<std::uint8_t>> datagrams;
    for (std::size_t at = 0; at + 2 <= bytes.size();)
    {
        const std::size_t length = std::size_t{bytes[at]} << 8 | bytes[at + 1];
        if (at + 2 + length > bytes.size())
            return std::nullopt;
        datagrams.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at + 2),
                               bytes.begin() + static_cast<std::ptrdiff_t>(at + 2 + length));
        at += 2 + length;
    }
    return datagrams;
}
}
