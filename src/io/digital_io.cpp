#include "io/digital_io.h"

#include "core/driver_services.h"

namespace kestrav
{
bool CDigitalIO::SetIOCallback(IIPIOSink* sink)
{
    if (sink == nullptr)
        return false;
    m_sink = sink;
    return true;
}

std::int32_t CDigitalIO::GetInputCount()
{
    return static_cast<std::int32_t>(m_driver->GetIOCounts().first);
}

std::int32_t CDigitalIO::GetOutputCount()
{
    return static_cast<std::int32_t>(m_driver->GetIOCounts().second);
}
}
