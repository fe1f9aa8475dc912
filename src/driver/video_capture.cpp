#include "driver/video_capture.h"

namespace kestrav
{
std::uint32_t CIPVideoCapture::GetChannelCount()
{
    CRecursiveLockGuard guard(m_tableLock);
    return m_channelCount;
}

bool CIPVideoCapture::GetChannelState(std::uint32_t, std::int32_t*, std::int32_t* extra, char* text,
                                      std::uint32_t textSize)
{
    if (extra != nullptr)
        *extra = 0;
    if (text != nullptr && textSize != 0)
        text[0] = '\0';
    return false; // no channel runs yet
}
}
