// One RTSP/1.0 session with a camera, on its own thread: DESCRIBE, SETUP of one stream, PLAY
// and PAUSE on request, keep-alives, TEARDOWN. In interleaved mode the same thread reads the
// stream from the RTSP connection and, while it does, sends the keep-alives, the pause and play
// requests and the receiver reports over it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "platform/socket.h"
#include "rtsp/rtsp_response_parser.h"
#include "rtsp/rtsp_session_params.h"
#include "runtime/base_thread.h"
#include "runtime/event.h"

namespace kestrav
{
class IRTPReceiverUser;

class CBaseRTSPClient : public CBaseThread
{
public:
    // Largest response body accepted (a session description).
    static constexpr std::size_t kMaxResponseBody = 64 * 1024;

    // `owner` names the device in the thread's log lines.
    explicit CBaseRTSPClient(IDebugMessage* owner);
    ~CBaseRTSPClient() override;

    // Connects and starts the session thread; false (and everything undone) when either fails.
    bool StartSession(const RTSPSessionParams& params, IRTPReceiverUser* user, int transportMode);
    // Stops the thread (it tears the session down) and closes the connection. Safe when idle.
    void StopSession();
    // From another thread: a StartSession waiting for the camera to accept gives up (false). Holds
    // until AllowConnect, which the owner calls before it decides to start a session.
    void CancelConnect() { m_connectCancelled = true; }
    void AllowConnect() { m_connectCancelled = false; }
    void RequestPause() { m_pauseEvent.Set(); }
    void RequestPlay() { m_playEvent.Set(); }
    // True when the last request was answered and parsed (200 or 401), or when an interleaved
    // stream ended because the connection closed.
    bool IsLastRequestOk() const { return m_lastRequestOk; }
    // True once the camera has ended the session for certain: it closed the connection, or said
    // the session is gone (454), or left a keep-alive over UDP unanswered. Silence is no such end.
    bool HasSessionEnded() const { return m_sessionEnded; }

    // What went wrong last in the session, for the owner's log: a request the camera refused or left
    // unanswered, or the camera's end of the session. Kept until the next StartSession.
    struct Failure
    {
        RtspRequestType request = RtspRequestType::Describe;
        // The camera's status; 0 when it gave none (for an end: none but 2xx).
        std::uint32_t status = 0;
        // How long the request waited for its answer.
        std::uint32_t elapsedMs = 0;
        bool sessionEnded = false;
    };
    std::optional<Failure> GetLastFailure() const;

    // How long the session waits for a pause or play request before it checks the keep-alive
    // (2000 ms); tests shorten it.
    void SetIdleWait(std::uint32_t milliseconds) { m_idleWaitMs = milliseconds; }
    // How often a receiver report goes over the connection while streaming interleaved (5000 ms).
    void SetInterleavedReportPeriod(std::uint32_t milliseconds) { m_reportPeriodMs = milliseconds; }

protected:
    void ThreadFunction() override;
    // The whole request text, or empty when it cannot be built.
    virtual std::string BuildRequest(RtspRequestType type);
    // Reads the interleaved stream until the connection ends (true) or a stop (false).
    virtual bool ReadInterleaved();

    bool SendAndCheck(RtspRequestType type);
    const CRTSPResponseParser& Parser() const { return m_parser; }

private:
    // On the session thread a stop ends the attempt too.
    bool Connect(bool onSessionThread = false);
    void CloseConnection();
    bool Exchange(RtspRequestType type);
    // `lengthGiven` tells whether the headers named a Content-Length.
    std::string ReceiveResponse(bool& lengthGiven);
    void DropStrayBody();
    bool ReceiveHeaders(std::string& response);
    // One read of at most the buffer within the receive time-out; given up early when a stop is
    // requested meanwhile. kSocketFailure on time-out, failure or stop.
    int Receive(std::span<std::uint8_t> buffer, bool peek);
    void CheckKeepAlive();
    bool KeepAliveDue() const;
    // Sends the keep-alive now, falling back through the methods the camera refuses.
    void KeepAlive();
    bool Reconnect();
    // True when the next keep-alive method is to be tried at once.
    bool OnKeepAliveAnswer(std::uint32_t status);
    void WaitForEvents();
    void SendPlay();
    bool ConnectionClosed();
    // Marks the session over and tells the user, once.
    void EndSession();
    void RecordFailure(const Failure& failure);

    // Interleaved mode: requests go out while the stream is read, and their answers come in it.
    void ServeInterleavedSession();
    void SendInterleaved(RtspRequestType type, bool retry);
    void SendInterleavedReport();
    void OnInterleavedAnswer(std::string_view answer);

    std::string SessionUrl() const;
    std::string ControlUrl(const std::string& sessionUrl) const;
    std::string AuthorizationLine(const char* method, const std::string& url);

    CRTSPResponseParser m_parser;
    platform::SocketHandle m_socket = platform::kInvalidSocket;
    std::uint64_t m_lastKeepAlive = 0;
    IRTPReceiverUser* m_user = nullptr;
    std::atomic<bool> m_lastRequestOk{true};
    std::atomic<bool> m_connectCancelled{false};
    RTSPSessionParams m_params;
    int m_transportMode = kTransportUdp;
    CEvent m_pauseEvent{false};
    CEvent m_playEvent{false};
    bool m_paused = false;
    std::uint32_t m_idleWaitMs = 2000;
    // The Digest nonce that m_nonceCount counts requests for.
    std::string m_countedNonce;
    std::uint32_t m_nonceCount = 0;
    std::atomic<bool> m_sessionEnded{false};
    mutable std::mutex m_failureMutex;
    std::optional<Failure> m_lastFailure;
    // Index into the keep-alive methods; moves on when the camera refuses one.
    std::size_t m_keepAliveMethod = 0;
    // Set once a PLAY with a Range was refused and one without it accepted.
    bool m_omitRange = false;

    struct PendingRequest
    {
        RtspRequestType type;
        // Monotonic milliseconds.
        std::uint64_t sentAt;
        // Sent again already (new credentials, or without a Range): not a third time.
        bool retry;
    };
    std::optional<PendingRequest> m_pending;
    std::uint64_t m_lastStreamBytes = 0;
    std::uint64_t m_lastReport = 0;
    std::uint32_t m_reportPeriodMs = 5000;
};
}
