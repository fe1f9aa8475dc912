// The host's entry to PTZ for one device.
#pragma once

#include <string>
#include <utility>

#include <brantel/ptz_driver.h>

namespace kestrav
{
class IDriver;

// Hands out no PTZ control yet: the controls, their command thread and the preset file
// arrive with the camera's PTZ requests.
class CVaronPTZHandler : public IIPPTZDriverEx
{
public:
    CVaronPTZHandler(IDriver* driver, std::string rootName) : m_driver(driver), m_rootName(std::move(rootName)) {}

    IIPPTZApi* GetPTZApi(std::uint32_t channel) override;
    IIPPTZApiEx* GetPTZApiEx(std::uint32_t channel) override;

    const std::string& GetRootName() const { return m_rootName; }

private:
    [[maybe_unused]] IDriver* m_driver;
    std::string m_rootName;
};
}
