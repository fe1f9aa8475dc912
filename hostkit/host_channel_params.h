// The host's parameter objects for a channel start: video format, resolution, recording
// settings and privacy masks, behind the one object the capture interface receives.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include <brantel/channel_params.h>

#include "hostkit/misuse_monitor.h"

namespace kestrav::hostkit
{
// Values are atomics: a test may change them while module threads read them. Reserved
// slots are reported as misuses.
class HostResolution final : public ipcapture::IIPResolution
{
public:
    std::uint16_t GetWidth() override { return width_; }
    std::uint16_t GetHeight() override { return height_; }
    void Set(std::uint16_t width, std::uint16_t height)
    {
        width_ = width;
        height_ = height;
    }

private:
    std::atomic<std::uint16_t> width_{704};
    std::atomic<std::uint16_t> height_{576};
};

class HostPrivacyMask final : public ipcapture::IIPPrivacyMask
{
public:
    HostPrivacyMask(std::shared_ptr<MisuseMonitor> misuse, double left, double top, double width, double height)
        : misuse_(std::move(misuse)), left_(left), top_(top), width_(width), height_(height)
    {
    }

    void ReservedSlot1() override;
    void ReservedSlot2() override;
    void ReservedSlot3() override;
    double GetLeft() override { return left_; }
    double GetTop() override { return top_; }
    double GetWidth() override { return width_; }
    double GetHeight() override { return height_; }

private:
    std::shared_ptr<MisuseMonitor> misuse_;
    double left_, top_, width_, height_;
};

// Up to four masks; set them before the channel starts.
class HostPrivacyMaskSource final : public ipcapture::IIPPrivacyMaskSource
{
public:
    explicit HostPrivacyMaskSource(std::shared_ptr<MisuseMonitor> misuse) : misuse_(std::move(misuse)) {}

    ipcapture::IIPPrivacyMask* GetMask(std::int32_t index) override;
    void SetMask(std::int32_t index, double left, double top, double width, double height);
    void ClearMasks();

private:
    std::shared_ptr<MisuseMonitor> misuse_;
    std::array<std::unique_ptr<HostPrivacyMask>, 4> masks_;
};

class HostVideoFormat final : public ipcapture::IIPVideoFormat
{
public:
    explicit HostVideoFormat(std::shared_ptr<MisuseMonitor> misuse) : misuse_(std::move(misuse)) {}

    void ReservedSlot1() override;
    void ReservedSlot2() override;
    ipcapture::IIPResolution* GetResolution() override { return &resolution_; }
    std::int32_t GetCodec() override { return codec_; }

    HostResolution& Resolution() { return resolution_; }
    void SetCodec(std::int32_t codec) { codec_ = codec; }

private:
    std::shared_ptr<MisuseMonitor> misuse_;
    HostResolution resolution_;
    std::atomic<std::int32_t> codec_{3};
};

class HostRecordingSettings final : public ipcapture::IIPRecordingSettings
{
public:
    explicit HostRecordingSettings(std::shared_ptr<MisuseMonitor> misuse) : misuse_(std::move(misuse)) {}

    std::uint16_t GetFrameRateCode() override { return frameRateCode_; }
    void ReservedSlot2() override;
    std::uint16_t GetQuality() override { return quality_; }
    std::int32_t GetMotionDetection() override { return motion_ ? 1 : 0; }

    void SetFrameRateCode(std::uint16_t code) { frameRateCode_ = code; }
    // The host's way to ask for a frame rate: bits 0x7000 set, the rate in the low 12 bits.
    void SetFrameRate(std::uint16_t framesPerSecond) { frameRateCode_ = 0x7000 | (framesPerSecond & 0x0FFF); }
    void SetQuality(std::uint16_t percent) { quality_ = percent; }
    void SetMotionDetection(bool wanted) { motion_ = wanted; }

private:
    std::shared_ptr<MisuseMonitor> misuse_;
    std::atomic<std::uint16_t> frameRateCode_{0x7000 | 25};
    std::atomic<std::uint16_t> quality_{70};
    std::atomic<bool> motion_{false};
};

// Defaults: 704x576 H.264 at 25 frames per second, quality 70, no motion detection, no
// privacy masks. A sub-object can be hidden (its getter returns null) to play a broken host.
class HostChannelParams final : public ipcapture::IIPChannelParams
{
public:
    explicit HostChannelParams(std::shared_ptr<MisuseMonitor> misuse = nullptr);

    ipcapture::IIPVideoFormat* GetVideoFormat() override;
    ipcapture::IIPRecordingSettings* GetRecordingSettings() override;
    void ReservedSlot3() override;
    void ReservedSlot4() override;
    ipcapture::IIPPrivacyMaskSource* GetPrivacyMasks() override;

    HostVideoFormat& Format() { return format_; }
    HostRecordingSettings& Recording() { return recording_; }
    HostPrivacyMaskSource& Masks() { return masks_; }
    void HideVideoFormat(bool hidden) { hideFormat_ = hidden; }
    void HideRecordingSettings(bool hidden) { hideRecording_ = hidden; }

private:
    std::shared_ptr<MisuseMonitor> misuse_;
    HostVideoFormat format_;
    HostRecordingSettings recording_;
    HostPrivacyMaskSource masks_;
    std::atomic<bool> hideFormat_{false};
    std::atomic<bool> hideRecording_{false};
};
}
