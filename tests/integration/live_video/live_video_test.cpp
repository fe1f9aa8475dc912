// Live video end to end: the driver created through the exports and opened through the host kit
// streams from the simulated camera (its CGI and its GStreamer RTSP server) to the kit's frame
// sink, and FFmpeg judges what arrived.
#include "live_video_fixture.h"
#include "scripted_rtsp_server.h"

namespace kestrav
{
namespace
{
using namespace std::chrono_literals;

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// The request of a 1920 × 1080 main stream at frame-rate code 40 and quality 50 against the
// camera's default profiles (1080P with 1024…8192 kbit/s, at most 30 frames per second).
TEST_F(LiveVideo, H264OverUdpWithDigestConfiguresTheCameraAndDecodesCleanly)
{
    StartCamera({});
    kit.Params().SetExtraParam(
        5, "h264:1080p 1920x1080 30 1024-2048-3072-4096-5120-6144-7168-8192- -,720p 1280x720 30 1024-2048- -,;#");
    kit.Channel().Format().SetCodec(3);
    kit.Channel().Format().Resolution().Set(1920, 1080);
    kit.Channel().Recording().SetFrameRateCode(40);
    kit.Channel().Recording().SetQuality(50);
    kit.Channel().Masks().SetMask(0, 50, 50, 50, 50);
    OpenDriver();

    ASSERT_TRUE(capture->StartChannel(0, &kit.Sink(), &kit.Channel()));
    ASSERT_TRUE(kit.Sink().WaitForFrames(12, 30s)) << LogText();
    capture->StopChannel(0);

    EXPECT_EQ(RequestsTo("/setstreaming"),
              std::vector<std::string>{"/setstreaming?profilename=H2641080P&vbrcbr=0&bitrate=4096&Iframeperiod=25"
                                       "&outrate=25"});
    EXPECT_EQ(RequestsTo("/privacymask"),
              (std::vector<std::string>{"/privacymask?cmd=set&privacy_enable=1&pmID=1&pmBlock=130v239v",
                                        "/privacymask?cmd=set&pmClear=2", "/privacymask?cmd=set&pmClear=3",
                                        "/privacymask?cmd=set&pmClear=4"}));
    const auto applied = camera->RtspStream("/rtsph2641080p");
    ASSERT_TRUE(applied.has_value());
    EXPECT_EQ(applied->at("fps"), "25");

    const std::vector<hostkit::DeliveredFrame> frames = kit.Sink().Frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.front().typeCode, ipcapture::kTypeCodeH264) << "the first frame is a key frame";
    EXPECT_EQ(frames.front().width, 1920u);
    EXPECT_EQ(frames.front().height, 1080u);
    EXPECT_EQ(frames.front().ownerName, "BrantelIPCapture::RecStream");
    std::size_t decoded = 0;
    EXPECT_EQ(testing::DecodeErrors(AnnexBStream(frames), ".h264", &decoded), "");
    EXPECT_EQ(decoded, frames.size());
}

// A live stream over interleaved TCP: JPEG pictures, no privacy masks (they belong to the main
// stream), and the profile read from the live stream's part of the capability text.
TEST_F(LiveVideo, JpegLiveStreamInterleavedInTheRtspConnection)
{
    StartCifCamera();
    UseRtpOverRtsp();
    RequestStream(1, 352, 240, 10, 50);
    kit.Channel().Masks().SetMask(0, 10, 10, 20, 20);
    OpenDriver();

    ASSERT_TRUE(capture->StartStream(0, kStreamLive, &kit.Sink(), &kit.Channel()));
    ASSERT_TRUE(kit.Sink().WaitForFrames(8, 30s)) << LogText();
    capture->StopStream(0, kStreamLive);

    EXPECT_EQ(RequestsTo("/setstreaming"),
              std::vector<std::string>{"/setstreaming?profilename=JPEGCIF&outrate=10&quality=50"});
    EXPECT_TRUE(RequestsTo("/privacymask").empty());
    const std::vector<hostkit::DeliveredFrame> frames = kit.Sink().Frames();
    for (const hostkit::DeliveredFrame& frame : frames)
    {
        ASSERT_EQ(frame.typeCode, ipcapture::kTypeCodeJpeg);
        ASSERT_EQ(frame.ownerName, "BrantelIPCapture::LiveStream");
        ASSERT_EQ(frame.width, 352u);
        EXPECT_EQ(testing::DecodeErrors(frame.data, ".jpg"), "") << "picture " << frame.sequence;
    }
}

struct TransportCase
{
    const char* name;
    std::int32_t codec;
    bool interleaved;
    // The camera sends the H.264 parameter sets only in the session description.
    bool setsOnlyInSdp = false;
};

class EveryCodecAndTransport : public LiveVideo, public ::testing::WithParamInterface<TransportCase>
{
};

// The session goes through a recording proxy, so that the SETUP on the wire shows the transport.
TEST_P(EveryCodecAndTransport, DeliversFramesThatDecodeCleanly)
{
    const TransportCase& transport = GetParam();
    StartCifCamera(transport.setsOnlyInSdp ? std::vector<std::string>{"--no-in-band-parameter-sets"}
                                           : std::vector<std::string>{});
    testing::TcpRecordingProxy proxy(camera->RtspPort());
    kit.Params().SetExtraParam(4, std::to_string(proxy.Port()));
    if (transport.interleaved)
        UseRtpOverRtsp();
    RequestStream(transport.codec, 352, 240, 25, 80);
    OpenDriver();

    ASSERT_TRUE(capture->StartChannel(0, &kit.Sink(), &kit.Channel()));
    ASSERT_TRUE(kit.Sink().WaitForFrames(10, 30s)) << LogText();
    capture->StopChannel(0);

    const std::vector<std::string> requests = proxy.Requests();
    const auto setup = std::find_if(requests.begin(), requests.end(),
                                    [](const std::string& request) { return request.rfind("SETUP ", 0) == 0; });
    ASSERT_NE(setup, requests.end());
    EXPECT_EQ(setup->find("Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n") != std::string::npos,
              transport.interleaved)
        << *setup;
    const std::vector<hostkit::DeliveredFrame> frames = kit.Sink().Frames();
    if (transport.codec == 3)
    {
        EXPECT_EQ(testing::DecodeErrors(AnnexBStream(frames), ".h264"), "");
        return;
    }
    for (const hostkit::DeliveredFrame& frame : frames)
        EXPECT_EQ(testing::DecodeErrors(frame.data, ".jpg"), "") << "picture " << frame.sequence;
}

INSTANTIATE_TEST_SUITE_P(LiveVideo, EveryCodecAndTransport,
                         ::testing::Values(TransportCase{"H264OverUdp", 3, false},
                                           TransportCase{"H264Interleaved", 3, true},
                                           TransportCase{"H264SetsOnlyInTheSdp", 3, false, true},
                                           TransportCase{"JpegOverUdp", 1, false},
                                           TransportCase{"JpegInterleaved", 1, true}),
                         [](const ::testing::TestParamInfo<TransportCase>& info) { return info.param.name; });

class CameraThatGoesAway : public LiveVideo, public ::testing::WithParamInterface<bool>
{
};

TEST_P(CameraThatGoesAway, IsReportedAndComesBackWithoutARestart)
{
    StartCifCamera();
    if (GetParam())
        UseRtpOverRtsp();
    RequestStream(3, 352, 240, 25, 50);
    ipcapture::IIPVideoCaptureEx2* video = OpenWithShortTimeouts(2000, 4000);
    ASSERT_NE(video, nullptr);

    ASSERT_TRUE(video->StartChannel(0, &kit.Sink(), &kit.Channel()));
    ASSERT_TRUE(kit.Sink().WaitForFrames(5, 20s)) << LogText();
    ASSERT_TRUE(camera->StopRtsp());
    ASSERT_TRUE(kit.Sink().WaitForSignalLost(1, 15s)) << LogText();
    std::int32_t state = -1;
    std::int32_t extra = 0;
    ASSERT_TRUE(video->GetChannelState(0, &state, &extra, nullptr, 0));
    EXPECT_NE(state, kChannelReceiving);

    const std::uint64_t before = kit.Sink().DeliveredCount();
    ASSERT_TRUE(camera->StartRtsp());
    ASSERT_TRUE(kit.Sink().WaitForFrames(before + 5, 20s)) << LogText();
    ASSERT_TRUE(video->GetChannelState(0, &state, &extra, nullptr, 0));
    EXPECT_EQ(state, kChannelReceiving);
    const std::vector<std::string> configured = RequestsTo("/setstreaming");
    EXPECT_GE(configured.size(), 2u) << "every reopen configures the stream again";
}

INSTANTIATE_TEST_SUITE_P(LiveVideo, CameraThatGoesAway, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info)
                         { return info.param ? "Interleaved" : "OverUdp"; });

// A paused stream keeps its session: the camera is asked to pause and to play again, frames
// that still arrive are not handed on, and a pause longer than the signal time-out is no loss.
TEST_F(LiveVideo, PauseAndResumeGoToTheCameraWithoutASignalLoss)
{
    StartCifCamera();
    testing::TcpRecordingProxy proxy(camera->RtspPort());
    kit.Params().SetExtraParam(4, std::to_string(proxy.Port()));
    RequestStream(3, 352, 240, 25, 50);
    ipcapture::IIPVideoCaptureEx2* video = OpenWithShortTimeouts(2000, 2000);
    ASSERT_NE(video, nullptr);

    ASSERT_TRUE(video->StartChannel(0, &kit.Sink(), &kit.Channel()));
    ASSERT_TRUE(kit.Sink().WaitForFrames(5, 20s)) << LogText();
    ASSERT_TRUE(video->PauseChannel(0));
    EXPECT_FALSE(video->PauseChannel(0)) << "already paused";
    ASSERT_TRUE(proxy.WaitForRequest("PAUSE", 5000));
    const std::uint64_t paused = kit.Sink().DeliveredCount();
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(kit.Sink().DeliveredCount(), paused);
    EXPECT_EQ(kit.Sink().SignalLostCount(), 0u);

    ASSERT_TRUE(video->ResumeChannel(0));
    EXPECT_FALSE(video->ResumeChannel(0)) << "not paused any more";
    ASSERT_TRUE(kit.Sink().WaitForFrames(paused + 5, 10s)) << LogText();
    const std::vector<std::string> requests = proxy.Requests();
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                            [](const std::string& request) { return request.rfind("SETUP ", 0) == 0; }),
              1)
        << "the session was kept";
    EXPECT_EQ(kit.Sink().SignalLostCount(), 0u);
}

// A camera that refuses the stream configuration gets it asked again every second, and the stream
// starts once the camera takes it. The operator reads one line for the two refusals, with the
// camera's answer, and one when the stream works again.
TEST_F(LiveVideo, RefusedStreamConfigurationIsRetriedUntilTheCameraTakesIt)
{
    StartCifCamera();
    ASSERT_TRUE(camera->Control("/camsim/misbehave?path=/setstreaming&action=status&status=500&times=2"));
    RequestStream(3, 352, 240, 25, 50);
    OpenDriver();

    ASSERT_TRUE(capture->StartChannel(0, &kit.Sink(), &kit.Channel()));
    ASSERT_TRUE(kit.Sink().WaitForFrames(5, 20s)) << LogText();
    capture->StopChannel(0);
    std::size_t refused = 0;
    for (const testing::CamsimRequest& request : camera->Requests())
        refused += request.path == "/setstreaming" && request.status == 500 ? 1 : 0;
    EXPECT_EQ(refused, 2u);
    const std::vector<std::string> taken = RequestsTo("/setstreaming");
    ASSERT_EQ(taken.size(), 1u) << "configured once more, then streamed";

    const std::vector<hostkit::DebugRecord> warnings = WarningsAndErrors();
    ASSERT_EQ(warnings.size(), 1u) << LogText();
    EXPECT_EQ(warnings[0].text, "kestrav::CCommonChannel::PrepareStreaming: Camera 127.0.0.1 did not take the stream "
                                "configuration \"" +
                                    taken[0] + "\": HTTP status 500");
    EXPECT_EQ(kit.Debug().CountContaining("kestrav::CBaseRTPChannel::CaptureThread: The stream of camera 127.0.0.1 "
                                          "works again after 2 failed attempts"),
              1u)
        << LogText();
}

// What went wrong with the stream configuration is told in the camera's terms: a broken answer
// points at the camera, not at the network.
TEST_F(LiveVideo, BrokenConfigurationAnswersAreToldForWhatTheyAre)
{
    struct Case
    {
        const char* rule;
        const char* told;
    };
    const Case cases[] = {
        {"action=garbage&times=2", "\": the answer was not HTTP"},
        // Three: the HTTP stack tries a dropped reused connection once more on a fresh one. WinHTTP reports a
        // connection closed before the first byte of an answer as an invalid server response, as it does an
        // answer that is not HTTP; libcurl tells the two apart.
        {"action=drop&times=3",
         kWindows ? "\": the answer was not HTTP" : "\": the connection was closed without an answer"},
    };
    StartCifCamera();
    RequestStream(3, 352, 240, 25, 50);
    ipcapture::IIPVideoCaptureEx2* video = OpenWithShortTimeouts(2000, 20000);
    ASSERT_NE(video, nullptr);
    for (const Case& test : cases)
    {
        ASSERT_TRUE(camera->Control(std::string("/camsim/misbehave?path=/setstreaming&") + test.rule));
        kit.Debug().Clear();
        kit.Sink().Clear();
        ASSERT_TRUE(video->StartChannel(0, &kit.Sink(), &kit.Channel()));
        ASSERT_TRUE(kit.Sink().WaitForFrames(3, 20s)) << test.rule << "\n" << LogText();
        video->StopChannel(0);
        const std::vector<hostkit::DebugRecord> warnings = WarningsAndErrors();
        ASSERT_EQ(warnings.size(), 1u) << test.rule << "\n" << LogText();
        EXPECT_TRUE(warnings[0].text.ends_with(test.told)) << warnings[0].text;
        EXPECT_EQ(kit.Debug().CountContaining("The stream of camera 127.0.0.1 works again after "), 1u) << LogText();
    }
}

// A camera whose RTSP server refuses the stream is asked again at every reopen; its refusal is
// told once, with the status it answered.
TEST_F(LiveVideo, RefusedRtspStreamIsReportedOnceWithTheCamerasStatus)
{
    StartCifCamera();
    testing::ScriptedRtspServer rtsp(
        [](const std::string& request, int)
        { return "RTSP/1.0 404 Not Found\r\n" + testing::ScriptedRtspServer::CSeqOf(request) + "\r\n\r\n"; });
    kit.Params().SetExtraParam(4, std::to_string(rtsp.Port()));
    RequestStream(3, 352, 240, 25, 50);
    ipcapture::IIPVideoCaptureEx2* video = OpenWithShortTimeouts(1000, 2000);
    ASSERT_NE(video, nullptr);

    ASSERT_TRUE(video->StartChannel(0, &kit.Sink(), &kit.Channel()));
    ASSERT_TRUE(rtsp.WaitForRequests(3, 20000)) << LogText();
    video->StopChannel(0);

    std::vector<std::string> warnings;
    for (const hostkit::DebugRecord& record : kit.Debug().Records())
    {
        if (record.level == kLogWarning)
            warnings.push_back(record.text);
    }
    EXPECT_EQ(warnings, std::vector<std::string>{"kestrav::CBaseRTSPChannel::ReportLostStream: Camera 127.0.0.1 "
                                                 "refused the RTSP DESCRIBE of \"rtsph264cif\": status 404"})
        << LogText();
}

// A camera that sits on the stream configuration costs one request time-out, and the line says so.
TEST_F(LiveVideo, StalledStreamConfigurationIsReportedWithItsTimeOut)
{
    StartCifCamera();
    ASSERT_TRUE(camera->Control("/camsim/misbehave?path=/setstreaming&action=stall-before-headers&seconds=5&times=1"));
    RequestStream(3, 352, 240, 25, 50);
    ipcapture::IIPVideoCaptureEx2* video = OpenWithShortTimeouts(2000, 20000);
    ASSERT_NE(video, nullptr);

    ASSERT_TRUE(video->StartChannel(0, &kit.Sink(), &kit.Channel()));
    ASSERT_TRUE(kit.Sink().WaitForFrames(5, 30s)) << LogText();
    video->StopChannel(0);

    const std::vector<hostkit::DebugRecord> warnings = WarningsAndErrors();
    ASSERT_EQ(warnings.size(), 1u) << LogText();
    EXPECT_EQ(warnings[0].text.rfind("kestrav::CCommonChannel::PrepareStreaming: Camera 127.0.0.1 did not take the "
                                     "stream configuration \"/setstreaming?profilename=H264CIF&",
                                     0),
              0u)
        << warnings[0].text;
    EXPECT_TRUE(warnings[0].text.ends_with("\": no answer within 2000 ms")) << warnings[0].text;
    EXPECT_EQ(kit.Debug().CountContaining("The stream of camera 127.0.0.1 works again after 1 failed attempt"), 1u)
        << LogText();
}

// Stopping a channel whose camera sits on the configuration request must not wait for the
// request time-out: the stop closes the request.
TEST_F(LiveVideo, StopDoesNotWaitForAStalledCameraRequest)
{
    StartCifCamera();
    ASSERT_TRUE(camera->Control("/camsim/misbehave?path=/setstreaming&action=stall-before-headers&seconds=60"));
    RequestStream(3, 352, 240, 25, 50);
    ipcapture::IIPVideoCaptureEx2* video = OpenWithShortTimeouts(20000, 20000);
    ASSERT_NE(video, nullptr);

    ASSERT_TRUE(video->StartChannel(0, &kit.Sink(), &kit.Channel()));
    ASSERT_TRUE(WaitForRequest("/setstreaming", 10s));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(video->StopChannel(0));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << "the stop waited for the request time-out";
    EXPECT_EQ(kit.Debug().CountContaining("terminated"), 0u) << LogText();
}
}
}
