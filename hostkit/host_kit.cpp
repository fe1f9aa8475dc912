#include "hostkit/host_kit.h"

namespace kestrav::hostkit
{
HostKit::HostKit()
    : misuse_(std::make_shared<MisuseMonitor>()), calls_(std::make_shared<HostCallLog>()), debug_(misuse_),
      allocator_(misuse_), sink_(misuse_), model_(calls_, misuse_), connection_(calls_, misuse_),
      params_(calls_, misuse_), channel_(misuse_)
{
    model_.SetModelName(kDefaultModelName);
    model_.SetVideoChannelCount(kDefaultVideoChannelCount);
    connection_.SetAddress(kDefaultAddress);
    connection_.SetPort(kDefaultPort);
    connection_.SetDefaultCodec(kDefaultCodec);
    connection_.SetUserName("");
    connection_.SetPassword("");
    params_.SetDeviceModel(&model_);
    params_.SetConnectionParams(&connection_);
}
}
