// The RTP port of a stream: datagrams are parsed and queued on the UDP reading thread and
// handed to the channel on a thread of their own, so that the socket is drained while the
// channel decodes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/socket.h"
#include "rtp/rtp_client.h"
#include "rtp/rtp_packet.h"
#include "rtp/rtp_receiver_user.h"
#include "runtime/base_thread.h"
#include "runtime/event.h"
#include "runtime/recursive_lock.h"
#include "runtime/smart_ptr.h"

namespace kestrav
{
class CRTPReceiver : public IRTPClientUser, public CBaseThread
{
public:
    explicit CRTPReceiver(IDebugMessage* owner);
    ~CRTPReceiver() override;

    // Not owned; set before opening.
    void SetUser(IRTPReceiverUser* user) { m_user = user; }

    // Only UDP (kTransportModeUdp) opens a port; an open receiver is closed first. Any
    // failure closes the receiver and returns false. Port 0 takes any free port.
    bool OpenReceiver(std::uint16_t port, std::uint32_t transportMode);
    // Returns once the delivery thread has left the user (or has been terminated after 2 s);
    // queued packets are dropped.
    void CloseReceiver();
    // 0 without an open port.
    std::uint16_t GetLocalPort();

    // Packets dropped because the queue was full, over the receiver's life.
    std::uint64_t GetDroppedPacketCount() const { return m_droppedPackets.load(); }
    // The defaults fit any camera; a smaller bound lets tests fill the queue.
    void SetQueueLimits(std::size_t packets, std::size_t bytes);

    void OnDatagram(IRTPClient* client, const platform::SocketAddressV4& sender,
                    std::span<const std::uint8_t> bytes) override;
    void OnIdle(IRTPClient* client) override;
    std::uint32_t OnDatagramsEnd(IRTPClient* client) override;
    void OnClosed(IRTPClient* client) override;

    static constexpr std::uint32_t kTransportModeUdp = 0;
    // Datagrams are held back from the delivery thread for at most this long (a frame interval at
    // 25 fps), or until a frame's last packet or this many packets are queued: one wake-up per
    // frame instead of one per read.
    static constexpr std::uint32_t kHoldMilliseconds = 40;
    static constexpr std::size_t kHoldPackets = 64;
    static constexpr std::uint32_t kDatagramBufferBytes = 1536;
    // A 1080p key frame (some 300 KB) arrives in one burst at line rate, faster than a busy machine
    // may read it: the socket holds it (as far as the OS allows; Linux's default cap gives ~416 KB).
    static constexpr std::uint32_t kSocketReceiveBytes = 2 * 1024 * 1024;

    // The queue is filled before the channel checks who sent a datagram, so anyone who can
    // reach the port could otherwise grow the host's memory without limit. The bound covers a
    // 4K key frame arriving in one burst while the channel is busy: about 3 MB, some 2500
    // datagrams of 1400 bytes, with room to spare. Beyond it datagrams are dropped and
    // counted; the depacketizer sees the gap in the sequence numbers.
    static constexpr std::size_t kDefaultQueuePackets = 4096;
    static constexpr std::size_t kDefaultQueueBytes = 8 * 1024 * 1024;

protected:
    void ThreadFunction() override;

private:
    struct Entry
    {
        platform::SocketAddressV4 sender;
        CRTPPacket packet;
        std::size_t datagramBytes = 0;
    };

    bool HasRoomFor(std::size_t datagramBytes) const;
    // An entry to fill: a spare one when there is one (its buffers keep their capacity), else new.
    // Reading thread only.
    std::unique_ptr<Entry> TakeSpare();
    // Queues what the current read staged, under one lock; true when the queue was empty before.
    bool QueueStaged();
    // Drops what a read staged; only while no reading thread runs.
    void ClearStaged();
    // Moves everything queued into `batch` (empty when nothing was).
    void TakeQueued(std::vector<std::unique_ptr<Entry>>& batch);
    // The entry leaves the queue's bounds (as it is handed on, or dropped).
    void Uncount(const Entry& entry);
    // The entries go back to the spares.
    void Recycle(std::vector<std::unique_ptr<Entry>>& batch);
    void Deliver(const Entry& entry);
    void ClearQueue();
    void CountDrop() { m_droppedPackets.fetch_add(1, std::memory_order_relaxed); }

    IDebugMessage* m_owner;
    TSmartPtr<IRTPClient> m_client;
    // Read by other threads (a channel's status) while the owner opens and closes the port.
    std::atomic<std::uint16_t> m_localPort{0};
    IRTPReceiverUser* m_user = nullptr;
    // Guards the queue and the spares.
    mutable CRecursiveLock m_queueLock;
    std::vector<std::unique_ptr<Entry>> m_queue;
    std::vector<std::unique_ptr<Entry>> m_spares;
    // Of the packets queued, the delivery thread's batch included: raised under the lock, lowered
    // by the delivery thread as it hands each on.
    std::atomic<std::size_t> m_pendingPackets{0};
    std::atomic<std::size_t> m_pendingBytes{0};
    std::atomic<std::size_t> m_queuePacketLimit{kDefaultQueuePackets};
    std::atomic<std::size_t> m_queueByteLimit{kDefaultQueueBytes};
    // The datagrams of the read under way, and spares taken from m_spares for it: touched only by the
    // reading thread, so that a read takes the queue's lock once or twice rather than twice a datagram.
    std::vector<std::unique_ptr<Entry>> m_staged;
    std::vector<std::unique_ptr<Entry>> m_readerSpares;
    bool m_frameEndStaged = false;
    CEvent m_packetEvent{false};
    // Queued datagrams the delivery thread, which may be waiting, has not been told of: it is woken
    // when a frame is complete, when many are held, or after kHoldMilliseconds. Touched only by the
    // reading thread.
    bool m_holding = false;
    bool m_frameEndHeld = false;
    std::uint64_t m_holdStart = 0;
    std::atomic<std::uint64_t> m_droppedPackets{0};
};
}
