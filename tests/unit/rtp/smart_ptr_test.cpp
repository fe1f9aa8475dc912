// Shares of one object: the last holder deletes it, once, also when holders on several
// threads copy and release at the same time, and the one-byte share count never wraps.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include "runtime/smart_ptr.h"

namespace kestrav
{
namespace
{
struct Tracked
{
    explicit Tracked(std::atomic<int>* deletions) : m_deletions(deletions) {}
    virtual ~Tracked() { ++*m_deletions; }
    std::atomic<int>* m_deletions;
};

TEST(SmartPtr, TheLastHolderDeletesTheObjectOnce)
{
    std::atomic<int> oldDeletions{0};
    std::atomic<int> newDeletions{0};
    TSmartPtr<Tracked> holder(new Tracked(&oldDeletions));
    TSmartPtr<Tracked> copy(holder);
    TSmartPtr<Tracked> assigned;
    assigned = copy;
    EXPECT_EQ(holder.GetShareCount(), 3);

    holder.Attach(new Tracked(&newDeletions));
    copy.Release();
    EXPECT_EQ(oldDeletions, 0) << "one holder still shares the old object";
    TSmartPtr<Tracked> moved(std::move(assigned));
    EXPECT_FALSE(assigned);
    moved = TSmartPtr<Tracked>();
    EXPECT_EQ(oldDeletions, 1);

    // Attaching the object already held must not delete it under the holder.
    holder.Attach(holder.Get());
    EXPECT_EQ(newDeletions, 0);
    holder.Release();
    EXPECT_EQ(newDeletions, 1);
}

TEST(SmartPtr, ACopyBeyondTheLargestCountComesOutEmpty)
{
    std::atomic<int> deletions{0};
    TSmartPtr<Tracked> first(new Tracked(&deletions));
    std::vector<TSmartPtr<Tracked>> others(TSmartPtr<Tracked>::kMaximumShares - 1, first);
    EXPECT_EQ(first.GetShareCount(), 127);

    // A wrapped count would turn negative, and the next release would delete the object
    // under 127 holders.
    TSmartPtr<Tracked> refused(first);
    EXPECT_FALSE(refused);
    others.clear();
    EXPECT_EQ(deletions, 0);
    first.Release();
    EXPECT_EQ(deletions, 1);
}

TEST(SmartPtr, HoldersOnSeveralThreadsDeleteTheObjectOnce)
{
    for (int round = 0; round < 50; ++round)
    {
        std::atomic<int> deletions{0};
        std::vector<TSmartPtr<Tracked>> given(4, TSmartPtr<Tracked>(new Tracked(&deletions)));
        std::vector<std::thread> threads;
        for (TSmartPtr<Tracked>& holder : given)
            threads.emplace_back(
                [mine = std::move(holder)]() mutable
                {
                    for (int i = 0; i < 1000; ++i)
                        EXPECT_TRUE(TSmartPtr<Tracked>(mine));
                    mine.Release();
                });
        for (std::thread& thread : threads)
            thread.join();
        EXPECT_EQ(deletions, 1);
    }
}
}
}
