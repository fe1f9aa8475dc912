#include "media/bit_reader.h"

namespace kestrav
{
std::uint32_t CBitReader::ReadBits(unsigned count)
{
    if (m_failed || count > 32 || count > BitsLeft())
    {
        m_failed = true;
        return 0;
    }
    std::uint64_t value = 0;
    for (unsigned i = 0; i < count; ++i, ++m_position)
    {
        const unsigned bit = (m_bytes[m_position / 8] >> (7 - m_position % 8)) & 1u;
        value = value << 1 | bit;
    }
    return static_cast<std::uint32_t>(value);
}

std::uint32_t CBitReader::ReadUnsignedExpGolomb()
{
    // A code of 32 or more leading zeros does not fit 32 bits; no valid stream has one.
    unsigned leadingZeros = 0;
    while (!m_failed && ReadBits(1) == 0)
    {
        if (++leadingZeros == 32)
        {
            m_failed = true;
            return 0;
        }
    }
    if (m_failed)
        return 0;
    const std::uint64_t value = (std::uint64_t{1} << leadingZeros) - 1 + ReadBits(leadingZeros);
    return m_failed ? 0 : static_cast<std::uint32_t>(value);
}

std::int64_t CBitReader::ReadSignedExpGolomb()
{
    const std::uint32_t code = ReadUnsignedExpGolomb();
    const std::int64_t magnitude = (std::int64_t{code} + 1) / 2;
    return code % 2 == 1 ? magnitude : -magnitude;
}
}
