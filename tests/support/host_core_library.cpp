#include "host_core_library.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#ifdef _WIN32
#include "child_process.h"

#ifndef BRANTEL_VAULTEX_TEMPLATE
#error "BRANTEL_VAULTEX_TEMPLATE must name the template host core library"
#endif
#endif

namespace kestrav::testing
{
namespace
{
#ifdef _WIN32
// "a.b.c.d" as the four 16-bit parts of a Windows file version; missing parts are 0.
std::array<std::uint16_t, 4> VersionParts(const std::string& version)
{
    std::array<std::uint16_t, 4> parts{};
    std::istringstream stream(version);
    std::string part;
    for (std::size_t i = 0; i < parts.size() && std::getline(stream, part, '.'); ++i)
        parts[i] = static_cast<std::uint16_t>(std::stoul(part));
    return parts;
}

void PutDword(std::vector<char>& bytes, std::size_t at, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// The template's VS_FIXEDFILEINFO, found by its signature, gets the version as its file and product version.
void InstallVersionedDll(const std::filesystem::path& target, const std::string& version)
{
    const std::filesystem::path source = LocalPath(BRANTEL_VAULTEX_TEMPLATE);
    std::ifstream in(source, std::ios::binary);
    ASSERT_TRUE(in) << "no template host core library at " << source;
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // The resource's key, L"VS_VERSION_INFO", then the signature 0xFEEF04BD (little-endian) after its padding.
    std::vector<char> key;
    for (const char c : std::string("VS_VERSION_INFO"))
        key.insert(key.end(), {c, '\0'});
    const std::array<char, 4> signature{'\xBD', '\x04', '\xEF', '\xFE'};
    const auto keyAt = std::search(bytes.begin(), bytes.end(), key.begin(), key.end());
    const auto found = std::search(keyAt, bytes.end(), signature.begin(), signature.end());
    // Signature, structure version, then the file version (MS, LS) and the product version (MS, LS).
    const std::size_t at = static_cast<std::size_t>(found - bytes.begin());
    ASSERT_LE(at + 24, bytes.size()) << "the template has no fixed version information";
    const auto parts = VersionParts(version);
    const std::uint32_t high = (std::uint32_t{parts[0]} << 16) | parts[1];
    const std::uint32_t low = (std::uint32_t{parts[2]} << 16) | parts[3];
    for (const std::size_t field : {8u, 16u})
    {
        PutDword(bytes, at + field, high);
        PutDword(bytes, at + field + 4, low);
    }
    std::ofstream out(target, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out) << "could not write " << target;
}
#endif
}

void InstallHostCoreLibrary(const std::filesystem::path& directory, const std::string& version)
{
#ifdef _WIN32
    InstallVersionedDll(directory / "vaultex.dll", version);
#else
    std::ofstream(directory / ("libvaultex.so." + version)) << "host core";
#endif
}
}
