// Privacy masks as this camera family takes them: blocks of a 20 × 12 grid over the picture.
#pragma once

#include <cstdint>
#include <string>

namespace kestrav
{
struct PrivacyMask
{
    static constexpr std::uint32_t kColumns = 20;
    static constexpr std::uint32_t kRows = 12;

    std::uint32_t leftColumn = 0;
    std::uint32_t topRow = 0;
    std::uint32_t rightColumn = 0;
    std::uint32_t bottomRow = 0;

    // All four 0: no mask.
    bool IsEmpty() const { return leftColumn == 0 && topRow == 0 && rightColumn == 0 && bottomRow == 0; }
    bool operator==(const PrivacyMask&) const = default;
};

// The grid cells of a mask given in percent of the picture; edges past the grid end on its last cell.
PrivacyMask PrivacyMaskFromPercent(double left, double top, double width, double height);

// The camera request that sets mask `number` (1 to 4), or clears it when the mask is empty.
std::string PrivacyMaskRequest(std::uint32_t number, const PrivacyMask& mask);
}
