#include "http/capability_query_module.h"

#include <string_view>
#include <utility>

#include "platform/thread_termination.h"

namespace kestrav
{
namespace
{
// Characters no camera address holds: a port suffix, embedded credentials or a path are refused, as
// the port comes only from Start's own argument.
constexpr std::string_view kInvalidAddressCharacters = "@#$%^&*(){}[]/\\+=|:;,~'\"!?";

// How long a terminated query thread is given to unwind from its current wait.
constexpr std::uint32_t kTerminationGraceMs = 2000;

bool IsHeld(platform::ThreadHandle thread)
{
    return thread != nullptr;
}
}

CCapabilityQueryModule::CCapabilityQueryModule(ipcapture::IIPCapabilityQuerySink* sink, bool videoStandard)
    : m_videoStandard(videoStandard), m_sink(sink)
{
    m_device.requestTimeoutMs = kQueryTimeoutMs;
    m_device.signalTimeoutMs = kQueryTimeoutMs;
}

CCapabilityQueryModule::~CCapabilityQueryModule()
{
    StopQuery();
}

std::uint32_t CCapabilityQueryModule::GetStopWait() const
{
    return m_stopWaitMs.value_or(2 * m_device.requestTimeoutMs);
}

std::int32_t CCapabilityQueryModule::Start(const char* address, std::uint16_t port, const char* user,
                                           const char* password, ipcapture::IIPCapabilityResults* results)
{
    try
    {
        CRecursiveLockGuard guard(m_lock);
        if (IsHeld(m_thread))
            return 0;
        {
            std::lock_guard shared(m_sharedLock);
            m_results = results;
        }
        if (address == nullptr || user == nullptr || password == nullptr || port == 0)
            return 0;
        m_device.address = address;
        m_device.port = port;
        m_device.userName = user;
        m_device.password = password;
        if (m_device.requestTimeoutMs == 0)
            return 0;

        TSmartPtr<CBaseCameraProperties> properties(CreateCameraProperties());
        const bool created = static_cast<bool>(properties);
        {
            std::lock_guard shared(m_sharedLock);
            std::swap(m_properties, properties);
        }
        // The object held before, if any, goes here, outside the lock.
        properties.Release();
        if (!created)
            return 0;
        m_thread = platform::CreateModuleThread(QueryThreadEntry, this, &m_threadId);
        return IsHeld(m_thread) ? 1 : 0;
    }
    KESTRAV_PASS_THREAD_TERMINATION
    catch (...)
    {
        // Out of memory on the way: no query.
        return 0;
    }
}

void CCapabilityQueryModule::Terminate()
{
    try
    {
        const TSmartPtr<CBaseCameraProperties> properties = TakeProperties();
        if (properties)
            properties->Abort();
    }
    KESTRAV_PASS_THREAD_TERMINATION
    catch (...)
    {
        // Nothing to stop that could fail; the host must never see an exception.
    }
}

TSmartPtr<CBaseCameraProperties> CCapabilityQueryModule::TakeProperties()
{
    std::lock_guard shared(m_sharedLock);
    return m_properties;
}

void CCapabilityQueryModule::QueryThreadEntry(void* argument)
{
    if (argument != nullptr)
        static_cast<CCapabilityQueryModule*>(argument)->RunQuery();
}

void CCapabilityQueryModule::RunQuery()
{
    // Read first: a thread terminated and left running past its stop may outlive the module.
    ipcapture::IIPCapabilityQuerySink* const sink = m_sink;
    Outcome outcome;
    try
    {
        outcome = Probe();
    }
    KESTRAV_PASS_THREAD_TERMINATION
    catch (...)
    {
        // Without a callback the host would wait for this query for ever.
        outcome = Outcome{false, 3, kInternalErrorMessage};
    }

    // The host may delete the module from inside the callback: only locals from here on.
    if (sink == nullptr)
        return;
    try
    {
        if (outcome.success)
            sink->OnQueryCompleted();
        else
            sink->OnQueryFailed(outcome.code, outcome.message.c_str());
    }
    KESTRAV_PASS_THREAD_TERMINATION
    catch (...)
    {
        // The host's own failure: it has had its callback.
    }
}

CCapabilityQueryModule::Outcome CCapabilityQueryModule::Probe()
{
    Outcome outcome;
    if (m_device.address.find_first_of(kInvalidAddressCharacters) != std::string::npos)
        return Outcome{false, 0, kInvalidAddressMessage};

    ipcapture::IIPCapabilityResults* results = nullptr;
    TSmartPtr<CBaseCameraProperties> properties;
    {
        std::lock_guard shared(m_sharedLock);
        results = m_results;
        properties = m_properties;
    }
    if (!properties || results == nullptr)
        return Outcome{false, 3, kInternalErrorMessage};

    std::uint32_t code = 3;
    if (properties->GetCameraProperties(code))
    {
        if (properties->SaveCapabilities(results))
            outcome.success = true;
        else
            outcome.message = kSaveFailedMessage;
        return outcome;
    }
    const std::string errorText = properties->GetLastErrorText();
    outcome.code = static_cast<std::int32_t>(code);
    outcome.message = kPropertiesFailedMessage;
    switch (code)
    {
    case 0:
        break;
    case 1:
        outcome.message += errorText.empty() ? ", login failed (invalid credentials)" : ": " + errorText;
        break;
    case 2:
        outcome.message += ", device is offline or is located in unaccessible subnet";
        break;
    default:
        outcome.code = 3;
        if (!errorText.empty())
            outcome.message += ": " + errorText;
        break;
    }
    return outcome;
}

void CCapabilityQueryModule::StopQuery()
{
    Terminate();
    bool terminated = false;
    {
        CRecursiveLockGuard guard(m_lock);
        if (IsHeld(m_thread))
        {
            // On the query thread itself (the host deletes the module from inside a callback) there is
            // nothing to wait for: the thread is on its way out. Its handle is let go all the same.
            if (!platform::IsCurrentThread(m_thread) &&
                platform::WaitForThreadEnd(m_thread, GetStopWait()) != platform::WaitResult::Signaled)
            {
                platform::TerminateModuleThread(m_thread, kTerminationGraceMs);
                terminated = true;
            }
            platform::CloseThreadHandle(m_thread);
            m_thread = nullptr;
            m_threadId = 0;
        }
        TSmartPtr<CBaseCameraProperties> properties;
        {
            std::lock_guard shared(m_sharedLock);
            std::swap(properties, m_properties);
            m_results = nullptr;
        }
    }
    // Told outside the lock, as everything the host is told.
    if (terminated && m_sink != nullptr)
    {
        try
        {
            m_sink->OnQueryThreadTerminated();
        }
        KESTRAV_PASS_THREAD_TERMINATION
        catch (...) {}
    }
}
}
