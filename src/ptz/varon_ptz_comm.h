// The camera family's PTZ requests: "/control" moves and stops, "/camera" focus and iris, "/ptzpreset"
// presets.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "http/http_wininet_sender.h"
#include "platform/http_transport.h"
#include "ptz/base_ptz_comm.h"

namespace kestrav
{
// Queued commands run on the command thread, preset commands on the caller's: each side has a sender of
// its own, since a request on a shared sender closes the other's and replaces its status.
class CVaronPTZComm : public CBasePTZComm
{
public:
    CVaronPTZComm(IDriver* driver, const CPtzCapabilities& capabilities, std::uint16_t channel,
                  platform::IHttpTransport& transport = platform::DefaultHttpTransport());
    ~CVaronPTZComm() override;

    bool Open() override;

    bool SetPreset(std::uint32_t preset, const std::string& name) override;
    bool GotoPreset(std::uint32_t preset, const std::string& name, std::int32_t value) override;
    bool RemovePreset(std::uint32_t preset, const std::string& name) override;

    // The camera's speed 1 ... 7 for the host's 1 ... 16; speeds outside that range count as its ends.
    static std::int32_t CameraSpeed(std::int32_t speed);
    // The "/control" request of a move, or empty for a direction the camera has no request for.
    static std::string MoveRequest(std::uint32_t cameraId, std::int32_t direction, std::int32_t speed);

protected:
    void HandleWorkItem(CPTZItem& item) override;
    void CancelRequests() override;

private:
    // On the command thread; false without a request once Close has begun.
    bool SendCommandRequest(const std::string& urlPath);
    // Callers take turns with whole requests.
    bool SendPresetRequest(const char* parameter, std::uint32_t preset);
    // The automatic mode is switched on once; a switch the camera did not take is tried again.
    void EnsureAutomatic(std::atomic<std::int32_t>& mode, const char* request);
    std::uint32_t CameraId() const { return GetChannel() + 1u; }

    std::unique_ptr<Web::CWinInetSender> m_commandSender;
    std::unique_ptr<Web::CWinInetSender> m_presetSender;
    std::mutex m_presetLock;
    // Close's hand-shake with the command thread: either the thread sees the cancellation before its
    // request, or Close sees the request and closes it until it has ended.
    std::mutex m_requestLock;
    bool m_cancelled = false;
    bool m_inRequest = false;
    std::atomic<std::int32_t> m_focusMode{0};
    std::atomic<std::int32_t> m_irisMode{0};
};
}
