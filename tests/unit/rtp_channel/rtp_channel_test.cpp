// The RTP channel with a test depacketizer that turns every packet into a frame: port probing,
// the sender filter, frame times and the signal supervision, with short time-outs.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <random>
#include <thread>

#include "channels/base_rtp_channel.h"
#include "core/media_frame.h"
#include "platform/clock.h"
#include "rtp/rtp_packet.h"
#include "short_timeout_driver.h"
#include "support/host_fixture.h"
#include "test_sockets.h"

namespace kestrav
{
namespace
{
using namespace std::chrono_literals;

using testing::ShortTimeoutDriver;

// Every packet becomes a 4-byte frame stamped through the channel's converter.
class FramePerPacketChannel : public CBaseRTPChannel
{
public:
    using CBaseRTPChannel::CBaseRTPChannel;
    ~FramePerPacketChannel() override { CBaseCameraChannel::Stop(); }

    void SetPrivacyMasks(ipcapture::IIPPrivacyMaskSource*) override {}
    void OnParameterSets(const ParameterSets&) override {}
    std::string GetStreamName() override { return "test stream"; }

    std::atomic<int> streamsOpened{0};

protected:
    bool PrepareStreaming() override
    {
        ++streamsOpened;
        return true;
    }

    void ProcessPacket(const CRTPPacket& packet) override
    {
        CMediaFrame frame =
            CMediaFrame::Allocate(GetDriver()->GetMediaAllocator(), ipcapture::kTypeCodeJpeg, 16, "test stream");
        if (!frame)
            return;
        FrameDescription description;
        description.width = 320;
        description.height = 240;
        description.dataSize = 4;
        ConvertTimeStamp(packet.GetTimestamp(), description.timestamp);
        frame.Describe(description);
        frame.Deliver([this](ipcapture::IIPMediaBuffer* buffer) { return OnFrame(buffer); });
    }
};

// Sends RTP packets over UDP from a chosen local address to a port of 127.0.0.1.
class RtpSender
{
public:
    explicit RtpSender(const char* from = "127.0.0.1") : m_socket(testing::OpenUdpSocket(from)) {}
    bool IsBound() const { return m_socket != platform::kInvalidSocket; }
    ~RtpSender()
    {
        Stop();
        platform::CloseSocket(m_socket);
    }

    void Send(std::uint16_t port)
    {
        std::uint8_t packet[16] = {0x80, 26, 0, 0, 0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78, 0xFF, 0xD8, 0xFF, 0xD9};
        packet[2] = static_cast<std::uint8_t>(m_sequence >> 8);
        packet[3] = static_cast<std::uint8_t>(m_sequence);
        for (int i = 0; i < 4; ++i)
            packet[4 + i] = static_cast<std::uint8_t>(m_timestamp >> (24 - 8 * i));
        ++m_sequence;
        m_timestamp += 3600;
        platform::SendToSocket(m_socket, packet, testing::Loopback(port));
    }

    // Sends every 10 ms to whatever port `target` names at the time, until stopped.
    void StartStream(std::function<std::uint16_t()> target)
    {
        m_running = true;
        m_thread = std::thread(
            [this, target]
            {
                while (m_running)
                {
                    if (const std::uint16_t port = target())
                        Send(port);
                    std::this_thread::sleep_for(10ms);
                }
            });
    }
    void Stop()
    {
        m_running = false;
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    platform::SocketHandle m_socket;
    std::uint16_t m_sequence = 1;
    std::uint32_t m_timestamp = 90000;
    std::atomic<bool> m_running{false};
    std::thread m_thread;
};

// An even port with its neighbours free for the probes, away from other tests.
std::uint16_t FreePortBase()
{
    std::random_device random;
    return static_cast<std::uint16_t>(20000 + 2 * (random() % 10000));
}

class RtpChannel : public testing::HostFixture
{
protected:
    RtpChannel()
    {
        kit.Connection().SetAddress("127.0.0.1");
        kit.Model().SetModelName("");
    }

    void Open(std::uint32_t requestMs = 100, std::uint32_t signalMs = 2000)
    {
        ASSERT_TRUE(driver.Open(&kit.Debug(), &kit.Allocator(), &kit.Params()));
        driver.SetTimeouts(requestMs, signalMs);
        channel = std::make_unique<FramePerPacketChannel>(0, &driver, &kit.Sink());
        base = FreePortBase();
        channel->SetPortRange(base, static_cast<std::uint16_t>(base + 40));
        channel->SetStrayTrafficWait(200);
    }

    // Until both ports are open: while a port is probed for stray traffic, only the RTP one is.
    bool WaitForPort()
    {
        for (int i = 0; i < 300; ++i)
        {
            if (channel->GetRtcpPort() != 0)
                return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    static ChannelStartParams Params()
    {
        ChannelStartParams params;
        params.width = 320;
        params.height = 240;
        return params;
    }

    ShortTimeoutDriver driver;
    std::unique_ptr<FramePerPacketChannel> channel;
    std::uint16_t base = 0;
};

TEST_F(RtpChannel, SkipsAPortThatAlreadyReceivesTraffic)
{
    Open();
    RtpSender stray;
    stray.StartStream([this] { return base; });
    ASSERT_TRUE(channel->Start(Params()));
    ASSERT_TRUE(WaitForPort());
    EXPECT_EQ(channel->GetRtpPort(), base + 2);
    EXPECT_EQ(channel->GetRtcpPort(), base + 3);
    stray.Stop();
    channel->Stop();
}

TEST_F(RtpChannel, DeliversFramesOfTheCameraStampedWithTheirTimes)
{
    Open();
    ASSERT_TRUE(channel->Start(Params()));
    ASSERT_TRUE(WaitForPort());
    RtpSender camera;
    camera.StartStream([this] { return channel->GetRtcpPort() != 0 ? channel->GetRtpPort() : std::uint16_t{0}; });
    ASSERT_TRUE(kit.Sink().WaitForFrames(10, 5s));
    EXPECT_EQ(channel->GetState(), kChannelReceiving);
    const auto frames = kit.Sink().Frames();
    ASSERT_TRUE(frames.back().timestamp);
    EXPECT_GE(frames.back().timestamp->wYear, 2024);
    EXPECT_TRUE(kit.Debug().WaitFor("is online", 0ms));
    camera.Stop();
    channel->Stop();
}

// A device name that did not resolve when the channel was built is looked up again at the open.
TEST_F(RtpChannel, LooksTheDeviceAddressUpAgainAtEachOpen)
{
    Open();
    driver.SetAddress("");
    channel = std::make_unique<FramePerPacketChannel>(0, &driver, &kit.Sink());
    channel->SetPortRange(base, static_cast<std::uint16_t>(base + 40));
    channel->SetStrayTrafficWait(200);
    driver.SetAddress("127.0.0.1");
    ASSERT_TRUE(channel->Start(Params()));
    ASSERT_TRUE(WaitForPort());
    RtpSender camera;
    camera.StartStream([this] { return channel->GetRtcpPort() != 0 ? channel->GetRtpPort() : std::uint16_t{0}; });
    EXPECT_TRUE(kit.Sink().WaitForFrames(3, 5s));
    camera.Stop();
    channel->Stop();
}

TEST_F(RtpChannel, DropsPacketsOfOtherSenders)
{
    Open();
    ASSERT_TRUE(channel->Start(Params()));
    ASSERT_TRUE(WaitForPort());
    RtpSender intruder("127.0.0.2");
    if (!intruder.IsBound())
        GTEST_SKIP() << "127.0.0.2 cannot be bound here";
    for (int i = 0; i < 20; ++i)
        intruder.Send(channel->GetRtpPort());
    EXPECT_FALSE(kit.Sink().WaitForFrames(1, 300ms));
    channel->Stop();
}

TEST_F(RtpChannel, ReopensAtHalfTheSignalTimeOutAndReportsTheLossAtTheWhole)
{
    Open(100, 2400); // the loop looks every second: half the time-out falls between two looks
    ASSERT_TRUE(channel->Start(Params()));
    ASSERT_TRUE(WaitForPort());
    RtpSender camera;
    std::atomic<bool> sending{true};
    camera.StartStream([&]
                       { return sending && channel->GetRtcpPort() != 0 ? channel->GetRtpPort() : std::uint16_t{0}; });
    ASSERT_TRUE(kit.Sink().WaitForFrames(5, 5s));
    const int opened = channel->streamsOpened;
    sending = false;

    ASSERT_TRUE(kit.Sink().WaitForSignalLost(1, 5s));
    EXPECT_GT(channel->streamsOpened, opened) << "the stream was reopened after half the time-out";
    EXPECT_NE(channel->GetState(), kChannelReceiving);
    const auto line = kit.Debug().WaitFor("Signal was lost", 1s);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->text, "kestrav::CBaseCameraChannel::SetCameraState: Signal was lost for camera 127.0.0.1");

    // Every reopen into the same silence is counted, and told once.
    EXPECT_EQ(kit.Debug().CountContaining("kestrav::CBaseRTPChannel::ReportLostStream: The video of camera 127.0.0.1 "
                                          "to UDP port "),
              1u);
    EXPECT_EQ(kit.Debug().CountContaining("and no RTP packet comes any more; the stream is opened again"), 1u);
    EXPECT_EQ(kit.Debug().CountContaining("No RTP packet came"), 0u) << "the same failure, not a new one";

    sending = true; // the camera comes back
    kit.Sink().Clear();
    EXPECT_TRUE(kit.Sink().WaitForFrames(3, 5s));
    EXPECT_TRUE(kit.Debug().WaitFor(
        [](const hostkit::DebugRecord& r) { return r.text.find("is online") != std::string::npos; }, 1s));
    const auto recovered = kit.Debug().WaitFor("works again after", 1s);
    ASSERT_TRUE(recovered);
    EXPECT_EQ(recovered->text.rfind("kestrav::CBaseRTPChannel::CaptureThread: The stream of camera 127.0.0.1 works "
                                    "again after ",
                                    0),
              0u);
    EXPECT_GE(channel->streamsOpened - opened, 2) << "the silence cost at least one reopen besides the first";
    camera.Stop();
    channel->Stop();
}

// The sender stamps 40 ms of RTP time every 10 ms. A fresh conversion paces the first frames at the
// nominal 40 ms; one that kept the pacing measured on the previous stream would step by about 10.
TEST_F(RtpChannel, AReopenedStreamStartsItsTimeConversionAfresh)
{
    Open(100, 2000);
    ASSERT_TRUE(channel->Start(Params()));
    ASSERT_TRUE(WaitForPort());
    RtpSender camera;
    std::atomic<bool> sending{true};
    camera.StartStream([&]
                       { return sending && channel->GetRtcpPort() != 0 ? channel->GetRtpPort() : std::uint16_t{0}; });
    ASSERT_TRUE(kit.Sink().WaitForFrames(150, 10s)) << "the pace is measured after 100 frames";
    const int opened = channel->streamsOpened;
    sending = false;
    for (int i = 0; i < 500 && channel->streamsOpened == opened; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_GT(channel->streamsOpened, opened);
    ASSERT_TRUE(WaitForPort());
    // The first stream's frame times ran up to the 1 s lead they may have over the clock; the new stream starts
    // after its last one, so it starts once that lead is gone, where only its pace decides its steps.
    std::this_thread::sleep_for(1100ms);
    kit.Sink().Clear();
    sending = true;
    ASSERT_TRUE(kit.Sink().WaitForFrames(12, 5s));
    camera.Stop();
    channel->Stop();

    const auto frames = kit.Sink().Frames();
    std::vector<std::int64_t> steps;
    for (std::size_t i = 1; i < 12; ++i)
    {
        std::uint64_t before = 0;
        std::uint64_t after = 0;
        ASSERT_TRUE(frames[i - 1].timestamp && frames[i].timestamp);
        ASSERT_TRUE(platform::SystemTimeToFileTime(*frames[i - 1].timestamp, &before));
        ASSERT_TRUE(platform::SystemTimeToFileTime(*frames[i].timestamp, &after));
        steps.push_back((static_cast<std::int64_t>(after) - static_cast<std::int64_t>(before)) / 10000);
    }
    for (const std::int64_t step : steps)
        EXPECT_TRUE(step == 39 || step == 40) << "milliseconds between frames: " << ::testing::PrintToString(steps);
}

TEST_F(RtpChannel, OpensNoPortWhenTheStreamComesOverRtsp)
{
    std::ofstream(hostDirectory.Path() / "BrantelIPCapture.xml")
        << "<Configuration><DeviceDefault><VideoChannel><RTPMode>RTPoverRTSP</RTPMode></VideoChannel>"
           "</DeviceDefault></Configuration>";
    Open();
    ASSERT_TRUE(channel->Start(Params()));
    for (int i = 0; i < 100 && channel->streamsOpened == 0; ++i)
        std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(channel->IsRtpOverRtsp());
    EXPECT_EQ(channel->GetRtpPort(), 0);
    channel->Stop();
}
}
}
