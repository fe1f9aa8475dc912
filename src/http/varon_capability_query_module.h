// The device search of this camera family, as the exports create it.
#pragma once

#include "http/capability_query_module.h"

namespace kestrav
{
class CVaronCapabilityQueryModule : public CCapabilityQueryModule
{
public:
    using CCapabilityQueryModule::CCapabilityQueryModule;
    ~CVaronCapabilityQueryModule() override;

    CBaseCameraProperties* CreateCameraProperties() override;
};
}
