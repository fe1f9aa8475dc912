#include "runtime/recursive_lock.h"

#include "platform/process.h"

namespace kestrav
{
namespace
{
constexpr std::uint32_t kMultiProcessorSpinCount = 4000;

bool IsSingleProcessor()
{
    static const bool single = platform::ProcessorCount() == 1;
    return single;
}
}

CRecursiveLock::CRecursiveLock() : m_spinCount(IsSingleProcessor() ? 0 : kMultiProcessorSpinCount) {}

bool CRecursiveLock::TryLock()
{
    for (std::uint32_t attempt = 0; attempt <= m_spinCount; ++attempt)
    {
        if (m_mutex.try_lock())
            return true;
    }
    return false;
}

void CRecursiveLock::Lock()
{
    if (!TryLock())
        m_mutex.lock();
}

void CRecursiveLock::Unlock()
{
    m_mutex.unlock();
}
}
