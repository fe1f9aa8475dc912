#include "runtime/tick_thread.h"

namespace kestrav
{
bool CTickThread::StartTicking(const std::string& name)
{
    m_immediateTick = true;
    return StartThread(name);
}

void CTickThread::ThreadFunction()
{
    if (m_immediateTick)
        OnTick();
    while (!StopEvent().Wait(m_periodMilliseconds))
        OnTick();
}
}
