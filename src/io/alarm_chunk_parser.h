// The camera's pushed alarm stream taken apart into motion states.
//
// The camera keeps "/getalarmmotion" open and writes one multipart part per alarm change, each opened
// by a "--boundary" line. Cameras differ in when the boundary goes out: some send it right after a part
// (trailing), others only in front of the next event (leading), and any part may arrive cut across
// reads at any byte. So a part counts as soon as either the next "--" arrives or its "MotionDetect"
// line has ended, and whatever the cut, the same states come out in the same order.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrav
{
// The motion state of one alarm part: blanks are removed, then the "MotionDetect" value counts as motion
// when it is a number other than 0 (a value that is no number is no motion). Nullopt when the part has no
// "MotionDetect" value at all, such as a closing boundary, which says nothing about motion.
std::optional<bool> ParseMotionDetect(std::string_view part);

class CAlarmChunkParser
{
public:
    // A part that grows beyond this without its "--" or its "MotionDetect" line is dropped: a stream that
    // sends one boundary and then endless text must not grow the module's memory.
    static constexpr std::size_t kPendingLimit = 64 * 1024;

    // Appends the bytes and adds the state of every part they complete to `states`, in stream order.
    void HandleAlarmChunk(std::string_view bytes, std::vector<bool>& states);
    // Forgets the pending text (the response ended).
    void Clear();
    std::size_t PendingSize() const { return m_pending.size(); }

private:
    // Drops everything in front of the first "--"; false when no part has begun.
    bool SkipToBoundary();
    // The complete lines not scanned yet of the part in progress, checked for its "MotionDetect" value.
    void ScanCompleteLines(std::size_t end, std::vector<bool>& states);
    void ResetPart();

    // Empty, a lone "-" that may open a boundary, or a part in progress that starts with "--".
    std::string m_pending;
    // Where the search for the part's closing "--" resumes.
    std::size_t m_searchFrom = 2;
    // Where the search for line ends resumes.
    std::size_t m_scanFrom = 0;
    // Start of the first line of the part not yet scanned for its "MotionDetect" value.
    std::size_t m_lineStart = 0;
    // The part's state went out from its "MotionDetect" line already; its closing "--" adds nothing.
    bool m_reported = false;
};
}
