// What an RTP channel receives from its transports: packets from the UDP receiver or from
// the RTSP connection, and the session facts the RTSP client learns; and the reports it sends back
// over the RTSP connection.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/socket.h"

namespace kestrav
{
class CRTPPacket;
struct ParameterSets;

class IRTPReceiverUser
{
public:
    virtual ~IRTPReceiverUser() = default;
    // A packet read from the RTSP connection (interleaved transport).
    virtual void OnInterleavedPacket(const CRTPPacket& packet) = 0;
    // A packet received on the UDP port, with its sender, which is not checked before this
    // call. The packet is valid only during the call.
    virtual void OnPacket(const platform::SocketAddressV4& source, const CRTPPacket& packet) = 0;
    // Nothing arrived on the UDP port during a select period.
    virtual void OnReceiveTimeout() = 0;
    virtual void OnSocketClosed() = 0;
    // The parameter sets of the session description.
    virtual void OnParameterSets(const ParameterSets& sets) = 0;
    // The camera's ports from the SETUP answer, in host order.
    virtual void OnServerPorts(std::uint16_t rtpPort, std::uint16_t rtcpPort) = 0;
    // The camera ended the RTSP session for certain (closed the connection, or said it is gone).
    virtual void OnSessionEnded() {}
    // An RTCP packet of the camera read from the RTSP connection; valid during the call only.
    virtual void OnInterleavedReport(std::span<const std::uint8_t>) {}
    // The receiver report that goes back over the RTSP connection while streaming; empty for none.
    virtual std::vector<std::uint8_t> BuildInterleavedReport() { return {}; }
};
}
