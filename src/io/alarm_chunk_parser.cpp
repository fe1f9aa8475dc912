#include "io/alarm_chunk_parser.h"

#include <algorithm>

#include "text/text_utils.h"

namespace kestrav
{
namespace
{
constexpr std::string_view kBoundaryMark = "--";
constexpr std::string_view kLineEnds = "\r\n";
constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kMotionKey = "MotionDetect";
}

std::optional<bool> ParseMotionDetect(std::string_view part)
{
    const std::string compact = RemoveChars(part, kBlanks);
    const std::string value = FindKeyValue(kMotionKey, "=", compact, kLineEnds);
    if (value.empty())
        return std::nullopt;
    return ParseStrictIntOrZero(value) != 0;
}

void CAlarmChunkParser::Clear()
{
    m_pending.clear();
    ResetPart();
}

void CAlarmChunkParser::ResetPart()
{
    m_searchFrom = kBoundaryMark.size();
    m_scanFrom = 0;
    m_lineStart = 0;
    m_reported = false;
}

bool CAlarmChunkParser::SkipToBoundary()
{
    const std::size_t first = m_pending.find(kBoundaryMark);
    if (first == std::string::npos)
    {
        // A boundary may be cut between its two dashes.
        const bool keepDash = !m_pending.empty() && m_pending.back() == '-';
        m_pending.erase(0, keepDash ? m_pending.size() - 1 : m_pending.size());
        return false;
    }
    m_pending.erase(0, first);
    ResetPart();
    return true;
}

void CAlarmChunkParser::ScanCompleteLines(std::size_t end, std::vector<bool>& states)
{
    const std::string_view pending(m_pending);
    // Each byte is looked at once, however thinly the camera slices its writes.
    const std::size_t scanStart = std::min(m_scanFrom, end);
    const std::size_t found = pending.substr(scanStart, end - scanStart).find_last_of(kLineEnds);
    m_scanFrom = end;
    if (found == std::string_view::npos)
        return;
    const std::size_t lastLineEnd = scanStart + found;
    // Entries end at line ends, so the lines already scanned need no second look.
    const std::string_view fresh = pending.substr(m_lineStart, lastLineEnd + 1 - m_lineStart);
    m_lineStart = lastLineEnd + 1;
    if (m_reported)
        return;
    if (const std::optional<bool> motion = ParseMotionDetect(fresh))
    {
        states.push_back(*motion);
        m_reported = true;
    }
}

void CAlarmChunkParser::HandleAlarmChunk(std::string_view bytes, std::vector<bool>& states)
{
    if (bytes.empty())
        return;
    m_pending.append(bytes);
    while (true)
    {
        if (m_pending.compare(0, kBoundaryMark.size(), kBoundaryMark) != 0 && !SkipToBoundary())
            return;
        const std::size_t next = m_pending.find(kBoundaryMark, m_searchFrom);
        if (next == std::string::npos)
        {
            ScanCompleteLines(m_pending.size(), states);
            // The closing mark may be cut after its first dash.
            m_searchFrom = std::max(kBoundaryMark.size(), m_pending.size() - 1);
            if (m_pending.size() > kPendingLimit)
                Clear();
            return;
        }
        if (!m_reported)
        {
            if (const std::optional<bool> motion = ParseMotionDetect(std::string_view(m_pending).substr(0, next)))
                states.push_back(*motion);
        }
        m_pending.erase(0, next);
        ResetPart();
    }
}
}
