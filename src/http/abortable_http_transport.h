// A transport that refuses every request opened after an abort.
//
// A sender's SendRequest starts by clearing the cancel flag that CloseRequest sets, so an abort that
// lands just before it would be forgotten and the request would sit out its time-outs. The sender opens
// its request only after that clearing; refusing it here once aborted closes the gap: an abort either
// comes before the request is opened (refused here) or after the flag was cleared (closed by the sender).
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/http_transport.h"

namespace kestrav
{
class CAbortableHttpTransport final : public platform::IHttpTransport
{
public:
    // `inner` outlives this object and every session it opens.
    explicit CAbortableHttpTransport(platform::IHttpTransport& inner) : m_inner(inner) {}

    // Any thread; for good.
    void Abort() { m_aborted.store(true); }
    bool IsAborted() const { return m_aborted.load(); }

    platform::HttpError WinHttpOpen(const std::string& agent,
                                    std::unique_ptr<platform::IWinHttpSession>& session) override;
    platform::HttpError InternetOpen(const std::string& agent,
                                     std::unique_ptr<platform::IWinInetSession>& session) override;
    void OutputDebugText(const std::string& text) override { m_inner.OutputDebugText(text); }

private:
    platform::IHttpTransport& m_inner;
    std::atomic<bool> m_aborted{false};
};
}
