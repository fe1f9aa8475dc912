// One request handle of WinHTTP or WinINet in asynchronous mode, and the waits for its calls.
//
// Both stacks run with their asynchronous flag: a call starts the operation and the stack reports its
// end to a status callback. The calling thread waits for that report, for its own time-out and for its
// termination together, so neither a Cancel from another thread nor a thread termination ever has to
// interrupt the stack's own code; both simply close the handle.
//
// The synchronous APIs with a close from the other thread would not do: a terminated module thread has
// no other thread to close its handle for it, and its blocked call would sit out the stack's time-out.
//
// Lifetime: the stack may still call back after the handle is closed (a failure of the operation in
// flight, then the handle-closing report). The state those callbacks touch (the completion, the body
// being sent, the buffer being read into) lives in this reference-counted object, and the handle holds
// a reference until its handle-closing report, so a late callback never touches freed memory and no
// close has to wait for it. The objects alive are counted for the module's way out, which waits until
// none is left (WaitForClosedHttpRequests): the report runs this module's code.
//
// The handle itself is closed by whoever gives up first (the owner on a time-out or termination, Cancel
// from any thread), but never while the owner is inside a call on it: Cancel then leaves the close to
// the owner, who does it as soon as the call returns (calls on an asynchronous handle do not block).
#pragma once

// winsock2.h before windows.h, as every Windows header of the platform layer has it.
#include <winsock2.h>

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http_transport.h"

namespace kestrav::platform::win32
{
// How a call on the handle went.
struct HttpCallStart
{
    enum class Kind
    {
        Pending,   // the callback will report the end
        Completed, // done already; `value` holds its result
        Failed,    // `error` says why
    };
    Kind kind = Kind::Failed;
    HttpError error = kHttpOk;
    std::uint32_t value = 0;
};

// A read takes at most this much at once; the senders read in smaller chunks anyway.
inline constexpr std::uint32_t kLargestBodyRead = 64 * 1024;

class HttpCompletion
{
public:
    using CloseFunction = BOOL(WINAPI*)(void* handle);

    // The owner's reference; the object has no handle yet.
    static HttpCompletion* Create(CloseFunction close);
    HttpCompletion(const HttpCompletion&) = delete;
    HttpCompletion& operator=(const HttpCompletion&) = delete;

    void AddReference();
    void Release();

    // The handle whose callbacks report here, with this object as their context: it takes a reference
    // of its own, given back by HandleClosing.
    void Attach(void* handle);

    // From the status callback, any thread.
    void Complete(HttpError error, std::uint32_t value);
    // The handle's last report: its reference is given back (the object may be gone afterwards).
    void HandleClosing();
    // The certificate check of the status callback failed: the call in flight fails with `error`.
    void Reject(HttpError error);

    // Owner thread. Runs `call(handle)` outside the lock, then, if it went asynchronous, waits up to
    // `timeoutMilliseconds` (0: forever) for its end. A time-out or termination closes the handle for
    // good; so does a Cancel. Throws ThreadTerminated on a terminated module thread.
    template <typename Call> HttpError Run(std::uint32_t timeoutMilliseconds, Call call, std::uint32_t& value);
    // Owner thread: a call that does not block (a query, an option), with the same guard against Cancel.
    template <typename Call> HttpError Use(Call call);

    // Any thread; for good.
    void Cancel();
    // Owner thread, before its reference goes.
    void CloseForOwner();

    // A body read into readBuffer: sizes it for at most `wanted` bytes (and kLargestBodyRead) and returns
    // how many to ask the stack for. SendRequest reserves the room, so this allocates nothing.
    std::uint32_t PrepareRead(std::size_t wanted);
    // Copies what a finished read of `count` bytes left in readBuffer; the number copied.
    std::uint32_t CopyRead(std::span<std::uint8_t> buffer, std::uint32_t count) const;

    // What the pending call reads from or writes into; owned here so that it outlives a late callback.
    std::vector<std::uint8_t> sendBody;
    std::vector<std::uint8_t> readBuffer;
    DWORD readCount = 0;
    // Whatever the status callback needs besides (the certificates an HTTPS request trusts).
    std::shared_ptr<const void> callbackData;

private:
    explicit HttpCompletion(CloseFunction close);
    ~HttpCompletion();

    // Under the lock: the handle, if it may be closed now; null otherwise.
    void* TakeHandleLocked();
    void CloseHandleNow(void* handle);
    void* BeginCall(HttpError& refusal);
    HttpError EndCall(const HttpCallStart& start);
    static HANDLE TerminationWake();
    HttpError Wait(std::uint32_t timeoutMilliseconds, HANDLE wake, std::uint32_t& value);
    void GiveUp(HttpError error);

    CloseFunction m_close;
    HANDLE m_event = nullptr;
    LONG m_references = 1;

    std::mutex m_mutex;
    void* m_handle = nullptr;
    bool m_inCall = false;
    bool m_pending = false;
    bool m_done = false;
    bool m_cancelled = false;
    HttpError m_result = kHttpOk;
    std::uint32_t m_value = 0;
    // Why the handle was closed by a time-out or a rejected certificate; later calls report it.
    HttpError m_closedError = kHttpOk;
};

template <typename Call>
HttpError HttpCompletion::Run(std::uint32_t timeoutMilliseconds, Call call, std::uint32_t& value)
{
    value = 0;
    // Throws here, before anything starts, when the thread is terminated already.
    const HANDLE wake = TerminationWake();
    HttpError refusal = kHttpOk;
    void* const handle = BeginCall(refusal);
    if (handle == nullptr)
        return refusal;
    const HttpCallStart start = call(handle);
    const HttpError error = EndCall(start);
    if (error != kHttpOk || start.kind == HttpCallStart::Kind::Failed)
        return error != kHttpOk ? error : start.error;
    if (start.kind == HttpCallStart::Kind::Completed)
    {
        value = start.value;
        return kHttpOk;
    }
    return Wait(timeoutMilliseconds, wake, value);
}

template <typename Call> HttpError HttpCompletion::Use(Call call)
{
    HttpError refusal = kHttpOk;
    void* const handle = BeginCall(refusal);
    if (handle == nullptr)
        return refusal;
    const HttpError callError = call(handle);
    HttpCallStart start;
    start.kind = HttpCallStart::Kind::Completed;
    const HttpError error = EndCall(start);
    return error != kHttpOk ? error : callError;
}

// Owns the owner's reference of an HttpCompletion and closes its handle on the way out.
class HttpCompletionOwner
{
public:
    explicit HttpCompletionOwner(HttpCompletion::CloseFunction close) : m_completion(HttpCompletion::Create(close)) {}
    ~HttpCompletionOwner()
    {
        if (m_completion != nullptr)
        {
            m_completion->CloseForOwner();
            m_completion->Release();
        }
    }
    HttpCompletionOwner(const HttpCompletionOwner&) = delete;
    HttpCompletionOwner& operator=(const HttpCompletionOwner&) = delete;

    explicit operator bool() const { return m_completion != nullptr; }
    HttpCompletion* operator->() const { return m_completion; }
    HttpCompletion* get() const { return m_completion; }

private:
    HttpCompletion* m_completion;
};

// Held by every open session of either stack. While one is open the module is in use, and its way out
// (WaitForClosedHttpRequests) has nothing to wait for yet.
class HttpSessionCount
{
public:
    HttpSessionCount();
    ~HttpSessionCount();
    HttpSessionCount(const HttpSessionCount&) = delete;
    HttpSessionCount& operator=(const HttpSessionCount&) = delete;
};

// UTF-16 for the W functions; text that is not UTF-8 keeps its other bytes as replacement characters.
std::wstring Widen(std::string_view text);
// A Content-Length value as the stacks give it, in UTF-16; kHttpErrorHeaderNotFound when it is not a
// 32-bit number.
HttpError ContentLengthFromText(std::wstring_view text, std::uint32_t& length);
// A stack's error as this transport's number, never kHttpOk: the stacks' own pass through, the few
// socket errors Wine's stacks let out (a receive time-out as WSAETIMEDOUT) become the stack's numbers.
HttpError StackError(DWORD error);
// The calling thread's last error, as StackError.
HttpError LastHttpError();
// A call that ends at once: kHttpOk, or the last error as LastHttpError.
HttpError CallResult(BOOL ok);

// The response's Content-Length, asked for as text by `query(handle, buffer, &bytes)` (the stack's
// header query) on the owner thread; kHttpErrorHeaderNotFound when it is missing or not a number.
template <typename Query> HttpError ReadContentLength(HttpCompletion& completion, Query query, std::uint32_t& length)
{
    length = 0;
    std::array<wchar_t, 32> text{};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    const HttpError error = completion.Use([&](void* handle) { return CallResult(query(handle, text.data(), &size)); });
    // Longer than any 32-bit number: not one.
    if (error == ERROR_INSUFFICIENT_BUFFER)
        return kHttpErrorHeaderNotFound;
    if (error != kHttpOk)
        return error;
    return ContentLengthFromText(
        std::wstring_view(text.data(), std::min<std::size_t>(size / sizeof(wchar_t), text.size() - 1)), length);
}
}
