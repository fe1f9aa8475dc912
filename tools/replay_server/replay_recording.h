// A recorded RTP stream as scripts/make_replay_stream.sh writes it (the format is described there), read
// whole into memory, with the moment each packet is due relative to the start of one pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestrav::replay
{
struct RecordedPacket
{
    std::size_t offset = 0; // into the recording's bytes
    std::uint32_t size = 0;
    // 90 kHz ticks since the first packet of the pass.
    std::uint32_t ticks = 0;
    // Nanoseconds since the start of the pass at which the packet is sent.
    std::int64_t dueNs = 0;
};

class ReplayRecording
{
public:
    // Empty error() on success. spread: the share of a frame's interval over which its packets are sent
    // (0 sends a frame in one burst at its time stamp, 1 spreads it evenly until the next frame's).
    ReplayRecording(const std::string& file, double spread);

    const std::string& Error() const { return m_error; }
    const std::string& Fmtp() const { return m_fmtp; }
    const std::string& Encoding() const { return m_encoding; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    int Fps() const { return m_fps; }
    const std::vector<RecordedPacket>& Packets() const { return m_packets; }
    std::span<const std::uint8_t> Bytes(const RecordedPacket& packet) const
    {
        return {m_bytes.data() + packet.offset, packet.size};
    }
    // One pass, so that the next pass's first frame follows the last one a frame interval later.
    std::uint32_t LoopTicks() const { return m_loopTicks; }
    std::int64_t LoopNs() const { return m_loopNs; }

private:
    bool ReadHead(const std::string& head);
    bool Schedule(double spread);

    std::string m_error;
    std::string m_encoding = "H264/90000";
    std::string m_fmtp;
    int m_width = 0;
    int m_height = 0;
    int m_fps = 25;
    std::vector<std::uint8_t> m_bytes;
    std::vector<RecordedPacket> m_packets;
    std::uint32_t m_loopTicks = 0;
    std::int64_t m_loopNs = 0;
};
}
