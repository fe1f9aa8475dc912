// The camera family's alarm input and relay outputs: "/setio" switches a relay, the alarm stream
// "/getalarmmotion" tells the input's state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "http/http_sender.h"
#include "io/io_base.h"

namespace kestrav
{
class CDigitalIO : public CIOBase
{
public:
    explicit CDigitalIO(IDriver* driver, platform::IHttpTransport& transport = platform::DefaultHttpTransport());
    // Stops both threads before the senders go away.
    ~CDigitalIO() override;

    static constexpr const char* kAlarmPath = "/getalarmmotion";
    // An input poll reads this much at most while it waits for the input's line; the first part of the
    // alarm stream is a few dozen bytes.
    static constexpr std::size_t kInputReadLimit = 4096;

    // The input's state in the text the alarm stream began with: active or inactive, nullopt while its
    // "AlarmInputDetect" line is not complete.
    static std::optional<std::int32_t> ParseAlarmInput(std::string_view text);

protected:
    bool SetCameraOutput(std::int32_t index, std::int32_t state) override;
    bool GetInputStates(std::int32_t count) override;
    void CancelRequests() override;

private:
    Web::CHttpSender m_outputSender;
    Web::CHttpSender m_inputSender;
};
}
