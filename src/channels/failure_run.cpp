#include "channels/failure_run.h"

#include <algorithm>

namespace kestrav
{
bool CFailureRun::Fail(std::string_view kind)
{
    if (m_failures != UINT32_MAX)
        ++m_failures;
    if (m_reported.size() >= m_reportLimit || std::ranges::find(m_reported, kind) != m_reported.end())
        return false;
    m_reported.emplace_back(kind);
    return true;
}

std::uint32_t CFailureRun::Recover()
{
    const std::uint32_t failures = m_failures;
    Reset();
    return failures;
}

void CFailureRun::Reset()
{
    m_failures = 0;
    m_reported.clear();
}
}
