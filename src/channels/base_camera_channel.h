// One camera stream of one video channel: its state, its capture thread and the
// guarded delivery of its frames to the host.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include <brantel/media.h>

#include "channels/camera_channel.h"
#include "platform/thread.h"
#include "runtime/event.h"
#include "runtime/recursive_lock.h"
#include "runtime/time_value.h"

namespace kestrav
{
class IDriver;

class CBaseCameraChannel : public ICameraChannel
{
public:
    CBaseCameraChannel(std::uint32_t channel, IDriver* driver, ipcapture::IIPFrameSink* sink);
    // Stops the channel as this class knows it; derived classes stop their own parts first.
    ~CBaseCameraChannel() override;
    CBaseCameraChannel(const CBaseCameraChannel&) = delete;
    CBaseCameraChannel& operator=(const CBaseCameraChannel&) = delete;

    bool Start(const ChannelStartParams& params) override;
    void Stop() override;
    // Keeps the current quality; the sockets are not touched.
    bool Restart(const ChannelStartParams& params) override;
    bool Pause() override { return false; }
    bool Resume() override { return false; }
    std::int32_t GetState() override;

    void SetState(std::int32_t state);
    // True when the flag changed.
    bool SetPaused(bool paused);
    bool IsPaused() const { return m_paused; }
    // Hands one frame to the host's sink; a paused channel drops it and reports success.
    bool SendFrameCallback(ipcapture::IIPMediaBuffer* frame);
    // Announces a change of the online state with one log line.
    void SetCameraState(bool online);

    std::uint32_t GetChannelNumber() const { return m_channel; }
    const ChannelStartParams& GetStartParams() const { return m_params; }
    IDriver* GetDriver() const { return m_driver; }

protected:
    // The capture thread's body; it must return soon after the stop event is set.
    virtual unsigned CaptureThread() = 0;
    // Asks a capture thread blocked elsewhere than on the stop event to look at it.
    virtual void WakeCaptureThread() {}

    CManualEvent& StopEvent() { return m_stopEvent; }
    CTime& LastFrameTime() { return m_lastFrameTime; }
    // "Camera 192.0.2.7" or "Video-server 192.0.2.7 (channel 2)".
    std::string DeviceText() const;
    // The same inside a sentence: "camera 192.0.2.7" or "video-server 192.0.2.7 (channel 2)".
    std::string DeviceTextInSentence() const;
    // " (Live)", " (Remote)" or nothing.
    std::string StreamSuffix() const;
    void StopThread();
    // Tells the host that the signal stays lost; a throwing sink does not reach the caller.
    void ReportSignalLost();

private:
    static void CaptureThreadEntry(void* argument);
    bool StartCaptureThread();
    void TerminateCaptureThread(std::uint32_t waitedMilliseconds);

    ipcapture::IIPFrameSink* m_sink;
    bool m_socketsStarted = false;
    // Read and written from the capture and receiver threads without a lock.
    std::atomic<bool> m_online{false};
    std::atomic<bool> m_paused{false};
    CRecursiveLock m_stateLock;
    std::int32_t m_state = kChannelStopped;
    CRecursiveLock m_threadLock;
    platform::ThreadHandle m_thread = nullptr;
    std::uint32_t m_threadId = 0;
    std::uint32_t m_channel;
    IDriver* m_driver;
    ChannelStartParams m_params;
    CManualEvent m_stopEvent;
    CTime m_lastFrameTime;
};
}
