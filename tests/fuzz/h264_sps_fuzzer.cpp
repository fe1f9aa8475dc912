// ReadH264SequenceParameters and CBitReader on any bytes: nothing is read outside the input, a
// set that is accepted describes a picture H.264 can code, and the reader's failure is final.
#include <cstddef>
#include <cstdint>
#include <span>

#include "media/bit_reader.h"
#include "media/h264_sps_reader.h"

namespace
{
void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> input(data, size);
    if (const auto sps = kestrav::ReadH264SequenceParameters(input))
    {
        Check(size > 4 && (input[0] & 0x1F) == 7);
        Check(sps->width > 0 && sps->width <= 16896);
        Check(sps->height > 0 && sps->height <= 16896);
        Check(sps->chromaFormatIdc <= 3);
    }

    // The same bytes as a script of reads over themselves.
    kestrav::CBitReader reader(input);
    std::size_t left = reader.BitsLeft();
    Check(left == size * 8);
    for (const std::uint8_t operation : input)
    {
        const bool failedBefore = reader.Failed();
        switch (operation % 4)
        {
        case 0:
            Check(reader.ReadBits(operation % 33) < (std::uint64_t{1} << (operation % 33)));
            break;
        case 1:
            Check(reader.ReadUnsignedExpGolomb() <= 0xFFFFFFFEu);
            break;
        case 2:
            reader.ReadSignedExpGolomb();
            break;
        default:
            reader.ReadFlag();
            break;
        }
        Check(!failedBefore || reader.Failed());
        Check(reader.BitsLeft() <= left);
        left = reader.BitsLeft();
        if (reader.Failed())
            Check(left == 0);
    }
    return 0;
}
