#include "platform/win32/http_completion_win32.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "platform/http_head.h"
#include "platform/win32/wait_context_win32.h"

namespace kestrav::platform::win32
{
namespace
{
// The request states alive and the sessions open. Constant-initialised kernel primitives that need no
// destruction: a stack's last report may come while the module's statics are being torn down.
struct HttpCensus
{
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    std::size_t states = 0;
    std::size_t sessions = 0;
};

HttpCensus g_census;

void CountStates(bool added)
{
    AcquireSRWLockExclusive(&g_census.lock);
    if (added)
        ++g_census.states;
    else
        --g_census.states;
    const bool none = g_census.states == 0;
    ReleaseSRWLockExclusive(&g_census.lock);
    if (none)
        WakeAllConditionVariable(&g_census.changed);
}

void CountSessions(bool added)
{
    AcquireSRWLockExclusive(&g_census.lock);
    if (added)
        ++g_census.sessions;
    else
        --g_census.sessions;
    ReleaseSRWLockExclusive(&g_census.lock);
}
}

HttpCompletion* HttpCompletion::Create(CloseFunction close)
{
    auto* completion = new (std::nothrow) HttpCompletion(close);
    if (completion != nullptr && completion->m_event == nullptr)
    {
        delete completion;
        return nullptr;
    }
    if (completion != nullptr)
        CountStates(true);
    return completion;
}

HttpCompletion::HttpCompletion(CloseFunction close)
    : m_close(close), m_event(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

HttpCompletion::~HttpCompletion()
{
    if (m_event != nullptr)
        CloseHandle(m_event);
}

void HttpCompletion::AddReference()
{
    InterlockedIncrement(&m_references);
}

void HttpCompletion::Release()
{
    if (InterlockedDecrement(&m_references) == 0)
    {
        delete this;
        // Last, once the members' destructors have run too. What is left of a handle-closing report
        // after this is the return into the stack.
        CountStates(false);
    }
}

void HttpCompletion::Attach(void* handle)
{
    AddReference();
    std::lock_guard lock(m_mutex);
    m_handle = handle;
}

void HttpCompletion::Complete(HttpError error, std::uint32_t value)
{
    std::lock_guard lock(m_mutex);
    // A report after the call was given up (or of a call that ended at once) belongs to nobody.
    if (!m_pending || m_done || m_cancelled || m_closedError != kHttpOk)
        return;
    m_done = true;
    m_result = error;
    m_value = value;
    SetEvent(m_event);
}

void HttpCompletion::HandleClosing()
{
    Release();
}

void HttpCompletion::Reject(HttpError error)
{
    void* handle = nullptr;
    {
        std::lock_guard lock(m_mutex);
        if (m_closedError == kHttpOk)
            m_closedError = error;
        handle = TakeHandleLocked();
        SetEvent(m_event);
    }
    CloseHandleNow(handle);
}

void* HttpCompletion::TakeHandleLocked()
{
    // The owner closes it when its call returns.
    if (m_inCall)
        return nullptr;
    return std::exchange(m_handle, nullptr);
}

void HttpCompletion::CloseHandleNow(void* handle)
{
    if (handle != nullptr)
        m_close(handle);
}

void* HttpCompletion::BeginCall(HttpError& refusal)
{
    std::lock_guard lock(m_mutex);
    if (m_cancelled)
    {
        refusal = kHttpErrorOperationCancelled;
        return nullptr;
    }
    if (m_handle == nullptr)
    {
        refusal = m_closedError != kHttpOk ? m_closedError : kHttpErrorIncorrectHandleState;
        return nullptr;
    }
    m_inCall = true;
    m_pending = true;
    m_done = false;
    ResetEvent(m_event);
    return m_handle;
}

HttpError HttpCompletion::EndCall(const HttpCallStart& start)
{
    void* handle = nullptr;
    HttpError error = kHttpOk;
    {
        std::lock_guard lock(m_mutex);
        m_inCall = false;
        if (start.kind != HttpCallStart::Kind::Pending)
            m_pending = false;
        if (m_cancelled)
            error = kHttpErrorOperationCancelled;
        else if (m_closedError != kHttpOk)
            error = m_closedError;
        if (error != kHttpOk)
        {
            m_pending = false;
            handle = std::exchange(m_handle, nullptr);
        }
    }
    CloseHandleNow(handle);
    return error;
}

HANDLE HttpCompletion::TerminationWake()
{
    return TerminationWakeEvent();
}

HttpError HttpCompletion::Wait(std::uint32_t timeoutMilliseconds, HANDLE wake, std::uint32_t& value)
{
    const HANDLE handles[2] = {m_event, wake};
    const DWORD waited = WaitForMultipleObjects(wake != nullptr ? 2 : 1, handles, FALSE,
                                                timeoutMilliseconds == 0 ? INFINITE : timeoutMilliseconds);
    if (waited == WAIT_OBJECT_0)
    {
        std::lock_guard lock(m_mutex);
        m_pending = false;
        if (m_cancelled)
            return kHttpErrorOperationCancelled;
        if (m_closedError != kHttpOk)
            return m_closedError;
        value = m_value;
        return m_result;
    }
    if (waited == WAIT_OBJECT_0 + 1)
    {
        GiveUp(kHttpErrorOperationCancelled);
        ThrowIfTerminated();
        return kHttpErrorOperationCancelled;
    }
    // The stack's own time-outs are set to the same values; whichever comes first, the request is over.
    GiveUp(kHttpErrorTimeout);
    return kHttpErrorTimeout;
}

void HttpCompletion::GiveUp(HttpError error)
{
    void* handle = nullptr;
    {
        std::lock_guard lock(m_mutex);
        m_pending = false;
        if (m_closedError == kHttpOk)
            m_closedError = error;
        handle = TakeHandleLocked();
    }
    CloseHandleNow(handle);
}

void HttpCompletion::Cancel()
{
    void* handle = nullptr;
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        handle = TakeHandleLocked();
        SetEvent(m_event);
    }
    CloseHandleNow(handle);
}

void HttpCompletion::CloseForOwner()
{
    void* handle = nullptr;
    {
        std::lock_guard lock(m_mutex);
        handle = std::exchange(m_handle, nullptr);
    }
    CloseHandleNow(handle);
}

std::uint32_t HttpCompletion::PrepareRead(std::size_t wanted)
{
    const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(wanted, kLargestBodyRead));
    readBuffer.resize(count);
    return count;
}

std::uint32_t HttpCompletion::CopyRead(std::span<std::uint8_t> buffer, std::uint32_t count) const
{
    const auto copied = static_cast<std::uint32_t>(std::min<std::size_t>({count, buffer.size(), readBuffer.size()}));
    std::memcpy(buffer.data(), readBuffer.data(), copied);
    return copied;
}

HttpSessionCount::HttpSessionCount()
{
    CountSessions(true);
}

HttpSessionCount::~HttpSessionCount()
{
    CountSessions(false);
}

std::wstring Widen(std::string_view text)
{
    if (text.empty())
        return {};
    const int length = static_cast<int>(std::min<std::size_t>(text.size(), 0x7FFFFFFF));
    const int wide = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (wide <= 0)
        return {};
    std::wstring result(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, result.data(), wide);
    return result;
}

HttpError ContentLengthFromText(std::wstring_view text, std::uint32_t& length)
{
    length = 0;
    // A number is ASCII; anything else in it makes it no number.
    std::string narrow(text.size(), '?');
    std::transform(text.begin(), text.end(), narrow.begin(),
                   [](wchar_t c) { return c < 0x80 ? static_cast<char>(c) : '?'; });
    const auto parsed = ParseContentLength(narrow);
    if (!parsed)
        return kHttpErrorHeaderNotFound;
    length = *parsed;
    return kHttpOk;
}

HttpError StackError(DWORD error)
{
    // Winsock's numbers, without pulling in its header.
    constexpr DWORD kSocketNetworkUnreachable = 10051;
    constexpr DWORD kSocketConnectionAborted = 10053;
    constexpr DWORD kSocketConnectionReset = 10054;
    constexpr DWORD kSocketTimedOut = 10060;
    constexpr DWORD kSocketConnectionRefused = 10061;
    constexpr DWORD kSocketHostUnreachable = 10065;
    switch (error)
    {
    case 0:
        return kHttpErrorInternal;
    case kSocketTimedOut:
        return kHttpErrorTimeout;
    case kSocketConnectionRefused:
    case kSocketNetworkUnreachable:
    case kSocketHostUnreachable:
        return kHttpErrorCannotConnect;
    case kSocketConnectionAborted:
    case kSocketConnectionReset:
        return kHttpErrorConnectionError;
    default:
        return static_cast<HttpError>(error);
    }
}

HttpError LastHttpError()
{
    return StackError(GetLastError());
}

HttpError CallResult(BOOL ok)
{
    return ok ? kHttpOk : LastHttpError();
}
}

namespace kestrav::platform
{
bool WaitForClosedHttpRequests(std::uint32_t limitMilliseconds)
{
    using win32::g_census;
    const ULONGLONG deadline = GetTickCount64() + limitMilliseconds;
    AcquireSRWLockExclusive(&g_census.lock);
    while (g_census.sessions == 0 && g_census.states > 0)
    {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            break;
        SleepConditionVariableSRW(&g_census.changed, &g_census.lock, static_cast<DWORD>(deadline - now), 0);
    }
    const bool closed = g_census.sessions > 0 || g_census.states == 0;
    ReleaseSRWLockExclusive(&g_census.lock);
    return closed;
}

std::size_t OutstandingHttpRequests()
{
    using win32::g_census;
    AcquireSRWLockShared(&g_census.lock);
    const std::size_t states = g_census.states;
    ReleaseSRWLockShared(&g_census.lock);
    return states;
}
}
