// The RTCP side of an RTP session over UDP: listens on the RTCP port for the camera's reports
// and answers with receiver reports, periodically and after each of the camera's datagrams,
// and says BYE when it stops. Cameras end a session whose receiver stays silent.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "rtp/rtcp_packets.h"
#include "rtp/rtp_client.h"
#include "rtp/rtp_sequence_tracker.h"
#include "rtp/udp_client.h"
#include "runtime/base_thread.h"
#include "runtime/event.h"
#include "runtime/recursive_lock.h"

namespace kestrav
{
class CRTCPHandler : public CBaseThread, public IRTPClientUser
{
public:
    static constexpr std::uint32_t kDefaultReportPeriodMilliseconds = 5000;

    // The period is a parameter so that tests need not wait through the default.
    explicit CRTCPHandler(IDebugMessage* owner,
                          std::uint32_t reportPeriodMilliseconds = kDefaultReportPeriodMilliseconds);
    ~CRTCPHandler() override;

    // Opens `port` (0: any free port) for the camera at `cameraAddress` (IPv4, network order)
    // and starts reporting. Fails when already started, for address 0, or when the port or the
    // thread cannot be opened.
    bool StartRTCP(std::uint32_t cameraAddress, std::uint16_t port);
    // Stops reporting, says BYE (after a last receiver report) to the camera and closes the
    // port. Forgets the camera's sender reports, its SSRC, its ports and the latched sender; keeps the sequence
    // tracking, which spans reconnects.
    void StopRTCP();
    // 0 while stopped.
    std::uint16_t GetLocalPort();
    // The camera's RTCP port from the SETUP answer, in host order; 0 for none. Reports go
    // there until the camera's first sender report shows where it really sends from.
    void SetServerPort(std::uint16_t port);
    // The sequence number and source of each RTP packet accepted from the camera; reports
    // name that source.
    void UpdateSequence(std::uint16_t sequence, std::uint32_t ssrc);

    // True once the camera said BYE for the stream it sends (over UDP or the RTSP connection): the
    // session is over for certain. Cleared when the handler stops.
    bool CameraSaidBye() const { return m_cameraSaidBye; }
    // A compound packet the camera sent over the RTSP connection (interleaved transport).
    void OnInterleavedReport(std::span<const std::uint8_t> bytes);
    // The receiver report (with its SDES) that goes back over the RTSP connection.
    std::vector<std::uint8_t> BuildInterleavedReport();

    // Drawn once, at construction.
    std::uint32_t GetOwnSSRC() const { return m_ownSSRC; }
    // Random, drawn once at construction, sent in every report.
    const std::string& GetCName() const { return m_cname; }

    void OnDatagram(IRTPClient* client, const platform::SocketAddressV4& sender,
                    std::span<const std::uint8_t> bytes) override;
    void OnIdle(IRTPClient*) override {}
    void OnClosed(IRTPClient*) override {}

protected:
    void ThreadFunction() override;

private:
    struct ReceivedSenderReport
    {
        RTCPSenderReport report;
        // Monotonic milliseconds.
        std::uint64_t arrival = 0;
    };
    struct Report
    {
        RTCPReceiverReport fields;
        std::optional<platform::SocketAddressV4> destination;
    };

    // Takes what a compound packet of the camera tells; true when it calls for a report.
    bool TakeCameraReportLocked(const RTCPCompound& compound);
    Report PrepareReport();
    // Sends outside the state lock: the UDP client holds its own lock while it waits for its
    // reading thread, which takes the state lock in OnDatagram.
    void SendToCamera(std::span<const std::uint8_t> bytes, const std::optional<platform::SocketAddressV4>& destination);
    std::optional<platform::SocketAddressV4> DestinationLocked() const;
    void ForgetCameraLocked();

    const std::uint32_t m_reportPeriodMilliseconds;
    const std::uint32_t m_ownSSRC;
    const std::string m_cname;
    CUDPClient m_udpClient;
    // Set by each datagram of the camera; wakes the report thread.
    CEvent m_reportEvent{false};

    // Guards everything below. Never held while sending.
    mutable CRecursiveLock m_stateLock;
    std::uint32_t m_cameraAddress = 0;
    std::uint16_t m_serverPort = 0;
    std::optional<platform::SocketAddressV4> m_latchedSender;
    std::optional<ReceivedSenderReport> m_lastSenderReport;
    // Shown by the camera's RTP packets or its sender reports.
    std::optional<std::uint32_t> m_cameraSSRC;
    CRTPSequenceTracker m_sequence;
    std::atomic<bool> m_cameraSaidBye{false};
};
}
