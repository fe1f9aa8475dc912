// One simulated camera for a suite of motion or IO tests, and per test a host and the family's driver
// opened on it with short time-outs. Each test starts with the camera's alarm state at rest (no motion,
// input inactive), its alarm stream in its default style and no misbehaviour.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "camsim_peer.h"
#include "host_fixture.h"
#include "recording_driver.h"

namespace kestrav::testing
{
class MotionIOFixture : public HostFixture
{
protected:
    static constexpr std::uint32_t kOutputs = 2;

    static void SetUpTestSuite()
    {
        CamsimOptions options;
        options.extraArguments = {"--alarm-interval", "0", "--relays", std::to_string(kOutputs)};
        s_camera = new CamsimPeer(options);
    }
    static void TearDownTestSuite()
    {
        delete s_camera;
        s_camera = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_camera->IsReady()) << s_camera->StartFailure();
        s_camera->Reset();
        Style("boundary=trailing&split=0&split_delay_ms=100&heartbeat=0&transfer=length&spaces=0&silent=0&endless=0");
        Alarm("motion=0&input=0");
        s_camera->ForgetRequests();
        kit.Connection().SetAddress("127.0.0.1");
        kit.Connection().SetPort(s_camera->HttpPort());
        kit.Model().SetInputCount(1);
        kit.Model().SetOutputCount(kOutputs);
        ASSERT_TRUE(driver.Open(&kit.Debug(), &kit.Allocator(), &kit.Params()));
        driver.SetTimeouts(2000, 1500);
    }

    static CamsimPeer& Camera() { return *s_camera; }
    // "/camsim/alarmstream" and "/camsim/alarm" with the query given.
    static void Style(const std::string& query)
    {
        ASSERT_TRUE(s_camera->Control("/camsim/alarmstream?" + query)) << query;
    }
    static void Alarm(const std::string& query) { ASSERT_TRUE(s_camera->Control("/camsim/alarm?" + query)) << query; }
    static void Misbehave(const std::string& query)
    {
        ASSERT_TRUE(s_camera->Control("/camsim/misbehave?" + query)) << query;
    }

    // The request targets of one CGI path, in order.
    static std::vector<std::string> RequestsTo(const std::string& path)
    {
        std::vector<std::string> targets;
        for (const CamsimRequest& request : s_camera->Requests())
        {
            if (request.path == path)
                targets.push_back(request.target);
        }
        return targets;
    }
    // True once the camera has logged `count` requests of the path.
    static bool WaitForRequests(const std::string& path, std::size_t count,
                                std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (RequestsTo(path).size() < count)
        {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    RecordingDriver driver;

private:
    static CamsimPeer* s_camera;
};

inline CamsimPeer* MotionIOFixture::s_camera = nullptr;
}
