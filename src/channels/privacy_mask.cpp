#include "channels/privacy_mask.h"

#include <algorithm>

#include "runtime/format_string.h"

namespace kestrav
{
namespace
{
// Whole percent, dropping the fraction. The host's values are not trusted: negative, NaN and
// absurdly large ones would make the conversion undefined, so they are held to 0…1000.
std::uint32_t WholePercent(double percent)
{
    if (!(percent > 0))
        return 0;
    return static_cast<std::uint32_t>(std::min(percent, 1000.0));
}

std::uint32_t GridCell(double percent, std::uint32_t cells)
{
    return std::min(WholePercent(percent) * cells / 100, cells - 1);
}
}

PrivacyMask PrivacyMaskFromPercent(double left, double top, double width, double height)
{
    PrivacyMask mask;
    mask.leftColumn = GridCell(left, PrivacyMask::kColumns);
    mask.topRow = GridCell(top, PrivacyMask::kRows);
    mask.rightColumn = GridCell(left + width, PrivacyMask::kColumns);
    mask.bottomRow = GridCell(top + height, PrivacyMask::kRows);
    return mask;
}

std::string PrivacyMaskRequest(std::uint32_t number, const PrivacyMask& mask)
{
    if (mask.IsEmpty())
        return FormatString("/privacymask?cmd=set&pmClear=%u", number);
    const std::uint32_t first = mask.leftColumn + mask.topRow * PrivacyMask::kColumns;
    const std::uint32_t last = mask.rightColumn + mask.bottomRow * PrivacyMask::kColumns;
    return FormatString("/privacymask?cmd=set&privacy_enable=1&pmID=%u&pmBlock=%uv%uv", number, first, last);
}
}
