// Given the header block a camera answers with, the fields the RTSP client reads from the parser.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "rtsp/rtsp_response_parser.h"

namespace kestrav
{
namespace
{
constexpr RtspRequestType kSetup = RtspRequestType::Setup;

// One header line between a status line and the blank line.
std::string WithHeader(std::string_view header)
{
    return "RTSP/1.0 200 OK\r\nCSeq: 3\r\n" + std::string(header) + "\r\n\r\n";
}

bool ParseHeader(CRTSPResponseParser& parser, std::string_view header)
{
    return parser.Parse(WithHeader(header), kSetup);
}

TEST(RtspResponseStatus, AcceptsOnly200And401AndKeepsTheCode)
{
    CRTSPResponseParser parser;
    EXPECT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n", kSetup));
    EXPECT_EQ(parser.GetProtocol(), "RTSP/1.0");
    EXPECT_EQ(parser.GetStatusCode(), 200u);
    EXPECT_EQ(parser.GetCSeq(), 1u);

    EXPECT_FALSE(parser.Parse("RTSP/1.0 404 Not Found\r\nCSeq: 2\r\n\r\n", kSetup));
    EXPECT_EQ(parser.GetStatusCode(), 404u);
    EXPECT_EQ(parser.GetCSeq(), 1u) << "the headers of a refused answer are not read";
    EXPECT_FALSE(parser.Parse("RTSP/1.0 204 No Content\r\nCSeq: 2\r\n\r\n", kSetup));

    EXPECT_FALSE(parser.Parse("RTSP/1.0 OK\r\n\r\n", kSetup));
    EXPECT_FALSE(parser.Parse("RTSP/1.0 99999999999 OK\r\n\r\n", kSetup)) << "a code beyond 32 bits";
    EXPECT_FALSE(parser.Parse("", kSetup));
    EXPECT_FALSE(parser.Parse(std::string(256, 'R') + " 200 OK\r\n\r\n", kSetup)) << "protocol over 255 characters";
    EXPECT_EQ(parser.GetStatusCode(), 204u) << "a status line that does not scan leaves the last code";
}

TEST(RtspResponseStatus, FailsWhenTheHeadersEndWithoutABlankLine)
{
    CRTSPResponseParser parser;
    EXPECT_FALSE(parser.Parse("RTSP/1.0 200 OK", kSetup));
    EXPECT_FALSE(parser.Parse("RTSP/1.0 200 OK\r\nCSeq: 2\r\n", kSetup));
    EXPECT_FALSE(parser.Parse("RTSP/1.0 200 OK\r\nCSeq: 2\r\nSession: 4711", kSetup));
    EXPECT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\nCSeq: 2\r\n\r\n", kSetup));
}

TEST(RtspResponseStatus, ReadsAHeaderBlockBeyond512BytesButNotBeyondTheCap)
{
    // A camera with a long Server banner, Date, Cache-Control, Session and Transport in one SETUP answer.
    constexpr std::string_view kLongSetupAnswer =
        "RTSP/1.0 200 OK\r\n"
        "CSeq: 4\r\n"
        "Server: Embedded Network Video Server/3.0.2 (Linux 3.18.20; ARMv7; build 220315-1742) RTSP/1.0 "
        "Streaming Media Module, Copyright (c) 2011-2022\r\n"
        "Date: Wed, 16 Mar 2022 09:41:07 GMT\r\n"
        "Expires: Wed, 16 Mar 2022 09:41:07 GMT\r\n"
        "Cache-Control: no-cache, no-store, must-revalidate, private, max-age=0\r\n"
        "Session: 3F2A9C7B41D08E55A6C2B9174E3D0F86A1B2C3D4E5F60718293A4B5C6D7E8F90;timeout=60\r\n"
        "Transport: RTP/AVP/UDP;unicast;client_port=3556-3557;server_port=8214-8215;ssrc=1A2B3C4D;"
        "mode=\"play\";source=192.168.1.64;destination=192.168.1.20\r\n"
        "x-Dynamic-Rate: 1\r\n"
        "x-Transport-Options: late-tolerance=1.400000\r\n"
        "\r\n";
    static_assert(kLongSetupAnswer.size() > 512);
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(kLongSetupAnswer, kSetup));
    EXPECT_EQ(parser.GetSessionId(), "3F2A9C7B41D08E55A6C2B9174E3D0F86A1B2C3D4E5F60718293A4B5C6D7E8F90");
    EXPECT_EQ(parser.GetServerRTPPort(), 8214);
    EXPECT_EQ(parser.GetServerRTCPPort(), 8215);

    const std::string filler = "X-Padding: " + std::string(kMaxRtspHeaderLength, 'p') + "\r\n";
    EXPECT_FALSE(parser.Parse("RTSP/1.0 200 OK\r\n" + filler + "\r\n", kSetup));
}

TEST(RtspResponseHeaders, ReadsCSeqAsScanfWould)
{
    CRTSPResponseParser parser;
    ASSERT_TRUE(ParseHeader(parser, "CSEQ:   17"));
    EXPECT_EQ(parser.GetCSeq(), 17u);
    EXPECT_EQ(parser.IncrementCSeq(), 18u) << "the client numbers its next request from the answer";
    EXPECT_FALSE(parser.Parse("RTSP/1.0 200 OK\r\nCSeq : 5\r\n\r\n", kSetup)) << "blank before the colon";
    EXPECT_FALSE(parser.Parse("RTSP/1.0 200 OK\r\nCSeq: five\r\n\r\n", kSetup));
    EXPECT_FALSE(parser.Parse("RTSP/1.0 200 OK\r\nCSeq: 4294967296\r\n\r\n", kSetup)) << "must not wrap to 0";
    EXPECT_EQ(parser.GetCSeq(), 18u);
}

TEST(RtspResponseHeaders, ReadsContentTypeAndLength)
{
    CRTSPResponseParser parser;
    ASSERT_TRUE(ParseHeader(parser, "Content-Type: Application/SDP; charset=utf-8"));
    EXPECT_EQ(parser.GetContentType(), "application/sdp;") << "lower case, first token";
    EXPECT_FALSE(ParseHeader(parser, "Content-Type:"));

    ASSERT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbody", kSetup));
    EXPECT_EQ(parser.GetContentLength(), 4u);
    EXPECT_FALSE(ParseHeader(parser, "Content-Length: -1"));
    EXPECT_FALSE(ParseHeader(parser, "Content-Length: 5000000000"));
    EXPECT_EQ(parser.GetContentLength(), 4u);
}

TEST(RtspResponseHeaders, TakesContentBaseInAnySpelling)
{
    CRTSPResponseParser parser;
    // GStreamer's server ends the base with a slash, Vivotek-style "live.sdp" paths do not: both kept as sent.
    ASSERT_TRUE(ParseHeader(parser, "Content-Base: rtsp://127.0.0.1:8554/test/"));
    EXPECT_EQ(parser.GetContentBase(), "rtsp://127.0.0.1:8554/test/");
    ASSERT_TRUE(ParseHeader(parser, "Content-Base:\trtsp://192.168.0.5:554/live.sdp \t"));
    EXPECT_EQ(parser.GetContentBase(), "rtsp://192.168.0.5:554/live.sdp");

    ASSERT_TRUE(ParseHeader(parser, "Content-Base: http://192.168.0.5/live.sdp"));
    EXPECT_EQ(parser.GetContentBase(), "rtsp://192.168.0.5:554/live.sdp") << "no rtsp URL leaves the base alone";

    // Header names are case-insensitive, and the blank after the colon optional (RFC 2326, 4.2).
    ASSERT_TRUE(ParseHeader(parser, "content-base: rtsp://192.168.0.5/other"));
    EXPECT_EQ(parser.GetContentBase(), "rtsp://192.168.0.5/other");
    ASSERT_TRUE(ParseHeader(parser, "CONTENT-BASE:rtsp://192.168.0.5/third/"));
    EXPECT_EQ(parser.GetContentBase(), "rtsp://192.168.0.5/third/");
}

TEST(RtspResponseHeaders, ReadsTheServerPortsOfTransport)
{
    CRTSPResponseParser parser;
    ASSERT_TRUE(ParseHeader(parser, "Transport: RTP/AVP;unicast;client_port=5000-5001;server_port=6970-6971"));
    EXPECT_EQ(parser.GetServerRTPPort(), 6970);
    EXPECT_EQ(parser.GetServerRTCPPort(), 6971);

    // GStreamer's interleaved answer names no ports; those of an earlier answer stay.
    ASSERT_TRUE(ParseHeader(parser, "Transport: RTP/AVP/TCP;unicast;interleaved=0-1;ssrc=5B7F2A10;mode=\"PLAY\""));
    EXPECT_EQ(parser.GetServerRTPPort(), 6970);

    // A Victure PC730 runs the next parameter on with a comma.
    ASSERT_TRUE(
        ParseHeader(parser, "Transport: RTP/AVP;unicast;client_port=3556-3557;server_port=40000-40001,ssrc=FFFFCCCC"));
    EXPECT_EQ(parser.GetServerRTPPort(), 40000);
    EXPECT_EQ(parser.GetServerRTCPPort(), 40001);

    // A single port is the RTP one; RTCP takes the next.
    ASSERT_TRUE(ParseHeader(parser, "transport:RTP/AVP;unicast;server_port=6970;ssrc=1"));
    EXPECT_EQ(parser.GetServerRTPPort(), 6970);
    EXPECT_EQ(parser.GetServerRTCPPort(), 6971);

    EXPECT_FALSE(ParseHeader(parser, "Transport: RTP/AVP;unicast;server_port=65535")) << "no port after it";
    EXPECT_FALSE(ParseHeader(parser, "Transport: RTP/AVP;unicast;server_port=x-y"));
    EXPECT_FALSE(ParseHeader(parser, "Transport: RTP/AVP;unicast;server_port=70000-70001")) << "not a port";
    EXPECT_EQ(parser.GetServerRTPPort(), 6970);
}

TEST(RtspResponseHeaders, ReadsTheInterleavedChannels)
{
    CRTSPResponseParser parser;
    EXPECT_EQ(parser.GetRTPChannel(), 0);
    EXPECT_EQ(parser.GetRTCPChannel(), 1);
    const struct
    {
        std::string_view transport;
        bool accepted;
        std::uint8_t rtp;
        std::uint8_t rtcp;
    } cases[] = {
        {"RTP/AVP/TCP;unicast;interleaved=2-3;ssrc=5B7F2A10", true, 2, 3},
        {"RTP/AVP/TCP;unicast;interleaved=6", true, 6, 7},
        {"RTP/AVP/TCP;unicast;interleaved=4-5,ssrc=1", true, 4, 5},
        {"RTP/AVP/TCP;unicast;interleaved=256-257", false, 4, 5},
        {"RTP/AVP/TCP;unicast;interleaved=3-3", false, 4, 5},
        {"RTP/AVP/TCP;unicast;interleaved=x", false, 4, 5},
    };
    for (const auto& entry : cases)
    {
        EXPECT_EQ(ParseHeader(parser, "Transport: " + std::string(entry.transport)), entry.accepted) << entry.transport;
        EXPECT_EQ(parser.GetRTPChannel(), entry.rtp) << entry.transport;
        EXPECT_EQ(parser.GetRTCPChannel(), entry.rtcp) << entry.transport;
    }
}

TEST(RtspResponseHeaders, ReadsTheSessionAndItsTimeout)
{
    CRTSPResponseParser parser;
    ASSERT_TRUE(ParseHeader(parser, "Session: 4711ABCD;timeout=60"));
    EXPECT_EQ(parser.GetSessionId(), "4711ABCD");
    EXPECT_EQ(parser.GetSessionTimeout(), 60);

    ASSERT_TRUE(ParseHeader(parser, "Session: 0815")) << "without timeout, as many cameras send it";
    EXPECT_EQ(parser.GetSessionId(), "0815");
    EXPECT_EQ(parser.GetSessionTimeout(), 60) << "the announced time-out stays";

    ASSERT_TRUE(ParseHeader(parser, "Session: 0815;timeout=0"));
    EXPECT_EQ(parser.GetSessionTimeout(), 30);
    ASSERT_TRUE(ParseHeader(parser, "Session: 0815;timeout=-5"));
    EXPECT_EQ(parser.GetSessionTimeout(), 30);

    ASSERT_TRUE(ParseHeader(parser, "Session:  77 ;timeout=20"));
    EXPECT_EQ(parser.GetSessionId(), "77") << "echoed back without blanks";
    EXPECT_EQ(parser.GetSessionTimeout(), 20);

    ASSERT_TRUE(ParseHeader(parser, "session:4711")) << "no blank after the colon";
    EXPECT_EQ(parser.GetSessionId(), "4711");
    ASSERT_TRUE(ParseHeader(parser, "Session: 4712;mode=x")) << "a parameter other than timeout";
    EXPECT_EQ(parser.GetSessionId(), "4712");
    EXPECT_EQ(parser.GetSessionTimeout(), 20);
    ASSERT_TRUE(ParseHeader(parser, "SESSION: 4713;mode=x; Timeout=45"));
    EXPECT_EQ(parser.GetSessionId(), "4713");
    EXPECT_EQ(parser.GetSessionTimeout(), 45);

    EXPECT_FALSE(ParseHeader(parser, "Session: 4711\nSession: 47")) << "a bare line feed never reaches a request";
    EXPECT_EQ(parser.GetSessionId(), "");
    EXPECT_FALSE(ParseHeader(parser, "Session: ;timeout=60")) << "no identifier";
    EXPECT_EQ(parser.GetSessionId(), "");
}

TEST(RtspResponseHeaders, KeepsEveryFieldUntilALaterAnswerReplacesIt)
{
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\nCSeq: 2\r\nSession: 12;timeout=40\r\n"
                             "Transport: RTP/AVP;unicast;server_port=6000-6001\r\n\r\n",
                             kSetup));
    ASSERT_TRUE(
        parser.Parse("RTSP/1.0 200 OK\r\nCSeq: 3\r\nRange: npt=0.000-\r\nRTP-Info: url=x;seq=1\r\n"
                     "Server: GStreamer RTSP server\r\nDate: Mon, 1 Jan 2024 10:00:00 GMT\r\nx:y\r\nno colon\r\n\r\n",
                     RtspRequestType::Play));
    EXPECT_EQ(parser.GetCSeq(), 3u);
    EXPECT_EQ(parser.GetSessionId(), "12");
    EXPECT_EQ(parser.GetSessionTimeout(), 40);
    EXPECT_EQ(parser.GetServerRTCPPort(), 6001);

    parser.Reset();
    EXPECT_EQ(parser.GetCSeq(), 0u);
    EXPECT_EQ(parser.GetSessionId(), "");
    EXPECT_EQ(parser.GetSessionTimeout(), 0);
    EXPECT_EQ(parser.GetServerRTCPPort(), 0);
    EXPECT_EQ(parser.GetStatusCode(), 0u);
}

TEST(RtspChallenge, ReadsADigestChallengeWithoutQuotes)
{
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse("RTSP/1.0 401 Unauthorized\r\n"
                             "CSeq: 1\r\n"
                             "WWW-Authenticate: Digest realm=\"iPOLiS\", nonce=\"C5F18D798F423EB35B69D803D1B5181A\"\r\n"
                             "\r\n",
                             RtspRequestType::Describe));
    EXPECT_EQ(parser.GetStatusCode(), 401u);
    EXPECT_EQ(parser.GetAuthScheme(), RtspAuthScheme::Digest);
    EXPECT_EQ(parser.GetRealm(), "iPOLiS");
    EXPECT_EQ(parser.GetNonce(), "C5F18D798F423EB35B69D803D1B5181A");
}

TEST(RtspChallenge, PrefersDigestWhicheverOrderTheChallengesCome)
{
    // Hikvision: Digest first, then Basic.
    constexpr std::string_view kDigestThenBasic =
        "RTSP/1.0 401 Unauthorized\r\n"
        "CSeq: 1\r\n"
        "WWW-Authenticate: Digest realm=\"IP Camera(C1214)\", nonce=\"0191a41d87c28cd52b3e9c8adc99291c\", "
        "stale=\"FALSE\"\r\n"
        "WWW-Authenticate: Basic realm=\"IP Camera(C1214)\"\r\n"
        "Date:  Tue, Dec 21 2021 12:08:36 GMT\r\n"
        "\r\n";
    constexpr std::string_view kBasicThenDigest = "RTSP/1.0 401 Unauthorized\r\n"
                                                  "CSeq: 1\r\n"
                                                  "WWW-Authenticate: Basic realm=\"IPCAM\"\r\n"
                                                  "WWW-Authenticate: Digest realm=\"IPCAM\", nonce=\"6b3f8a1d2c\"\r\n"
                                                  "\r\n";
    for (const std::string_view response : {kDigestThenBasic, kBasicThenDigest})
    {
        CRTSPResponseParser parser;
        ASSERT_TRUE(parser.Parse(response, RtspRequestType::Describe)) << response;
        EXPECT_EQ(parser.GetAuthScheme(), RtspAuthScheme::Digest) << response;
        EXPECT_FALSE(parser.GetNonce().empty()) << response;
    }
}

TEST(RtspChallenge, KeepsTheLastOfEqualChallengesAndNeverLetsAnUnknownSchemeHideOne)
{
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse("RTSP/1.0 401 Unauthorized\r\n"
                             "WWW-Authenticate: Digest realm=\"a\", nonce=\"1\"\r\n"
                             "WWW-Authenticate: Digest realm=\"b\", nonce=\"2\"\r\n"
                             "WWW-Authenticate: Negotiate token=x\r\n\r\n",
                             kSetup));
    EXPECT_EQ(parser.GetAuthScheme(), RtspAuthScheme::Digest);
    EXPECT_EQ(parser.GetRealm(), "b");
    EXPECT_EQ(parser.GetNonce(), "2");

    // A later 401 starts afresh: its own challenge counts, even a weaker one.
    ASSERT_TRUE(parser.Parse("RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"c\"\r\n\r\n", kSetup));
    EXPECT_EQ(parser.GetAuthScheme(), RtspAuthScheme::Basic);
    EXPECT_EQ(parser.GetRealm(), "c");
    EXPECT_EQ(parser.GetNonce(), "");
}

TEST(RtspChallenge, RefusesMalformedChallenges)
{
    const std::string_view malformed[] = {
        "WWW-Authenticate: Digest realm=\"cam\"", // no nonce
        "WWW-Authenticate: Digest nonce=\"1\"",   // no realm
        "WWW-Authenticate: Digest realm=\"\", nonce=\"1\"",
        "WWW-Authenticate: Basic", // nothing after the scheme
        "WWW-Authenticate: Basic  \t",
        "WWW-Authenticate: Digest realm=\"cam\", qop=\"auth\"", // the nonce only named inside a value
    };
    for (const std::string_view header : malformed)
    {
        CRTSPResponseParser parser;
        EXPECT_FALSE(parser.Parse("RTSP/1.0 401 Unauthorized\r\n" + std::string(header) + "\r\n\r\n", kSetup))
            << header;
        EXPECT_EQ(parser.GetAuthScheme(), RtspAuthScheme::None) << header;
    }
}
}

TEST(RtspChallenge, ReadsAnySpellingQuotedCommasQopAndOpaque)
{
    const struct
    {
        std::string_view header;
        RtspAuthScheme scheme;
        std::string_view realm;
        std::string_view nonce;
        std::string_view opaque;
        bool qopAuth;
    } cases[] = {
        {"www-authenticate: digest realm=\"cam\", nonce=\"1\"", RtspAuthScheme::Digest, "cam", "1", "", false},
        {"WWW-Authenticate:DIGEST realm=\"cam\",nonce=\"2\"", RtspAuthScheme::Digest, "cam", "2", "", false},
        {"WWW-Authenticate: basic realm=\"a, b\"", RtspAuthScheme::Basic, "a, b", "", "", false},
        {"WWW-Authenticate: Digest realm=\"Lobby, door 2\", qop=\"auth,auth-int\", nonce=\"3\", opaque=\"5c, d\"",
         RtspAuthScheme::Digest, "Lobby, door 2", "3", "5c, d", true},
        {"WWW-Authenticate: Digest realm=\"cam\", nonce=4, QOP=auth, algorithm=MD5", RtspAuthScheme::Digest, "cam", "4",
         "", true},
        {"WWW-Authenticate: Digest realm=\"cam\", nonce=\"5\", qop=\"auth-int\"", RtspAuthScheme::Digest, "cam", "5",
         "", false},
    };
    for (const auto& entry : cases)
    {
        CRTSPResponseParser parser;
        ASSERT_TRUE(parser.Parse("RTSP/1.0 401 Unauthorized\r\n" + std::string(entry.header) + "\r\n\r\n", kSetup))
            << entry.header;
        EXPECT_EQ(parser.GetAuthScheme(), entry.scheme) << entry.header;
        EXPECT_EQ(parser.GetRealm(), entry.realm) << entry.header;
        EXPECT_EQ(parser.GetNonce(), entry.nonce) << entry.header;
        EXPECT_EQ(parser.GetOpaque(), entry.opaque) << entry.header;
        EXPECT_EQ(parser.OffersQopAuth(), entry.qopAuth) << entry.header;
    }
}

// A nonce goes back quoted in every request: one that would end that quote or break the line is refused.
TEST(RtspChallenge, RefusesANonceThatCannotBeEchoed)
{
    for (const std::string_view nonce :
         {std::string_view("ab\"c"), std::string_view("ab\0c", 4), std::string_view("ab\x7f")})
    {
        CRTSPResponseParser parser;
        parser.Parse("RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"cam\", nonce=" +
                         std::string(nonce) + "\r\n\r\n",
                     kSetup);
        EXPECT_NE(parser.GetAuthScheme(), RtspAuthScheme::Digest) << nonce;
    }
}
}
