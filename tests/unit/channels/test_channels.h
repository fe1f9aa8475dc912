// A driver whose channel factory makes test channels: their capture threads produce frames
// through the host's allocator, and a script decides how they misbehave.
#pragma once

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

#include "channels/base_camera_channel.h"
#include "core/media_frame.h"
#include "driver/varon_capture_driver.h"
#include "io/motion_channel.h"

namespace kestrav::testing
{
struct ChannelScript
{
    std::atomic<bool> failStart{false};
    std::atomic<bool> ignoreStop{false};
    std::atomic<bool> motionStartResult{true};
    std::atomic<std::uint32_t> framePeriodMs{5};
    // Runs on the stopping thread at the start of every channel stop.
    std::function<void()> onStop;

    struct StartRecord
    {
        std::uint32_t streamKind;
        bool masksGiven;
        ipcapture::IIPPrivacyMaskSource* masks;
    };
    std::mutex startsMutex;
    std::vector<StartRecord> starts;

    std::atomic<int> liveChannels{0};
    std::atomic<int> createdChannels{0};
    std::atomic<int> liveMotionChannels{0};
    std::atomic<int> createdMotionChannels{0};
    std::atomic<int> startedMotionChannels{0};
};

class TestChannel : public CBaseCameraChannel
{
public:
    TestChannel(std::uint32_t channel, IDriver* driver, ipcapture::IIPFrameSink* sink, ChannelScript& script)
        : CBaseCameraChannel(channel, driver, sink), m_script(script)
    {
        ++m_script.liveChannels;
        ++m_script.createdChannels;
    }
    ~TestChannel() override
    {
        CBaseCameraChannel::Stop();
        --m_script.liveChannels;
    }

    void SetPrivacyMasks(ipcapture::IIPPrivacyMaskSource* masks) override
    {
        maskSource = masks;
        masksGiven = true;
    }
    bool Start(const ChannelStartParams& params) override
    {
        {
            std::lock_guard lock(m_script.startsMutex);
            m_script.starts.push_back({params.streamKind, masksGiven, maskSource});
        }
        return m_script.failStart ? false : CBaseCameraChannel::Start(params);
    }
    void Stop() override
    {
        if (m_script.onStop)
            m_script.onStop();
        CBaseCameraChannel::Stop();
    }

    using CBaseCameraChannel::StopThread;

    ipcapture::IIPPrivacyMaskSource* maskSource = nullptr;
    bool masksGiven = false;
    std::atomic<int> framesRefused{0};
    std::atomic<bool> unwound{false};
    // Set to make the capture thread call StopThread on itself.
    std::atomic<bool> stopFromInside{false};
    std::atomic<bool> stoppedFromInside{false};

protected:
    unsigned CaptureThread() override
    {
        struct UnwindWitness
        {
            std::atomic<bool>& flag;
            ~UnwindWitness() { flag = true; }
        } witness{unwound};

        SetState(kChannelReceiving);
        SetCameraState(true);
        if (stopFromInside)
        {
            StopThread();
            stoppedFromInside = true;
        }
        if (m_script.ignoreStop)
        {
            CManualEvent never;
            never.Wait(platform::kInfinite);
        }
        while (!StopEvent().Wait(m_script.framePeriodMs))
            ProduceFrame();
        return 0;
    }

private:
    void ProduceFrame()
    {
        CMediaFrame frame =
            CMediaFrame::Allocate(GetDriver()->GetMediaAllocator(), ipcapture::kTypeCodeJpeg, 64, "test stream");
        if (!frame)
            return;
        std::memcpy(frame.Data().data(), "\xFF\xD8\xFF\xD9", 4);
        FrameDescription description;
        description.width = GetStartParams().width;
        description.height = GetStartParams().height;
        description.dataSize = 4;
        frame.Describe(description);
        if (!frame.Deliver([this](ipcapture::IIPMediaBuffer* buffer) { return SendFrameCallback(buffer); }))
            ++framesRefused;
    }

    ChannelScript& m_script;
};

class TestMotionChannel : public IMotionChannel
{
public:
    explicit TestMotionChannel(ChannelScript& script) : m_script(script)
    {
        ++m_script.liveMotionChannels;
        ++m_script.createdMotionChannels;
    }
    ~TestMotionChannel() override { --m_script.liveMotionChannels; }
    bool Start() override
    {
        ++m_script.startedMotionChannels;
        return m_script.motionStartResult;
    }
    void Stop() override {}

private:
    ChannelScript& m_script;
};

class TestDriver : public CVaronIPCaptureDriver
{
public:
    explicit TestDriver(ChannelScript& script) : m_script(script) {}

    ICameraChannel* CreateVideoChannel(std::uint32_t channel, ipcapture::IIPFrameSink* sink,
                                       std::int32_t codec) override
    {
        if (sink == nullptr || ResolveChannelCodec(codec, GetDefaultCodec()) != kCodecH264)
            return nullptr;
        return new TestChannel(channel, this, sink, m_script);
    }
    IMotionChannel* CreateMotionChannel(std::uint32_t, ipcapture::IIPFrameSink*) override
    {
        return new TestMotionChannel(m_script);
    }

    void SetRequestTimeout(std::uint32_t milliseconds) { DeviceInfo().requestTimeoutMs = milliseconds; }

private:
    ChannelScript& m_script;
};
}
