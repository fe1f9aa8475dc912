// The version part of the host core library's file name; portable text handling.
#include <charconv>

#include "platform/process.h"

namespace kestrav::platform
{
namespace
{
constexpr std::string_view kHostCorePrefix = "libvaultex.so.";
}

std::optional<FileVersion> ParseHostCoreFileName(const std::string& fileName)
{
    const std::string_view name(fileName);
    if (name.substr(0, kHostCorePrefix.size()) != kHostCorePrefix)
        return std::nullopt;
    std::string_view rest = name.substr(kHostCorePrefix.size());

    std::uint16_t fields[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4; ++i)
    {
        const auto dot = rest.find('.');
        const std::string_view part = rest.substr(0, dot);
        std::uint16_t value = 0;
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (part.empty() || error != std::errc() || end != part.data() + part.size())
            return std::nullopt;
        fields[i] = value;
        if (dot == std::string_view::npos)
            return FileVersion{fields[0], fields[1], fields[2], fields[3]};
        rest = rest.substr(dot + 1);
    }
    return std::nullopt; // more than four fields
}
}
