// One device search: a query thread that reads the camera through the camera properties, writes what
// it found into the host's result container and tells the host's sink how it went.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include <brantel/capability_query.h>

#include "core/device_info.h"
#include "http/base_camera_properties.h"
#include "platform/thread.h"
#include "runtime/recursive_lock.h"
#include "runtime/smart_ptr.h"

namespace kestrav
{
class CCapabilityQueryModule : public ipcapture::IIPCapabilityQuery
{
public:
    // `sink` is the host's and outlives the module; `videoStandard` true for 30 frames per second.
    CCapabilityQueryModule(ipcapture::IIPCapabilityQuerySink* sink, bool videoStandard);
    // Stops the query (see StopQuery). Derived classes stop it in their own destructors first.
    ~CCapabilityQueryModule() override;
    CCapabilityQueryModule(const CCapabilityQueryModule&) = delete;
    CCapabilityQueryModule& operator=(const CCapabilityQueryModule&) = delete;

    // 1 when the query thread runs; 0 for a missing text, a port of 0, no properties object, a thread
    // that could not start, or a module that has already started its one query.
    std::int32_t Start(const char* address, std::uint16_t port, const char* user, const char* password,
                       ipcapture::IIPCapabilityResults* results) override;
    // Any thread; does not wait.
    void Terminate() override;

    // A new properties object for this module's device and video standard; null when there is none.
    virtual CBaseCameraProperties* CreateCameraProperties() = 0;
    // The body of the query thread: exactly one of OnQueryCompleted and OnQueryFailed, unless the thread
    // is terminated. The module may be deleted from inside the callback; nothing of it is used after.
    virtual void RunQuery();

    // How long a stop waits for the query thread before it is terminated; twice the request time-out
    // unless set (tests).
    void SetStopWait(std::uint32_t milliseconds) { m_stopWaitMs = milliseconds; }
    std::uint32_t GetStopWait() const;

    // The request and signal time-out of every device search.
    static constexpr std::uint32_t kQueryTimeoutMs = 10000;

    static constexpr const char* kInvalidAddressMessage =
        "Failed to start capability fetching thread. Device address is invalid!";
    static constexpr const char* kInternalErrorMessage =
        "Failed to start capability fetching thread. Internal error occurs";
    static constexpr const char* kSaveFailedMessage = "Failed to save capability query results";
    static constexpr const char* kPropertiesFailedMessage = "Failed to get camera properties";

protected:
    // Aborts the query, waits for the thread (terminating it after the stop wait, then telling the sink)
    // and lets go of the properties and the container. On the query thread itself nothing is waited for.
    void StopQuery();

    const DEVICE_INFO& GetDeviceInfo() const { return m_device; }
    bool GetVideoStandard() const { return m_videoStandard; }

private:
    struct Outcome
    {
        bool success = false;
        std::int32_t code = 3;
        std::string message;
    };

    static void QueryThreadEntry(void* argument);
    Outcome Probe();
    TSmartPtr<CBaseCameraProperties> TakeProperties();

    bool m_videoStandard;
    DEVICE_INFO m_device;
    ipcapture::IIPCapabilityQuerySink* m_sink;
    // Guards start and stop; never taken by the query thread, so a stop can wait for it while holding it.
    CRecursiveLock m_lock;
    // Guards m_properties and m_results, which Terminate and the query thread read beside start and stop.
    std::mutex m_sharedLock;
    ipcapture::IIPCapabilityResults* m_results = nullptr;
    TSmartPtr<CBaseCameraProperties> m_properties;
    platform::ThreadHandle m_thread = nullptr;
    std::uint32_t m_threadId = 0;
    std::optional<std::uint32_t> m_stopWaitMs;
};
}
