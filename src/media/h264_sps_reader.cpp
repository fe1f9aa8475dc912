#include "media/h264_sps_reader.h"

#include <array>
#include <cstddef>

#include "media/bit_reader.h"

namespace kestrav
{
namespace
{
constexpr std::uint8_t kNalTypeSequenceParameterSet = 7;
// The fields read end well before this; a longer set keeps its tail unread.
constexpr std::size_t kMaxRbspBytes = 4096;
// sqrt(8 × MaxFS) of the highest level: no conforming picture is wider or taller.
constexpr std::uint32_t kMaxMacroblocksPerDimension = 1056;
constexpr std::uint32_t kMaxRefFramesInPicOrderCntCycle = 255;

struct Rbsp
{
    std::array<std::uint8_t, kMaxRbspBytes> bytes{};
    std::size_t size = 0;
};

// The payload after the header byte, without emulation prevention bytes, up to the next start
// code or the cap.
void ExtractRbsp(std::span<const std::uint8_t> payload, Rbsp& rbsp)
{
    unsigned zeros = 0;
    for (const std::uint8_t byte : payload)
    {
        if (zeros >= 2 && byte <= 3)
        {
            if (byte != 3)
            {
                // 00 00 00, 00 00 01 and 00 00 02 never occur inside a NAL unit: the next one starts.
                rbsp.size -= 2;
                return;
            }
            zeros = 0;
            continue;
        }
        if (rbsp.size == rbsp.bytes.size())
            return;
        rbsp.bytes[rbsp.size++] = byte;
        zeros = byte == 0 ? zeros + 1 : 0;
    }
}

bool HasChromaFormat(std::uint8_t profileIdc)
{
    // The profiles whose sets carry chroma format, bit depths and scaling matrices; 144 is the
    // High 4:4:4 profile of the 2005 edition.
    switch (profileIdc)
    {
    case 44:
    case 83:
    case 86:
    case 100:
    case 110:
    case 118:
    case 122:
    case 128:
    case 134:
    case 135:
    case 138:
    case 139:
    case 144:
    case 244:
        return true;
    default:
        return false;
    }
}

bool SkipScalingList(CBitReader& reader, unsigned size)
{
    int lastScale = 8;
    int nextScale = 8;
    for (unsigned j = 0; j < size && nextScale != 0; ++j)
    {
        const std::int64_t delta = reader.ReadSignedExpGolomb();
        if (reader.Failed() || delta < -128 || delta > 127)
            return false;
        nextScale = static_cast<int>((lastScale + delta + 256) % 256);
        if (nextScale != 0)
            lastScale = nextScale;
    }
    return true;
}
}

std::optional<H264SequenceParameters> ReadH264SequenceParameters(std::span<const std::uint8_t> nalUnit)
{
    if (nalUnit.empty() || (nalUnit[0] & 0x1F) != kNalTypeSequenceParameterSet)
        return std::nullopt;
    Rbsp rbsp;
    ExtractRbsp(nalUnit.subspan(1), rbsp);
    CBitReader reader(std::span<const std::uint8_t>(rbsp.bytes).first(rbsp.size));

    H264SequenceParameters sps;
    sps.profileIdc = static_cast<std::uint8_t>(reader.ReadBits(8));
    reader.ReadBits(8); // constraint_set0..5 flags and reserved_zero_2bits
    sps.levelIdc = static_cast<std::uint8_t>(reader.ReadBits(8));
    if (reader.ReadUnsignedExpGolomb() > 31) // seq_parameter_set_id
        return std::nullopt;

    bool separateColourPlane = false;
    if (HasChromaFormat(sps.profileIdc))
    {
        sps.chromaFormatIdc = reader.ReadUnsignedExpGolomb();
        if (sps.chromaFormatIdc > 3)
            return std::nullopt;
        if (sps.chromaFormatIdc == 3)
            separateColourPlane = reader.ReadFlag();
        reader.ReadUnsignedExpGolomb(); // bit_depth_luma_minus8
        reader.ReadUnsignedExpGolomb(); // bit_depth_chroma_minus8
        reader.ReadFlag();              // qpprime_y_zero_transform_bypass_flag
        if (reader.ReadFlag())          // seq_scaling_matrix_present_flag
        {
            const unsigned lists = sps.chromaFormatIdc == 3 ? 12 : 8;
            for (unsigned i = 0; i < lists; ++i)
            {
                if (reader.ReadFlag() && !SkipScalingList(reader, i < 6 ? 16 : 64))
                    return std::nullopt;
            }
        }
    }

    reader.ReadUnsignedExpGolomb(); // log2_max_frame_num_minus4
    const std::uint32_t picOrderCntType = reader.ReadUnsignedExpGolomb();
    if (picOrderCntType == 0)
    {
        reader.ReadUnsignedExpGolomb(); // log2_max_pic_order_cnt_lsb_minus4
    }
    else if (picOrderCntType == 1)
    {
        reader.ReadFlag();            // delta_pic_order_always_zero_flag
        reader.ReadSignedExpGolomb(); // offset_for_non_ref_pic
        reader.ReadSignedExpGolomb(); // offset_for_top_to_bottom_field
        const std::uint32_t cycle = reader.ReadUnsignedExpGolomb();
        if (reader.Failed() || cycle > kMaxRefFramesInPicOrderCntCycle)
            return std::nullopt;
        for (std::uint32_t i = 0; i < cycle; ++i)
            reader.ReadSignedExpGolomb(); // offset_for_ref_frame[i]
    }
    else if (picOrderCntType != 2)
    {
        return std::nullopt;
    }

    reader.ReadUnsignedExpGolomb(); // max_num_ref_frames
    reader.ReadFlag();              // gaps_in_frame_num_value_allowed_flag
    const std::uint64_t widthInMbs = std::uint64_t{reader.ReadUnsignedExpGolomb()} + 1;
    const std::uint64_t heightInMapUnits = std::uint64_t{reader.ReadUnsignedExpGolomb()} + 1;
    sps.frameMbsOnly = reader.ReadFlag();
    if (!sps.frameMbsOnly)
        reader.ReadFlag(); // mb_adaptive_frame_field_flag
    reader.ReadFlag();     // direct_8x8_inference_flag
    std::uint64_t cropLeft = 0;
    std::uint64_t cropRight = 0;
    std::uint64_t cropTop = 0;
    std::uint64_t cropBottom = 0;
    if (reader.ReadFlag()) // frame_cropping_flag
    {
        cropLeft = reader.ReadUnsignedExpGolomb();
        cropRight = reader.ReadUnsignedExpGolomb();
        cropTop = reader.ReadUnsignedExpGolomb();
        cropBottom = reader.ReadUnsignedExpGolomb();
    }
    if (reader.Failed())
        return std::nullopt;

    const std::uint64_t heightInMbs = (sps.frameMbsOnly ? 1 : 2) * heightInMapUnits;
    if (widthInMbs > kMaxMacroblocksPerDimension || heightInMbs > kMaxMacroblocksPerDimension)
        return std::nullopt;

    // Cropping counts in chroma samples (7.4.2.1.1): two luma samples across for 4:2:0 and 4:2:2,
    // two down for 4:2:0, doubled again down for field coding; one otherwise.
    const bool monochromeLike = sps.chromaFormatIdc == 0 || separateColourPlane;
    const std::uint64_t cropUnitX = !monochromeLike && sps.chromaFormatIdc < 3 ? 2 : 1;
    const std::uint64_t cropUnitY = (!monochromeLike && sps.chromaFormatIdc == 1 ? 2 : 1) * (sps.frameMbsOnly ? 1 : 2);
    const std::uint64_t codedWidth = widthInMbs * 16;
    const std::uint64_t codedHeight = heightInMbs * 16;
    const std::uint64_t croppedX = (cropLeft + cropRight) * cropUnitX;
    const std::uint64_t croppedY = (cropTop + cropBottom) * cropUnitY;
    if (croppedX >= codedWidth || croppedY >= codedHeight)
        return std::nullopt;
    sps.width = static_cast<std::uint32_t>(codedWidth - croppedX);
    sps.height = static_cast<std::uint32_t>(codedHeight - croppedY);
    return sps;
}
}
