// The alarm stream parser over any bytes cut anywhere: the states must not depend on where the reads
// ended, and the pending text must stay within its limit.
//
// Input: one byte N, then N cut lengths of one byte each (0 ends the chunk at once), then the stream.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "io/alarm_chunk_parser.h"

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
    if (size == 0)
        return 0;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t cutCount = std::min<std::size_t>(static_cast<std::uint8_t>(input[0]), input.size() - 1);
    const std::string_view cuts = input.substr(1, cutCount);
    const std::string_view stream = input.substr(1 + cutCount);

    kestrav::CAlarmChunkParser whole;
    std::vector<bool> wholeStates;
    whole.HandleAlarmChunk(stream, wholeStates);

    kestrav::CAlarmChunkParser pieces;
    std::vector<bool> pieceStates;
    std::size_t offset = 0;
    for (std::size_t i = 0; offset < stream.size(); ++i)
    {
        // Past the given cuts, the rest goes byte by byte: the thinnest slicing a camera can do.
        const std::size_t length = i < cuts.size() ? static_cast<std::uint8_t>(cuts[i]) % 64 + 1 : std::size_t{1};
        pieces.HandleAlarmChunk(stream.substr(offset, length), pieceStates);
        offset += length;
        Check(pieces.PendingSize() <= kestrav::CAlarmChunkParser::kPendingLimit);
    }
    // Beyond the limit a part is dropped where the cut falls, so only shorter streams must agree.
    if (stream.size() <= kestrav::CAlarmChunkParser::kPendingLimit)
        Check(pieceStates == wholeStates);
    return 0;
}
