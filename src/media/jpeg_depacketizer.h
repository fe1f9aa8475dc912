// JPEG pictures rebuilt from RTP/JPEG payloads (RFC 2435): the fragments of one picture are
// joined by their offsets and the headers the camera leaves out are written in front.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "media/rtp_media_parser.h"

namespace kestrav
{
// A picture is handed to the client ("JPEG") on the packet with the marker bit. A sequence
// gap, a fragment whose offset or timestamp does not continue the picture, a payload that
// cannot be read, an overflow or a refused picture drops the picture being built; the next
// fragment with offset 0 starts the next one. A picture the host has no buffer for is dropped
// alone.
class CJpegRTPMediaParser : public CRTPMediaParser
{
public:
    // Room asked of the host beyond the collected bytes for the rebuilt headers and the end marker.
    static constexpr std::size_t kHeaderSpace = 1024;
    static constexpr std::size_t kMainHeaderSize = 8;
    static constexpr std::size_t kRestartHeaderSize = 4;
    // The header written for tables from Q, without a restart interval.
    static constexpr std::size_t kShortHeaderSize = 605;

    explicit CJpegRTPMediaParser(IDriver* driver);

    void ProcessPacket(const CRTPPacket& packet) override;
    void Reset() override;

    bool IsWaitingForFirstFragment() const { return m_waitingForFirstFragment; }
    // The headers in front of the data of every fragment after the first one: 8, or 12 with
    // restart marker headers.
    std::uint32_t GetFragmentHeaderSize() const { return m_fragmentHeaderSize; }

private:
    // What the first fragment says about the whole picture.
    struct PictureHeader
    {
        std::uint8_t type = 0;
        std::uint8_t q = 0;
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        std::uint16_t restartInterval = 0;
        bool hasRestartHeader = false;
        // The in-band quantization tables (Q of 128 or more), empty when built from Q.
        std::uint8_t precision = 0;
        std::vector<std::uint8_t> tables;
        // The header bytes of the first fragment, tables included.
        std::size_t size = 0;
    };

    bool CollectPayload(std::span<const std::uint8_t> payload, std::uint32_t rtpTimestamp);
    bool StartPicture(std::span<const std::uint8_t> payload);
    void FinishPicture(std::uint32_t rtpTimestamp);
    // The rebuilt JPEG headers; empty when the picture cannot be rebuilt.
    std::vector<std::uint8_t> BuildHeader() const;

    // Tables of one Q: bit i of the precision marks table i as 16-bit.
    struct TableSet
    {
        std::uint8_t precision = 0;
        std::vector<std::uint8_t> tables;
    };
    // Q 128 to 254 name tables a camera may send once and then leave out (length 0), so the last
    // ones seen for each Q are kept across pictures and resets; Q 255 tables come with every
    // picture. At most 127 sets of at most two 16-bit tables.
    static constexpr std::size_t kReusableTableCount = 127;
    std::array<TableSet, kReusableTableCount> m_tablesByQ;

    bool m_waitingForFirstFragment = true;
    std::uint32_t m_fragmentHeaderSize = kMainHeaderSize;
    std::uint32_t m_pictureTimestamp = 0;
    PictureHeader m_picture;
};
}
