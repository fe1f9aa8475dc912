// The camera family's motion channel: one long-lived "/getalarmmotion" request whose pushed parts carry
// the camera's motion state.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "http/http_sender.h"
#include "io/alarm_chunk_parser.h"
#include "io/base_motion_channel.h"
#include "runtime/logger_instance.h"

namespace kestrav
{
class CVaronMotionChannel : public CBaseMotionChannel, public CLoggerInstance
{
public:
    CVaronMotionChannel(std::int32_t channel, IDriver* driver, ipcapture::IIPFrameSink* sink,
                        platform::IHttpTransport& transport = platform::DefaultHttpTransport());
    // Stops the thread before the sender goes away.
    ~CVaronMotionChannel() override;

    static constexpr const char* kAlarmPath = "/getalarmmotion";
    // Between the end of one alarm response and the next request.
    static constexpr std::uint32_t kReconnectDelayMs = 1000;

protected:
    void CancelRequest() override;
    void ThreadFunction() override;

private:
    void ReadAlarmStream();
    // True when the bytes completed at least one part.
    bool HandleAlarmChunk(std::string_view bytes);

    Web::CHttpSender m_sender;
    CAlarmChunkParser m_parser;
    std::vector<bool> m_states;
};
}
