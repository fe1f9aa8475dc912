// The H.264 and JPEG channels before they stream: the session parameters and the privacy masks
// they take from the host. What they ask of a camera is shown end to end in the live video tests.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "channels/h264_channel_rtsp.h"
#include "channels/jpeg_channel_rtsp.h"
#include "driver/varon_capture_driver.h"
#include "rtsp/rtsp_session_params.h"
#include "support/host_fixture.h"

namespace kestrav
{
namespace
{
template <typename Channel> class Exposed final : public Channel
{
public:
    using Channel::Channel;
    using Channel::FillSessionParams;
};

class CodecChannel : public testing::HostFixture
{
protected:
    // Opens the driver with extra parameters 1 to 5 (the host hands them over without gaps).
    void Open(std::optional<std::string> rtspPort, const std::string& capabilities)
    {
        kit.Params().SetExtraParam(1, "0");
        kit.Params().SetExtraParam(2, "(none)");
        kit.Params().SetExtraParam(3, "(none)");
        kit.Params().SetExtraParam(4, rtspPort.value_or("(none)"));
        kit.Params().SetExtraParam(5, capabilities);
        ASSERT_TRUE(driver.Open(&kit.Debug(), &kit.Allocator(), &kit.Params()));
    }

    RTSPSessionParams H264Session()
    {
        Exposed<CH264ChannelRTSP> channel(0, &driver, &kit.Sink());
        RTSPSessionParams params;
        channel.FillSessionParams(params);
        return params;
    }

    CVaronIPCaptureDriver driver;
};

TEST_F(CodecChannel, RtspPortComesFromExtraParameterFourOr554)
{
    const struct
    {
        std::optional<std::string> text;
        std::uint16_t port;
    } cases[] = {{"8554", 8554}, {"0", 554},  {std::nullopt, 554}, {"abc", 554},
                 {"70000", 554}, {"-1", 554}, {"65535", 65535}};
    for (const auto& test : cases)
    {
        SCOPED_TRACE(test.text.value_or("absent"));
        Open(test.text, "");
        EXPECT_EQ(H264Session().rtspPort, test.port);
        driver.Close();
    }
}

TEST_F(CodecChannel, StreamPathNamesTheResolutionAsTheCapabilityTextWritesIt)
{
    Open("554", "h264:720P 1280x720 30 512- -,;jpeg:480p 720x480 25  50-,d1 720x480 25  50-,;#");
    EXPECT_EQ(H264Session().streamPath, "rtsph264720P");
    Exposed<CJpegChannelRTSP> jpeg(0, &driver, &kit.Sink());
    RTSPSessionParams params;
    jpeg.FillSessionParams(params);
    EXPECT_EQ(params.streamPath, "rtspjpeg480p") << "equal sizes: the first name in order";
    EXPECT_EQ(jpeg.GetStreamName(), "BrantelIPCapture::RecStream");
}

// The host's mistake is said once, naming the codec and the stream; the request goes out anyway.
TEST_F(CodecChannel, WithoutCapabilitiesThePathHasNoResolutionAndAWarningSaysSo)
{
    Open("554", "(none)");
    Exposed<CH264ChannelRTSP> channel(0, &driver, &kit.Sink());
    for (int open = 0; open < 2; ++open)
    {
        RTSPSessionParams params;
        channel.FillSessionParams(params);
        EXPECT_EQ(params.streamPath, "rtsph264");
    }
    ASSERT_EQ(kit.Debug().CountContaining("stream capabilities have no H.264 entry for the recording stream"), 1u);
    const auto warning = kit.Debug().WaitFor("capabilities have no", std::chrono::milliseconds(0));
    ASSERT_TRUE(warning);
    EXPECT_EQ(warning->level, kLogWarning);
}

TEST_F(CodecChannel, PrivacyMasksAlwaysMakeFourEntries)
{
    Open("554", "");
    CH264ChannelRTSP channel(0, &driver, &kit.Sink());
    kit.Channel().Masks().SetMask(1, 50, 50, 50, 50);
    kit.Channel().Masks().SetMask(3, 0, 0, 5, 10);
    channel.SetPrivacyMasks(kit.Channel().GetPrivacyMasks());
    EXPECT_EQ(channel.GetPrivacyMasks(), (std::vector<PrivacyMask>{{}, {10, 6, 19, 11}, {}, {0, 0, 1, 1}}));

    kit.Channel().Masks().ClearMasks();
    channel.SetPrivacyMasks(kit.Channel().GetPrivacyMasks());
    EXPECT_EQ(channel.GetPrivacyMasks(), std::vector<PrivacyMask>(4)) << "the list is rebuilt, not appended";
    channel.SetPrivacyMasks(nullptr);
    EXPECT_EQ(channel.GetPrivacyMasks(), std::vector<PrivacyMask>(4));
}
}
}
