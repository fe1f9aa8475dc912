#include "driver/video_capture.h"

#include <new>
#include <utility>

#include "core/driver_services.h"
#include "platform/thread_termination.h"

namespace kestrav
{
std::optional<ChannelStartParams> ReadStartParams(ipcapture::IIPChannelParams* params, std::uint32_t streamKind)
{
    if (params == nullptr)
        return std::nullopt;
    ipcapture::IIPVideoFormat* format = params->GetVideoFormat();
    ipcapture::IIPRecordingSettings* settings = params->GetRecordingSettings();
    if (format == nullptr || settings == nullptr)
        return std::nullopt;
    ipcapture::IIPResolution* resolution = format->GetResolution();
    if (resolution == nullptr)
        return std::nullopt;
    ChannelStartParams start;
    start.frameRateCode = settings->GetFrameRateCode();
    start.quality = settings->GetQuality();
    start.width = resolution->GetWidth();
    start.height = resolution->GetHeight();
    start.streamKind = streamKind;
    return start;
}

CIPVideoCapture::CIPVideoCapture(IVideoChannelCreator* creator, std::uint32_t channelCount)
    : m_creator(creator), m_table(channelCount)
{
}

CIPVideoCapture::~CIPVideoCapture()
{
    for (std::uint32_t channel = 0; channel < m_table.size(); ++channel)
        StopChannel(channel);
}

std::uint32_t CIPVideoCapture::GetChannelCount()
{
    CRecursiveLockGuard guard(m_tableLock);
    return static_cast<std::uint32_t>(m_table.size());
}

bool CIPVideoCapture::StartChannel(std::uint32_t channel, ipcapture::IIPFrameSink* sink,
                                   ipcapture::IIPChannelParams* params)
{
    if (channel >= GetChannelCount())
        return false;
    StopChannel(channel);
    return StartGuarded(channel, kStreamMain, sink, params, true);
}

bool CIPVideoCapture::StartStream(std::uint32_t channel, std::uint32_t streamKind, ipcapture::IIPFrameSink* sink,
                                  ipcapture::IIPChannelParams* params)
{
    if (channel >= GetChannelCount() || streamKind >= kStreamPlaces)
        return false;
    StopStream(channel, streamKind);
    return StartGuarded(channel, streamKind, sink, params, false);
}

bool CIPVideoCapture::StartGuarded(std::uint32_t channel, std::uint32_t place, ipcapture::IIPFrameSink* sink,
                                   ipcapture::IIPChannelParams* params, bool isChannelStart)
{
    try
    {
        return StartInPlace(channel, place, sink, params, isChannelStart);
    }
    KESTRAV_PASS_THREAD_TERMINATION
    catch (...)
    {
        // Out of memory on the way: the host sees a failed start.
        return false;
    }
}

// The main channel (started by StartChannel) also gets the privacy masks and, when
// asked for, a motion channel; the other streams get neither.
bool CIPVideoCapture::StartInPlace(std::uint32_t channel, std::uint32_t place, ipcapture::IIPFrameSink* sink,
                                   ipcapture::IIPChannelParams* params, bool isChannelStart)
{
    const std::optional<ChannelStartParams> start = ReadStartParams(params, place);
    if (!start)
        return false;
    ipcapture::IIPVideoFormat* format = params->GetVideoFormat();
    ChannelPtr stream(m_creator->CreateVideoChannel(channel, sink, format->GetCodec()));
    if (stream == nullptr)
        return false;

    if (isChannelStart)
        stream->SetPrivacyMasks(params->GetPrivacyMasks());
    bool started = stream->Start(*start);
    MotionPtr motion;
    if (started && isChannelStart && params->GetRecordingSettings()->GetMotionDetection() != 0)
    {
        // Asked for and not there is a failed start: the host would wait for motion records in vain.
        motion.reset(m_creator->CreateMotionChannel(channel, sink));
        started = motion != nullptr && motion->Start();
    }
    // Kept also when the start failed, so that the next stop releases it.
    Store(channel, place, std::move(stream), std::move(motion), isChannelStart);
    return started;
}

void CIPVideoCapture::Store(std::uint32_t channel, std::uint32_t place, ChannelPtr stream, MotionPtr motion,
                            bool withMotion)
{
    {
        CRecursiveLockGuard guard(m_tableLock);
        ChannelSlot& slot = m_table[channel];
        std::swap(slot.streams[place], stream);
        if (withMotion)
            std::swap(slot.motion, motion);
        else
            motion.reset();
    }
    // Another host thread may have started the same place meanwhile: what was there goes.
    StopAndRelease(std::move(motion));
    StopAndRelease(std::move(stream));
}

bool CIPVideoCapture::StopChannel(std::uint32_t channel)
{
    ChannelSlot taken;
    {
        CRecursiveLockGuard guard(m_tableLock);
        if (channel >= m_table.size())
            return false;
        std::swap(taken, m_table[channel]);
    }
    bool occupied = taken.motion != nullptr;
    StopAndRelease(std::move(taken.motion));
    for (ChannelPtr& stream : taken.streams)
    {
        occupied = occupied || stream != nullptr;
        StopAndRelease(std::move(stream));
    }
    return occupied;
}

bool CIPVideoCapture::StopStream(std::uint32_t channel, std::uint32_t streamKind)
{
    ChannelPtr taken;
    {
        CRecursiveLockGuard guard(m_tableLock);
        if (channel >= m_table.size() || streamKind >= kStreamPlaces)
            return false;
        std::swap(taken, m_table[channel].streams[streamKind]);
    }
    const bool occupied = taken != nullptr;
    StopAndRelease(std::move(taken));
    return occupied;
}

bool CIPVideoCapture::RestartChannel(std::uint32_t channel, ipcapture::IIPResolution* resolution,
                                     std::uint16_t frameRateCode)
{
    ChannelPtr main = MainChannel(channel);
    if (main == nullptr || resolution == nullptr)
        return false;
    ChannelStartParams params;
    params.frameRateCode = frameRateCode;
    params.width = resolution->GetWidth();
    params.height = resolution->GetHeight();
    return main->Restart(params);
}

bool CIPVideoCapture::GetChannelState(std::uint32_t channel, std::int32_t* state, std::int32_t* extra, char* text,
                                      std::uint32_t textSize)
{
    if (extra != nullptr)
        *extra = 0;
    if (text != nullptr && textSize != 0)
        text[0] = '\0';
    ChannelPtr main = MainChannel(channel);
    if (main == nullptr)
        return false;
    const std::int32_t current = main->GetState();
    // The host knows receiving and signal lost only.
    if (state != nullptr)
        *state = current == kChannelStopped ? kChannelSignalLost : current;
    return true;
}

bool CIPVideoCapture::ResumeChannel(std::uint32_t channel)
{
    ChannelPtr main = MainChannel(channel);
    return main != nullptr && main->Resume();
}

bool CIPVideoCapture::PauseChannel(std::uint32_t channel)
{
    ChannelPtr main = MainChannel(channel);
    return main != nullptr && main->Pause();
}

CIPVideoCapture::ChannelPtr CIPVideoCapture::MainChannel(std::uint32_t channel)
{
    CRecursiveLockGuard guard(m_tableLock);
    if (channel >= m_table.size())
        return nullptr;
    return m_table[channel].streams[kStreamMain];
}

void CIPVideoCapture::StopAndRelease(ChannelPtr stream)
{
    if (stream != nullptr)
        stream->Stop();
}

void CIPVideoCapture::StopAndRelease(MotionPtr motion)
{
    if (motion != nullptr)
        motion->Stop();
}
}
