// What every camera family's motion channel shares: its thread, the motion frames it hands the host, which
// states were reported, and whether the camera's alarm stream is alive.
#pragma once

#include <atomic>
#include <cstdint>

#include <brantel/media.h>

#include "io/motion_channel.h"
#include "runtime/base_thread.h"
#include "runtime/event.h"

namespace kestrav
{
class IDriver;

class CBaseMotionChannel : public IMotionChannel, public CBaseThread
{
public:
    // The sink is the host's and is not owned; `channel` names the channel in log lines.
    CBaseMotionChannel(std::int32_t channel, IDriver* driver, ipcapture::IIPFrameSink* sink);
    ~CBaseMotionChannel() override;

    bool Start() override;
    // Returns within twice the request time-out even while the thread is blocked in a request.
    void Stop() override;

    static constexpr const char* kThreadName = "Motion Detection Thread";
    // The motion frame: two bytes in a buffer of this capacity, at a nominal picture size.
    static constexpr std::uint32_t kFrameCapacity = 1024;
    static constexpr std::uint32_t kFrameWidth = 320;
    static constexpr std::uint32_t kFrameHeight = 240;
    static constexpr std::uint32_t kFrameSizeClass = 2;
    // How often a stop repeats its cancel while it waits for the thread.
    static constexpr std::uint32_t kCancelRepeatMs = 50;

protected:
    // Ends a request blocked on the thread; any thread.
    virtual void CancelRequest() {}

    // The camera's state: the first time two frames (the opposite state, then this one), so that the
    // host has an edge to record; later one frame per change.
    void ReportMotionState(bool state);
    bool CaptureMotionFrameCallback(bool state);
    // Calls the sink's ReportSignalLost when the flag has just become false.
    void SetSignalPresent(bool present);
    // A whole part of the alarm stream: the camera is there, whether or not its state changed.
    void OnAlarmData();
    // Reports the signal lost once no alarm data came for longer than the signal time-out.
    void CheckSignal();

    IDriver* Driver() const { return m_driver; }

    // Marks the end of the thread body, however it ends, so that a stop can stop waiting early.
    class ThreadRunMarker
    {
    public:
        explicit ThreadRunMarker(CBaseMotionChannel& channel) : m_channel(channel) {}
        ~ThreadRunMarker() { m_channel.m_threadEnded.Set(); }
        ThreadRunMarker(const ThreadRunMarker&) = delete;
        ThreadRunMarker& operator=(const ThreadRunMarker&) = delete;

    private:
        CBaseMotionChannel& m_channel;
    };

private:
    std::uint32_t RequestTimeoutMs() const;
    std::uint32_t SignalTimeoutMs() const;
    std::string DeviceAddress() const;

    ipcapture::IIPFrameSink* m_sink;
    bool m_socketsStarted = false;
    // Thread only, like the reported state below.
    bool m_signalPresent = false;
    std::atomic<std::uint64_t> m_lastAlarmDataMs;
    bool m_lastReportedState = false;
    bool m_reportedOnce = false;
    std::int32_t m_channel;
    IDriver* m_driver;
    CManualEvent m_threadEnded;
};
}
