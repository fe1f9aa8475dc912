#include <gtest/gtest.h>

#include <string>

#include "text/digest_auth.h"

namespace kestrav
{
namespace
{
TEST(DigestResponse, MatchesRfc2617sExampleWithoutQop)
{
    // RFC 2617, section 3.5, with qop, nc and cnonce left out (RFC 2069 form). Expected value from Python:
    //   md5(f"{md5('Mufasa:testrealm@host.com:Circle Of Life')}:{nonce}:{md5('GET:/dir/index.html')}")
    EXPECT_EQ(DigestResponse("Mufasa", "testrealm@host.com", "Circle Of Life", "GET", "/dir/index.html",
                             "dcd98b7102dd2f0e8b11d0f600bfb0c093"),
              "670fd8c2df070c60b045671b8b24ff02");
}

TEST(DigestResponse, DependsOnEveryInputInItsPlace)
{
    // Python hashlib, as above, for an RTSP DESCRIBE.
    const std::string expected = "5af5f930f0da6599a3bdaf990b3dc200";
    EXPECT_EQ(DigestResponse("admin", "Brantel Camera", "s3cret", "DESCRIBE", "rtsp://192.168.0.90:554/rtsph2641080p",
                             "4a5e1c7d0b2f"),
              expected);
    // Swapping two inputs must change the result: each has its own place in the hash.
    EXPECT_NE(DigestResponse("admin", "s3cret", "Brantel Camera", "DESCRIBE", "rtsp://192.168.0.90:554/rtsph2641080p",
                             "4a5e1c7d0b2f"),
              expected);
    EXPECT_NE(DigestResponse("admin", "Brantel Camera", "s3cret", "SETUP", "rtsp://192.168.0.90:554/rtsph2641080p",
                             "4a5e1c7d0b2f"),
              expected);
}

TEST(DigestAuthorizationLine, IsTheBareHeaderLineWithTheResponse)
{
    EXPECT_EQ(DigestAuthorizationLine("Mufasa", "testrealm@host.com", "Circle Of Life", "GET", "/dir/index.html",
                                      "dcd98b7102dd2f0e8b11d0f600bfb0c093"),
              "Authorization: Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
              "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", "
              "response=\"670fd8c2df070c60b045671b8b24ff02\"\r\n");
}

TEST(DigestAuthorizationLine, AnswersQopAuthWithCountClientNonceAndOpaque)
{
    // The worked example of RFC 2617, 3.5.
    const DigestQopAuth qop{1, "0a4f113b"};
    EXPECT_EQ(DigestQopResponse("Mufasa", "testrealm@host.com", "Circle Of Life", "GET", "/dir/index.html",
                                "dcd98b7102dd2f0e8b11d0f600bfb0c093", qop),
              "6629fae49393a05397450978507c4ef1");
    EXPECT_EQ(DigestAuthorizationLine("Mufasa", "testrealm@host.com", "Circle Of Life", "GET", "/dir/index.html",
                                      "dcd98b7102dd2f0e8b11d0f600bfb0c093", "5ccc069c403ebaf9f0171e9517f40e41", qop),
              "Authorization: Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
              "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", "
              "response=\"6629fae49393a05397450978507c4ef1\", qop=auth, nc=00000001, cnonce=\"0a4f113b\", "
              "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"\r\n");
    EXPECT_NE(DigestQopResponse("Mufasa", "testrealm@host.com", "Circle Of Life", "GET", "/dir/index.html",
                                "dcd98b7102dd2f0e8b11d0f600bfb0c093", {0x10, "0a4f113b"}),
              "6629fae49393a05397450978507c4ef1")
        << "the count is part of the response";
}

TEST(BasicCredentials, EncodeUserColonPassword)
{
    EXPECT_EQ(BasicCredentials("Aladdin", "open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    EXPECT_EQ(BasicCredentials("admin", "s3cret"), "YWRtaW46czNjcmV0");
    EXPECT_EQ(BasicCredentials("", ""), "Og==");
}

TEST(BasicCredentials, AreRefusedBeyond72Bytes)
{
    const std::string user(36, 'u');
    EXPECT_TRUE(BasicCredentials(user, std::string(35, 'p'))) << "72 bytes joined";
    EXPECT_EQ(BasicCredentials(user, std::string(35, 'p'))->size(), 96u);
    EXPECT_FALSE(BasicCredentials(user, std::string(36, 'p'))) << "73 bytes joined";
}
}
}
