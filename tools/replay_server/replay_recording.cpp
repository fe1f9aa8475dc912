#include "replay_recording.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace kestrav::replay
{
namespace
{
constexpr std::string_view kMagic = "BRANTEL-RTP-REPLAY 1\n";
constexpr std::size_t kRtpHeaderSize = 12;

std::int64_t TicksToNs(std::int64_t ticks)
{
    return ticks * 1'000'000'000 / 90'000;
}
}

ReplayRecording::ReplayRecording(const std::string& file, double spread)
{
    std::ifstream input(file, std::ios::binary);
    if (!input)
    {
        m_error = "cannot read " + file;
        return;
    }
    m_bytes.assign(std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>());
    const std::string_view all(reinterpret_cast<const char*>(m_bytes.data()), m_bytes.size());
    const std::size_t headEnd = all.find("\n\n");
    if (!all.starts_with(kMagic) || headEnd == std::string_view::npos)
    {
        m_error = file + " is no replay recording (make it with scripts/make_replay_stream.sh)";
        return;
    }
    if (!ReadHead(std::string(all.substr(0, headEnd + 1))))
        return;
    std::size_t at = headEnd + 2;
    while (at < m_bytes.size())
    {
        if (m_bytes.size() - at < 4)
        {
            m_error = "truncated packet length at byte " + std::to_string(at);
            return;
        }
        const std::uint32_t size = std::uint32_t{m_bytes[at]} << 24 | std::uint32_t{m_bytes[at + 1]} << 16 |
                                   std::uint32_t{m_bytes[at + 2]} << 8 | m_bytes[at + 3];
        at += 4;
        if (size < kRtpHeaderSize || size > m_bytes.size() - at || (m_bytes[at] >> 6) != 2)
        {
            m_error = "bad RTP packet at byte " + std::to_string(at);
            return;
        }
        m_packets.push_back(RecordedPacket{at, size, 0, 0});
        at += size;
    }
    Schedule(spread);
}

bool ReplayRecording::ReadHead(const std::string& head)
{
    std::istringstream lines(head.substr(kMagic.size()));
    std::string line;
    while (std::getline(lines, line))
    {
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string name = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (name == "encoding")
            m_encoding = value;
        else if (name == "fmtp")
            m_fmtp = value;
        else if (name == "width")
            m_width = std::atoi(value.c_str());
        else if (name == "height")
            m_height = std::atoi(value.c_str());
        else if (name == "fps")
            m_fps = std::max(1, std::atoi(value.c_str()));
    }
    return true;
}

bool ReplayRecording::Schedule(double spread)
{
    if (m_packets.empty())
    {
        m_error = "the recording holds no packet";
        return false;
    }
    auto stamp = [this](const RecordedPacket& packet)
    {
        const std::uint8_t* p = m_bytes.data() + packet.offset + 4;
        return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
    };
    const std::uint32_t first = stamp(m_packets.front());
    for (RecordedPacket& packet : m_packets)
        packet.ticks = stamp(packet) - first; // unsigned: a wrap inside the recording stays in order
    const std::uint32_t frameTicks = 90'000 / static_cast<std::uint32_t>(m_fps);
    m_loopTicks = m_packets.back().ticks + frameTicks;
    m_loopNs = TicksToNs(m_loopTicks);
    spread = std::clamp(spread, 0.0, 1.0);
    // The packets of one frame share its time stamp; they leave spread over the gap to the next frame.
    for (std::size_t begin = 0; begin < m_packets.size();)
    {
        std::size_t end = begin;
        while (end < m_packets.size() && m_packets[end].ticks == m_packets[begin].ticks)
            ++end;
        const std::uint32_t next = end < m_packets.size() ? m_packets[end].ticks : m_loopTicks;
        const std::int64_t startNs = TicksToNs(m_packets[begin].ticks);
        const double gapNs = static_cast<double>(TicksToNs(next) - startNs) * spread;
        const std::size_t count = end - begin;
        for (std::size_t i = begin; i < end; ++i)
            m_packets[i].dueNs = startNs + static_cast<std::int64_t>(gapNs * static_cast<double>(i - begin) /
                                                                     static_cast<double>(count));
        begin = end;
    }
    return true;
}
}
