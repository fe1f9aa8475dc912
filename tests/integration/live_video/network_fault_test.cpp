// What a hostile or broken network does to a running channel, against the simulated camera: the
// camera stalls or drops its connection, strangers send garbage or floods at the module's ports,
// packets are lost and reordered, the camera's HTTP side hangs, dribbles or cuts its answers. In
// every case the video must come back without the host restarting the channel, the recording must
// decode frame for frame before and after the fault, and the stop must stay within its bound.
//
// Each case prints its figures (video gap, memory growth, stop time) for the reliability notes.

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iostream>
#include <mutex>
#include <optional>
#include <random>
#include <string_view>

#include "live_video_fixture.h"
#include "lossy_udp_relay.h"
#include "process_status.h"
#include "test_sockets.h"

namespace kestrav
{
namespace
{
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kRequestTimeoutMs = 2000;
constexpr std::uint32_t kSignalTimeoutMs = 6000;
// A channel's threads are waited for at most twice the request time-out.
constexpr auto kStopBound = std::chrono::milliseconds(2 * kRequestTimeoutMs);
// A stranger's flood may cost the queue's bounded room and no more.
constexpr std::uint64_t kFloodMemoryBound = 16u << 20;
// A silent camera is opened again after half the signal time-out; its TEARDOWN may wait out the
// request time-out first.
constexpr auto kReopenAfterSilence = std::chrono::milliseconds(kSignalTimeoutMs / 2 + kRequestTimeoutMs + 1000);
// Frames wanted on each side of a fault: a second of video at the camera's 25 fps.
constexpr std::uint64_t kFramesEachSide = 25;

// Datagrams from another local address, as from a stranger on the camera's network.
class StrangerSocket
{
public:
    StrangerSocket() : m_socket(testing::OpenUdpSocket("127.0.0.2")) {}
    ~StrangerSocket()
    {
        if (IsBound())
            platform::CloseSocket(m_socket);
    }
    StrangerSocket(const StrangerSocket&) = delete;
    StrangerSocket& operator=(const StrangerSocket&) = delete;

    bool IsBound() const { return m_socket != platform::kInvalidSocket; }
    void Send(std::uint16_t port, const std::vector<std::uint8_t>& bytes) const
    {
        platform::SendToSocket(m_socket, bytes, testing::Loopback(port));
    }

private:
    platform::SocketHandle m_socket;
};

// The client ports of the first SETUP that offered them ("client_port=A-B").
std::optional<std::pair<std::uint16_t, std::uint16_t>> ClientPorts(const std::string& text)
{
    constexpr std::string_view kKey = "client_port=";
    const std::size_t at = text.find(kKey);
    if (at == std::string::npos)
        return std::nullopt;
    unsigned first = 0;
    unsigned second = 0;
    if (std::sscanf(text.c_str() + at + kKey.size(), "%u-%u", &first, &second) != 2)
        return std::nullopt;
    return std::make_pair(static_cast<std::uint16_t>(first), static_cast<std::uint16_t>(second));
}

std::size_t CountSetups(const testing::TcpRecordingProxy& proxy)
{
    std::size_t count = 0;
    for (const std::string& request : proxy.Requests())
        count += request.rfind("SETUP ", 0) == 0 ? 1 : 0;
    return count;
}

long long Milliseconds(Clock::duration duration)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}

class NetworkFaults : public LiveVideo
{
protected:
    void SetUp() override
    {
        kit.Sink().SetFrameCallback(
            [this](const hostkit::DeliveredFrame&)
            {
                const std::lock_guard<std::mutex> lock(m_arrivalsMutex);
                m_arrivals.push_back(Clock::now());
            });
    }

    // The H.264 channel through the proxy, with time-outs a test can wait out.
    void StartChannel(bool interleaved)
    {
        proxy = std::make_unique<testing::TcpRecordingProxy>(camera->RtspPort());
        kit.Params().SetExtraParam(4, std::to_string(proxy->Port()));
        if (interleaved)
            UseRtpOverRtsp();
        RequestStream(3, 352, 240, 25, 50);
        video = OpenWithShortTimeouts(kRequestTimeoutMs, kSignalTimeoutMs);
        ASSERT_NE(video, nullptr);
        ASSERT_TRUE(video->StartChannel(0, &kit.Sink(), &kit.Channel()));
    }

    // Marks the fault's start: the gap and the memory peak are measured from here.
    void FaultStarts()
    {
        faultFrame = kit.Sink().DeliveredCount();
        faultStart = Clock::now();
        testing::ResetPeakResident();
        residentAtFault = testing::ResidentBytes();
    }

    // The longest time without a frame since the fault started, counting the silence up to now.
    Clock::duration GapSinceFault() const
    {
        const std::lock_guard<std::mutex> lock(m_arrivalsMutex);
        Clock::time_point last = faultStart;
        Clock::duration longest{};
        for (const Clock::time_point arrival : m_arrivals)
        {
            if (arrival < faultStart)
                continue;
            longest = std::max(longest, arrival - last);
            last = arrival;
        }
        return std::max(longest, Clock::now() - last);
    }

    // Video is back: frames after the fault, the channel never restarted by the host. Then the
    // figures, the stop and the recording.
    void ExpectVideoBackAndStopWithinBound(const std::string& name, Clock::duration longestGap)
    {
        ASSERT_TRUE(kit.Sink().WaitForFrames(kit.Sink().DeliveredCount() + 2 * kFramesEachSide, 20s)) << LogText();
        const Clock::duration gap = GapSinceFault();
        const std::uint64_t peak = testing::PeakResidentBytes();
        memoryGrowth = peak > residentAtFault ? peak - residentAtFault : 0;
        const std::uint64_t growth = memoryGrowth;
        const Clock::time_point stopping = Clock::now();
        EXPECT_TRUE(video->StopChannel(0));
        const Clock::duration stop = Clock::now() - stopping;

        std::cout << "fault " << name << ": video gap " << Milliseconds(gap) << " ms, memory peak +" << (growth >> 10)
                  << " KiB, stop " << Milliseconds(stop) << " ms\n";
        RecordProperty("gap_ms", std::to_string(Milliseconds(gap)));
        RecordProperty("memory_peak_kib", std::to_string(growth >> 10));
        RecordProperty("stop_ms", std::to_string(Milliseconds(stop)));
        // Sanitized builds are slower at everything, the way back included.
        EXPECT_LE(gap, testing::kUnderSanitizer ? 2 * longestGap : longestGap) << LogText();
        EXPECT_LE(stop, kStopBound);
        EXPECT_EQ(kit.Debug().CountContaining("terminated"), 0u) << LogText();
        EXPECT_EQ(kit.Sink().SignalLostCount(), 0u) << "back before the signal time-out";
        ExpectFrameExactBeforeAndAfter();
    }

    // Before: up to the first key frame after the fault started; after: from it on. Each part
    // decodes, and to as many pictures as frames were delivered.
    void ExpectFrameExactBeforeAndAfter()
    {
        const std::vector<hostkit::DeliveredFrame> frames = kit.Sink().Frames();
        auto split = frames.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(faultFrame, frames.size()));
        split = std::find_if(split, frames.end(),
                             [](const hostkit::DeliveredFrame& frame)
                             { return frame.typeCode == ipcapture::kTypeCodeH264; });
        ASSERT_NE(split, frames.end()) << "no key frame after the fault";
        const std::vector<hostkit::DeliveredFrame> before(frames.begin(), split);
        const std::vector<hostkit::DeliveredFrame> after(split, frames.end());
        ASSERT_GE(before.size(), kFramesEachSide);
        ASSERT_GE(after.size(), kFramesEachSide);
        for (const auto* part : {&before, &after})
        {
            std::size_t decoded = 0;
            EXPECT_EQ(testing::DecodeErrors(AnnexBStream(*part), ".h264", &decoded), "");
            EXPECT_EQ(decoded, part->size()) << (part == &before ? "before" : "after") << " the fault";
        }
    }

    std::unique_ptr<testing::TcpRecordingProxy> proxy;
    ipcapture::IIPVideoCaptureEx2* video = nullptr;
    std::uint64_t faultFrame = 0;
    Clock::time_point faultStart;
    std::uint64_t residentAtFault = 0;
    // From the fault to the end of the video that followed it.
    std::uint64_t memoryGrowth = 0;

private:
    mutable std::mutex m_arrivalsMutex;
    std::vector<Clock::time_point> m_arrivals;
};

// What a fault can act on: the camera and the RTSP connection's proxy.
struct FaultTargets
{
    testing::CamsimPeer& camera;
    testing::TcpRecordingProxy& rtsp;
};

struct TransportFault
{
    const char* name;
    bool interleaved;
    // Run with the channel streaming; returns once the fault has been done (or has started).
    std::function<void(const FaultTargets&)> inject;
    // The camera's session is kept: no second SETUP.
    bool sessionKept;
    Clock::duration longestGap;
    // Growth of resident memory allowed from the fault on; 0: not measured.
    std::uint64_t memoryBound = 0;
};

class TransportFaults : public NetworkFaults, public ::testing::WithParamInterface<TransportFault>
{
};

TEST_P(TransportFaults, VideoComesBackWithoutARestartAndDecodesBeforeAndAfter)
{
    const TransportFault& fault = GetParam();
    StartCifCamera();
    StartChannel(fault.interleaved);
    ASSERT_TRUE(kit.Sink().WaitForFrames(kFramesEachSide + 5, 20s)) << LogText();

    FaultStarts();
    fault.inject({*camera, *proxy});
    if (IsSkipped())
        return;
    ExpectVideoBackAndStopWithinBound(fault.name, fault.longestGap);
    if (fault.sessionKept)
    {
        EXPECT_EQ(CountSetups(*proxy), 1u) << "the fault reopened the stream";
    }
    if (fault.memoryBound != 0 && testing::kResidentSizeIsMeaningful)
    {
        EXPECT_LT(memoryGrowth, fault.memoryBound);
    }
}

// The camera goes silent with its connection open: the stream is opened again after half the
// signal time-out, before a loss is reported.
void Stall(const FaultTargets& targets)
{
    targets.rtsp.StallCurrentConnection();
}

// The camera drops its connection mid-stream: a definite end, opened again at once.
void Cut(const FaultTargets& targets)
{
    targets.rtsp.CutCurrentConnection();
}

// The camera's RTSP server restarts: the session is gone, the port listens again at once.
void Restart(const FaultTargets& targets)
{
    ASSERT_TRUE(targets.camera.StopRtsp());
    ASSERT_TRUE(targets.camera.StartRtsp());
}

// Random datagrams of random sizes from another address at the RTP and the RTCP port.
void Garbage(const FaultTargets& targets)
{
    const auto ports = ClientPorts(targets.rtsp.ClientBytes());
    ASSERT_TRUE(ports.has_value());
    StrangerSocket stranger;
    if (!stranger.IsBound())
        GTEST_SKIP() << "127.0.0.2 cannot be bound here";
    std::mt19937 random(18);
    for (int i = 0; i < 2000; ++i)
    {
        std::vector<std::uint8_t> bytes(1 + random() % 1400);
        for (std::uint8_t& byte : bytes)
            byte = static_cast<std::uint8_t>(random());
        stranger.Send(i % 2 == 0 ? ports->first : ports->second, bytes);
    }
}

// 100,000 RTP-shaped datagrams from another address at the RTP port, as fast as they go.
void Flood(const FaultTargets& targets)
{
    const auto ports = ClientPorts(targets.rtsp.ClientBytes());
    ASSERT_TRUE(ports.has_value());
    StrangerSocket stranger;
    if (!stranger.IsBound())
        GTEST_SKIP() << "127.0.0.2 cannot be bound here";
    std::vector<std::uint8_t> datagram(1200, 0x5A);
    datagram[0] = 0x80;
    datagram[1] = 96;
    for (std::uint32_t i = 0; i < 100000; ++i)
    {
        datagram[2] = static_cast<std::uint8_t>(i >> 8);
        datagram[3] = static_cast<std::uint8_t>(i);
        stranger.Send(ports->first, datagram);
    }
}

INSTANTIATE_TEST_SUITE_P(
    LiveVideo, TransportFaults,
    ::testing::Values(TransportFault{"StallWithTheConnectionOpen", true, Stall, false, kReopenAfterSilence},
                      TransportFault{"ConnectionClosedMidStream", true, Cut, false, 3s},
                      TransportFault{"RtspSideRestarts", false, Restart, false, 5s},
                      TransportFault{"GarbageFromAnotherAddress", false, Garbage, true, 2s},
                      TransportFault{"FloodFromAnotherAddress", false, Flood, true, 2s, kFloodMemoryBound}),
    [](const ::testing::TestParamInfo<TransportFault>& info) { return info.param.name; });

// Five per cent of the packets lost and as many swapped with their neighbour, for four seconds, by a
// relay between the camera and the module's ports. Swapped packets are put back in order; a frame that
// lost a packet is not delivered, and neither is anything up to the next key frame: at this rate a few
// frames a second get through, and every one decodes.
TEST_F(NetworkFaults, LossAndReorderingCostFramesButNeverDeliverABrokenOne)
{
    StartCifCamera();
    testing::LossyUdpRelay rtp(2026);
    testing::LossyUdpRelay rtcp(2027);
    ASSERT_NE(rtp.Port(), 0);
    ASSERT_NE(rtcp.Port(), 0);
    // The camera is told to send to the relays, and the module hears back its own ports.
    std::string moduleSide;
    const std::string relaySide = "client_port=" + std::to_string(rtp.Port()) + "-" + std::to_string(rtcp.Port());
    // Declared after what its rewrite uses, so that it goes first.
    testing::TcpRecordingProxy rewriting(camera->RtspPort());
    rewriting.SetRewrite(
        [&](std::string bytes, bool fromClient)
        {
            if (fromClient)
            {
                if (const auto ports = ClientPorts(bytes))
                {
                    moduleSide = "client_port=" + std::to_string(ports->first) + "-" + std::to_string(ports->second);
                    rtp.SetTarget(ports->first);
                    rtcp.SetTarget(ports->second);
                    bytes.replace(bytes.find(moduleSide), moduleSide.size(), relaySide);
                }
            }
            else if (const auto at = bytes.find(relaySide); at != std::string::npos)
                bytes.replace(at, relaySide.size(), moduleSide);
            return bytes;
        });
    kit.Params().SetExtraParam(4, std::to_string(rewriting.Port()));
    RequestStream(3, 352, 240, 25, 50);
    video = OpenWithShortTimeouts(kRequestTimeoutMs, kSignalTimeoutMs);
    ASSERT_NE(video, nullptr);
    ASSERT_TRUE(video->StartChannel(0, &kit.Sink(), &kit.Channel()));
    ASSERT_TRUE(kit.Sink().WaitForFrames(kFramesEachSide + 5, 20s)) << LogText();

    FaultStarts();
    rtp.SetDamage({0.05, 0.05});
    const std::uint64_t atStart = kit.Sink().DeliveredCount();
    std::this_thread::sleep_for(4s);
    rtp.SetDamage({});
    const testing::LossyUdpRelay::Counts counts = rtp.GetCounts();
    const std::uint64_t duringLoss = kit.Sink().DeliveredCount() - atStart;
    std::cout << "lossy relay: " << counts.received << " datagrams, " << counts.dropped << " dropped, "
              << counts.swapped << " swapped; " << duringLoss << " frames delivered in 4 s\n";
    EXPECT_GT(counts.dropped, 0u);
    EXPECT_GT(counts.swapped, 0u);
    EXPECT_GE(duringLoss, 2u) << "video stopped under loss";

    ExpectVideoBackAndStopWithinBound("LossAndReordering", 3s);
    EXPECT_EQ(CountSetups(rewriting), 1u) << "loss reopened the stream";
}

struct HttpFault
{
    const char* name;
    // A rule of the camera's misbehaviour, for every "/setstreaming" until cleared.
    const char* rule;
};

class HttpFaults : public NetworkFaults, public ::testing::WithParamInterface<HttpFault>
{
};

// The camera's HTTP side misbehaves while the channel configures its stream: a stop in the middle
// returns within its bound; a channel left running tries again until the camera behaves, then
// streams, without the host restarting it.
TEST_P(HttpFaults, StopIsBoundedAndTheChannelStreamsOnceTheCameraAnswers)
{
    const HttpFault& fault = GetParam();
    StartCifCamera();
    ASSERT_TRUE(camera->Control(std::string("/camsim/misbehave?path=/setstreaming&") + fault.rule));
    StartChannel(false);
    ASSERT_TRUE(WaitForRequest("/setstreaming", 10s));
    std::this_thread::sleep_for(300ms);
    const Clock::time_point stopping = Clock::now();
    EXPECT_TRUE(video->StopChannel(0));
    const Clock::duration stopDuringFault = Clock::now() - stopping;
    std::cout << "fault http " << fault.name << ": stop during the fault " << Milliseconds(stopDuringFault) << " ms\n";
    EXPECT_LE(stopDuringFault, kStopBound);

    camera->ForgetRequests();
    ASSERT_TRUE(video->StartChannel(0, &kit.Sink(), &kit.Channel()));
    const auto attempts = [this]
    {
        std::size_t count = 0;
        for (const testing::CamsimRequest& request : camera->Requests())
            count += request.path == "/setstreaming" ? 1 : 0;
        return count;
    };
    const Clock::time_point deadline = Clock::now() + 15s;
    while (attempts() < 2 && kit.Sink().DeliveredCount() == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(attempts() >= 2 || kit.Sink().DeliveredCount() > 0) << LogText();
    FaultStarts();
    ASSERT_TRUE(camera->Control("/camsim/misbehave?clear=1"));
    ASSERT_TRUE(kit.Sink().WaitForFrames(kFramesEachSide + 5, 20s)) << LogText();
    // From the first frame on, as the fault came before the video.
    faultFrame = kit.Sink().DeliveredCount();
    ExpectVideoBackAndStopWithinBound(std::string("http ") + fault.name, 20s);
}

INSTANTIATE_TEST_SUITE_P(LiveVideo, HttpFaults,
                         ::testing::Values(HttpFault{"NeverAnswers", "action=stall-before-headers&seconds=60"},
                                           HttpFault{"ByteByByte", "action=slow&chunk=1&delay_ms=150&size=40"},
                                           HttpFault{"ClosesMidBody", "action=close-mid-body&size=64"}),
                         [](const ::testing::TestParamInfo<HttpFault>& info) { return info.param.name; });
}
}
