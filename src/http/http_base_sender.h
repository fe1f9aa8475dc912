// What every HTTP sender offers: one request at a time to one camera, its status, and its body.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

#include "core/device_info.h"
#include "http/http_request.h"
#include "platform/http_transport.h"

namespace Web
{
class CBaseHttpSender
{
public:
    explicit CBaseHttpSender(const kestrav::DEVICE_INFO& device) : m_device(device) {}
    virtual ~CBaseHttpSender() = default;
    CBaseHttpSender(const CBaseHttpSender&) = delete;
    CBaseHttpSender& operator=(const CBaseHttpSender&) = delete;

    // Blocking, up to the device's request time-out per step. True when the request went out and,
    // unless it asked otherwise, its response head came back; the status is then GetStatusCode().
    virtual bool SendRequest(const HttpRequest& request) = 0;
    // Closes the current request. Any thread: a request or a read blocked in it on another thread returns.
    virtual void CloseRequest() = 0;
    // Body bytes readable now (waits up to the time-out for some); 0 at the end, on failure or without
    // a request.
    virtual std::uint32_t QueryDataAvailable() = 0;
    // The whole body, at most kBodyLimit bytes; the number of bytes, 0 when the body could not be read whole.
    // A body announced beyond the limit is not read: cut to the limit it would pass as a whole answer.
    // One of no announced length ends at the limit.
    virtual std::uint32_t ReadAll(std::vector<std::uint8_t>& body) = 0;
    // One read of up to `count` bytes appended to `bytes`; the number appended, 0 at the end or on failure.
    virtual std::uint32_t Read(std::vector<std::uint8_t>& bytes, std::uint32_t count, bool clearFirst) = 0;

    const kestrav::DEVICE_INFO& GetDeviceInfo() const { return m_device; }
    // The last response's status; 0 when none came.
    std::uint32_t GetStatusCode() const { return m_statusCode; }
    // The last response's announced body length; 0 when it announced none.
    std::uint32_t GetContentLength() const { return m_contentLength; }
    // Why the last request got no response head (a platform HTTP error); kHttpOk when it got one or
    // the sender does not tell.
    std::uint32_t GetLastError() const { return m_lastError; }

    // No camera answer is larger; a body is never read beyond this.
    static constexpr std::uint32_t kBodyLimit = 0x100000;
    // Bodies are read in pieces of this size.
    static constexpr std::uint32_t kReadChunk = 8192;

protected:
    // One read of up to `count` bytes (at most kBodyLimit) from `request` appended to `bytes`; the
    // number appended. Shared by the senders, whose request objects differ but read alike.
    template <typename Request>
    static std::uint32_t ReadFrom(Request* request, std::vector<std::uint8_t>& bytes, std::uint32_t count,
                                  bool clearFirst)
    {
        if (clearFirst)
            bytes.clear();
        if (request == nullptr || count == 0)
            return 0;
        // The limit keeps a wild count from allocating.
        const std::uint32_t wanted = count < kBodyLimit ? count : kBodyLimit;
        const std::size_t start = bytes.size();
        bytes.resize(start + wanted);
        std::uint32_t read = 0;
        if (request->ReadData(std::span(bytes.data() + start, wanted), read) != kestrav::platform::kHttpOk)
            read = 0;
        bytes.resize(start + read);
        return read;
    }

    // A body shorter than announced was cut short, and a part of it is no answer: the body is dropped.
    static std::uint32_t KeepWholeBody(std::vector<std::uint8_t>& body, std::uint32_t announced, std::size_t expected)
    {
        if (announced != 0 && body.size() < expected)
        {
            body.clear();
            return 0;
        }
        return static_cast<std::uint32_t>(body.size());
    }

    kestrav::DEVICE_INFO m_device;
    // Written by the sending thread, read by any.
    std::atomic<std::uint32_t> m_statusCode{0};
    std::atomic<std::uint32_t> m_contentLength{0};
    std::atomic<std::uint32_t> m_lastError{0};
};
}
