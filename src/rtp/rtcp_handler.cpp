#include "rtp/rtcp_handler.h"

#include <array>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/process.h"

namespace kestrav
{
namespace
{
constexpr std::uint32_t kSelectPeriodSeconds = 1;
constexpr std::uint32_t kDatagramBufferBytes = 1536;
constexpr std::uint32_t kStopWaitMilliseconds = 5000;

std::uint32_t MakeOwnSSRC(const void* salt)
{
    std::array<std::uint8_t, 4> random{};
    if (platform::FillRandomBytes(random))
        return std::uint32_t{random[0]} << 24 | std::uint32_t{random[1]} << 16 | std::uint32_t{random[2]} << 8 |
               std::uint32_t{random[3]};
    // Without the OS random source, two handlers (or two processes) must still differ: the
    // clocks and the object's address, mixed by splitmix64's finaliser.
    std::uint64_t mixed = platform::FileTimeNow() ^ (platform::MonotonicMilliseconds() << 32) ^
                          static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(salt));
    mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9ULL;
    mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBULL;
    return static_cast<std::uint32_t>(mixed ^ (mixed >> 31));
}

// RFC 7022: a CNAME of 96 random bits in base64 names this receiver without giving away its
// user or host, and differs between receivers and runs.
std::string MakeCName(const void* salt)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::array<std::uint8_t, 12> random{};
    if (!platform::FillRandomBytes(random))
    {
        for (std::size_t i = 0; i < random.size(); i += 4)
        {
            const std::uint32_t word = MakeOwnSSRC(static_cast<const std::uint8_t*>(salt) + i);
            for (std::size_t byte = 0; byte < 4; ++byte)
                random[i + byte] = static_cast<std::uint8_t>(word >> (8 * byte));
        }
    }
    std::string cname;
    for (std::size_t i = 0; i < random.size(); i += 3)
    {
        const std::uint32_t group = std::uint32_t{random[i]} << 16 | std::uint32_t{random[i + 1]} << 8 | random[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6)
            cname.push_back(kAlphabet[(group >> shift) & 0x3F]);
    }
    return cname;
}

// Camera quirk: until an RTP packet or a sender report of the camera has shown its SSRC, the
// report block names the source by the camera's IPv4 address with its four bytes reversed
// (192.0.2.7 goes out as 7.2.0.192). RFC 3550 has no value for a source not yet heard of; this
// is the one the cameras of this family have always been answered with before they showed
// their SSRC, and they keep the session going on it.
std::uint32_t ReversedAddress(std::uint32_t addressNetworkOrder)
{
    std::array<std::uint8_t, 4> octets{};
    std::memcpy(octets.data(), &addressNetworkOrder, octets.size());
    return std::uint32_t{octets[3]} << 24 | std::uint32_t{octets[2]} << 16 | std::uint32_t{octets[1]} << 8 |
           std::uint32_t{octets[0]};
}
}

CRTCPHandler::CRTCPHandler(IDebugMessage* owner, std::uint32_t reportPeriodMilliseconds)
    : CBaseThread(owner), m_reportPeriodMilliseconds(reportPeriodMilliseconds), m_ownSSRC(MakeOwnSSRC(this)),
      m_cname(MakeCName(this)), m_udpClient(owner)
{
    m_udpClient.SetSelectTimeout(kSelectPeriodSeconds, 0);
    m_udpClient.SetBufferSize(kDatagramBufferBytes);
}

CRTCPHandler::~CRTCPHandler()
{
    StopRTCP();
}

bool CRTCPHandler::StartRTCP(std::uint32_t cameraAddress, std::uint16_t port)
{
    if (cameraAddress == 0 || m_udpClient.GetPort() != 0)
        return false;
    {
        // Before the port opens, so that the first datagram is already checked against it.
        CRecursiveLockGuard guard(m_stateLock);
        m_cameraAddress = cameraAddress;
    }
    if (!m_udpClient.OpenPort(this, port))
        return false;
    m_udpClient.SetSelectTimeout(kSelectPeriodSeconds, 0);
    // Without its thread the handler would never report, and the camera would end the
    // session after its time-out: that is a failed start, not a quiet one.
    if (!StartThread("RTCP Handler Thread"))
    {
        m_udpClient.ClosePort();
        return false;
    }
    return true;
}

void CRTCPHandler::StopRTCP()
{
    // The report thread ends first, so that no report follows the BYE.
    StopThread(kStopWaitMilliseconds);
    const Report last = PrepareReport();
    SendToCamera(BuildReceiverCompound(last.fields, m_cname, true), last.destination);
    m_udpClient.ClosePort();
    // After the close: no datagram can latch a sender again.
    CRecursiveLockGuard guard(m_stateLock);
    ForgetCameraLocked();
}

std::uint16_t CRTCPHandler::GetLocalPort()
{
    return m_udpClient.GetPort();
}

void CRTCPHandler::SetServerPort(std::uint16_t port)
{
    CRecursiveLockGuard guard(m_stateLock);
    m_serverPort = port;
}

void CRTCPHandler::UpdateSequence(std::uint16_t sequence, std::uint32_t ssrc)
{
    CRecursiveLockGuard guard(m_stateLock);
    m_sequence.Update(sequence);
    m_cameraSSRC = ssrc;
}

void CRTCPHandler::OnDatagram(IRTPClient* client, const platform::SocketAddressV4& sender,
                              std::span<const std::uint8_t> bytes)
{
    if (client != &m_udpClient)
        return;
    const std::optional<RTCPCompound> compound = ParseRTCPCompound(bytes);
    if (!compound)
        return;
    {
        CRecursiveLockGuard guard(m_stateLock);
        // Anyone can send to the port; only the camera is answered.
        if (sender.address != m_cameraAddress)
            return;
        // The camera's first sender report shows where it really sends from, which can differ from
        // the port its SETUP answer named; reports go there from now on.
        if (TakeCameraReportLocked(*compound) && !m_latchedSender)
            m_latchedSender = sender;
    }
    m_reportEvent.Set();
}

void CRTCPHandler::OnInterleavedReport(std::span<const std::uint8_t> bytes)
{
    if (const std::optional<RTCPCompound> compound = ParseRTCPCompound(bytes))
    {
        CRecursiveLockGuard guard(m_stateLock);
        TakeCameraReportLocked(*compound);
    }
}

std::vector<std::uint8_t> CRTCPHandler::BuildInterleavedReport()
{
    return BuildReceiverCompound(PrepareReport().fields, m_cname, false);
}

bool CRTCPHandler::TakeCameraReportLocked(const RTCPCompound& compound)
{
    // A BYE for another source (one the camera stopped sending as) leaves the stream alone.
    if (compound.byeSource && (!m_cameraSSRC || *m_cameraSSRC == *compound.byeSource))
        m_cameraSaidBye = true;
    // LSR and DLSR refer to a sender report: other packets carry neither.
    if (!compound.senderReport)
        return false;
    m_lastSenderReport = ReceivedSenderReport{*compound.senderReport, platform::MonotonicMilliseconds()};
    m_cameraSSRC = compound.senderReport->senderSSRC;
    return true;
}

void CRTCPHandler::ThreadFunction()
{
    CEvent* const events[] = {&StopEvent(), &m_reportEvent};
    for (;;)
    {
        // A datagram that arrives while a report is on its way sets the event again and is
        // answered by the next pass.
        const int signalled = WaitForAnyEvent(events, 2, m_reportPeriodMilliseconds);
        if (signalled == 0 || IsStopRequested())
            return;
        const Report report = PrepareReport();
        SendToCamera(BuildReceiverCompound(report.fields, m_cname, false), report.destination);
    }
}

CRTCPHandler::Report CRTCPHandler::PrepareReport()
{
    CRecursiveLockGuard guard(m_stateLock);
    Report report;
    report.destination = DestinationLocked();
    report.fields.ownSSRC = m_ownSSRC;
    report.fields.extendedHighestSequence = m_sequence.GetExtendedHighestSequence();
    report.fields.sourceSSRC = m_cameraSSRC ? *m_cameraSSRC : ReversedAddress(m_cameraAddress);
    if (m_lastSenderReport)
    {
        report.fields.lastSenderReport = m_lastSenderReport->report.ntpMiddle;
        report.fields.delaySinceLastSenderReport =
            ToDelaySinceLastSenderReport(platform::MonotonicMilliseconds() - m_lastSenderReport->arrival);
    }
    return report;
}

void CRTCPHandler::SendToCamera(std::span<const std::uint8_t> bytes,
                                const std::optional<platform::SocketAddressV4>& destination)
{
    if (!destination || m_udpClient.SendTo(bytes, *destination))
        return;
    // The sender's address no longer takes datagrams: fall back to the port from SETUP until
    // the camera's next sender report latches it again.
    CRecursiveLockGuard guard(m_stateLock);
    if (m_latchedSender == destination)
        m_latchedSender.reset();
}

std::optional<platform::SocketAddressV4> CRTCPHandler::DestinationLocked() const
{
    if (m_latchedSender)
        return m_latchedSender;
    if (m_serverPort != 0)
        return platform::MakeSocketAddressV4(m_cameraAddress, m_serverPort);
    return std::nullopt;
}

void CRTCPHandler::ForgetCameraLocked()
{
    m_cameraSaidBye = false;
    m_serverPort = 0;
    m_latchedSender.reset();
    m_lastSenderReport.reset();
    m_cameraSSRC.reset();
}
}
