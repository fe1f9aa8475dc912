#include "ptz/base_ptz_comm.h"

#include <cstdarg>
#include <new>

#include "core/driver_services.h"
#include "ptz/ptz_result_codes.h"
#include "runtime/format_string.h"

namespace kestrav
{
CBasePTZComm::CBasePTZComm(IDriver* driver, const CPtzCapabilities& capabilities, std::uint16_t channel)
    : CQueueThread<CPTZItem>(driver), m_channel(channel), m_capabilities(capabilities), m_driver(driver)
{
}

CBasePTZComm::~CBasePTZComm()
{
    Close();
}

bool CBasePTZComm::Open()
{
    std::lock_guard guard(m_openLock);
    if (!m_opened)
        m_opened = StartQueueThread(FormatString("BaseIPPTZThread_Ch%u", m_channel + 1u));
    if (!m_opened)
        SendDebugMessage(kLogError, "%s: unable to start thread for PTZ channel %u", "kestrav::CBasePTZComm::Open",
                         m_channel + 1u);
    return m_opened;
}

bool CBasePTZComm::Close()
{
    std::lock_guard guard(m_openLock);
    if (!m_opened)
        return false;
    StopEvent().Set();
    CancelRequests();
    const bool stopped = StopQueueThread();
    m_opened = false;
    return stopped;
}

std::int32_t CBasePTZComm::IsPTZSupported()
{
    const CPtzCapabilities& can = m_capabilities;
    return can.pan || can.tilt || can.zoom || can.focus || can.iris ? 1 : 0;
}

std::int32_t CBasePTZComm::GetPtzCapabilities(PTZCapabilityRecord& record)
{
    record.pan = m_capabilities.pan;
    record.tilt = m_capabilities.tilt;
    record.zoom = m_capabilities.zoom;
    record.focus = m_capabilities.focus;
    record.iris = m_capabilities.iris;
    record.reserved7 = 0;
    record.maximumPresets = m_capabilities.GetMaximumPresets();
    record.presetCount = 0;
    record.reserved10 = 0;
    record.reserved11 = 0;
    record.areaZoom = m_capabilities.areaZoom;
    record.center = m_capabilities.center;
    record.unzoom = m_capabilities.unzoom;
    return 1;
}

std::int32_t CBasePTZComm::PostCommand(const char* operation, bool supported, std::unique_ptr<CPTZItem> item)
{
    if (!supported)
        return kPtzNotSupported;
    const std::int32_t commandId = item ? item->commandId : 0;
    if (item && ReplaceWorkItems(std::move(item)))
        return kPtzDone;
    SendDebugMessage(kLogError, "%s: cannot send message (%d) to thread", operation, commandId);
    return kPtzFailed;
}

std::int32_t CBasePTZComm::StartMove(IIPParams* params, std::int32_t direction, std::int32_t speed)
{
    // The camera has no request for any other direction: it must not be sent a bare one.
    if (direction < 0 || direction > kPtzLastDirection)
        return kPtzInvalidArgument;
    const bool zooming = direction == kPtzZoomOut || direction == kPtzZoomIn;
    const bool supported = zooming ? m_capabilities.zoom : (m_capabilities.pan || m_capabilities.tilt);
    return PostCommand(
        "kestrav::CBasePTZComm::StartMove", supported,
        std::unique_ptr<CPTZItem>(new (std::nothrow) CPTZItem(kPtzCommandMove, 0, params, speed, direction)));
}

std::int32_t CBasePTZComm::StartFocus(IIPParams* params, bool far, std::int32_t speed)
{
    return PostCommand("kestrav::CBasePTZComm::StartFocus", m_capabilities.focus,
                       std::unique_ptr<CPTZItem>(new (std::nothrow) CPTZItem(
                           kPtzCommandFocus, far ? kPtzFocusFar : kPtzFocusNear, params, speed)));
}

std::int32_t CBasePTZComm::StartIris(IIPParams* params, bool open, std::int32_t speed)
{
    return PostCommand("kestrav::CBasePTZComm::StartIris", m_capabilities.iris,
                       std::unique_ptr<CPTZItem>(new (std::nothrow) CPTZItem(
                           kPtzCommandIris, open ? kPtzIrisOpen : kPtzIrisClose, params, speed)));
}

bool CBasePTZComm::PostStop(const char* operation, IIPParams* params, std::int32_t subCommand)
{
    return PostCommand(operation, true,
                       std::unique_ptr<CPTZItem>(new (std::nothrow)
                                                     CPTZItem(kPtzCommandStop, subCommand, params, 0))) == kPtzDone;
}

bool CBasePTZComm::StopMoving(IIPParams* params)
{
    return PostStop("kestrav::CBasePTZComm::StopMoving", params, kPtzStopMoving);
}

bool CBasePTZComm::StopZooming(IIPParams* params)
{
    return PostStop("kestrav::CBasePTZComm::StopZooming", params, kPtzStopZooming);
}

bool CBasePTZComm::StopFocusing(IIPParams* params)
{
    return PostStop("kestrav::CBasePTZComm::StopFocusing", params, kPtzStopFocusing);
}

bool CBasePTZComm::StopIrisChanging(IIPParams* params)
{
    return PostStop("kestrav::CBasePTZComm::StopIrisChanging", params, kPtzStopIrisChanging);
}

std::int32_t CBasePTZComm::AreaZoom(IIPParams* params, std::int32_t x, std::int32_t y, std::int32_t z,
                                    std::int32_t speed)
{
    return PostCommand(
        "kestrav::CBasePTZComm::AreaZoom", m_capabilities.areaZoom,
        std::unique_ptr<CPTZItem>(new (std::nothrow) CPTZItem(kPtzCommandAreaZoom, 0, params, speed, x, y, z)));
}

std::int32_t CBasePTZComm::Center(IIPParams* params, std::int32_t x, std::int32_t y, std::int32_t speed)
{
    return PostCommand(
        "kestrav::CBasePTZComm::Center", m_capabilities.center,
        std::unique_ptr<CPTZItem>(new (std::nothrow) CPTZItem(kPtzCommandCenter, 0, params, speed, x, y)));
}

std::int32_t CBasePTZComm::Unzoom(IIPParams* params, std::int32_t speed)
{
    return PostCommand("kestrav::CBasePTZComm::Unzoom", m_capabilities.unzoom,
                       std::unique_ptr<CPTZItem>(new (std::nothrow) CPTZItem(kPtzCommandUnzoom, 0, params, speed)));
}

std::string CBasePTZComm::GetDeviceAddress()
{
    return m_driver != nullptr ? m_driver->GetDeviceAddress() : std::string();
}

void CBasePTZComm::SendDebugMessage(unsigned level, const char* format, ...)
{
    if (m_driver == nullptr)
        return;
    std::string text;
    va_list arguments;
    va_start(arguments, format);
    try
    {
        text = FormatStringV(format, arguments);
    }
    catch (const std::bad_alloc&)
    {
        va_end(arguments);
        return;
    }
    va_end(arguments);
    m_driver->SendDebugMessage(level, "%s", text.c_str());
}
}
