#include "http/http_utils.h"

#include "runtime/format_string.h"

namespace kestrav::HUtils
{
namespace
{
constexpr const char* kRequestGetRD = "kestrav::HUtils::RequestGetRD";
}

const CResultDef& RequestGetRD(Web::CBaseHttpSender& sender, std::vector<std::uint8_t>& body, CResultDef& result,
                               const std::string& urlPath, bool readBody)
{
    result.SetResult(static_cast<std::int32_t>(kLogInformation), 0, std::string());
    const DEVICE_INFO& device = sender.GetDeviceInfo();
    const std::string deviceText = FormatString("device %s:%u", device.address.c_str(), unsigned{device.port});
    const Web::HttpRequest request("GET", urlPath);
    body.clear();

    const std::uint32_t status = sender.SendRequest(request) ? sender.GetStatusCode() : 0;
    if (status == 0)
    {
        result.SetResultEx(static_cast<std::int32_t>(kLogDebug), kHttpResultCannotSend,
                           "%s: Cannot send request \"%s\" to %s", kRequestGetRD, urlPath.c_str(), deviceText.c_str());
        return result;
    }
    if (status / 100 != 2)
    {
        if (status == 401)
            result.SetResultEx(static_cast<std::int32_t>(kLogError), kHttpResultCredentialsInvalid,
                               "%s: %s is unable to process \"%s\" request: credentials are invalid", kRequestGetRD,
                               deviceText.c_str(), urlPath.c_str());
        else if (status == 404)
            result.SetResultEx(static_cast<std::int32_t>(kLogError), kHttpResultNotFound,
                               "%s: The \"%s\" URL was not found on %s", kRequestGetRD, urlPath.c_str(),
                               deviceText.c_str());
        else
            result.SetResultEx(static_cast<std::int32_t>(kLogError), kHttpResultUnexpectedStatus,
                               "%s: %s is unable to process \"%s\" request. HTTP status code is %u", kRequestGetRD,
                               deviceText.c_str(), urlPath.c_str(), static_cast<unsigned>(status));
        return result;
    }
    if (readBody && sender.ReadAll(body) == 0)
        result.SetResultEx(static_cast<std::int32_t>(kLogWarning), kHttpResultIncorrectResponse,
                           "%s: Incorrect response for request \"%s\" from %s", kRequestGetRD, urlPath.c_str(),
                           deviceText.c_str());
    return result;
}

bool RequestGetString(Web::CBaseHttpSender& sender, std::string& text, const std::string& urlPath)
{
    text.clear();
    std::vector<std::uint8_t> body;
    CResultDef result;
    if (RequestGetRD(sender, body, result, urlPath, true).GetCode() != 0)
        return false;
    text.assign(body.begin(), body.end());
    return true;
}

bool RequestGet(Web::CBaseHttpSender& sender, const std::string& urlPath)
{
    std::vector<std::uint8_t> body;
    CResultDef result;
    return RequestGetRD(sender, body, result, urlPath, false).GetCode() == 0;
}

bool RequestGetShort(Web::CBaseHttpSender& sender, std::string& text, const std::string& urlPath)
{
    if (!sender.SendRequest(Web::HttpRequest("GET", urlPath)))
        return false;
    std::vector<std::uint8_t> bytes;
    if (sender.Read(bytes, kShortReadLimit, true) == 0 || sender.GetStatusCode() != 200)
        return false;
    text.assign(bytes.begin(), bytes.end());
    return true;
}
}
