// A worker thread that handles queued items one at a time, in order.
#pragma once

#include <deque>
#include <memory>
#include <string>

#include "platform/thread_termination.h"
#include "runtime/base_thread.h"
#include "runtime/event.h"
#include "runtime/recursive_lock.h"

namespace kestrav
{
template <typename Item> class CQueueThread : public CBaseThread
{
public:
    explicit CQueueThread(IDebugMessage* owner) : CBaseThread(owner) {}
    // Joins the thread, then deletes what is still queued.
    ~CQueueThread() override
    {
        JoinThread(5000);
        Clear();
    }

    virtual bool StartQueueThread(const std::string& name)
    {
        m_workEvent.Reset();
        return StartThread(name);
    }

    // Drops every pending item and joins the thread.
    virtual bool StopQueueThread()
    {
        StopEvent().Set();
        Clear();
        return JoinThread(5000);
    }

    // Appends the item; false (and the item deleted) once the thread is stopping.
    bool PostWorkItem(std::unique_ptr<Item> item) { return Enqueue(std::move(item), false); }

    // Like PostWorkItem, but drops every pending item first: only the newest counts.
    bool ReplaceWorkItems(std::unique_ptr<Item> item) { return Enqueue(std::move(item), true); }

protected:
    // Runs on the queue thread without the queue lock held.
    virtual void HandleWorkItem(Item& item) = 0;

    void ThreadFunction() override
    {
        CEvent* const events[] = {&StopEvent(), &m_workEvent};
        while (!IsStopRequested())
        {
            if (WaitForAnyEvent(events, 2, 1000) != 1)
                continue;
            DrainQueue();
        }
    }

private:
    bool Enqueue(std::unique_ptr<Item> item, bool replace)
    {
        if (IsStopRequested())
            return false;
        CRecursiveLockGuard guard(m_queueLock);
        if (replace)
            m_queue.clear();
        m_queue.push_back(std::move(item));
        m_workEvent.Set();
        return true;
    }

    void DrainQueue()
    {
        while (std::unique_ptr<Item> item = PopFront())
        {
            if (IsStopRequested())
                return;
            try
            {
                HandleWorkItem(*item);
            }
            KESTRAV_PASS_THREAD_TERMINATION
            catch (...)
            {
                // A failed item must not stop the queue.
            }
        }
    }

    std::unique_ptr<Item> PopFront()
    {
        CRecursiveLockGuard guard(m_queueLock);
        if (m_queue.empty())
            return nullptr;
        std::unique_ptr<Item> item = std::move(m_queue.front());
        m_queue.pop_front();
        return item;
    }

    void Clear()
    {
        std::deque<std::unique_ptr<Item>> dropped;
        {
            CRecursiveLockGuard guard(m_queueLock);
            dropped.swap(m_queue);
        }
        // Items are deleted outside the lock: their destructors may be slow.
    }

    CEvent m_workEvent{false};
    CRecursiveLock m_queueLock;
    std::deque<std::unique_ptr<Item>> m_queue;
};
}
