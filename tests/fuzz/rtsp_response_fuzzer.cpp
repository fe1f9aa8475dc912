// CRTSPResponseParser::Parse on any answer a camera can send, read as the answer to DESCRIBE and to
// SETUP, and on any session description inside a 200 answer to DESCRIBE (first input byte odd). The
// fields stay within what the client relies on, and parsing the same answer again changes nothing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "rtsp/rtsp_response_parser.h"

namespace
{
using kestrav::CRTSPResponseParser;
using kestrav::MediaKind;
using kestrav::RtspAuthScheme;
using kestrav::RtspRequestType;

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

bool HasAny(std::string_view text, std::string_view characters)
{
    return text.find_first_of(characters) != std::string_view::npos;
}

struct Fields
{
    std::string protocol;
    std::uint32_t statusCode;
    std::uint32_t cseq;
    std::string contentBase;
    std::string contentType;
    std::uint32_t contentLength;
    std::string sessionId;
    std::int32_t sessionTimeout;
    std::string controls[3];
    std::string profiles[3];
    RtspAuthScheme scheme;
    std::string realm;
    std::string nonce;
    std::uint16_t rtpPort;
    std::uint16_t rtcpPort;
    kestrav::ParameterSets sets;

    bool operator==(const Fields&) const = default;
};

Fields FieldsOf(const CRTSPResponseParser& parser)
{
    Fields fields{parser.GetProtocol(),
                  parser.GetStatusCode(),
                  parser.GetCSeq(),
                  parser.GetContentBase(),
                  parser.GetContentType(),
                  parser.GetContentLength(),
                  parser.GetSessionId(),
                  parser.GetSessionTimeout(),
                  {},
                  {},
                  parser.GetAuthScheme(),
                  parser.GetRealm(),
                  parser.GetNonce(),
                  parser.GetServerRTPPort(),
                  parser.GetServerRTCPPort(),
                  parser.GetParameterSets()};
    for (int kind = 1; kind <= 3; ++kind)
    {
        fields.controls[kind - 1] = parser.GetControl(static_cast<MediaKind>(kind));
        fields.profiles[kind - 1] = parser.GetTransportProfile(static_cast<MediaKind>(kind));
    }
    return fields;
}

void CheckAnswer(std::string_view response, RtspRequestType requestType)
{
    CRTSPResponseParser parser;
    const bool parsed = parser.Parse(response, requestType);
    const Fields fields = FieldsOf(parser);

    Check(!parsed || fields.statusCode == 200 || fields.statusCode == 401);
    Check(fields.protocol.size() <= 255 && !HasAny(fields.protocol, " \t\r\n"));
    Check(fields.contentType.size() <= 255 && !HasAny(fields.contentType, " \t\r\nABCDEFGHIJKLMNOPQRSTUVWXYZ"));
    Check(fields.contentBase.empty() || fields.contentBase.starts_with("rtsp://"));
    Check(!HasAny(fields.sessionId, ";\r\n"));
    Check(fields.sessionId.empty() || (!HasAny(fields.sessionId.substr(0, 1), " \t") &&
                                       !HasAny(fields.sessionId.substr(fields.sessionId.size() - 1), " \t")));
    Check(fields.sessionTimeout >= 0);
    Check(!HasAny(fields.realm, "\"\r\n") && !HasAny(fields.nonce, "\"\r\n"));
    // A fresh parser holds only what this answer offered, and a Digest challenge without both is refused.
    Check(!parsed || fields.scheme != RtspAuthScheme::Digest || (!fields.realm.empty() && !fields.nonce.empty()));
    for (const std::string& control : fields.controls)
        Check(!HasAny(control, " \t\r\n"));
    Check(fields.sets.first.size() <= kestrav::kParameterSetCapacity);
    Check(fields.sets.second.size() <= kestrav::kParameterSetCapacity);
    Check(fields.sets.config.size() <= kestrav::kParameterSetCapacity);

    // Every field is set from this answer alone, so a second parse of it repeats the first.
    Check(parser.Parse(response, requestType) == parsed);
    Check(FieldsOf(parser) == fields);

    parser.Reset();
    Check(FieldsOf(parser) == FieldsOf(CRTSPResponseParser()));
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    if ((data[0] & 1) == 0)
    {
        CheckAnswer(rest, RtspRequestType::Describe);
        CheckAnswer(rest, RtspRequestType::Setup);
        return 0;
    }
    const std::string answer =
        "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Length: " + std::to_string(rest.size()) + "\r\n\r\n" + std::string(rest);
    CheckAnswer(answer, RtspRequestType::Describe);
    return 0;
}
