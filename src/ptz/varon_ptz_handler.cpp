#include "ptz/varon_ptz_handler.h"

namespace kestrav
{
IIPPTZApi* CVaronPTZHandler::GetPTZApi(std::uint32_t)
{
    return nullptr;
}

IIPPTZApiEx* CVaronPTZHandler::GetPTZApiEx(std::uint32_t)
{
    return nullptr;
}
}
