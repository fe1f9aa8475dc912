// Plain RTP cannot be authenticated: anyone on the path can send datagrams from the camera's address
// to the channel's RTP port. Given live H.264 from the simulated camera, when such a sender floods
// the port with packets that carry the camera's real source (random numbers, timestamps and
// payloads) and with random bytes, then the recording still decodes, hardly any frame is made of
// forged bytes, and the frame times keep rising with the clock.

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "live_video_fixture.h"
#include "platform/clock.h"
#include "test_sockets.h"

namespace kestrav
{
namespace
{
using namespace std::chrono_literals;

// Every forged payload carries this, where any depacketization (single unit, STAP-A, FU-A) keeps it.
constexpr std::uint8_t kForgedTag[] = {0xF0, 0x86, 0xED, 0x5A, 0xA5, 0x0F, 0x86, 0xED,
                                       0xF0, 0x86, 0xED, 0x5A, 0xA5, 0x0F, 0x86, 0xED};
constexpr std::size_t kTagOffset = 8;
constexpr int kForgedPackets = 20000;
constexpr int kRandomDatagrams = 20000;
// Sent in bursts every 10 ms: 20,000 datagrams a second.
constexpr int kBurst = 200;
// Stated bound: 1 in 1.5 million forged packets passes the sequence and timestamp checks.
constexpr std::size_t kBogusFramesAllowed = 2;

// A value from the camera's SETUP answer or the module's SETUP request ("ssrc=", "client_port=").
std::optional<std::uint32_t> TransportValue(const std::string& text, const std::string& key, int base)
{
    const std::size_t at = text.find(key);
    if (at == std::string::npos)
        return std::nullopt;
    return static_cast<std::uint32_t>(std::stoul(text.substr(at + key.size(), 8), nullptr, base));
}

class ForgedFlood : public LiveVideo
{
protected:
    // Sends the forged packets and the random datagrams from 127.0.0.1, the camera's address.
    static void Flood(std::uint16_t port, std::uint32_t ssrc)
    {
        const platform::SocketHandle sender = testing::OpenUdpSocket();
        ASSERT_NE(sender, platform::kInvalidSocket);
        std::mt19937 random(3550);
        std::vector<std::uint8_t> datagram;
        for (int sent = 0; sent < kForgedPackets + kRandomDatagrams; ++sent)
        {
            datagram.resize(40 + random() % 1200);
            for (std::uint8_t& byte : datagram)
                byte = static_cast<std::uint8_t>(random());
            if (sent < kForgedPackets)
            {
                datagram[0] = 0x80;
                datagram[1] = static_cast<std::uint8_t>((datagram[1] & 0x80) | 96);
                datagram[8] = static_cast<std::uint8_t>(ssrc >> 24);
                datagram[9] = static_cast<std::uint8_t>(ssrc >> 16);
                datagram[10] = static_cast<std::uint8_t>(ssrc >> 8);
                datagram[11] = static_cast<std::uint8_t>(ssrc);
                std::copy(std::begin(kForgedTag), std::end(kForgedTag), datagram.begin() + 12 + kTagOffset);
            }
            platform::SendToSocket(sender, datagram, testing::Loopback(port));
            if (sent % kBurst == kBurst - 1)
                std::this_thread::sleep_for(10ms);
        }
        platform::CloseSocket(sender);
    }

    // A frame holding forged bytes, or one whose picture size is not the camera's.
    static bool IsBogus(const hostkit::DeliveredFrame& frame)
    {
        return frame.width != 352 || frame.height != 240 ||
               std::search(frame.data.begin(), frame.data.end(), std::begin(kForgedTag), std::end(kForgedTag)) !=
                   frame.data.end();
    }
};

TEST_F(ForgedFlood, LeavesTheRecordingDecodableWithHardlyABogusFrame)
{
    StartCifCamera();
    testing::TcpRecordingProxy proxy(camera->RtspPort());
    kit.Params().SetExtraParam(4, std::to_string(proxy.Port()));
    RequestStream(3, 352, 240, 25, 80);
    OpenDriver();
    ASSERT_TRUE(capture->StartChannel(0, &kit.Sink(), &kit.Channel()));
    ASSERT_TRUE(kit.Sink().WaitForFrames(10, 30s)) << LogText();

    const std::optional<std::uint32_t> ssrc = TransportValue(proxy.ServerBytes(), "ssrc=", 16);
    const std::optional<std::uint32_t> port = TransportValue(proxy.ClientBytes(), "client_port=", 10);
    ASSERT_TRUE(ssrc && port) << proxy.ServerBytes();
    const std::size_t before = kit.Sink().Frames().size();
    Flood(static_cast<std::uint16_t>(*port), *ssrc);
    // The same at the RTCP port: the reports' parser drops it, and the session is not restarted over it.
    Flood(static_cast<std::uint16_t>(*port + 1), *ssrc);
    const std::size_t during = kit.Sink().Frames().size() - before;
    ASSERT_TRUE(kit.Sink().WaitForFrames(kit.Sink().Frames().size() + 10, 10s)) << "video goes on";
    const std::vector<std::string> requests = proxy.Requests();
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                            [](const std::string& request) { return request.rfind("SETUP ", 0) == 0; }),
              1)
        << "one session throughout";
    capture->StopChannel(0);
    const std::uint64_t stopped = platform::FileTimeNow();

    const std::vector<hostkit::DeliveredFrame> frames = kit.Sink().Frames();
    const auto bogus = static_cast<std::size_t>(std::count_if(frames.begin(), frames.end(), IsBogus));
    std::printf("forged flood: %zu bogus of %zu frames (%zu while %d forged packets and %d random datagrams "
                "arrived at each of the RTP and RTCP ports)\n",
                bogus, frames.size(), during, kForgedPackets, kRandomDatagrams);
    EXPECT_LE(bogus, kBogusFramesAllowed);
    std::size_t decoded = 0;
    EXPECT_EQ(testing::DecodeErrors(AnnexBStream(frames), ".h264", &decoded), "");
    EXPECT_EQ(decoded, frames.size());
    std::uint64_t previous = 0;
    for (const hostkit::DeliveredFrame& frame : frames)
    {
        std::uint64_t time = 0;
        ASSERT_TRUE(frame.timestamp && platform::SystemTimeToFileTime(*frame.timestamp, &time));
        ASSERT_GT(time, previous) << "frame " << frame.sequence;
        ASSERT_LE(time, stopped + 10000000) << "no frame time runs more than a second ahead of the clock";
        previous = time;
    }
}
}
}
