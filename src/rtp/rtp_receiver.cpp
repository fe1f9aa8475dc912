#include "rtp/rtp_receiver.h"

#include <new>

#include "platform/thread_termination.h"
#include "rtp/udp_client.h"
#include "runtime/format_string.h"

namespace kestrav
{
namespace
{
constexpr std::uint32_t kSelectPeriodSeconds = 2;
constexpr std::uint32_t kStopWaitMilliseconds = 2000;
// Polling period of the delivery thread while the queue is empty; a packet wakes it at once.
constexpr std::uint32_t kIdleWaitMilliseconds = 1000;
}

CRTPReceiver::CRTPReceiver(IDebugMessage* owner) : CBaseThread(owner), m_owner(owner) {}

CRTPReceiver::~CRTPReceiver()
{
    CloseReceiver();
}

bool CRTPReceiver::OpenReceiver(std::uint16_t port, std::uint32_t transportMode)
{
    if (m_client)
        CloseReceiver();
    bool opened = false;
    if (transportMode == kTransportModeUdp)
    {
        m_client.Attach(new (std::nothrow) CUDPClient(m_owner));
        if (m_client)
        {
            m_client->SetBufferSize(kDatagramBufferBytes);
            m_client->SetSelectTimeout(kSelectPeriodSeconds, 0);
            opened = m_client->OpenPort(this, port);
        }
    }
    if (opened)
    {
        m_localPort = m_client->GetPort();
        ClearQueue();
        opened = StartThread(FormatString("RTP Packet Queue (%hu)", GetLocalPort()));
    }
    if (!opened)
        CloseReceiver();
    return opened;
}

void CRTPReceiver::CloseReceiver()
{
    StopEvent().Set();
    m_localPort = 0;
    if (m_client)
    {
        // Ends the reading thread, so nothing is queued after this.
        m_client->ClosePort();
        m_client.Release();
    }
    ClearQueue();
    StopThread(kStopWaitMilliseconds);
}

std::uint16_t CRTPReceiver::GetLocalPort()
{
    return m_localPort;
}

void CRTPReceiver::SetQueueLimits(std::size_t packets, std::size_t bytes)
{
    CRecursiveLockGuard guard(m_queueLock);
    m_queuePacketLimit = packets;
    m_queueByteLimit = bytes;
}

bool CRTPReceiver::HasRoomFor(std::size_t datagramBytes) const
{
    CRecursiveLockGuard guard(m_queueLock);
    return m_queue.size() < m_queuePacketLimit && datagramBytes <= m_queueByteLimit &&
           m_queuedBytes <= m_queueByteLimit - datagramBytes;
}

void CRTPReceiver::OnDatagram(IRTPClient* client, const platform::SocketAddressV4& sender,
                              std::span<const std::uint8_t> bytes)
{
    if (client != m_client.Get() || IsStopRequested())
        return;
    // Checked before the copy too, so that a flood costs no allocations.
    if (!HasRoomFor(bytes.size()))
    {
        CountDrop();
        return;
    }
    std::unique_ptr<Entry> entry(new (std::nothrow) Entry);
    if (entry == nullptr)
    {
        CountDrop();
        return;
    }
    entry->sender = sender;
    entry->datagramBytes = bytes.size();
    try
    {
        if (!entry->packet.Parse(bytes))
            return;
        CRecursiveLockGuard guard(m_queueLock);
        if (!HasRoomFor(bytes.size()))
        {
            CountDrop();
            return;
        }
        m_queue.push_back(std::move(entry));
        m_queuedBytes += bytes.size();
        m_packetEvent.Set();
    }
    catch (const std::bad_alloc&)
    {
        CountDrop();
    }
}

void CRTPReceiver::OnIdle(IRTPClient* client)
{
    if (client == m_client.Get() && m_user != nullptr)
        m_user->OnReceiveTimeout();
}

void CRTPReceiver::OnClosed(IRTPClient* client)
{
    if (client == m_client.Get() && m_user != nullptr)
        m_user->OnSocketClosed();
}

std::unique_ptr<CRTPReceiver::Entry> CRTPReceiver::TakeOldest(bool* queueEmptied)
{
    CRecursiveLockGuard guard(m_queueLock);
    std::unique_ptr<Entry> entry;
    if (!m_queue.empty())
    {
        entry = std::move(m_queue.front());
        m_queue.pop_front();
        m_queuedBytes -= entry->datagramBytes;
    }
    *queueEmptied = m_queue.empty();
    return entry;
}

void CRTPReceiver::Deliver(const Entry& entry)
{
    if (m_user == nullptr)
        return;
    try
    {
        m_user->OnPacket(entry.sender, entry.packet);
    }
    KESTRAV_PASS_THREAD_TERMINATION
    catch (...)
    {
        // One bad packet must not end the delivery of the stream.
    }
}

void CRTPReceiver::ClearQueue()
{
    std::deque<std::unique_ptr<Entry>> cleared;
    {
        CRecursiveLockGuard guard(m_queueLock);
        cleared.swap(m_queue);
        m_queuedBytes = 0;
    }
}

void CRTPReceiver::ThreadFunction()
{
    CEvent* const events[] = {&StopEvent(), &m_packetEvent};
    if (WaitForAnyEvent(events, 2, 0) != 0)
    {
        for (;;)
        {
            bool queueEmptied = true;
            if (std::unique_ptr<Entry> entry = TakeOldest(&queueEmptied))
                Deliver(*entry);
            if (WaitForAnyEvent(events, 2, queueEmptied ? kIdleWaitMilliseconds : 0) == 0)
                break;
        }
    }
    ClearQueue();
}
}
