// The order in which the module reads the host's parameter objects.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kestrav::hostkit
{
// Shared by the device, model and connection objects so that one list shows the order of
// all their calls, e.g. "connection.GetDefaultCodec", "model.GetInputCount",
// "params.GetExtraParam(1)".
class HostCallLog
{
public:
    void Append(std::string call);
    std::vector<std::string> Entries() const;
    std::size_t Count(std::string_view call) const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
};
}
