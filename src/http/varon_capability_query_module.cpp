#include "http/varon_capability_query_module.h"

#include <new>

#include "http/varon_camera_properties.h"
#include "platform/http_transport.h"

namespace kestrav
{
CVaronCapabilityQueryModule::~CVaronCapabilityQueryModule()
{
    // Before this object's part goes away: the query thread calls into it.
    StopQuery();
    // The host may unload the module next; the HTTP stacks' reports of the query's requests come first.
    // The query has no log to tell a time-out to.
    platform::WaitForClosedHttpRequests(platform::kHttpClosingWaitMilliseconds);
}

CBaseCameraProperties* CVaronCapabilityQueryModule::CreateCameraProperties()
{
    return new (std::nothrow) CVaronCameraProperties(GetDeviceInfo(), GetVideoStandard() ? 1u : 0u);
}
}
