#include "rtp/rtp_receiver.h"

#include <algorithm>
#include <iterator>
#include <new>

#include "platform/clock.h"
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
    // No reading thread runs now; the next one starts with nothing held.
    m_holding = false;
    ClearStaged();
    bool opened = false;
    if (transportMode == kTransportModeUdp)
    {
        auto* client = new (std::nothrow) CUDPClient(m_owner);
        if (client != nullptr)
            client->SetSocketReceiveBuffer(kSocketReceiveBytes);
        m_client.Attach(client);
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
        // No delivery thread runs now: whatever a forced end left counted goes.
        m_pendingPackets = 0;
        m_pendingBytes = 0;
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
    ClearStaged();
    ClearQueue();
    StopThread(kStopWaitMilliseconds);
}

std::uint16_t CRTPReceiver::GetLocalPort()
{
    return m_localPort;
}

void CRTPReceiver::SetQueueLimits(std::size_t packets, std::size_t bytes)
{
    m_queuePacketLimit = packets;
    m_queueByteLimit = bytes;
}

bool CRTPReceiver::HasRoomFor(std::size_t datagramBytes) const
{
    const std::size_t byteLimit = m_queueByteLimit.load(std::memory_order_relaxed);
    return m_pendingPackets.load(std::memory_order_relaxed) < m_queuePacketLimit.load(std::memory_order_relaxed) &&
           datagramBytes <= byteLimit && m_pendingBytes.load(std::memory_order_relaxed) <= byteLimit - datagramBytes;
}

void CRTPReceiver::OnDatagram(IRTPClient* client, const platform::SocketAddressV4& sender,
                              std::span<const std::uint8_t> bytes)
{
    if (client != m_client.Get() || IsStopRequested())
        return;
    // Checked before anything is taken or allocated, so that a flood costs no allocations.
    if (!HasRoomFor(bytes.size()))
    {
        CountDrop();
        return;
    }
    std::unique_ptr<Entry> entry = TakeSpare();
    if (entry == nullptr)
    {
        CountDrop();
        return;
    }
    try
    {
        if (!entry->packet.Parse(bytes))
        {
            m_readerSpares.push_back(std::move(entry));
            return;
        }
        entry->sender = sender;
        entry->datagramBytes = bytes.size();
        m_frameEndStaged = m_frameEndStaged || entry->packet.GetMarker();
        m_staged.push_back(std::move(entry));
    }
    catch (const std::bad_alloc&)
    {
        CountDrop();
        return;
    }
    // Counted at once, so that the bounds hold for the read under way too.
    ++m_pendingPackets;
    m_pendingBytes += bytes.size();
}

bool CRTPReceiver::QueueStaged()
{
    bool wasEmpty = false;
    try
    {
        CRecursiveLockGuard guard(m_queueLock);
        wasEmpty = m_queue.empty();
        m_queue.insert(m_queue.end(), std::make_move_iterator(m_staged.begin()),
                       std::make_move_iterator(m_staged.end()));
    }
    catch (const std::bad_alloc&)
    {
        // The queue could not grow: the read is lost as if the socket had dropped it.
        for (const std::unique_ptr<Entry>& entry : m_staged)
        {
            if (entry != nullptr)
            {
                Uncount(*entry);
                CountDrop();
            }
        }
    }
    m_staged.clear();
    return wasEmpty;
}

std::uint32_t CRTPReceiver::OnDatagramsEnd(IRTPClient* client)
{
    if (client != m_client.Get())
        return 0;
    if (!m_staged.empty())
    {
        // The delivery thread waits only once it found the queue empty, so only then may it need waking.
        if (QueueStaged() && !m_holding)
        {
            m_holding = true;
            m_frameEndHeld = false;
            m_holdStart = platform::MonotonicMilliseconds();
        }
        m_frameEndHeld = m_frameEndHeld || (m_holding && m_frameEndStaged);
        m_frameEndStaged = false;
    }
    if (!m_holding)
        return 0;
    const std::uint64_t held = platform::MonotonicMilliseconds() - m_holdStart;
    if (!m_frameEndHeld && m_pendingPackets.load(std::memory_order_relaxed) < kHoldPackets && held < kHoldMilliseconds)
        return static_cast<std::uint32_t>(kHoldMilliseconds - held);
    m_holding = false;
    m_packetEvent.Set();
    return 0;
}

std::unique_ptr<CRTPReceiver::Entry> CRTPReceiver::TakeSpare()
{
    if (m_readerSpares.empty())
    {
        // A read's worth at a time, so that the lock is taken once per read at the most.
        constexpr std::size_t kSparesTaken = 32;
        CRecursiveLockGuard guard(m_queueLock);
        const std::size_t taken = std::min(kSparesTaken, m_spares.size());
        try
        {
            m_readerSpares.insert(m_readerSpares.end(), std::make_move_iterator(m_spares.end() - taken),
                                  std::make_move_iterator(m_spares.end()));
            m_spares.resize(m_spares.size() - taken);
        }
        catch (const std::bad_alloc&)
        {
            // Left where they were; a new entry is tried below.
        }
    }
    if (!m_readerSpares.empty())
    {
        std::unique_ptr<Entry> spare = std::move(m_readerSpares.back());
        m_readerSpares.pop_back();
        return spare;
    }
    return std::unique_ptr<Entry>(new (std::nothrow) Entry);
}

void CRTPReceiver::ClearStaged()
{
    for (const std::unique_ptr<Entry>& entry : m_staged)
        Uncount(*entry);
    m_staged.clear();
    m_frameEndStaged = false;
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

void CRTPReceiver::TakeQueued(std::vector<std::unique_ptr<Entry>>& batch)
{
    batch.clear();
    CRecursiveLockGuard guard(m_queueLock);
    // Both keep their capacity: the queue gets the batch's old one.
    batch.swap(m_queue);
}

void CRTPReceiver::Uncount(const Entry& entry)
{
    m_pendingPackets.fetch_sub(1, std::memory_order_relaxed);
    m_pendingBytes.fetch_sub(entry.datagramBytes, std::memory_order_relaxed);
}

void CRTPReceiver::Recycle(std::vector<std::unique_ptr<Entry>>& batch)
{
    // Spares for one burst at the most; the rest of a flood's entries are freed.
    constexpr std::size_t kMaximumSpares = 512;
    CRecursiveLockGuard guard(m_queueLock);
    for (std::unique_ptr<Entry>& entry : batch)
    {
        if (m_spares.size() < kMaximumSpares)
            m_spares.push_back(std::move(entry));
    }
    batch.clear();
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
    std::vector<std::unique_ptr<Entry>> cleared;
    {
        CRecursiveLockGuard guard(m_queueLock);
        cleared.swap(m_queue);
    }
    for (const std::unique_ptr<Entry>& entry : cleared)
        Uncount(*entry);
}

void CRTPReceiver::ThreadFunction()
{
    CEvent* const events[] = {&StopEvent(), &m_packetEvent};
    std::vector<std::unique_ptr<Entry>> batch;
    while (!IsStopRequested())
    {
        TakeQueued(batch);
        if (batch.empty())
        {
            if (WaitForAnyEvent(events, 2, kIdleWaitMilliseconds) == 0)
                break;
            continue;
        }
        // Each packet leaves the bounds as it is handed on, as one taken from a queue would.
        std::size_t delivered = 0;
        for (; delivered < batch.size() && !IsStopRequested(); ++delivered)
        {
            Uncount(*batch[delivered]);
            Deliver(*batch[delivered]);
        }
        for (std::size_t dropped = delivered; dropped < batch.size(); ++dropped)
            Uncount(*batch[dropped]);
        Recycle(batch);
    }
    ClearQueue();
}
}
