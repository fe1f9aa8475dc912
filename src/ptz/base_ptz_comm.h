// The command object of one PTZ channel: checks what the camera can do, queues the host's commands for
// its own thread, so that the host never waits for the camera, and offers the preset commands.
#pragma once

#include <brantel/ptz_capability_record.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "ptz/preposition_comm.h"
#include "ptz/ptz_capabilities.h"
#include "ptz/ptz_item.h"
#include "runtime/printf_format.h"
#include "runtime/queue_thread.h"

namespace kestrav
{
class IDriver;

// The queue holds at most one command: a newer one replaces a command the thread has not yet taken,
// so a stop right after a move cancels the move still waiting.
class CBasePTZComm : public CQueueThread<CPTZItem>, public IPrepositionComm
{
public:
    // `driver` is the log and the device description; not owned. `channel` counts from 0.
    CBasePTZComm(IDriver* driver, const CPtzCapabilities& capabilities, std::uint16_t channel);
    ~CBasePTZComm() override;

    // Starts the thread "BaseIPPTZThread_Ch<channel + 1>".
    virtual bool Open();
    // Drops the waiting command, ends the request in progress and stops the thread.
    virtual bool Close();
    virtual std::int32_t IsPTZSupported();
    virtual std::int32_t GetPtzCapabilities(PTZCapabilityRecord& record);

    // kPtzDone when queued, kPtzFailed when not, kPtzNotSupported, or kPtzInvalidArgument for a
    // direction outside 0 ... 9.
    std::int32_t StartMove(IIPParams* params, std::int32_t direction, std::int32_t speed);
    // `far` gives "focus=-1", otherwise "focus=1".
    std::int32_t StartFocus(IIPParams* params, bool far, std::int32_t speed);
    // `open` gives "iris=1", otherwise "iris=-1".
    std::int32_t StartIris(IIPParams* params, bool open, std::int32_t speed);
    bool StopMoving(IIPParams* params);
    bool StopZooming(IIPParams* params);
    bool StopFocusing(IIPParams* params);
    bool StopIrisChanging(IIPParams* params);
    std::int32_t AreaZoom(IIPParams* params, std::int32_t x, std::int32_t y, std::int32_t z, std::int32_t speed);
    std::int32_t Center(IIPParams* params, std::int32_t x, std::int32_t y, std::int32_t speed);
    std::int32_t Unzoom(IIPParams* params, std::int32_t speed);

    const CPtzCapabilities& GetCapabilities() const { return m_capabilities; }
    bool IsOpened() const { return m_opened; }

    // The driver's log: the text is formatted here and handed on as a finished line.
    std::string GetDeviceAddress() override;
    void SendDebugMessage(unsigned level, const char* format, ...) override KESTRAV_PRINTF_FORMAT(3, 4);

protected:
    // Called by Close after the stop was requested and before the thread is joined: a request that
    // blocks for the camera's time-out must end now, not after the join gave up.
    virtual void CancelRequests() {}

    IDriver* GetDriver() const { return m_driver; }
    std::uint16_t GetChannel() const { return m_channel; }

private:
    std::int32_t PostCommand(const char* operation, bool supported, std::unique_ptr<CPTZItem> item);
    bool PostStop(const char* operation, IIPParams* params, std::int32_t subCommand);

    const std::uint16_t m_channel;
    const CPtzCapabilities m_capabilities;
    IDriver* const m_driver;
    std::mutex m_openLock;
    std::atomic<bool> m_opened{false};
};
}
