#include "ptz/base_ptz_control.h"

#include <cstring>

#include "platform/thread_termination.h"

#include "ptz/ptz_result_codes.h"

namespace kestrav
{
namespace
{
// The host's "no direction": it has never been a move.
constexpr std::int32_t kNoDirection = 10;

// Preset operations build texts and touch the file: nothing of that may unwind into the host.
template <typename Operation> std::int32_t Guarded(std::int32_t failure, Operation operation)
{
    try
    {
        return operation();
    }
    KESTRAV_PASS_THREAD_TERMINATION
    catch (...)
    {
        return failure;
    }
}
}

CBasePTZControl::CBasePTZControl(IDriver* driver, std::int32_t channel)
    : m_driver(driver), m_channel(channel), m_prepositions(static_cast<std::uint32_t>(channel))
{
}

CBasePTZControl::~CBasePTZControl()
{
    Close();
}

void CBasePTZControl::Close()
{
    if (m_comm == nullptr)
        return;
    // The list must not reach the command object once it is gone.
    m_prepositions.SetPrepositionComm(nullptr);
    m_comm->Close();
    m_comm.reset();
}

bool CBasePTZControl::Open(const TSmartPtr<CXMLPrepositionReader>& storage)
{
    m_comm.reset(CreatePTZComm());
    if (m_comm != nullptr && m_comm->Open() && storage)
    {
        m_prepositions.SetPrepositionComm(m_comm.get());
        m_prepositions.SetMaximumPrepositions(m_comm->GetCapabilities().GetMaximumPresets());
        m_prepositions.SetStorage(storage);
        return true;
    }
    Close();
    return false;
}

std::int32_t CBasePTZControl::Started(std::int32_t result, std::atomic<bool>* flag)
{
    if (result != kPtzDone)
        return result;
    m_prepositions.ForgetCurrentPreposition();
    if (flag != nullptr)
        *flag = true;
    return result;
}

std::int32_t CBasePTZControl::IsPTZSupported()
{
    return m_comm == nullptr ? kPtzFailed : m_comm->IsPTZSupported();
}

std::int32_t CBasePTZControl::StartMove(std::int32_t direction, std::int32_t speed)
{
    if (direction == kNoDirection)
        return kPtzInvalidArgument;
    if (m_comm == nullptr)
        return kPtzFailed;
    const bool zoom = direction == kPtzZoomOut || direction == kPtzZoomIn;
    return Started(m_comm->StartMove(this, direction, speed), zoom ? &m_zooming : &m_moving);
}

std::int32_t CBasePTZControl::Move(std::int32_t direction, std::int32_t speed)
{
    return StartMove(direction, speed);
}

std::int32_t CBasePTZControl::ZoomMinus(std::int32_t speed)
{
    return StartMove(kPtzZoomOut, speed);
}

std::int32_t CBasePTZControl::ZoomPlus(std::int32_t speed)
{
    return StartMove(kPtzZoomIn, speed);
}

std::int32_t CBasePTZControl::Stop()
{
    if (m_comm == nullptr)
        return kPtzFailed;
    bool queued = true;
    const auto stop = [&](std::atomic<bool>& flag, bool (CBasePTZComm::*stopper)(IIPParams*))
    {
        // Cleared before the stop is posted: a move another thread starts meanwhile keeps its flag.
        if (!flag.exchange(false))
            return;
        // A stop that was not queued sets the flag again, so the next Stop tries again.
        if (!(m_comm.get()->*stopper)(this))
        {
            flag = true;
            queued = false;
        }
    };
    stop(m_moving, &CBasePTZComm::StopMoving);
    stop(m_zooming, &CBasePTZComm::StopZooming);
    stop(m_irisChanging, &CBasePTZComm::StopIrisChanging);
    stop(m_focusing, &CBasePTZComm::StopFocusing);
    return queued ? kPtzDone : kPtzFailed;
}

std::int32_t CBasePTZControl::Center(std::int32_t x, std::int32_t y, std::int32_t speed)
{
    return m_comm == nullptr ? kPtzFailed : Started(m_comm->Center(this, x, y, speed), nullptr);
}

std::int32_t CBasePTZControl::Unzoom(std::int32_t speed)
{
    return m_comm == nullptr ? kPtzFailed : Started(m_comm->Unzoom(this, speed), nullptr);
}

std::int32_t CBasePTZControl::AreaZoom(std::int32_t x, std::int32_t y, std::int32_t z, std::int32_t speed)
{
    return m_comm == nullptr ? kPtzFailed : Started(m_comm->AreaZoom(this, x, y, z, speed), nullptr);
}

std::int32_t CBasePTZControl::FocusMinus(std::int32_t speed)
{
    return m_comm == nullptr ? kPtzFailed : Started(m_comm->StartFocus(this, true, speed), &m_focusing);
}

std::int32_t CBasePTZControl::FocusPlus(std::int32_t speed)
{
    return m_comm == nullptr ? kPtzFailed : Started(m_comm->StartFocus(this, false, speed), &m_focusing);
}

std::int32_t CBasePTZControl::IrisPlus(std::int32_t speed)
{
    return m_comm == nullptr ? kPtzFailed : Started(m_comm->StartIris(this, true, speed), &m_irisChanging);
}

std::int32_t CBasePTZControl::IrisMinus(std::int32_t speed)
{
    return m_comm == nullptr ? kPtzFailed : Started(m_comm->StartIris(this, false, speed), &m_irisChanging);
}

std::int32_t CBasePTZControl::GetCapabilities(PTZCapabilityRecord* record)
{
    if (m_comm == nullptr)
        return kPtzFailed;
    if (record == nullptr)
        return kPtzInvalidArgument;
    const std::int32_t result = m_comm->GetPtzCapabilities(*record);
    if (result == kPtzDone)
    {
        record->maximumPresets = static_cast<std::int32_t>(m_prepositions.GetMaximumPrepositions());
        record->presetCount = m_prepositions.GetPrepositionCount();
    }
    return result;
}

std::int32_t CBasePTZControl::GetPresetCount()
{
    return m_prepositions.GetPrepositionCount();
}

std::int32_t CBasePTZControl::CopyName(const std::string& name, char* buffer, std::uint32_t size)
{
    if (buffer == nullptr || name.size() >= size)
        return kPtzInvalidArgument;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return kPtzDone;
}

std::int32_t CBasePTZControl::GetPresetName(std::int32_t index, char* buffer, std::uint32_t size)
{
    return Guarded(kPtzPresetFailed,
                   [&]() -> std::int32_t
                   {
                       std::string name;
                       if (!m_prepositions.GetPrepositionName(index, name))
                           return kPtzPresetFailed;
                       return CopyName(name, buffer, size);
                   });
}

std::int32_t CBasePTZControl::GetCurrentPreset(char* buffer, std::uint32_t size)
{
    return Guarded(kPtzPresetFailed,
                   [&]() -> std::int32_t
                   {
                       std::string name;
                       if (!m_prepositions.GetCurrentPreposition(name))
                           return kPtzPresetFailed;
                       return CopyName(name, buffer, size);
                   });
}

std::int32_t CBasePTZControl::GotoPreset(std::int32_t value, const char* name)
{
    return Guarded(kPtzPresetFailed,
                   [&]() -> std::int32_t
                   {
                       if (name == nullptr)
                           return kPtzInvalidArgument;
                       return m_prepositions.GotoPreposition(name, value) ? kPtzDone : kPtzPresetFailed;
                   });
}

std::int32_t CBasePTZControl::SavePreset(const char* name)
{
    return Guarded(kPtzFailed,
                   [&]() -> std::int32_t
                   {
                       if (name == nullptr)
                           return kPtzInvalidArgument;
                       return m_prepositions.AddPreposition(name);
                   });
}

std::int32_t CBasePTZControl::DeletePreset(const char* name)
{
    return Guarded(kPtzPresetFailed,
                   [&]() -> std::int32_t
                   {
                       if (name == nullptr)
                           return kPtzInvalidArgument;
                       return m_prepositions.RemovePreposition(name) ? kPtzDone : kPtzPresetFailed;
                   });
}

std::int32_t CBasePTZControl::HasFeature(std::int32_t feature)
{
    return feature == 1 ? 1 : 0;
}
}
