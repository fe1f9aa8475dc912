// Reads the bit fields and Exp-Golomb codes of an H.264 RBSP, most significant bit first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrav
{
// Never reads outside the bytes it was given: a read past the end, or a code longer than
// 32 bits, marks the reader failed, and from then on every read gives 0. Callers read a whole
// structure and look at Failed() once, checking it earlier only where a value bounds a loop.
class CBitReader
{
public:
    explicit CBitReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    // count from 0 to 32.
    std::uint32_t ReadBits(unsigned count);
    bool ReadFlag() { return ReadBits(1) != 0; }
    // ue(v): 0 to 2^32 - 2.
    std::uint32_t ReadUnsignedExpGolomb();
    // se(v): -(2^31 - 1) to 2^31 - 1.
    std::int64_t ReadSignedExpGolomb();

    bool Failed() const { return m_failed; }
    std::size_t BitsLeft() const { return m_failed ? 0 : m_bytes.size() * 8 - m_position; }

private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_position = 0;
    bool m_failed = false;
};
}
