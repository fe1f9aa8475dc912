// The senders' own logic over a scripted stack: what they ask of the stack, which of HTTP and HTTPS
// they try and remember, the 401 step, and how much of a body they read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_http_transport.h"
#include "http/http_sender.h"
#include "http/http_utils.h"
#include "http/http_wininet_sender.h"

namespace kestrav
{
namespace
{
using platform::WinHttpOption;
using testing::FakeHttpTransport;
using testing::ScriptedAnswer;
using Web::CHttpSender;
using Web::CWinInetSender;
using Web::HttpRequest;

DEVICE_INFO Device(std::uint16_t port = 80, std::string user = "admin")
{
    DEVICE_INFO device;
    device.requestTimeoutMs = 1234;
    device.address = "192.0.2.10";
    device.port = port;
    device.userName = std::move(user);
    device.password = "secret";
    return device;
}

ScriptedAnswer Answer(std::uint32_t status, std::string body = {})
{
    ScriptedAnswer answer;
    answer.status = status;
    answer.contentLength = static_cast<std::uint32_t>(body.size());
    answer.body = std::move(body);
    return answer;
}

ScriptedAnswer Failure(platform::HttpError sendError, platform::HttpError receiveError = platform::kHttpOk)
{
    ScriptedAnswer answer;
    answer.sendError = sendError;
    answer.receiveError = receiveError;
    return answer;
}

ScriptedAnswer Challenge(std::vector<std::uint32_t> schemes)
{
    ScriptedAnswer answer = Answer(401, "denied");
    answer.challenges = std::move(schemes);
    return answer;
}

TEST(HttpSenderSetup, OpensItsSessionWithTheAgentAndTheDeviceTimeOuts)
{
    FakeHttpTransport transport;
    CHttpSender sender(Device(), transport);
    EXPECT_EQ(transport.agent, "Kestrav::HttpSender");
    const std::vector<std::pair<WinHttpOption, std::uint32_t>> expected = {
        {WinHttpOption::ReceiveTimeout, 1234},          {WinHttpOption::ResolveTimeout, 1234},
        {WinHttpOption::ReceiveResponseTimeout, 1234},  {WinHttpOption::SendTimeout, 1234},
        {WinHttpOption::ConnectTimeout, 1234},          {WinHttpOption::MaxConnectionsPerServer, 16},
        {WinHttpOption::MaxConnectionsPer1_0Server, 16}};
    EXPECT_EQ(transport.sessionOptions, expected);
}

TEST(HttpSenderSetup, AGetDisablesRedirectsAndCarriesNoCredentialsBeforeAChallenge)
{
    FakeHttpTransport transport;
    transport.script = {Answer(200, "ok")};
    CHttpSender sender(Device(), transport);
    ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/server")));

    ASSERT_EQ(transport.requests.size(), 1u);
    const auto& request = transport.requests[0];
    EXPECT_EQ(request.verb, "GET");
    EXPECT_EQ(request.objectName, "/server");
    EXPECT_EQ(request.flags, platform::kWinHttpFlagRefresh | platform::kWinHttpFlagEscapeDisableQuery);
    EXPECT_EQ(request.credentialScheme, 0u) << "no password leaves before the camera asks";
    EXPECT_TRUE(request.password.empty());
    const std::vector<std::pair<WinHttpOption, std::uint32_t>> options = {
        {WinHttpOption::DisableFeature, platform::kWinHttpDisableRedirects}};
    EXPECT_EQ(request.options, options) << "no certificate option on a plain request";
    EXPECT_EQ(sender.GetStatusCode(), 200u);
    EXPECT_EQ(sender.GetContentLength(), 2u);
}

TEST(HttpSenderSetup, WithoutAUserOrWithSchemeNoneA401IsTheAnswer)
{
    FakeHttpTransport transport;
    transport.script = {Challenge({platform::kWinHttpAuthBasic}), Challenge({platform::kWinHttpAuthBasic})};
    CHttpSender anonymous(Device(80, ""), transport);
    ASSERT_TRUE(anonymous.SendRequest(HttpRequest("GET", "/server")));
    CHttpSender sender(Device(), transport);
    HttpRequest request("GET", "/server");
    request.authScheme = Web::HttpAuthScheme::None;
    ASSERT_TRUE(sender.SendRequest(request));
    EXPECT_EQ(sender.GetStatusCode(), 401u);
    ASSERT_EQ(transport.requests.size(), 2u) << "no repeat that could carry nothing new";
    EXPECT_EQ(transport.requests[0].credentialScheme, 0u);
    EXPECT_EQ(transport.requests[1].credentialScheme, 0u);
}

TEST(HttpSenderSetup, SecureRequestsMayIgnoreCertificatesAndCarryHeaders)
{
    FakeHttpTransport transport;
    transport.script = {Answer(200)};
    CHttpSender sender(Device(443), transport);
    HttpRequest request("GET", "/server");
    request.optionFlags = Web::kHttpIgnoreCertificateErrors;
    request.extraHeaders = {"X-Camera: 1"};
    ASSERT_TRUE(sender.SendRequest(request));
    const auto& recorded = transport.requests.at(0);
    EXPECT_TRUE(recorded.Secure());
    EXPECT_EQ(recorded.flags & platform::kWinHttpFlagEscapeDisableQuery, 0u);
    const std::vector<std::pair<WinHttpOption, std::uint32_t>> options = {{WinHttpOption::SecurityFlags, 0x3300}};
    EXPECT_EQ(recorded.options, options);
    ASSERT_EQ(recorded.headers.size(), 1u);
    EXPECT_EQ(recorded.headers[0].first, "X-Camera: 1");
    EXPECT_EQ(recorded.headers[0].second, 0xA0000000u);
}

TEST(HttpSenderSetup, AnEmptyVerbOrPathFailsBeforeAnythingIsSent)
{
    FakeHttpTransport transport;
    CHttpSender sender(Device(), transport);
    EXPECT_FALSE(sender.SendRequest(HttpRequest("GET", "")));
    EXPECT_FALSE(sender.SendRequest(HttpRequest("", "/server")));
    EXPECT_TRUE(transport.requests.empty());
}

TEST(HttpSenderSchemes, PortFourFourThreeIsTriedOverHttpsFirstAndOtherPortsOverHttp)
{
    FakeHttpTransport transport;
    transport.script = {Answer(200), Answer(200)};
    CHttpSender secure(Device(443), transport);
    CHttpSender plain(Device(8080), transport);
    ASSERT_TRUE(secure.SendRequest(HttpRequest("GET", "/server")));
    ASSERT_TRUE(plain.SendRequest(HttpRequest("GET", "/server")));
    EXPECT_TRUE(transport.requests.at(0).Secure());
    EXPECT_FALSE(transport.requests.at(1).Secure());
}

TEST(HttpSenderSchemes, AFailureShortOfAnAnswerTriesTheOtherSchemeAndRemembersIt)
{
    FakeHttpTransport transport;
    transport.script = {Failure(platform::kHttpErrorCannotConnect), Answer(200), Answer(200)};
    CHttpSender sender(Device(), transport);
    ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/server")));
    ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/getprofile")));
    ASSERT_EQ(transport.requests.size(), 3u);
    EXPECT_FALSE(transport.requests[0].Secure());
    EXPECT_TRUE(transport.requests[1].Secure());
    EXPECT_TRUE(transport.requests[2].Secure()) << "the scheme that worked is tried first from then on";
}

TEST(HttpSenderSchemes, AFailedReceiveSwitchesButASendTimeOutDoesNot)
{
    FakeHttpTransport transport;
    transport.script = {Failure(platform::kHttpOk, platform::kHttpErrorConnectionError), Answer(200)};
    CHttpSender sender(Device(), transport);
    EXPECT_TRUE(sender.SendRequest(HttpRequest("GET", "/server")));
    EXPECT_EQ(transport.requests.size(), 2u);

    transport.script = {Failure(platform::kHttpErrorTimeout), Answer(200)};
    transport.requests.clear();
    EXPECT_FALSE(sender.SendRequest(HttpRequest("GET", "/server")));
    EXPECT_EQ(transport.requests.size(), 1u);
    EXPECT_EQ(sender.GetStatusCode(), 0u);
}

TEST(HttpSenderSchemes, CloseRequestDuringTheFirstAttemptPreventsTheSecond)
{
    FakeHttpTransport transport;
    CHttpSender sender(Device(), transport);
    ScriptedAnswer blocked = Failure(platform::kHttpErrorCannotConnect);
    blocked.duringSend = [&] { sender.CloseRequest(); };
    transport.script = {blocked, Answer(200)};
    EXPECT_FALSE(sender.SendRequest(HttpRequest("GET", "/server")));
    ASSERT_EQ(transport.requests.size(), 1u);
    EXPECT_TRUE(transport.requests[0].cancelled);
    // The next request is not affected.
    EXPECT_TRUE(sender.SendRequest(HttpRequest("GET", "/server")));
}

TEST(HttpSenderAuthentication, A401LearnsTheServersSchemeOnceAndRepeatsTheRequest)
{
    FakeHttpTransport transport;
    transport.script = {Challenge({platform::kWinHttpAuthDigest, platform::kWinHttpAuthBasic}), Answer(200, "ok"),
                        Answer(200, "ok")};
    CHttpSender sender(Device(), transport);
    ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/server")));
    EXPECT_EQ(sender.GetStatusCode(), 200u);
    ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/getprofile")));

    ASSERT_EQ(transport.requests.size(), 3u);
    EXPECT_EQ(transport.requests[0].credentialScheme, 0u);
    EXPECT_EQ(transport.requests[1].credentialScheme, platform::kWinHttpAuthDigest);
    EXPECT_EQ(transport.requests[1].objectName, "/server");
    EXPECT_EQ(transport.requests[1].password, "secret");
    EXPECT_EQ(transport.requests[2].credentialScheme, platform::kWinHttpAuthDigest);
}

TEST(HttpSenderAuthentication, A401AfterTheSchemeIsLearnedIsTheAnswer)
{
    FakeHttpTransport transport;
    transport.script = {Challenge({platform::kWinHttpAuthDigest}), Challenge({platform::kWinHttpAuthDigest}),
                        Challenge({platform::kWinHttpAuthDigest})};
    CHttpSender sender(Device(), transport);
    ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/server")));
    EXPECT_EQ(sender.GetStatusCode(), 401u);
    EXPECT_EQ(transport.requests.size(), 2u);
    ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/server")));
    EXPECT_EQ(transport.requests.size(), 3u) << "no second 401 step";
}

TEST(HttpSenderAuthentication, TheFirstSchemeTheStackAnswersIsLearned)
{
    using platform::kWinHttpAuthBasic, platform::kWinHttpAuthDigest, platform::kWinHttpAuthNtlm,
        platform::kWinHttpAuthNegotiate, platform::kWinHttpAuthPassport;
    struct Case
    {
        std::vector<std::uint32_t> offered;
        std::uint32_t learned; // 0: none, and the 401 is the answer
    };
    const Case cases[] = {
        {{kWinHttpAuthBasic}, kWinHttpAuthBasic},
        {{kWinHttpAuthNtlm, kWinHttpAuthDigest}, kWinHttpAuthDigest},
        {{kWinHttpAuthNegotiate, kWinHttpAuthNtlm, kWinHttpAuthBasic}, kWinHttpAuthBasic},
        {{kWinHttpAuthPassport, kWinHttpAuthBasic, kWinHttpAuthDigest}, kWinHttpAuthDigest},
        {{kWinHttpAuthNegotiate, kWinHttpAuthNtlm}, 0},
        {{}, 0},
    };
    for (const Case& c : cases)
    {
        FakeHttpTransport transport;
        transport.script = {Challenge(c.offered), Answer(200, "ok"), Answer(200, "ok")};
        CHttpSender sender(Device(), transport);
        std::vector<std::uint8_t> body;
        CResultDef result;
        HUtils::RequestGetRD(sender, body, result, "/server", true);
        // A camera whose schemes the stack cannot answer is one that refuses the credentials, not one
        // that is offline.
        EXPECT_EQ(result.GetCode(), c.learned != 0 ? 0 : HUtils::kHttpResultCredentialsInvalid);
        HUtils::RequestGetRD(sender, body, result, "/getprofile", true);
        std::vector<std::uint32_t> sent;
        for (const auto& request : transport.requests)
            sent.push_back(request.credentialScheme);
        const auto expected = c.learned != 0 ? std::vector<std::uint32_t>{0, c.learned, c.learned}
                                             // Nothing learned: every request still asks without a password.
                                             : std::vector<std::uint32_t>{0, 0};
        EXPECT_EQ(sent, expected) << "first offered " << (c.offered.empty() ? 0 : c.offered[0]);
    }
}

TEST(HttpSenderBody, ReadsTheAnnouncedLengthInChunksOfEightKibibytes)
{
    FakeHttpTransport transport;
    transport.script = {Answer(200, std::string(20000, 'x'))};
    CHttpSender sender(Device(), transport);
    ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/server")));
    std::vector<std::uint8_t> body;
    EXPECT_EQ(sender.ReadAll(body), 20000u);
    EXPECT_EQ(transport.requests[0].readSizes, (std::vector<std::uint32_t>{8192, 8192, 3616}));
}

TEST(HttpSenderBody, AnUnannouncedBodyEndsAtOneMebibyteAndALargerAnnouncedOneIsNoBody)
{
    for (const bool announced : {false, true})
    {
        FakeHttpTransport transport;
        ScriptedAnswer answer = Answer(200, std::string(3 * 1024 * 1024, 'y'));
        if (!announced)
            answer.contentLength.reset();
        transport.script = {answer};
        CHttpSender sender(Device(), transport);
        std::vector<std::uint8_t> body;
        CResultDef result;
        HUtils::RequestGetRD(sender, body, result, "/server", true);
        EXPECT_EQ(result.GetCode(), announced ? HUtils::kHttpResultIncorrectResponse : 0) << "announced " << announced;
        EXPECT_EQ(body.size(), announced ? 0u : 0x100000u) << "announced " << announced;
        if (announced)
        {
            EXPECT_TRUE(transport.requests[0].readSizes.empty()) << "nothing read of a body that cannot be whole";
        }
    }
}

TEST(HttpSenderBody, A204LeavesTheLengthUnaskedAndTheBodyEmpty)
{
    FakeHttpTransport transport;
    transport.script = {Answer(204)};
    CHttpSender sender(Device(), transport);
    std::vector<std::uint8_t> body;
    CResultDef result;
    HUtils::RequestGetRD(sender, body, result, "/setio?relay1=1", true);
    EXPECT_EQ(transport.requests[0].contentLengthQueries, 0);
    EXPECT_EQ(result.GetCode(), HUtils::kHttpResultIncorrectResponse);
}

TEST(HttpSenderBody, SilenceEndsABodyOfNoAnnouncedLengthWithNothingAdded)
{
    FakeHttpTransport transport;
    ScriptedAnswer answer = Answer(200, "Model Name=VC\r\n");
    answer.contentLength.reset();
    answer.endError = platform::kHttpErrorTimeout;
    transport.script = {answer};
    CHttpSender sender(Device(), transport);
    ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/server")));
    std::vector<std::uint8_t> body;
    EXPECT_EQ(sender.ReadAll(body), 15u);
    EXPECT_EQ(std::string(body.begin(), body.end()), "Model Name=VC\r\n");
}

TEST(HttpSenderBody, ABodyCutShortOfItsLengthIsNoBody)
{
    for (const platform::HttpError end : {platform::kHttpErrorTimeout, platform::kHttpErrorConnectionError})
    {
        FakeHttpTransport transport;
        ScriptedAnswer answer = Answer(200, "Model Name=VC\r\n");
        answer.contentLength = 100;
        answer.endError = end;
        transport.script = {answer};
        CHttpSender sender(Device(), transport);
        std::vector<std::uint8_t> body;
        CResultDef result;
        HUtils::RequestGetRD(sender, body, result, "/server", true);
        EXPECT_EQ(result.GetCode(), HUtils::kHttpResultIncorrectResponse) << "end " << end;
        EXPECT_TRUE(body.empty());
    }
}

TEST(HttpSenderBody, ReadAppendsOneReadAndStopsAtTheEnd)
{
    FakeHttpTransport transport;
    ScriptedAnswer answer = Answer(200, "abcdef");
    answer.piece = 4;
    transport.script = {answer};
    CHttpSender sender(Device(), transport);
    ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/getalarmmotion")));
    std::vector<std::uint8_t> bytes{'>'};
    EXPECT_EQ(sender.QueryDataAvailable(), 4u);
    EXPECT_EQ(sender.Read(bytes, 100, false), 4u);
    EXPECT_EQ(sender.Read(bytes, 100, false), 2u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), ">abcdef");
    EXPECT_EQ(sender.Read(bytes, 100, true), 0u);
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(sender.QueryDataAvailable(), 0u);
}

TEST(HttpUtils, RequestGetShortNeedsAStatusOf200AndOneRead)
{
    FakeHttpTransport transport;
    ScriptedAnswer stream = Answer(200, std::string(5000, 'a'));
    stream.contentLength.reset();
    transport.script = {stream, Answer(202, "accepted")};
    CHttpSender sender(Device(), transport);
    std::string text = "before";
    EXPECT_TRUE(HUtils::RequestGetShort(sender, text, "/getalarmmotion"));
    EXPECT_EQ(text.size(), 2048u);
    EXPECT_EQ(transport.requests[0].readSizes, (std::vector<std::uint32_t>{2048}));
    text = "before";
    EXPECT_FALSE(HUtils::RequestGetShort(sender, text, "/getalarmmotion"));
    EXPECT_EQ(text, "before");
}

TEST(WinInetSenderSetup, OpensWithItsAgentAndTimeOutsAndReportsAFailedOpenToTheDebugger)
{
    FakeHttpTransport transport;
    {
        CWinInetSender sender(Device(), transport);
        EXPECT_EQ(transport.agent, "Kestrav::WinInetSender");
        const std::vector<std::pair<platform::WinInetOption, std::uint32_t>> expected = {
            {platform::WinInetOption::ReceiveTimeout, 1234},
            {platform::WinInetOption::SendTimeout, 1234},
            {platform::WinInetOption::ConnectTimeout, 1234}};
        EXPECT_EQ(transport.inetOptions, expected);
        EXPECT_TRUE(transport.debugLines.empty());
    }
    transport.openError = platform::kHttpErrorInternal;
    CWinInetSender broken(Device(), transport);
    EXPECT_EQ(transport.debugLines, std::vector<std::string>{"Web::CWinInetSender::Initialize - failed, code=12004"});
    transport.script = {Answer(200)};
    EXPECT_FALSE(broken.SendRequest(HttpRequest("GET", "/control?camid=1&stop=1")));
    EXPECT_EQ(transport.connects, 0);
}

TEST(WinInetSenderBody, ReadsWhatIsAvailableUpToTheLimit)
{
    FakeHttpTransport transport;
    ScriptedAnswer answer = Answer(200, std::string(3 * 1024 * 1024, 'z'));
    answer.contentLength.reset();
    answer.piece = 5000;
    transport.script = {answer, Answer(200, "OK\r\n")};
    CWinInetSender sender(Device(), transport);
    ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/ptzpreset?camid=1&goto_preset=2")));
    std::vector<std::uint8_t> body;
    EXPECT_EQ(sender.ReadAll(body), 0x100000u);
    EXPECT_EQ(transport.requests[0].readSizes.front(), 5000u);

    ScriptedAnswer announced = Answer(200, std::string(0x100001, 'z'));
    transport.script.push_front(announced);
    ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/ptzpreset?camid=1&goto_preset=2")));
    EXPECT_EQ(sender.ReadAll(body), 0u) << "a body announced beyond the limit is no body";
    EXPECT_TRUE(body.empty());

    ASSERT_TRUE(sender.SendRequest(HttpRequest("GET", "/ptzpreset?camid=1&goto_preset=2")));
    EXPECT_TRUE(transport.requests[0].cancelled) << "a new request closes the one before";
    EXPECT_EQ(sender.ReadAll(body), 4u);
}
}
}
