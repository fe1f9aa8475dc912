#include "http/varon_capability_query_module.h"

#include <new>

#include "http/varon_camera_properties.h"

namespace kestrav
{
CVaronCapabilityQueryModule::~CVaronCapabilityQueryModule()
{
    // Before this object's part goes away: the query thread calls into it.
    StopQuery();
}

CBaseCameraProperties* CVaronCapabilityQueryModule::CreateCameraProperties()
{
    return new (std::nothrow) CVaronCameraProperties(GetDeviceInfo(), GetVideoStandard() ? 1u : 0u);
}
}
