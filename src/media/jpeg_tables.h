// The constant tables of baseline JPEG that an RTP/JPEG receiver (RFC 2435) needs to rebuild the
// headers a camera leaves out: quantization tables scaled from the Q factor and the typical
// Huffman tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrav::jpeg
{
constexpr std::size_t kBlockSize = 64;
using QuantizationTable = std::array<std::uint8_t, kBlockSize>;

// Natural (row order) index of the coefficient at each zig-zag position (ITU-T T.81 figure A.6).
extern const std::array<std::uint8_t, kBlockSize> kZigZag;

// ITU-T T.81 Annex K tables K.1 and K.2, in row order.
extern const QuantizationTable kT81LuminanceQuantization;
extern const QuantizationTable kT81ChrominanceQuantization;
// RFC 2435 Appendix A tables, already in zig-zag order.
extern const QuantizationTable kRfcLuminanceQuantization;
extern const QuantizationTable kRfcChrominanceQuantization;

// One DHT table: class and id byte, the code counts per length 1..16, then the values.
struct HuffmanTable
{
    std::uint8_t classAndId;
    std::span<const std::uint8_t, 16> counts;
    std::span<const std::uint8_t> values;
};

// ITU-T T.81 Annex K.3: DC luminance, AC luminance, DC chrominance, AC chrominance, in the
// order the headers write them.
extern const std::array<HuffmanTable, 4> kTypicalHuffmanTables;

// The luminance and the chrominance table (64 entries each, zig-zag order) for an RTP/JPEG Q
// factor: Q is limited to 1..99, the IJG scaling applies and each entry is limited to 1..255.
std::array<std::uint8_t, 2 * kBlockSize> QuantizationTablesFromT81(int q);
std::array<std::uint8_t, 2 * kBlockSize> QuantizationTablesFromRfc(int q);
}
