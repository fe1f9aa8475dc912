// GET requests to a camera through any sender, with the outcome classified into result codes.
//
//   HUtils::RequestGetRD      the body and a CResultDef (code, level and the message to log)
//   HUtils::RequestGetString  the body as text; true on code 0
//   HUtils::RequestGet        true on a 2xx answer; the body is not read
//   HUtils::RequestGetShort   one read of at most 2048 bytes of a 200 answer (for pushed streams)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "http/http_base_sender.h"
#include "runtime/result_def.h"

namespace kestrav::HUtils
{
// Result codes of RequestGetRD besides 0 (success).
constexpr std::int32_t kHttpResultUnexpectedStatus = 8;
constexpr std::int32_t kHttpResultNotFound = 9;
constexpr std::int32_t kHttpResultCredentialsInvalid = 10;
constexpr std::int32_t kHttpResultCannotSend = 11;
constexpr std::int32_t kHttpResultIncorrectResponse = 12;

// Sends a GET of `urlPath`, classifies the status and, with `readBody` and a 2xx answer, reads the body
// into `body` (cleared first). Fills `result` and returns it; writes no log line.
const CResultDef& RequestGetRD(Web::CBaseHttpSender& sender, std::vector<std::uint8_t>& body, CResultDef& result,
                               const std::string& urlPath, bool readBody);

// The body of a 2xx answer with at least one byte; `text` is cleared first.
bool RequestGetString(Web::CBaseHttpSender& sender, std::string& text, const std::string& urlPath);

// A 2xx answer; its body is left unread.
bool RequestGet(Web::CBaseHttpSender& sender, const std::string& urlPath);

// The first bytes of a 200 answer, one read of at most kShortReadLimit: the current state of a stream
// that the camera keeps open. `text` is set only on success.
bool RequestGetShort(Web::CBaseHttpSender& sender, std::string& text, const std::string& urlPath);

constexpr std::uint32_t kShortReadLimit = 2048;
}
