// Writes H.264 sequence parameter sets field by field, for the reader's tests.
#pragma once

#include <cstdint>
#include <vector>

namespace kestrav::testing
{
class BitWriter
{
public:
    void Bits(std::uint64_t value, unsigned count)
    {
        for (unsigned i = count; i-- > 0;)
            m_bits.push_back(((value >> i) & 1) != 0);
    }
    void Flag(bool value) { Bits(value ? 1 : 0, 1); }
    void UnsignedExpGolomb(std::uint64_t value)
    {
        const std::uint64_t code = value + 1;
        unsigned length = 0;
        while ((code >> length) > 1)
            ++length;
        Bits(0, length);
        Bits(code, length + 1);
    }
    void SignedExpGolomb(std::int64_t value)
    {
        UnsignedExpGolomb(value > 0 ? 2 * static_cast<std::uint64_t>(value) - 1
                                    : 2 * static_cast<std::uint64_t>(-value));
    }

    // The stop bit and zero bits to the byte boundary (rbsp_trailing_bits).
    std::vector<std::uint8_t> RbspBytes() const
    {
        std::vector<bool> bits = m_bits;
        bits.push_back(true);
        while (bits.size() % 8 != 0)
            bits.push_back(false);
        std::vector<std::uint8_t> bytes(bits.size() / 8, 0);
        for (std::size_t i = 0; i < bits.size(); ++i)
            bytes[i / 8] = static_cast<std::uint8_t>(bytes[i / 8] | (bits[i] ? 0x80 >> (i % 8) : 0));
        return bytes;
    }

private:
    std::vector<bool> m_bits;
};

// Inserts emulation prevention bytes and puts the NAL header in front.
inline std::vector<std::uint8_t> ToNalUnit(std::uint8_t header, const std::vector<std::uint8_t>& rbsp)
{
    std::vector<std::uint8_t> unit = {header};
    unsigned zeros = 0;
    for (const std::uint8_t byte : rbsp)
    {
        if (zeros >= 2 && byte <= 3)
        {
            unit.push_back(0x03);
            zeros = 0;
        }
        unit.push_back(byte);
        zeros = byte == 0 ? zeros + 1 : 0;
    }
    return unit;
}

struct ScalingList
{
    unsigned index;
    // Written as given; the reader stops after a delta that makes the next scale 0.
    std::vector<std::int64_t> deltas;
};

struct SpsFields
{
    std::uint8_t profileIdc = 66;
    std::uint8_t levelIdc = 31;
    std::uint32_t spsId = 0;
    // Written only for the profiles that carry them.
    std::uint32_t chromaFormatIdc = 1;
    bool separateColourPlane = false;
    bool withScalingMatrix = false;
    std::vector<ScalingList> scalingLists;
    unsigned scalingListCount = 8;
    std::uint32_t picOrderCntType = 0;
    std::int64_t offsetForNonRefPic = 0;
    std::vector<std::int64_t> offsetsForRefFrame;
    std::uint64_t widthInMbsMinus1 = 0;
    std::uint64_t heightInMapUnitsMinus1 = 0;
    bool frameMbsOnly = true;
    bool cropping = false;
    std::uint64_t cropLeft = 0;
    std::uint64_t cropRight = 0;
    std::uint64_t cropTop = 0;
    std::uint64_t cropBottom = 0;
    bool withChromaFields = false;
};

inline std::vector<std::uint8_t> BuildSps(const SpsFields& f)
{
    BitWriter w;
    w.Bits(f.profileIdc, 8);
    w.Bits(0, 8); // constraint flags
    w.Bits(f.levelIdc, 8);
    w.UnsignedExpGolomb(f.spsId);
    if (f.withChromaFields)
    {
        w.UnsignedExpGolomb(f.chromaFormatIdc);
        if (f.chromaFormatIdc == 3)
            w.Flag(f.separateColourPlane);
        w.UnsignedExpGolomb(0); // bit depths
        w.UnsignedExpGolomb(0);
        w.Flag(false); // transform bypass
        w.Flag(f.withScalingMatrix);
        if (f.withScalingMatrix)
        {
            for (unsigned i = 0; i < f.scalingListCount; ++i)
            {
                const ScalingList* list = nullptr;
                for (const ScalingList& candidate : f.scalingLists)
                    list = candidate.index == i ? &candidate : list;
                w.Flag(list != nullptr);
                if (list != nullptr)
                {
                    for (const std::int64_t delta : list->deltas)
                        w.SignedExpGolomb(delta);
                }
            }
        }
    }
    w.UnsignedExpGolomb(0); // log2_max_frame_num_minus4
    w.UnsignedExpGolomb(f.picOrderCntType);
    if (f.picOrderCntType == 0)
    {
        w.UnsignedExpGolomb(2);
    }
    else if (f.picOrderCntType == 1)
    {
        w.Flag(false);
        w.SignedExpGolomb(f.offsetForNonRefPic);
        w.SignedExpGolomb(0);
        w.UnsignedExpGolomb(f.offsetsForRefFrame.size());
        for (const std::int64_t offset : f.offsetsForRefFrame)
            w.SignedExpGolomb(offset);
    }
    w.UnsignedExpGolomb(1); // max_num_ref_frames
    w.Flag(false);          // gaps
    w.UnsignedExpGolomb(f.widthInMbsMinus1);
    w.UnsignedExpGolomb(f.heightInMapUnitsMinus1);
    w.Flag(f.frameMbsOnly);
    if (!f.frameMbsOnly)
        w.Flag(true); // MBAFF
    w.Flag(true);     // direct_8x8_inference
    w.Flag(f.cropping);
    if (f.cropping)
    {
        w.UnsignedExpGolomb(f.cropLeft);
        w.UnsignedExpGolomb(f.cropRight);
        w.UnsignedExpGolomb(f.cropTop);
        w.UnsignedExpGolomb(f.cropBottom);
    }
    w.Flag(false); // vui_parameters_present_flag
    return ToNalUnit(0x67, w.RbspBytes());
}

// 1280 × 720 High profile, as the depacketizer tests' streams announce it.
inline std::vector<std::uint8_t> Sps1280x720()
{
    SpsFields f;
    f.profileIdc = 100;
    f.withChromaFields = true;
    f.widthInMbsMinus1 = 79;
    f.heightInMapUnitsMinus1 = 44;
    return BuildSps(f);
}
}
