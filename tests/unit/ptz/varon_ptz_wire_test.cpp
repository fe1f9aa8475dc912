// What the command object hands the HTTP stack, before any stack could mend it: the stop's path.
#include <gtest/gtest.h>

#include "ptz/ptz_item.h"
#include "ptz/varon_ptz_comm.h"
#include "support/stub_driver.h"
#include "unit/http_sender/fake_http_transport.h"

namespace kestrav
{
namespace
{
class ExposedPTZComm : public CVaronPTZComm
{
public:
    using CVaronPTZComm::CVaronPTZComm;
    using CVaronPTZComm::HandleWorkItem;
};

TEST(VaronPtzWire, EveryStopKeepsTheLeadingSlashOfItsPath)
{
    testing::FakeHttpTransport transport;
    testing::StubDriver driver(nullptr);
    ExposedPTZComm comm(&driver, CPtzCapabilities(), 0, transport);
    for (const std::int32_t stop : {kPtzStopMoving, kPtzStopZooming, kPtzStopFocusing, kPtzStopIrisChanging})
    {
        transport.script.push_back({});
        CPTZItem item(kPtzCommandStop, stop, nullptr, 0);
        comm.HandleWorkItem(item);
    }
    ASSERT_EQ(transport.requests.size(), 4u);
    for (const auto& request : transport.requests)
        EXPECT_EQ(request.objectName, "/control?camid=1&stop=1");
}
}
}
