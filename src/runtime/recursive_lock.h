// A recursive lock for short critical sections, and its scope guard.
#pragma once

#include <cstdint>
#include <mutex>

namespace kestrav
{
// Spins briefly before blocking on multi-processor machines, because the sections it
// guards (a queue push, a time value, a table lookup) are a few instructions long.
class CRecursiveLock
{
public:
    CRecursiveLock();
    CRecursiveLock(const CRecursiveLock&) = delete;
    CRecursiveLock& operator=(const CRecursiveLock&) = delete;

    void Lock();
    void Unlock();
    // Tries spin count + 1 times; the owner always succeeds.
    bool TryLock();

private:
    std::recursive_mutex m_mutex;
    std::uint32_t m_spinCount;
};

class CRecursiveLockGuard
{
public:
    explicit CRecursiveLockGuard(CRecursiveLock& lock) : m_lock(lock) { m_lock.Lock(); }
    ~CRecursiveLockGuard() { m_lock.Unlock(); }
    CRecursiveLockGuard(const CRecursiveLockGuard&) = delete;
    CRecursiveLockGuard& operator=(const CRecursiveLockGuard&) = delete;

private:
    CRecursiveLock& m_lock;
};
}
