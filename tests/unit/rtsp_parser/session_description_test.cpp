// Given a camera's answer to DESCRIBE, the control URLs, profiles and parameter sets the session uses.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "rtsp/rtsp_response_parser.h"

namespace kestrav
{
namespace
{
using Bytes = std::vector<std::uint8_t>;
constexpr RtspRequestType kDescribe = RtspRequestType::Describe;

// A 200 answer to DESCRIBE around a body (its Content-Length computed).
std::string DescribeAnswer(std::string_view body)
{
    return "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Type: application/sdp\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
}

// A video section whose format line is `fmtp`.
std::string VideoWithFormat(std::string_view fmtp)
{
    return "v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n" + std::string(fmtp) + "\r\n";
}

Bytes Hex(std::string_view digits)
{
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(digits.substr(i, 2)), nullptr, 16)));
    return bytes;
}

TEST(SessionDescription, ReadsGStreamersAnswer)
{
    constexpr std::string_view kAnswer =
        "RTSP/1.0 200 OK\r\n"
        "CSeq: 1\r\n"
        "Content-Type: application/sdp\r\n"
        "Content-Base: rtsp://127.0.0.1:8554/test/\r\n"
        "Server: GStreamer RTSP server\r\n"
        "Date: Mon, 15 Jan 2024 10:12:31 GMT\r\n"
        "Content-Length: 482\r\n"
        "\r\n"
        "v=0\r\n"
        "o=- 1188340656180883 1 IN IP4 127.0.0.1\r\n"
        "s=Session streamed with GStreamer\r\n"
        "i=rtsp-server\r\n"
        "t=0 0\r\n"
        "a=tool:GStreamer\r\n"
        "a=type:broadcast\r\n"
        "a=range:npt=now-\r\n"
        "a=control:rtsp://127.0.0.1:8554/test\r\n"
        "m=video 0 RTP/AVP 96\r\n"
        "c=IN IP4 0.0.0.0\r\n"
        "a=rtpmap:96 H264/90000\r\n"
        "a=framerate:30\r\n"
        "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=Z2QAFKzZQUH7ARAAAAMAEAAAAwPA8UKZYA==,aOvjyyLA;"
        "profile-level-id=640014;level-asymmetry-allowed=1\r\n"
        "a=ts-refclk:local\r\n"
        "a=mediaclk:sender\r\n"
        "a=control:stream=0\r\n";
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(kAnswer, kDescribe));
    EXPECT_EQ(parser.GetContentBase(), "rtsp://127.0.0.1:8554/test/");
    EXPECT_EQ(parser.GetContentType(), "application/sdp");
    EXPECT_EQ(parser.GetContentLength(), 482u);
    EXPECT_EQ(parser.GetControl(MediaKind::Video), "stream=0") << "the session-level control belongs to no media";
    EXPECT_EQ(parser.GetTransportProfile(MediaKind::Video), "RTP/AVP");
    EXPECT_EQ(parser.GetParameterSets().first, Hex("67640014acd94141fb0110000003001000000303c0f1429960"));
    EXPECT_EQ(parser.GetParameterSets().second, Hex("68ebe3cb22c0"));
    EXPECT_TRUE(parser.GetParameterSets().config.empty());
    EXPECT_EQ(parser.GetControl(MediaKind::Audio), "");
}

TEST(SessionDescription, KeepsHikvisionsAbsoluteControlsWithTheirQueryStrings)
{
    constexpr std::string_view kAnswer =
        "RTSP/1.0 200 OK\r\n"
        "CSeq: 3\r\n"
        "Content-Type: application/sdp\r\n"
        "Content-Base: rtsp://192.168.1.64:554/Streaming/Channels/101/\r\n"
        "Content-Length: 888\r\n"
        "\r\n"
        "v=0\r\n"
        "o=- 1109162014219182 1109162014219192 IN IP4 192.168.1.64\r\n"
        "s=Media Presentation\r\n"
        "e=NONE\r\n"
        "b=AS:5050\r\n"
        "t=0 0\r\n"
        "a=control:rtsp://192.168.1.64:554/Streaming/Channels/101/?transportmode=unicast&profile=Profile_1\r\n"
        "m=video 0 RTP/AVP 96\r\n"
        "c=IN IP4 0.0.0.0\r\n"
        "b=AS:5000\r\n"
        "a=recvonly\r\n"
        "a=x-dimensions:1920,1080\r\n"
        "a=control:rtsp://192.168.1.64:554/Streaming/Channels/101/trackID=1?transportmode=unicast&profile=Profile_1\r\n"
        "a=rtpmap:96 H264/90000\r\n"
        "a=fmtp:96 profile-level-id=420029; packetization-mode=1; "
        "sprop-parameter-sets=Z01AKI2NQDwBE/LCAAAOEAACvyAI,aO44gA==\r\n"
        "m=application 0 RTP/AVP 107\r\n"
        "c=IN IP4 0.0.0.0\r\n"
        "b=AS:5000\r\n"
        "a=recvonly\r\n"
        "a=control:rtsp://192.168.1.64:554/Streaming/Channels/101/trackID=3?transportmode=unicast&profile=Profile_1\r\n"
        "a=rtpmap:107 isapi.metadata/90000\r\n"
        "a=Media_header:MEDIAINFO=494D4B48010100000400010000000000000000000000000000000000000000000000000000000000;\r\n"
        "a=appversion:1.0\r\n";
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(kAnswer, kDescribe));
    EXPECT_EQ(parser.GetControl(MediaKind::Video),
              "rtsp://192.168.1.64:554/Streaming/Channels/101/trackID=1?transportmode=unicast&profile=Profile_1");
    EXPECT_EQ(parser.GetControl(MediaKind::Metadata),
              "rtsp://192.168.1.64:554/Streaming/Channels/101/trackID=3?transportmode=unicast&profile=Profile_1");
    EXPECT_EQ(parser.GetTransportProfile(MediaKind::Metadata), "RTP/AVP");
    EXPECT_EQ(parser.GetParameterSets().first, Hex("674d40288d8d403c0113f2c200000e100002bf2008"));
    EXPECT_EQ(parser.GetParameterSets().second, Hex("68ee3880"));
}

TEST(SessionDescription, StoresRelativeAndStarControlsAsSent)
{
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(DescribeAnswer("v=0\r\na=control:*\r\nm=video 0 RTP/AVP 26\r\na=control:trackID=1\r\n"
                                            "m=audio 0 RTP/AVP 0\r\na=control:*\r\n"),
                             kDescribe));
    EXPECT_EQ(parser.GetControl(MediaKind::Video), "trackID=1");
    EXPECT_EQ(parser.GetControl(MediaKind::Audio), "*");

    ASSERT_TRUE(
        parser.Parse(DescribeAnswer("m=VIDEO 0 RTP/AVP/TCP 26\r\na=control: /live/track0 extra\r\n"), kDescribe));
    EXPECT_EQ(parser.GetControl(MediaKind::Video), "/live/track0");
    EXPECT_EQ(parser.GetTransportProfile(MediaKind::Video), "RTP/AVP/TCP");
    EXPECT_EQ(parser.GetControl(MediaKind::Audio), "*") << "kept from the earlier description";

    EXPECT_FALSE(parser.Parse(DescribeAnswer("m=video 0 RTP/AVP 26\r\na=control:\r\n"), kDescribe));
    EXPECT_FALSE(parser.Parse(DescribeAnswer("m=\r\n"), kDescribe)) << "a media line without fields";
}

TEST(SessionDescription, PassesOverBlankAndWhitespaceOnlyLines)
{
    // Some cameras separate their media sections with empty or blank-only lines and end lines with LF only.
    CRTSPResponseParser parser;
    ASSERT_TRUE(
        parser.Parse(DescribeAnswer("v=0\r\n\r\n  \r\n\t\r\nm=video 0 RTP/AVP 96\n\n"
                                    " a=control:trackID=2\n \t \na=fmtp:96 sprop-parameter-sets=Z0IAHg==,aM4G4g=="),
                     kDescribe));
    EXPECT_EQ(parser.GetControl(MediaKind::Video), "trackID=2");
    EXPECT_EQ(parser.GetParameterSets().first, Hex("6742001e"));
    EXPECT_EQ(parser.GetParameterSets().second, Hex("68ce06e2"));
}

TEST(SessionDescription, UsesTheFirstTwoOfMoreParameterSets)
{
    CRTSPResponseParser parser;
    ASSERT_TRUE(
        parser.Parse(DescribeAnswer(VideoWithFormat(
                         "a=fmtp:96 sprop-parameter-sets=Z0IAHg==,aM4G4g==,aM4G5A==,BgX/;packetization-mode=1")),
                     kDescribe));
    EXPECT_EQ(parser.GetParameterSets().first, Hex("6742001e"));
    EXPECT_EQ(parser.GetParameterSets().second, Hex("68ce06e2"));
}

TEST(SessionDescription, FallsBackToInBandSetsWhenTheAnnouncedOnesDoNotDecode)
{
    const std::string oversized = std::string(344, 'A') + "AAAA"; // 258 bytes, beyond the 256 kept
    const std::string unusable[] = {
        "a=fmtp:96 sprop-parameter-sets=Z0IAHg==",      // one set only
        "a=fmtp:96 sprop-parameter-sets=,aM4G4g==",     // an empty first set
        "a=fmtp:96 sprop-parameter-sets=Z0IAHg==,!!!!", // nothing of the alphabet
        "a=fmtp:96 sprop-parameter-sets=Z0IAHg==,A",    // a lone character gives no byte
        "a=fmtp:96 sprop-parameter-sets=" + oversized + ",aM4G4g==",
    };
    for (const std::string& fmtp : unusable)
    {
        // The DESCRIBE still succeeds; no sets are handed over, so the depacketizer waits for the in-band ones.
        CRTSPResponseParser parser;
        EXPECT_TRUE(parser.Parse(DescribeAnswer(VideoWithFormat(fmtp) + "a=control:trackID=1\r\n"), kDescribe)) << fmtp;
        EXPECT_TRUE(parser.GetParameterSets().first.empty()) << fmtp;
        EXPECT_TRUE(parser.GetParameterSets().second.empty()) << fmtp;
        EXPECT_EQ(parser.GetControl(MediaKind::Video), "trackID=1") << fmtp;
    }

    CRTSPResponseParser parser;
    const std::string fitting = std::string(340, 'A') + "AA=="; // 256 bytes
    EXPECT_TRUE(parser.Parse(DescribeAnswer(VideoWithFormat("a=fmtp:96 sprop-parameter-sets=" + fitting + ",aM4=")),
                             kDescribe));
    EXPECT_EQ(parser.GetParameterSets().first.size(), 256u);
}

TEST(SessionDescription, AcceptsAFormatWithoutParameterSets)
{
    // Cameras that send their parameter sets only in the stream announce none.
    CRTSPResponseParser parser;
    EXPECT_TRUE(parser.Parse(DescribeAnswer(VideoWithFormat("a=fmtp:96 packetization-mode=1;profile-level-id=42001F")),
                             kDescribe));
    EXPECT_TRUE(parser.GetParameterSets().first.empty());
    EXPECT_TRUE(parser.GetParameterSets().config.empty());
}

TEST(SessionDescription, DecodesConfigAsHexOrBase64)
{
    CRTSPResponseParser parser;
    ASSERT_TRUE(
        parser.Parse(DescribeAnswer(VideoWithFormat("a=fmtp:96 profile-level-id=1;config=000001B001")), kDescribe));
    EXPECT_EQ(parser.GetParameterSets().config, Hex("000001b001"));

    ASSERT_TRUE(parser.Parse(DescribeAnswer(VideoWithFormat("a=fmtp:96 config=000001B;profile-level-id=1")), kDescribe))
        << "written first, right after the payload type";
    EXPECT_EQ(parser.GetParameterSets().config, (Bytes{0x00, 0x00, 0x01, 0x0b})) << "an odd final digit is a byte";

    ASSERT_TRUE(parser.Parse(DescribeAnswer(VideoWithFormat("a=fmtp:96 config=AAABsA==")), kDescribe));
    EXPECT_EQ(parser.GetParameterSets().config, Hex("000001b0"));

    EXPECT_FALSE(parser.Parse(DescribeAnswer(VideoWithFormat("a=fmtp:96 config=" + std::string(514, '0'))), kDescribe));
    EXPECT_TRUE(parser.GetParameterSets().config.empty());
}

TEST(SessionDescription, ReadsFormatParametersOnlyInsideAMedia)
{
    CRTSPResponseParser parser;
    EXPECT_FALSE(
        parser.Parse(DescribeAnswer("v=0\r\na=fmtp:96 sprop-parameter-sets=Z0IAHg==,aM4G4g==\r\n"), kDescribe));
    EXPECT_TRUE(parser.Parse(DescribeAnswer("v=0\r\nm=audio 0 RTP/AVP 97\r\na=fmtp:97 streamtype=5\r\n"), kDescribe))
        << "audio parameters are not read";
    EXPECT_FALSE(parser.Parse(DescribeAnswer("m=text 0 RTP/AVP 98\r\na=fmtp:98 x=1\r\n"), kDescribe))
        << "an unknown media is no media";
}

TEST(SessionDescription, ReadsTheBodyOnlyOfA200AnswerToDescribe)
{
    const std::string sdp =
        VideoWithFormat("a=fmtp:96 sprop-parameter-sets=Z0IAHg==,aM4G4g==") + "a=control:trackID=1\r\n";
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(DescribeAnswer(sdp), RtspRequestType::Setup));
    EXPECT_EQ(parser.GetControl(MediaKind::Video), "");

    // A camera that sends an HTML page with its 401: the challenge must stay readable.
    constexpr std::string_view kChallengeWithPage = "RTSP/1.0 401 Unauthorized\r\n"
                                                    "CSeq: 1\r\n"
                                                    "WWW-Authenticate: Basic realm=\"DVR\"\r\n"
                                                    "Content-Type: text/html\r\n"
                                                    "Content-Length: 57\r\n"
                                                    "\r\n"
                                                    "<html><body>401 Unauthorized a=fmtp:96 m=</body></html>\r\n";
    ASSERT_TRUE(parser.Parse(kChallengeWithPage, kDescribe));
    EXPECT_EQ(parser.GetAuthScheme(), RtspAuthScheme::Basic);

    // The body ends at Content-Length: what follows belongs to the next message.
    const std::string answer = DescribeAnswer("m=video 0 RTP/AVP 96\r\na=control:trackID=5\r\n") + "a=fmtp:96 x=1\r\n";
    ASSERT_TRUE(parser.Parse(answer, kDescribe));
    EXPECT_EQ(parser.GetControl(MediaKind::Video), "trackID=5");
}
}
}
