// CRTSPStreamParser::Process on any bytes of an RTSP connection, cut into blocks at positions taken from
// the input: the packets delivered are the same whatever the cut, and the same as a plain reading of the
// whole input frame by frame.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rtp/rtp_packet.h"
#include "rtp/rtp_receiver_user.h"
#include "rtsp/rtsp_stream_parser.h"

namespace
{
using Bytes = std::vector<std::uint8_t>;

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// Sequence number, timestamp and payload of each packet, one after the other.
class RecordingUser : public kestrav::IRTPReceiverUser
{
public:
    void OnInterleavedPacket(const kestrav::CRTPPacket& packet) override
    {
        ++count;
        record.push_back(static_cast<std::uint8_t>(packet.GetSequenceNumber() >> 8));
        record.push_back(static_cast<std::uint8_t>(packet.GetSequenceNumber()));
        for (int shift = 24; shift >= 0; shift -= 8)
            record.push_back(static_cast<std::uint8_t>(packet.GetTimestamp() >> shift));
        record.push_back(static_cast<std::uint8_t>(packet.GetPayloadLength() >> 8));
        record.push_back(static_cast<std::uint8_t>(packet.GetPayloadLength()));
        const auto payload = packet.GetPayload();
        record.insert(record.end(), payload.begin(), payload.end());
    }
    void OnPacket(const kestrav::platform::SocketAddressV4&, const kestrav::CRTPPacket&) override {}
    void OnReceiveTimeout() override {}
    void OnSocketClosed() override {}
    void OnParameterSets(const kestrav::ParameterSets&) override {}
    void OnServerPorts(std::uint16_t, std::uint16_t) override {}

    std::size_t count = 0;
    Bytes record;
};

// The frames of the whole input read in one pass: "$" 0 is an RTP frame, "$" 1 a skipped RTCP frame,
// anything else is passed over one byte at a time; a frame cut off by the end of the input is not delivered.
void ReadWhole(std::span<const std::uint8_t> input, RecordingUser& user)
{
    std::size_t at = 0;
    while (at + 4 <= input.size())
    {
        if (input[at] != '$' || input[at + 1] > 1)
        {
            ++at;
            continue;
        }
        const std::size_t length = std::size_t{input[at + 2]} << 8 | input[at + 3];
        if (at + 4 + length > input.size())
            return;
        kestrav::CRTPPacket packet;
        if (input[at + 1] == 0 && length > 0 && packet.Parse(input.subspan(at + 4, length)))
            user.OnInterleavedPacket(packet);
        at += 4 + length;
    }
}

// With `answers`, the parser hands the answers between frames to it and passes over their bodies.
RecordingUser ProcessInBlocks(std::span<const std::uint8_t> input, std::span<const std::size_t> blockSizes,
                              std::vector<std::string>* answers = nullptr)
{
    RecordingUser user;
    kestrav::CRTSPStreamParser parser(user);
    if (answers != nullptr)
        parser.SetMessageHandler([answers](std::string_view answer) { answers->emplace_back(answer); });
    std::size_t next = 0;
    for (std::size_t at = 0; at < input.size();)
    {
        const std::size_t size = std::min(blockSizes[next++ % blockSizes.size()], input.size() - at);
        parser.Process(input.subspan(at, size));
        at += size;
    }
    return user;
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> input(data, size);
    RecordingUser whole;
    ReadWhole(input, whole);

    const std::size_t all[] = {std::max<std::size_t>(size, 1)};
    const std::size_t single[] = {1};
    // Block sizes from the input's own bytes, so that the fuzzer steers the cuts: 0 to 255, with 0 read as
    // an empty block.
    std::vector<std::size_t> derived;
    for (std::size_t i = 0; i < std::min<std::size_t>(size, 64); ++i)
        derived.push_back(data[size - 1 - i] % 8 == 0 ? 0 : data[size - 1 - i] * 7 % 257);
    if (derived.empty() || std::ranges::all_of(derived, [](std::size_t s) { return s == 0; }))
        derived.push_back(1);

    for (const std::span<const std::size_t> sizes :
         {std::span<const std::size_t>(all), std::span<const std::size_t>(single),
          std::span<const std::size_t>(derived)})
    {
        const RecordingUser user = ProcessInBlocks(input, sizes);
        Check(user.count == whole.count);
        Check(user.record == whole.record);
    }

    // Reading the answers too, the cuts change nothing either.
    std::vector<std::string> firstAnswers;
    const RecordingUser first = ProcessInBlocks(input, all, &firstAnswers);
    for (const std::span<const std::size_t> sizes :
         {std::span<const std::size_t>(single), std::span<const std::size_t>(derived)})
    {
        std::vector<std::string> answers;
        const RecordingUser user = ProcessInBlocks(input, sizes, &answers);
        Check(user.record == first.record);
        Check(answers == firstAnswers);
    }
    return 0;
}
