#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "runtime/queue_thread.h"
#include "support/recording_owner.h"

namespace kestrav
{
namespace
{
std::atomic<int> g_liveItems{0};

struct WorkItem
{
    explicit WorkItem(int v) : value(v) { ++g_liveItems; }
    virtual ~WorkItem() { --g_liveItems; }
    int value;
};

class RecordingQueue : public CQueueThread<WorkItem>
{
public:
    explicit RecordingQueue(IDebugMessage* owner) : CQueueThread(owner) {}
    ~RecordingQueue() override { StopQueueThread(); }

    std::vector<int> Handled()
    {
        std::lock_guard lock(m_mutex);
        return m_handled;
    }

    // Item 0 blocks the queue thread until `gate` is set; item -1 throws.
    CManualEvent gate;
    CManualEvent blocked;
    CEvent handledOne{false};

protected:
    void HandleWorkItem(WorkItem& item) override
    {
        if (item.value == 0)
        {
            blocked.Set();
            gate.Wait(5000);
        }
        if (item.value == -1)
            throw std::runtime_error("bad item");
        {
            std::lock_guard lock(m_mutex);
            m_handled.push_back(item.value);
        }
        handledOne.Set();
    }

private:
    std::mutex m_mutex;
    std::vector<int> m_handled;
};

class QueueThread : public ::testing::Test
{
protected:
    void SetUp() override { g_liveItems = 0; }
    void TearDown() override { EXPECT_EQ(g_liveItems, 0) << "every item is deleted"; }

    static void WaitUntilHandled(RecordingQueue& queue, std::size_t count)
    {
        for (int i = 0; i < 500 && queue.Handled().size() < count; ++i)
            queue.handledOne.Wait(10);
        ASSERT_EQ(queue.Handled().size(), count);
    }

    testing::RecordingOwner owner;
};

TEST_F(QueueThread, HandlesItemsInOrder)
{
    RecordingQueue queue(&owner);
    ASSERT_TRUE(queue.StartQueueThread("queue"));
    for (int i = 1; i <= 50; ++i)
        ASSERT_TRUE(queue.PostWorkItem(std::make_unique<WorkItem>(i)));
    WaitUntilHandled(queue, 50);
    std::vector<int> expected(50);
    for (int i = 0; i < 50; ++i)
        expected[i] = i + 1;
    EXPECT_EQ(queue.Handled(), expected);
}

TEST_F(QueueThread, ReplaceLeavesOnlyTheNewItemQueued)
{
    RecordingQueue queue(&owner);
    ASSERT_TRUE(queue.StartQueueThread("queue"));
    ASSERT_TRUE(queue.PostWorkItem(std::make_unique<WorkItem>(0)));
    ASSERT_TRUE(queue.blocked.Wait(5000));
    for (int i = 1; i <= 3; ++i)
        queue.PostWorkItem(std::make_unique<WorkItem>(i));
    EXPECT_EQ(g_liveItems, 4);
    ASSERT_TRUE(queue.ReplaceWorkItems(std::make_unique<WorkItem>(9)));
    EXPECT_EQ(g_liveItems, 2) << "the three pending items are deleted at once";
    queue.gate.Set();
    WaitUntilHandled(queue, 2);
    EXPECT_EQ(queue.Handled(), (std::vector<int>{0, 9}));
}

TEST_F(QueueThread, AFailingItemDoesNotStopTheQueue)
{
    RecordingQueue queue(&owner);
    ASSERT_TRUE(queue.StartQueueThread("queue"));
    queue.PostWorkItem(std::make_unique<WorkItem>(-1));
    queue.PostWorkItem(std::make_unique<WorkItem>(7));
    WaitUntilHandled(queue, 1);
    EXPECT_EQ(queue.Handled(), std::vector<int>{7});
}

TEST_F(QueueThread, PostingAfterTheStopIsRefusedAndTheItemDeleted)
{
    RecordingQueue queue(&owner);
    ASSERT_TRUE(queue.StartQueueThread("queue"));
    ASSERT_TRUE(queue.StopQueueThread());
    EXPECT_FALSE(queue.PostWorkItem(std::make_unique<WorkItem>(1)));
    EXPECT_FALSE(queue.ReplaceWorkItems(std::make_unique<WorkItem>(2)));
    EXPECT_EQ(g_liveItems, 0);
    EXPECT_TRUE(queue.Handled().empty());
}

TEST_F(QueueThread, StopDropsPendingItemsAndARestartedQueueWorks)
{
    RecordingQueue queue(&owner);
    ASSERT_TRUE(queue.StartQueueThread("queue"));
    queue.PostWorkItem(std::make_unique<WorkItem>(0));
    ASSERT_TRUE(queue.blocked.Wait(5000));
    queue.PostWorkItem(std::make_unique<WorkItem>(5));
    queue.gate.Set();
    ASSERT_TRUE(queue.StopQueueThread());
    EXPECT_EQ(g_liveItems, 0);

    ASSERT_TRUE(queue.StartQueueThread("queue again"));
    const std::size_t before = queue.Handled().size();
    queue.PostWorkItem(std::make_unique<WorkItem>(6));
    WaitUntilHandled(queue, before + 1);
    EXPECT_EQ(queue.Handled().back(), 6);
}

TEST_F(QueueThread, DestructionDeletesWhatIsStillQueued)
{
    {
        RecordingQueue queue(&owner);
        queue.PostWorkItem(std::make_unique<WorkItem>(1));
        queue.PostWorkItem(std::make_unique<WorkItem>(2));
        EXPECT_EQ(g_liveItems, 2);
    }
    EXPECT_EQ(g_liveItems, 0);
}
}
}
