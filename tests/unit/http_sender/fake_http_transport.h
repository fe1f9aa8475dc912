// A scripted HTTP stack: each request sent takes the next scripted answer, and everything the sender
// asked of the stack is recorded.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/http_transport.h"

namespace kestrav::testing
{
using platform::HttpError;
using platform::kHttpOk;

struct ScriptedAnswer
{
    HttpError sendError = kHttpOk;
    HttpError receiveError = kHttpOk;
    std::uint32_t status = 200;
    std::optional<std::uint32_t> contentLength;
    // WinHTTP scheme bits offered with a 401, the preferred first.
    std::vector<std::uint32_t> challenges;
    std::string body;
    // At most this much per read.
    std::uint32_t piece = 0xFFFFFFFFu;
    // What a read reports once the body has been read.
    HttpError endError = kHttpOk;
    // Runs inside SendRequest, as another thread would act while it blocks.
    std::function<void()> duringSend;
};

struct RecordedRequest
{
    std::string verb;
    std::string objectName;
    std::uint32_t flags = 0;
    std::uint32_t credentialScheme = 0; // 0: none set
    std::string userName;
    std::string password;
    std::vector<std::pair<platform::WinHttpOption, std::uint32_t>> options;
    std::vector<std::pair<std::string, std::uint32_t>> headers;
    std::vector<std::uint32_t> readSizes;
    int contentLengthQueries = 0;
    bool cancelled = false;

    bool Secure() const { return (flags & platform::kWinHttpFlagSecure) != 0; }
};

class FakeHttpTransport : public platform::IHttpTransport
{
public:
    std::deque<ScriptedAnswer> script;
    std::vector<RecordedRequest> requests;
    std::vector<std::pair<platform::WinHttpOption, std::uint32_t>> sessionOptions;
    std::vector<std::pair<platform::WinInetOption, std::uint32_t>> inetOptions;
    std::string agent;
    std::vector<std::string> debugLines;
    HttpError openError = kHttpOk;
    int connects = 0;
    // The schemes whose challenges this stack answers, as libcurl's.
    std::uint32_t answerableSchemes = platform::kWinHttpAuthBasic | platform::kWinHttpAuthDigest;

    HttpError WinHttpOpen(const std::string& agentText, std::unique_ptr<platform::IWinHttpSession>& session) override;
    HttpError InternetOpen(const std::string& agentText, std::unique_ptr<platform::IWinInetSession>& session) override;
    void OutputDebugText(const std::string& text) override { debugLines.push_back(text); }
};

namespace detail
{
class FakeRequest : public platform::IWinHttpRequest, public platform::IWinInetRequest
{
public:
    FakeRequest(FakeHttpTransport& transport, std::size_t index) : m_transport(transport), m_index(index) {}

    RecordedRequest& Record() { return m_transport.requests[m_index]; }

    HttpError SetCredentials(std::uint32_t, std::uint32_t scheme, const std::string& user,
                             const std::string& password) override
    {
        Record().credentialScheme = scheme;
        Record().userName = user;
        Record().password = password;
        return kHttpOk;
    }
    HttpError SetOption(platform::WinHttpOption option, std::uint32_t value) override
    {
        Record().options.emplace_back(option, value);
        return kHttpOk;
    }
    HttpError AddRequestHeaders(const std::string& line, std::uint32_t modifiers) override
    {
        Record().headers.emplace_back(line, modifiers);
        return kHttpOk;
    }
    HttpError SendRequest(std::span<const std::uint8_t>, std::uint32_t) override
    {
        if (m_transport.script.empty())
            return platform::kHttpErrorCannotConnect;
        m_answer = std::move(m_transport.script.front());
        m_transport.script.pop_front();
        if (m_answer.duringSend)
            m_answer.duringSend();
        if (Record().cancelled)
            return platform::kHttpErrorOperationCancelled;
        return m_answer.sendError;
    }
    HttpError SendRequest(std::span<const std::uint8_t> body) override
    {
        const HttpError error = SendRequest(body, 0);
        return error != kHttpOk ? error : m_answer.receiveError;
    }
    HttpError ReceiveResponse() override { return m_answer.receiveError; }
    HttpError QueryStatusCode(std::uint32_t& status) override
    {
        status = m_answer.status;
        return kHttpOk;
    }
    HttpError QueryContentLength(std::uint32_t& length) override
    {
        ++Record().contentLengthQueries;
        length = m_answer.contentLength.value_or(0);
        return m_answer.contentLength ? kHttpOk : platform::kHttpErrorHeaderNotFound;
    }
    HttpError QueryAuthSchemes(std::uint32_t& supported, std::uint32_t& first, std::uint32_t& target) override
    {
        supported = 0;
        for (const std::uint32_t bit : m_answer.challenges)
            supported |= bit;
        first = m_answer.challenges.empty() ? 0 : m_answer.challenges.front();
        target = 0;
        return first == 0 ? platform::kHttpErrorHeaderNotFound : kHttpOk;
    }
    HttpError QueryDataAvailable(std::uint32_t& available) override
    {
        available = static_cast<std::uint32_t>(std::min<std::size_t>(Left(), m_answer.piece));
        return available == 0 ? m_answer.endError : kHttpOk;
    }
    HttpError ReadData(std::span<std::uint8_t> buffer, std::uint32_t& read) override
    {
        Record().readSizes.push_back(static_cast<std::uint32_t>(buffer.size()));
        read = static_cast<std::uint32_t>(std::min<std::size_t>({Left(), buffer.size(), m_answer.piece}));
        if (read == 0)
            return m_answer.endError;
        std::copy_n(m_answer.body.begin() + static_cast<std::ptrdiff_t>(m_offset), read, buffer.begin());
        m_offset += read;
        return kHttpOk;
    }
    void Cancel() override { Record().cancelled = true; }

private:
    std::size_t Left() const { return m_answer.body.size() - m_offset; }

    FakeHttpTransport& m_transport;
    std::size_t m_index;
    ScriptedAnswer m_answer;
    std::size_t m_offset = 0;
};

class FakeConnection : public platform::IWinHttpConnection, public platform::IWinInetConnection
{
public:
    explicit FakeConnection(FakeHttpTransport& transport) : m_transport(transport) {}

    HttpError OpenRequest(const std::string& verb, const std::string& objectName, std::uint32_t flags,
                          std::shared_ptr<platform::IWinHttpRequest>& request) override
    {
        request = Open(verb, objectName, flags);
        return kHttpOk;
    }
    HttpError OpenRequest(const std::string& verb, const std::string& objectName, const std::vector<std::string>&,
                          std::uint32_t flags, std::shared_ptr<platform::IWinInetRequest>& request) override
    {
        request = Open(verb, objectName, flags);
        return kHttpOk;
    }

private:
    std::shared_ptr<FakeRequest> Open(const std::string& verb, const std::string& objectName, std::uint32_t flags)
    {
        RecordedRequest record;
        record.verb = verb;
        record.objectName = objectName;
        record.flags = flags;
        m_transport.requests.push_back(record);
        return std::make_shared<FakeRequest>(m_transport, m_transport.requests.size() - 1);
    }

    FakeHttpTransport& m_transport;
};

class FakeSession : public platform::IWinHttpSession, public platform::IWinInetSession
{
public:
    explicit FakeSession(FakeHttpTransport& transport) : m_transport(transport) {}

    HttpError SetOption(platform::WinHttpOption option, std::uint32_t value) override
    {
        m_transport.sessionOptions.emplace_back(option, value);
        return kHttpOk;
    }
    HttpError SetOption(platform::WinInetOption option, std::uint32_t value) override
    {
        m_transport.inetOptions.emplace_back(option, value);
        return kHttpOk;
    }
    HttpError Connect(const std::string&, std::uint16_t,
                      std::unique_ptr<platform::IWinHttpConnection>& connection) override
    {
        ++m_transport.connects;
        connection = std::make_unique<FakeConnection>(m_transport);
        return kHttpOk;
    }
    std::uint32_t AnswerableAuthSchemes() const override { return m_transport.answerableSchemes; }
    HttpError Connect(const std::string&, std::uint16_t, const std::string&, const std::string&, std::uint32_t,
                      std::unique_ptr<platform::IWinInetConnection>& connection) override
    {
        ++m_transport.connects;
        connection = std::make_unique<FakeConnection>(m_transport);
        return kHttpOk;
    }

private:
    FakeHttpTransport& m_transport;
};
}

inline HttpError FakeHttpTransport::WinHttpOpen(const std::string& agentText,
                                                std::unique_ptr<platform::IWinHttpSession>& session)
{
    agent = agentText;
    if (openError == kHttpOk)
        session = std::make_unique<detail::FakeSession>(*this);
    return openError;
}

inline HttpError FakeHttpTransport::InternetOpen(const std::string& agentText,
                                                 std::unique_ptr<platform::IWinInetSession>& session)
{
    agent = agentText;
    if (openError == kHttpOk)
        session = std::make_unique<detail::FakeSession>(*this);
    return openError;
}
}
