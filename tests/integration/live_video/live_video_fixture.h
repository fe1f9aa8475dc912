// The live-video fixture: the driver created through the exports and opened through the host kit,
// streaming from the simulated camera (its CGI and its GStreamer RTSP server) to the kit's frame sink.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <brantel/capture_driver.h>
#include <brantel/exports.h>
#include <brantel/video_capture.h>

#include "camsim_peer.h"
#include "channels/camera_channel.h"
#include "ffmpeg_tools.h"
#include "host_fixture.h"
#include "media/h264_depacketizer.h"
#include "short_timeout_driver.h"
#include "tcp_recording_proxy.h"
#include "wine_support.h"

namespace kestrav
{
// The camera offers CIF for both codecs on every stream: small pictures keep the encoder light.
inline constexpr const char* kProfiles = "profile_00_name=H264 CIF\r\n"
                                         "profile_00_fps_range=1~30\r\n"
                                         "profile_00_bps_range=256,512,1024\r\n"
                                         "profile_00_quality_range=\r\n"
                                         "profile_01_name=JPEG CIF\r\n"
                                         "profile_01_fps_range=1~25\r\n"
                                         "profile_01_bps_range=\r\n"
                                         "profile_01_quality_range=20,50,80\r\n";
// What an earlier device search would have written for the host: the same offer for the main and
// the live stream.
inline constexpr const char* kCapabilities = "h264:cif 352x240 30 256-512-1024- -,;jpeg:cif 352x240 25  20-50-80-,;#"
                                             "h264:cif 352x240 30 256-512-1024- -,;jpeg:cif 352x240 25  20-50-80-,;#";

struct DriverDeleter
{
    void operator()(ipcapture::IIPCaptureDriver* driver) const { DeleteIPCapture(driver); }
};
using DriverPtr = std::unique_ptr<ipcapture::IIPCaptureDriverEx5, DriverDeleter>;

// The access units as one Annex B stream. The delimiter behind each frame opens the next access
// unit; behind the last one FFmpeg would report a picture missing, so it is left out.
inline std::vector<std::uint8_t> AnnexBStream(const std::vector<hostkit::DeliveredFrame>& frames)
{
    std::vector<std::uint8_t> bytes;
    for (const hostkit::DeliveredFrame& frame : frames)
        bytes.insert(bytes.end(), frame.data.begin(), frame.data.end());
    if (!frames.empty() && bytes.size() >= std::size(CH264RTPMediaParser::kFrameTrailer))
        bytes.resize(bytes.size() - std::size(CH264RTPMediaParser::kFrameTrailer));
    return bytes;
}

class LiveVideo : public testing::HostFixture
{
protected:
    void StartCamera(testing::CamsimOptions options)
    {
        options.rtsp = true;
        options.auth = testing::DefaultCameraAuth();
        camera = std::make_unique<testing::CamsimPeer>(options);
        ASSERT_TRUE(camera->IsReady()) << camera->StartFailure();
        kit.Connection().SetAddress("127.0.0.1");
        kit.Connection().SetPort(camera->HttpPort());
        kit.Connection().SetUserName(options.user);
        kit.Connection().SetPassword(options.password);
        // The host hands its extra parameters over without gaps: 4 and 5 need 1 to 3.
        kit.Params().SetExtraParam(1, "0");
        kit.Params().SetExtraParam(2, "(none)");
        kit.Params().SetExtraParam(3, "(none)");
        kit.Params().SetExtraParam(4, std::to_string(camera->RtspPort()));
    }

    // The camera offers CIF only, and the host knows it from an earlier device search.
    void StartCifCamera(const std::vector<std::string>& moreArguments = {})
    {
        testing::CamsimOptions options;
        options.extraArguments = moreArguments;
        StartCifCamera(options);
    }

    void StartCifCamera(testing::CamsimOptions options)
    {
        options.extraArguments.insert(options.extraArguments.begin(), {"--profile-text", kProfiles});
        StartCamera(options);
        kit.Params().SetExtraParam(5, kCapabilities);
    }

    // The family's driver with time-outs short enough for a test to wait them out.
    ipcapture::IIPVideoCaptureEx2* OpenWithShortTimeouts(std::uint32_t requestMs, std::uint32_t signalMs)
    {
        shortDriver = std::make_unique<testing::ShortTimeoutDriver>();
        if (!shortDriver->Open(&kit.Debug(), &kit.Allocator(), &kit.Params()))
            return nullptr;
        shortDriver->SetTimeouts(requestMs, signalMs);
        return shortDriver->GetVideoCaptureEx2();
    }

    void OpenDriver()
    {
        driver.reset(static_cast<ipcapture::IIPCaptureDriverEx5*>(CreateIPCaptureEx5()));
        ASSERT_NE(driver, nullptr);
        ASSERT_TRUE(driver->Open(&kit.Debug(), &kit.Allocator(), &kit.Params()));
        capture = driver->GetVideoCaptureEx2();
        ASSERT_NE(capture, nullptr);
    }

    void RequestStream(std::int32_t codec, std::uint16_t width, std::uint16_t height, std::uint16_t frameRate,
                       std::uint16_t quality)
    {
        kit.Channel().Format().SetCodec(codec);
        kit.Channel().Format().Resolution().Set(width, height);
        kit.Channel().Recording().SetFrameRate(frameRate);
        kit.Channel().Recording().SetQuality(quality);
    }

    std::vector<std::string> RequestsTo(const std::string& path) const
    {
        std::vector<std::string> targets;
        for (const testing::CamsimRequest& request : camera->Requests())
        {
            // Digest costs every request a 401 first.
            if (request.path == path && request.status == 200)
                targets.push_back(request.target);
        }
        return targets;
    }

    // The module's log, for the failure message of a wait that ran out.
    std::string LogText()
    {
        std::string text;
        for (const hostkit::DebugRecord& record : kit.Debug().Records())
            text += std::to_string(record.level) + " " + record.text + "\n";
        if (camera)
        {
            for (const testing::CamsimRequest& request : camera->Requests())
                text += "camera: " + request.target + " " + std::to_string(request.status) + "\n";
        }
        return text;
    }

    // The lines an operator is warned by (levels 1 and 2).
    std::vector<hostkit::DebugRecord> WarningsAndErrors()
    {
        std::vector<hostkit::DebugRecord> lines;
        for (const hostkit::DebugRecord& record : kit.Debug().Records())
        {
            if (record.level == kLogError || record.level == kLogWarning)
                lines.push_back(record);
        }
        return lines;
    }

    // Waits until the camera has received a request of this path, answered or not.
    bool WaitForRequest(const std::string& path, std::chrono::milliseconds timeout)
    {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end)
        {
            for (const testing::CamsimRequest& request : camera->Requests())
            {
                if (request.path == path)
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    void UseRtpOverRtsp() const
    {
        std::ofstream(hostDirectory.Path() / "BrantelIPCapture.xml")
            << "<Configuration><DeviceDefault><VideoChannel><RTPMode>RTPoverRTSP</RTPMode></VideoChannel>"
               "</DeviceDefault></Configuration>";
    }

    void TearDown() override
    {
        if (driver)
            driver->Close();
        driver.reset();
        if (shortDriver)
            shortDriver->Close();
        shortDriver.reset();
        EXPECT_EQ(kit.Allocator().GetOutstandingCount(), 0u);
    }

    std::unique_ptr<testing::CamsimPeer> camera;
    DriverPtr driver;
    std::unique_ptr<testing::ShortTimeoutDriver> shortDriver;
    ipcapture::IIPVideoCaptureEx2* capture = nullptr;
};
}
