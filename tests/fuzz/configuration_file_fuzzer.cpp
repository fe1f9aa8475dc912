// The configuration file reader over any file and any device address: a file edited by hand (or
// damaged) beside the host must leave every setting either at its default or at a value the file
// spells out, and a device address from the host must not change which sections the paths reach.
//
// Input: one byte of channel index, two bytes of HTTP port (big-endian), one byte N (address length,
// taken modulo 32), N bytes of device address, then the file.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "core/configuration.h"
#include "fuzz_scratch.h"

namespace
{
void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

const std::filesystem::path& Directory()
{
    return kestrav::fuzz::ScratchDirectory("configuration-file");
}

bool Contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kestrav;
    if (size < 4)
        return 0;
    const std::uint32_t channel = data[0];
    const auto port = static_cast<std::uint16_t>((data[1] << 8) | data[2]);
    const std::size_t addressLength = std::min<std::size_t>(data[3] % 32, size - 4);
    const std::string address(reinterpret_cast<const char*>(data) + 4, addressLength);
    const std::string_view file(reinterpret_cast<const char*>(data) + 4 + addressLength, size - 4 - addressLength);

    std::ofstream(Directory() / "BrantelIPCapture.xml", std::ios::binary | std::ios::trunc)
        .write(file.data(), static_cast<std::streamsize>(file.size()));

    DEVICE_INFO device;
    device.address = address;
    device.port = port;
    std::string directory = Directory().string();
    CConfiguration configuration(device, "BrantelIPCapture", directory);
    const DeviceCapabilities capabilities = configuration.ReadDeviceCapabilities();
    const std::uint32_t mode = configuration.ReadRTPMode(channel);

    // Only the two settings of a device section may differ from a fresh record.
    DeviceCapabilities expected;
    expected.rtspPort = capabilities.rtspPort;
    expected.multipleStreaming = capabilities.multipleStreaming;
    Check(capabilities == expected);
    Check(capabilities.rtspPort >= 1 && capabilities.rtspPort <= 65535);
    Check(mode == kRtpModeUdp || mode == kRtpModeOverRtsp);

    // A setting away from its default is written in the file. Entities, comments and CDATA can
    // spell a value in pieces, so the check holds for files without them.
    const bool plain = !Contains(file, "&") && !Contains(file, "<!") && !Contains(file, "<?");
    if (plain && file.size() > 2 && static_cast<std::uint8_t>(file[0]) < 0x80)
    {
        if (capabilities.rtspPort != 554)
            Check(Contains(file, std::to_string(capabilities.rtspPort)));
        if (!capabilities.multipleStreaming)
            Check(Contains(file, "True"));
        if (mode == kRtpModeOverRtsp)
            Check(Contains(file, "RTPoverRTSP"));
    }

    // Each read opens and closes the file afresh: nothing of one read leaks into the next.
    CConfiguration again(device, "BrantelIPCapture", directory);
    Check(again.ReadRTPMode(channel) == mode);
    Check(again.ReadDeviceCapabilities() == capabilities);
    return 0;
}
