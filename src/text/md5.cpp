#include "text/md5.h"

#include <cstring>

namespace kestrav
{
namespace
{
constexpr std::size_t kBlockSize = 64;
// The padding needs one 0x80 byte and the 8-byte bit length after the data.
constexpr std::size_t kLengthFieldOffset = kBlockSize - 8;

// Per-step shift amounts and sine-derived constants of RFC 1321, section 3.4.
constexpr std::uint32_t kShifts[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                       5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                       4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                       6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

constexpr std::uint32_t kSines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr std::uint32_t RotateLeft(std::uint32_t value, std::uint32_t count)
{
    return (value << count) | (value >> (32 - count));
}

class Md5State
{
public:
    void ProcessBlock(std::span<const std::uint8_t, kBlockSize> block)
    {
        // MD5 reads its words little-endian whatever the machine's byte order.
        std::uint32_t words[16];
        for (std::size_t i = 0; i < 16; ++i)
        {
            words[i] = static_cast<std::uint32_t>(block[i * 4]) | static_cast<std::uint32_t>(block[i * 4 + 1]) << 8 |
                       static_cast<std::uint32_t>(block[i * 4 + 2]) << 16 |
                       static_cast<std::uint32_t>(block[i * 4 + 3]) << 24;
        }

        std::uint32_t a = m_state[0];
        std::uint32_t b = m_state[1];
        std::uint32_t c = m_state[2];
        std::uint32_t d = m_state[3];
        for (std::uint32_t step = 0; step < 64; ++step)
        {
            std::uint32_t mixed = 0;
            std::uint32_t wordIndex = 0;
            if (step < 16)
            {
                mixed = (b & c) | (~b & d);
                wordIndex = step;
            }
            else if (step < 32)
            {
                mixed = (b & d) | (c & ~d);
                wordIndex = (5 * step + 1) % 16;
            }
            else if (step < 48)
            {
                mixed = b ^ c ^ d;
                wordIndex = (3 * step + 5) % 16;
            }
            else
            {
                mixed = c ^ (b | ~d);
                wordIndex = (7 * step) % 16;
            }
            const std::uint32_t next = b + RotateLeft(a + mixed + kSines[step] + words[wordIndex], kShifts[step]);
            a = d;
            d = c;
            c = b;
            b = next;
        }
        m_state[0] += a;
        m_state[1] += b;
        m_state[2] += c;
        m_state[3] += d;
    }

    Md5Digest Digest() const
    {
        Md5Digest digest{};
        for (std::size_t i = 0; i < 4; ++i)
        {
            for (std::size_t shift = 0; shift < 4; ++shift)
                digest[i * 4 + shift] = static_cast<std::uint8_t>(m_state[i] >> (8 * shift));
        }
        return digest;
    }

private:
    std::uint32_t m_state[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
};
}

Md5Digest Md5(std::span<const std::uint8_t> bytes)
{
    Md5State state;
    std::size_t offset = 0;
    for (; bytes.size() - offset >= kBlockSize; offset += kBlockSize)
        state.ProcessBlock(bytes.subspan(offset).first<kBlockSize>());

    // The rest, the 0x80 marker, zeros and the bit length fill one block, or two when fewer than
    // nine bytes are left free after the rest.
    std::uint8_t tail[2 * kBlockSize] = {};
    const std::size_t rest = bytes.size() - offset;
    if (rest > 0)
        std::memcpy(tail, bytes.data() + offset, rest);
    tail[rest] = 0x80;
    const std::size_t tailSize = rest < kLengthFieldOffset ? kBlockSize : 2 * kBlockSize;
    const std::uint64_t bitLength = static_cast<std::uint64_t>(bytes.size()) * 8;
    for (std::size_t i = 0; i < 8; ++i)
        tail[tailSize - 8 + i] = static_cast<std::uint8_t>(bitLength >> (8 * i));

    const std::span<const std::uint8_t> padded(tail, tailSize);
    state.ProcessBlock(padded.first<kBlockSize>());
    if (tailSize == 2 * kBlockSize)
        state.ProcessBlock(padded.subspan(kBlockSize).first<kBlockSize>());
    return state.Digest();
}

std::string Md5Hex(std::string_view text)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    const Md5Digest digest =
        Md5(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    std::string hex;
    hex.reserve(2 * digest.size());
    for (const std::uint8_t byte : digest)
    {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0f];
    }
    return hex;
}
}
