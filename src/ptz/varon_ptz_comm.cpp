#include "ptz/varon_ptz_comm.h"

#include <algorithm>

#include "core/driver_services.h"
#include "http/http_utils.h"
#include "platform/thread.h"
#include "runtime/format_string.h"

namespace kestrav
{
namespace
{
constexpr std::int32_t kAutomaticMode = 2;
constexpr std::int32_t kSlowestSpeed = 1;
constexpr std::int32_t kFastestSpeed = 16;
// How often and how long Close closes the command thread's request while it still runs.
constexpr std::uint32_t kCancelStepMilliseconds = 10;
constexpr std::uint32_t kCancelLimitMilliseconds = 2000;

DEVICE_INFO DeviceOf(IDriver* driver)
{
    const DEVICE_INFO* device = driver != nullptr ? driver->GetDeviceInfo() : nullptr;
    return device != nullptr ? *device : DEVICE_INFO();
}
}

CVaronPTZComm::CVaronPTZComm(IDriver* driver, const CPtzCapabilities& capabilities, std::uint16_t channel,
                             platform::IHttpTransport& transport)
    : CBasePTZComm(driver, capabilities, channel),
      m_commandSender(std::make_unique<Web::CWinInetSender>(DeviceOf(driver), transport)),
      m_presetSender(std::make_unique<Web::CWinInetSender>(DeviceOf(driver), transport))
{
}

CVaronPTZComm::~CVaronPTZComm()
{
    // The thread ends before the senders go.
    Close();
    m_commandSender->CloseRequest();
    m_presetSender->CloseRequest();
}

bool CVaronPTZComm::Open()
{
    {
        std::lock_guard guard(m_requestLock);
        m_cancelled = false;
    }
    return CBasePTZComm::Open();
}

std::int32_t CVaronPTZComm::CameraSpeed(std::int32_t speed)
{
    const std::int32_t bounded = std::clamp(speed, kSlowestSpeed, kFastestSpeed);
    return static_cast<std::int32_t>((bounded - 1) * 6.0 / 15.0) + 1;
}

std::string CVaronPTZComm::MoveRequest(std::uint32_t cameraId, std::int32_t direction, std::int32_t speed)
{
    const std::int32_t v = CameraSpeed(speed);
    std::string request = FormatString("/control?camid=%u&", cameraId);
    switch (direction)
    {
    case 0:
        return request + FormatString("rpan=%d", -v);
    case 1:
        return request + FormatString("rpan=%d", v);
    case 2:
        return request + FormatString("rtilt=%d", v);
    case 3:
        return request + FormatString("rtilt=%d", -v);
    case 4:
        return request + FormatString("rtilt=%d&rpan=%d", v, -v);
    case 5:
        return request + FormatString("rtilt=%d&rpan=%d", v, v);
    case 6:
        return request + FormatString("rtilt=%d&rpan=%d", -v, -v);
    case 7:
        return request + FormatString("rtilt=%d&rpan=%d", -v, v);
    case 8:
        return request + FormatString("rzoom=%d", -v);
    case 9:
        return request + FormatString("rzoom=%d", v);
    default:
        return {};
    }
}

void CVaronPTZComm::HandleWorkItem(CPTZItem& item)
{
    switch (item.commandId)
    {
    case kPtzCommandMove:
    {
        const std::string request = MoveRequest(CameraId(), item.x, item.speed);
        if (request.empty())
            SendDebugMessage(kLogError, "%s: unexpected direction %d", "kestrav::CVaronPTZComm::HandleWorkItem",
                             item.x);
        else
            SendCommandRequest(request);
        break;
    }
    case kPtzCommandFocus:
        EnsureAutomatic(m_focusMode, "/camera?autofocus=1");
        if (item.subCommand == kPtzFocusNear || item.subCommand == kPtzFocusFar)
            SendCommandRequest(item.subCommand == kPtzFocusNear ? "/camera?focus=1" : "/camera?focus=-1");
        break;
    case kPtzCommandIris:
        EnsureAutomatic(m_irisMode, "/camera?autoiris=1");
        if (item.subCommand == kPtzIrisOpen || item.subCommand == kPtzIrisClose)
            SendCommandRequest(item.subCommand == kPtzIrisOpen ? "/camera?iris=1" : "/camera?iris=-1");
        break;
    case kPtzCommandStop:
        // Cameras answer 400 to a path without its leading slash.
        SendCommandRequest(FormatString("/control?camid=%u&stop=1", CameraId()));
        break;
    default:
        SendDebugMessage(kLogError, "%s: unexpected command ID=%u", "kestrav::CVaronPTZComm::HandleWorkItem",
                         static_cast<unsigned>(item.commandId));
        break;
    }
}

void CVaronPTZComm::EnsureAutomatic(std::atomic<std::int32_t>& mode, const char* request)
{
    if (mode != kAutomaticMode && SendCommandRequest(request))
        mode = kAutomaticMode;
}

bool CVaronPTZComm::SendCommandRequest(const std::string& urlPath)
{
    {
        std::lock_guard guard(m_requestLock);
        if (m_cancelled)
            return false;
        m_inRequest = true;
    }
    const bool answered = HUtils::RequestGet(*m_commandSender, urlPath);
    std::lock_guard guard(m_requestLock);
    m_inRequest = false;
    return answered;
}

void CVaronPTZComm::CancelRequests()
{
    {
        std::lock_guard guard(m_requestLock);
        m_cancelled = true;
    }
    for (std::uint32_t waited = 0;; waited += kCancelStepMilliseconds)
    {
        // Closed again on every turn: the request may not have been registered with the sender yet.
        m_commandSender->CloseRequest();
        {
            std::lock_guard guard(m_requestLock);
            if (!m_inRequest)
                return;
        }
        if (waited >= kCancelLimitMilliseconds)
            return;
        platform::SleepMilliseconds(kCancelStepMilliseconds);
    }
}

bool CVaronPTZComm::SendPresetRequest(const char* parameter, std::uint32_t preset)
{
    const std::string request = FormatString("/ptzpreset?camid=%u&%s=%u", CameraId(), parameter, preset);
    std::lock_guard guard(m_presetLock);
    return HUtils::RequestGet(*m_presetSender, request);
}

bool CVaronPTZComm::SetPreset(std::uint32_t preset, const std::string&)
{
    return SendPresetRequest("set_preset", preset);
}

bool CVaronPTZComm::GotoPreset(std::uint32_t preset, const std::string&, std::int32_t)
{
    return SendPresetRequest("goto_preset", preset);
}

bool CVaronPTZComm::RemovePreset(std::uint32_t preset, const std::string&)
{
    return SendPresetRequest("rem_preset", preset);
}
}
